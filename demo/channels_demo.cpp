// The demo's second half: two test terminals exchange messages over a local
// channel through Lumarel.dll, the receiver taking them when its chart wakes.
#include <cstdio>
#include <string>

#include "testing/terminal/test_terminal.h"

int main() {
  using test_terminal::Arg;
  testing_support::TempDir copy{"demo"};
  test_terminal::makeCopyFolder(copy.path());
  test_terminal::TestTerminal sender, receiver;
  if (!sender.start(copy.path(), "1: Sender") || !receiver.start(copy.path(), "2: Receiver")) {
    std::printf("cannot start the test terminals\n");
    return 1;
  }
  std::printf("two terminals: sender (process %lu), receiver (process %lu)\n", sender.processId(),
              receiver.processId());
  const int r = receiver.callInt("LM_StartReceiver", {Arg::s("Orders"), Arg::chart(0)});
  receiver.autoDrain(0, r);
  std::printf("receiver: LM_StartReceiver(\"Orders\", chart) = %d\n", r);
  const int s = sender.callInt("LM_StartSender", {Arg::s("Orders")});
  std::printf("sender:   LM_StartSender(\"Orders\") = %d\n", s);
  for (const char* message : {"buy EURUSD 0.10", "sell GBPJPY 0.20", "close all"}) {
    const int result = sender.callInt("LM_SendMessage", {Arg::i(s), Arg::s(message), Arg::i(0)});
    std::printf("sender:   LM_SendMessage(\"%s\") = %d\n", message, result);
    Sleep(100);
  }
  std::printf("sender:   LM_CheckChannel(\"Orders\") = %d pending bytes\n",
              sender.callInt("LM_CheckChannel", {Arg::s("Orders")}));
  std::printf("sender:   LM_ChannelHasReceiver(\"Orders\") = %d\n",
              sender.callInt("LM_ChannelHasReceiver", {Arg::s("Orders")}));
  for (const auto& tick : receiver.ticks(0))
    std::printf("receiver: chart woken (wParam %lld, lParam %lld)\n", tick.wParam, tick.lParam);
  for (const auto& text : receiver.drained(0)) std::printf("receiver: LM_GetMessages -> \"%s\"\n", text.c_str());
  const long long utc = sender.call("TimeUTC").number;
  std::printf("sender:   TimeUTC() = %lld\n", utc);
  receiver.callInt("LM_ReleaseReceiver", {Arg::i(r)});
  sender.callInt("LM_ReleaseSender", {Arg::i(s)});
  sender.quit();
  receiver.quit();
  return 0;
}
