//+------------------------------------------------------------------+
//| Lumarel.mqh: the functions of Lumarel.dll for MQL4 programs.     |
//| Put Lumarel.dll in MQL4\Libraries and allow DLL imports.         |
//+------------------------------------------------------------------+
#property strict

// Flags of LM_SendMessage.
#define LM_REPLACE_QUEUE      1   // discard the pending messages first
#define LM_REQUIRE_RECEIVER   2   // write only when a receiver is registered

// Results of LM_SendMessage.
#define LM_SENT               1   // written (and the receiver woken)
#define LM_NO_RECEIVER       -1   // LM_REQUIRE_RECEIVER and no receiver: nothing written
#define LM_TOO_LONG          -2   // did not fit beside the pending messages: not written
#define LM_SEND_FAILED        0   // no such handle, or the channel could not be locked

// Results of LM_CheckChannel and LM_ChannelHasReceiver.
#define LM_NO_CHANNEL        -1   // nobody holds the channel
#define LM_CHECK_FAILED      -2   // empty name, or the channel could not be opened

// Hub result codes: LM_GetLastInternetReceiveError, LM_GetLastInternetSendError
// and LM_SendInternetMessage. The hub's own error numbers are 1000 and more;
// 2000 and more end the session (the receiver stops, the sender refuses).
#define LM_HUB_OK                0   // sent ("OKAY"), or an answer with data
#define LM_HUB_OPEN_FAILED       1   // the HTTP client could not be opened
#define LM_HUB_CONNECT_FAILED    2
#define LM_HUB_REQUEST_FAILED    3
#define LM_HUB_SEND_FAILED       4
#define LM_HUB_NO_RESPONSE       5
#define LM_HUB_QUERY_FAILED      6
#define LM_HUB_NO_BODY           7
#define LM_HUB_READ_FAILED       8   // or the answer passed 1 MiB (1048576 bytes): not read on
#define LM_HUB_BAD_LINE          9   // an answer line without a TAB: reading stopped
#define LM_HUB_NOTHING_YET      10   // the receiver has not finished an exchange yet
#define LM_HUB_EMPTY_MESSAGE    11   // nothing sent (the last error stays)
#define LM_HUB_DUPLICATE        12   // another receiver for this channel and user runs
#define LM_HUB_UNKNOWN_ANSWER   13
#define LM_HUB_TERMINATED       14   // the hub ended this sender: start a new one
#define LM_HUB_NOTHING_SENT     15   // the sender has not sent anything yet
#define LM_HUB_ERROR           999   // "ERR:" below 1000, or an unknown send answer
#define LM_HUB_WAIT_ERROR     1000   // the receiver pauses up to 30 seconds
#define LM_HUB_FINAL_ERROR    2000   // and above
#define LM_HUB_BAD_HANDLE       -1   // handle 0 or not a live handle

// The server argument of the start functions.
#define LM_HUB_PRODUCTION        1
#define LM_HUB_LOCAL_TEST        0
// The option that lets a second receiver for a channel and user poll.
#define LM_ANY_INSTANCE   73914628

#import "Lumarel.dll"
// Seconds since 1970-01-01 00:00:00 UTC, whatever the computer's time zone.
long TimeUTC();

// Wakes the chart `window` (WindowHandle(Symbol(), Period())) every
// `interval` milliseconds, in steps of 10, for as long as the chart exists:
// the chart's program runs as on a new price. Returns a handle for
// RemoveTimedTicks, or 0 when window is 0 or no thread could be started.
int SetupTimedTicks(int window, int interval);

