#pragma once
// Reading the hub's answers, and the other texts of the hub protocol that need
// no platform: which code an answer gives, the message lines of a receive
// answer, the mark name of a receiver, a message made fit for the wire.
#include <string>
#include <string_view>

#include "channels/frame/result_codes.h"

namespace lumarel {

// A decimal integer at the start of text: blanks (space, TAB, LF) and a sign
// allowed, reading stops at the first other character, no digits give 0, and
// a number beyond the range of int is held at its bound.
int readDecimal(std::string_view text);

// The code of an "ERR:" answer's number: 999 up to 999, else the number.
int codeOfErrorNumber(int number);

struct SendVerdict {
  int code = hub_code::kHubError;
  bool terminated = false;  // an error number of 2000 or more
};

// A send answer, as far as its first read went.
SendVerdict readSendAnswer(std::string_view answer);

enum class AnswerKind { Error, Data, Other };

struct ReceiveVerdict {
  AnswerKind kind = AnswerKind::Other;
  int code = hub_code::kUnknownAnswer;  // 0, 9, 13, 999 or the hub's number
  int errorNumber = 0;                  // Error: the number after "ERR:"
  int highestId = 0;                    // Data: 0 when no line had a number
  int messageCount = 0;                 // Data: the messages taken
  std::string messages;                 // Data: taken messages, TAB between two
};

// A whole receive answer, sent for the request with r = lastSeenId. Lines are
// separated by CR; a line is id TAB field TAB text. Id 0 and id r are not
// taken; a line whose second TAB is not on the line gives no message.
ReceiveVerdict readReceiveAnswer(std::string_view answer, int lastSeenId);

// The name of the mutex that marks a receiver for a channel and user in the
// logon: "<channel>-<user>" with the ASCII letters in lower case.
std::string receiverMarkName(std::string_view channel, std::string_view user);

// Replaces every TAB, CR and LF of a zero-terminated text by a space, in place.
void flattenMessage(char* text);

}  // namespace lumarel
