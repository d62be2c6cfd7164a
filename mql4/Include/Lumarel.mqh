//+------------------------------------------------------------------+
//| Lumarel.mqh: the functions of Lumarel.dll for MQL4 programs.     |
//| Put Lumarel.dll in MQL4\Libraries and allow DLL imports.         |
//+------------------------------------------------------------------+
#property strict

// Every number below is also in the library's own sources; the build checks
// that the two agree. mql4/README.md tells what each call does with them.

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

// Results of LM_ReleaseSender and LM_ReleaseReceiver.
#define LM_RELEASED           1   // also for the handle 0 and a handle already released
#define LM_NOT_LOCKED        -1   // the receiver could not be cleared: the handle stays open

// Limits of the texts.
#define LM_LOCAL_PENDING_BYTES 32763  // the most a local channel holds, TABs included
#define LM_HUB_MESSAGE_BYTES    4096  // lumarel-hub's default; longer ones get LM_ERR_MESSAGE_TOO_LONG
#define LM_HUB_CHANNEL_BYTES      64  // lumarel-hub's default, UTF-8 bytes of a channel name

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

// The hub's own error numbers (lumarel-hub; see hub/README.md).
#define LM_ERR_TOO_MANY_REQUESTS   1000  // the receiver waits 30 s; a sender may try later
#define LM_ERR_BAD_REQUEST         1400  // the hub did not understand the request
#define LM_ERR_EMPTY_MESSAGE       1411
#define LM_ERR_MESSAGE_TOO_LONG    1413  // over the hub's message size (LM_HUB_MESSAGE_BYTES)
#define LM_ERR_TRY_AGAIN           1503  // the hub could not store the message: send it again
#define LM_ERR_UNKNOWN_USER        2001  // unknown user or wrong password (final)
#define LM_ERR_ACCOUNT_DISABLED    2002  // final
#define LM_ERR_NOT_GRANTED         2003  // the channel is outside the user's grants (final)
#define LM_ERR_WRONG_VERSION       2010  // final
#define LM_ERR_BAD_CHANNEL_NAME    2414  // empty, too long or with control characters (final)

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
// UTF-8; messages go byte for byte, with every TAB, CR and LF replaced by a
// space (in the caller's buffer too). The wrappers below send and read every
// internet text as UTF-8, so that it arrives unchanged on any machine.
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
// The chart advert: an image from the advert server in a corner of the chart
// `window` (0 top-left, 1 top-right, 2 bottom-left, 3 bottom-right), marginX
// and marginY pixels from its edges (the server may choose another corner),
// fetched again every refreshMinutes (10 at least). data1 and data2 go to the
// server with the request. Returns 1 when attached, already attached, or kept
// off (the chart's "BlockAdvert" property, or a copy installed to hide it);
// 0 when no more charts can take one. Use LmCreateHelper for an MQL4 string.
int CreateHelper2(int unused, int window, int marginX, int marginY, int corner,
                  int refreshMinutes, uchar &data1[], int data2);
// Takes the advert off the chart and gives the chart its own window procedure
// back: 1, or 0 when the chart had none.
int RemoveHelper(int window);
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
int LmStartSendInternetMessages(int window, int server, string channel, string user, string password,
                                int option = 0) {
  uchar c[], u[], p[];
  LmToUtf8(channel, c); LmToUtf8(user, u); LmToUtf8(password, p);
  return LM_StartSendInternetMessages(window, server, c, u, p, option);
}
// Internet messages travel between machines with different code pages: they
// go as UTF-8 both ways.
int LmSendInternetMessage(int handle, string message) { uchar m[]; LmToUtf8(message, m); return LM_SendInternetMessage(handle, m); }

int LmCreateHelper(int window, int marginX, int marginY, int corner, int refreshMinutes,
                   string data1, int data2) {
  uchar d[]; LmToChars(data1, d);
  return CreateHelper2(0, window, marginX, marginY, corner, refreshMinutes, d, data2);
}

// A text the library handed back, copied into an MQL4 string from the code
// page it was written in (CP_ACP for local channels, CP_UTF8 for the hub).
string LmTextAt(int text, uint codePage = CP_ACP) {
  if (text == 0) return "";
  int length = lstrlenA(text);
  if (length <= 0) return "";
  uchar chars[];
  ArrayResize(chars, length);
  RtlMoveMemory(chars, text, length);
  return CharArrayToString(chars, 0, length, codePage);
}

// The pending messages as one string, TAB between two; "" when none.
// The library keeps the text until the same thread calls the same function again.
// Local channels never leave the machine: their texts keep the terminal's code page.
string LmGetMessages(int handle) { return LmTextAt(LM_GetMessages(handle)); }
string LmQueryInternetMessages(int handle) { return LmTextAt(LM_QueryInternetMessages(handle), CP_UTF8); }