// Stops the ticks of a handle from SetupTimedTicks. Returns 1 when they have
// stopped (and for the handle 0), 0 for a value that is not such a handle,
// also one whose ticks already ended with their chart.
int RemoveTimedTicks(int handle);
// Local channels between the terminals of one Windows logon. A channel is
// known by its name alone (case matters). Texts are 8-bit: use the wrappers
// below, which convert MQL4 strings.
int LM_StartSender(uchar &channel[]);                    // handle, 0 on failure
int LM_ReleaseSender(int handle);                        // 1
int LM_SendMessage(int handle, uchar &message[], int flags);
int LM_StartReceiver(uchar &channel[], int window);      // handle, 0 on failure
int LM_ReleaseReceiver(int handle);                      // 1; -1: could not lock
int LM_GetMessages(int handle);                          // a text pointer: use LmGetMessages
int LM_CheckChannel(uchar &channel[]);                   // pending bytes, or -1 / -2
int LM_ChannelHasReceiver(uchar &channel[]);             // 1 yes, 0 no, or -1 / -2
// Internet channels through the message hub. Channel, user and password are
// UTF-8 (the wrappers below convert); messages go byte for byte, with every
// TAB, CR and LF replaced by a space (in the caller's buffer too).
int LM_StartReceiveInternetMessages(int window, int server, uchar &channel[], uchar &user[],
                                    uchar &password[], int option);  // handle, 0 on failure
int LM_EndReceiveInternetMessages(int handle);           // 1; -1 for no receiver
int LM_QueryInternetMessages(int handle);                // a text pointer: use LmQueryInternetMessages
int LM_IsInternetReceiverActive(int handle);             // 1 polling, 0 not, -1 no receiver
int LM_GetLastInternetReceiveError(int handle);          // a hub result code
int LM_StartSendInternetMessages(int window, int server, uchar &channel[], uchar &user[],
                                 uchar &password[], int option);     // handle, 0 on failure
int LM_SendInternetMessage(int handle, uchar &message[]); // a hub result code, -1 no sender
int LM_EndSendInternetMessages(int handle);              // 1; -1 for no sender
int LM_IsInternetSendSessionTerminated(int handle);      // 1 after an error of 2000 or more
int LM_GetLastInternetSendError(int handle);             // a hub result code
#import

#import "kernel32.dll"
int lstrlenA(int text);
void RtlMoveMemory(uchar &destination[], int source, int length);
#import

void LmToChars(string text, uchar &chars[]) { StringToCharArray(text, chars, 0, WHOLE_ARRAY, CP_ACP); }

int LmStartSender(string channel) { uchar c[]; LmToChars(channel, c); return LM_StartSender(c); }
int LmStartReceiver(string channel, int window) { uchar c[]; LmToChars(channel, c); return LM_StartReceiver(c, window); }
int LmSendMessage(int handle, string message, int flags = 0) { uchar m[]; LmToChars(message, m); return LM_SendMessage(handle, m, flags); }
int LmCheckChannel(string channel) { uchar c[]; LmToChars(channel, c); return LM_CheckChannel(c); }
int LmChannelHasReceiver(string channel) { uchar c[]; LmToChars(channel, c); return LM_ChannelHasReceiver(c); }

void LmToUtf8(string text, uchar &chars[]) { StringToCharArray(text, chars, 0, WHOLE_ARRAY, CP_UTF8); }

int LmStartReceiveInternetMessages(int window, int server, string channel, string user, string password,
                                   int option = 0) {
  uchar c[], u[], p[];
  LmToUtf8(channel, c); LmToUtf8(user, u); LmToUtf8(password, p);
  return LM_StartReceiveInternetMessages(window, server, c, u, p, option);
}
int LmStartSendInternetMessages(int window, int server, string channel, string user, string password) {
  uchar c[], u[], p[];
  LmToUtf8(channel, c); LmToUtf8(user, u); LmToUtf8(password, p);
  return LM_StartSendInternetMessages(window, server, c, u, p, 0);
}
int LmSendInternetMessage(int handle, string message) { uchar m[]; LmToChars(message, m); return LM_SendInternetMessage(handle, m); }

// A text the library handed back, copied into an MQL4 string.
string LmTextAt(int text) {
  if (text == 0) return "";
  int length = lstrlenA(text);
  if (length <= 0) return "";
  uchar chars[];
  ArrayResize(chars, length);
  RtlMoveMemory(chars, text, length);
  return CharArrayToString(chars, 0, length, CP_ACP);
}

// The pending messages as one string, TAB between two; "" when none.
// The library keeps the text until the same thread calls the same function again.
string LmGetMessages(int handle) { return LmTextAt(LM_GetMessages(handle)); }
string LmQueryInternetMessages(int handle) { return LmTextAt(LM_QueryInternetMessages(handle)); }
