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

#import "Lumarel.dll"
// Seconds since 1970-01-01 00:00:00 UTC, whatever the computer's time zone.
long TimeUTC();

// Wakes the chart `window` (WindowHandle(Symbol(), Period())) every
// `interval` milliseconds, in steps of 10, for as long as the chart exists:
// the chart's program runs as on a new price. Returns a handle for
// RemoveTimedTicks, or 0 when window is 0 or no thread could be started.
int SetupTimedTicks(int window, int interval);

// Stops the ticks of a handle from SetupTimedTicks. Returns 1 when they have
// stopped (and for the handle 0), 0 for a value that is not such a handle.
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

// The pending messages as one string, TAB between two; "" when none.
// The library keeps the text until the next call with the same handle.
string LmGetMessages(int handle) {
  int text = LM_GetMessages(handle);
  if (text == 0) return "";
  int length = lstrlenA(text);
  if (length <= 0) return "";
  uchar chars[];
  ArrayResize(chars, length);
  RtlMoveMemory(chars, text, length);
  return CharArrayToString(chars, 0, length, CP_ACP);
}
