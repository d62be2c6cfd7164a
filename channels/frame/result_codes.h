#pragma once
// The numbers that MQL4 programs and the library exchange: flags, results,
// hub result codes and the hub's error numbers, one copy for the library and
// its tests. mql4/Include/Lumarel.mqh gives each the name written after it;
// check_exports.py fails when the include's value differs or a name is missing
// on either side.

namespace lumarel {

// Flags of LM_SendMessage; other bits have no effect.
namespace send_flag {
inline constexpr int kReplaceQueue = 1;     // LM_REPLACE_QUEUE: discard the pending messages first
inline constexpr int kRequireReceiver = 2;  // LM_REQUIRE_RECEIVER: write only when a receiver is registered
}  // namespace send_flag

// Results of the local channel exports.
namespace local_result {
inline constexpr int kSent = 1;               // LM_SENT
inline constexpr int kNoReceiver = -1;        // LM_NO_RECEIVER
inline constexpr int kTooLong = -2;           // LM_TOO_LONG: not written, the receiver woken all the same
inline constexpr int kSendFailed = 0;         // LM_SEND_FAILED
inline constexpr int kNoChannel = -1;         // LM_NO_CHANNEL
inline constexpr int kCheckFailed = -2;       // LM_CHECK_FAILED
inline constexpr int kReleased = 1;           // LM_RELEASED
inline constexpr int kReleaseNotLocked = -1;  // LM_NOT_LOCKED: the receiver stays registered, the handle open
}  // namespace local_result

// Hub result codes kept as the last error of receivers and senders.
namespace hub_code {
inline constexpr int kSuccess = 0;             // LM_HUB_OK
inline constexpr int kOpenFailed = 1;          // LM_HUB_OPEN_FAILED
inline constexpr int kConnectFailed = 2;       // LM_HUB_CONNECT_FAILED
inline constexpr int kRequestFailed = 3;       // LM_HUB_REQUEST_FAILED
inline constexpr int kSendFailed = 4;          // LM_HUB_SEND_FAILED
inline constexpr int kNoResponse = 5;          // LM_HUB_NO_RESPONSE
inline constexpr int kQueryDataFailed = 6;     // LM_HUB_QUERY_FAILED
inline constexpr int kNoBody = 7;              // LM_HUB_NO_BODY
inline constexpr int kReadFailed = 8;          // LM_HUB_READ_FAILED
inline constexpr int kLineWithoutTab = 9;      // LM_HUB_BAD_LINE
inline constexpr int kNoExchangeYet = 10;      // LM_HUB_NOTHING_YET
inline constexpr int kEmptyMessage = 11;       // LM_HUB_EMPTY_MESSAGE
inline constexpr int kDuplicateReceiver = 12;  // LM_HUB_DUPLICATE
inline constexpr int kUnknownAnswer = 13;      // LM_HUB_UNKNOWN_ANSWER
inline constexpr int kTerminated = 14;         // LM_HUB_TERMINATED
inline constexpr int kNothingSentYet = 15;     // LM_HUB_NOTHING_SENT
inline constexpr int kHubError = 999;          // LM_HUB_ERROR
inline constexpr int kBadHandle = -1;          // LM_HUB_BAD_HANDLE
}  // namespace hub_code

// Error numbers with a meaning of their own for the library.
inline constexpr int kErrorWaitNumber = 1000;   // LM_HUB_WAIT_ERROR: the receiver pauses up to 30 s
inline constexpr int kFinalErrorNumber = 2000;  // LM_HUB_FINAL_ERROR: and above, the session is over

// The error numbers lumarel-hub answers (hub/README.md), as the last error.
namespace hub_error {
inline constexpr int kTooManyRequests = 1000;     // LM_ERR_TOO_MANY_REQUESTS
inline constexpr int kBadRequest = 1400;          // LM_ERR_BAD_REQUEST
inline constexpr int kEmptyMessage = 1411;        // LM_ERR_EMPTY_MESSAGE
inline constexpr int kMessageTooLong = 1413;      // LM_ERR_MESSAGE_TOO_LONG
inline constexpr int kStorageUnavailable = 1503;  // LM_ERR_TRY_AGAIN: nothing was stored
inline constexpr int kUnknownUser = 2001;         // LM_ERR_UNKNOWN_USER: or a wrong password
inline constexpr int kAccountDisabled = 2002;     // LM_ERR_ACCOUNT_DISABLED
inline constexpr int kNotGranted = 2003;          // LM_ERR_NOT_GRANTED: the channel is outside the user's grants
inline constexpr int kWrongVersion = 2010;        // LM_ERR_WRONG_VERSION
inline constexpr int kBadChannelName = 2414;      // LM_ERR_BAD_CHANNEL_NAME
}  // namespace hub_error

// The server argument of the two internet start functions.
namespace hub_server {
inline constexpr int kProduction = 1;  // LM_HUB_PRODUCTION
inline constexpr int kLocalTest = 0;   // LM_HUB_LOCAL_TEST
}  // namespace hub_server

// The option that lets a second receiver for a channel and user poll.
inline constexpr int kAnyInstanceOption = 73914628;  // LM_ANY_INSTANCE

// Limits an MQL4 program meets.
namespace limit {
inline constexpr int kLongestPendingText = 32763;  // LM_LOCAL_PENDING_BYTES: a local channel's queue
inline constexpr int kHubMessageBytes = 4096;      // LM_HUB_MESSAGE_BYTES: lumarel-hub's default
inline constexpr int kHubChannelBytes = 64;        // LM_HUB_CHANNEL_BYTES: lumarel-hub's default
}  // namespace limit

}  // namespace lumarel
