//+------------------------------------------------------------------+
//| LumarelSelfTest.mq4: checks an installation of Lumarel.dll and   |
//| prints one line per check: the DLL loads, a local channel round  |
//| trip, TimeUTC against the terminal's TimeGMT, and, when a hub    |
//| user is given, an internet round trip through the hub.           |
//+------------------------------------------------------------------+
#property strict
#property show_inputs
#include <Lumarel.mqh>

input string HubUser = "";      // leave empty to skip the internet check
input string HubPassword = "";
input int HubServer = LM_HUB_PRODUCTION;
input string HubChannel = "selftest";
input int HubWaitSeconds = 30;

int failures = 0;

void Report(string check, bool passed, string detail) {
  if (!passed) failures++;
  Print(passed ? "PASS " : "FAIL ", check, ": ", detail);
}

// The import is resolved when the script starts: when the DLL cannot be
// loaded (not in MQL4\Libraries, or DLL imports not allowed) the terminal
// stops the script at the first call with "cannot load library" or "DLL
// calls are not allowed" in the Experts log, and no line below is printed.
void CheckLibrary() {
  long utc = TimeUTC();
  Report("library", utc > 0, "Lumarel.dll loaded, TimeUTC " + IntegerToString(utc));
}

void CheckLocalRoundTrip() {
  string channel = "LumarelSelfTest" + IntegerToString(GetTickCount());
  string text = "local round trip " + TimeToString(TimeLocal(), TIME_SECONDS);
  int receiver = LmStartReceiver(channel, WindowHandle(Symbol(), Period()));
  int sender = LmStartSender(channel);
  if (receiver == 0 || sender == 0) {
    Report("local channel", false, "the channel could not be opened");
  } else {
    int sent = LmSendMessage(sender, text, LM_REQUIRE_RECEIVER);
    string got = LmGetMessages(receiver);
    Report("local channel", sent == LM_SENT && got == text,
           "sent " + IntegerToString(sent) + ", received \"" + got + "\"");
  }
  LM_ReleaseSender(sender);
  LM_ReleaseReceiver(receiver);
}

void CheckTimeUtc() {
  long difference = TimeUTC() - (long)TimeGMT();
  // TimeGMT comes from the computer's clock and time zone: more than a few
  // seconds apart means a wrong time zone or daylight-saving setting.
  Report("TimeUTC", MathAbs(difference) <= 2, "TimeUTC - TimeGMT = " + IntegerToString(difference) + " s");
}

void CheckHub() {
  if (HubUser == "") {
    Print("SKIP hub: no HubUser given");
    return;
  }
  int window = WindowHandle(Symbol(), Period());
  int receiver = LmStartReceiveInternetMessages(window, HubServer, HubChannel, HubUser, HubPassword, LM_ANY_INSTANCE);
  int sender = LmStartSendInternetMessages(window, HubServer, HubChannel, HubUser, HubPassword);
  if (receiver == 0 || sender == 0) {
    Report("hub", false, "could not start (empty channel, user or password?)");
    LM_EndReceiveInternetMessages(receiver);
    LM_EndSendInternetMessages(sender);
    return;
  }
  // Letters of three scripts (Cyrillic, Greek, accented Latin), written as
  // codes so that this file stays ASCII: they must come back as they went.
  ushort letters[] = {0x041F, 0x0440, 0x0438, 0x0432, 0x0435, 0x0442, ' ', 0x039A, 0x03B1, 0x03BB, 0x03B7,
                      0x03BC, 0x03AD, 0x03C1, 0x03B1, ' ', 'd', 0x00E9, 'j', 0x00E0, ' ', 'v', 'u'};
  string text = "self-test " + IntegerToString(GetTickCount()) + " " + ShortArrayToString(letters);
  int code = LmSendInternetMessage(sender, text);
  if (code != LM_HUB_OK) {
    Report("hub", false, "send answered " + IntegerToString(code));
  } else {
    bool found = false;
    uint until = GetTickCount() + (uint)HubWaitSeconds * 1000;
    while (!found && GetTickCount() < until && !IsStopped()) {
      string pending = LmQueryInternetMessages(receiver);
      string messages[];
      int count = StringSplit(pending, '\t', messages);
      for (int i = 0; i < count; i++) found = found || messages[i] == text;
      if (!found) {
        if (LM_IsInternetReceiverActive(receiver) == 0) break;
        Sleep(200);
      }
    }
    Report("hub", found, found ? "the message came back unchanged"
                               : "no message back, receiver error " +
                                     IntegerToString(LM_GetLastInternetReceiveError(receiver)));
  }
  LM_EndReceiveInternetMessages(receiver);
  LM_EndSendInternetMessages(sender);
}

void OnStart() {
  CheckLibrary();
  CheckLocalRoundTrip();
  CheckTimeUtc();
  CheckHub();
  Print(failures == 0 ? "Lumarel self-test passed" : "Lumarel self-test: " + IntegerToString(failures) + " check(s) failed");
}
