// The demo's second half: two test terminals exchange messages through
// Lumarel.dll, over a local channel and then through the test hub (the test
// web server on 127.0.0.1:80), the receiver taking them when its chart wakes.
#include <cstdio>
#include <string>

#include "testing/http/http_control.h"
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

  std::printf("\ninternet channel \"Signals\" through the test hub (server 0, the local test hub)\n");
  namespace hub = test_http::hub;
  if (!hub::addUser("demo", "demo password")) {
    std::printf("the test hub does not answer\n");
    return 1;
  }
  const std::string channel = hub::uniqueChannel();
  const auto start = [&](test_terminal::TestTerminal& t, const char* name) {
    return t.callInt(name, {Arg::chart(0), Arg::i(0), Arg::s(channel), Arg::s("demo"), Arg::s("demo password"),
                            Arg::i(0)});
  };
  receiver.clearTicks(0);
  const int ir = start(receiver, "LM_StartReceiveInternetMessages");
  receiver.autoDrain(0, ir, "LM_QueryInternetMessages");
  std::printf("receiver: LM_StartReceiveInternetMessages = %d, active %d\n", ir,
              receiver.callInt("LM_IsInternetReceiverActive", {Arg::i(ir)}));
  const int is = start(sender, "LM_StartSendInternetMessages");
  std::printf("sender:   LM_StartSendInternetMessages = %d, last error %d (nothing sent yet)\n", is,
              sender.callInt("LM_GetLastInternetSendError", {Arg::i(is)}));
  for (const char* message : {"long EURUSD", "flat\tGBPJPY"}) {
    const auto result = sender.call("LM_SendInternetMessage", {Arg::i(is), Arg::s(message)});
    std::printf("sender:   LM_SendInternetMessage -> %lld, the buffer now \"%s\"\n", result.number,
                result.textsAfter.empty() ? "" : result.textsAfter[0].c_str());
    Sleep(1000);
  }
  for (const auto& text : receiver.drained(0))
    std::printf("receiver: chart woken, LM_QueryInternetMessages -> \"%s\"\n", text.c_str());
  std::printf("receiver: last error %d\n", receiver.callInt("LM_GetLastInternetReceiveError", {Arg::i(ir)}));
  for (const auto& request : test_http::requests(hub::receivePrefix(channel)))
    std::printf("hub saw:  %s (Zelk-Password: %s)\n", request.requestLine.c_str(),
                request.header("Zelk-Password").c_str());
  receiver.callInt("LM_EndReceiveInternetMessages", {Arg::i(ir)});
  sender.callInt("LM_EndSendInternetMessages", {Arg::i(is)});
  sender.quit();
  receiver.quit();
  return 0;
}
