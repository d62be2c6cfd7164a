// The demo's second half: two test terminals exchange messages through
// Lumarel.dll, over a local channel and then through the test hub (the test
// web server on 127.0.0.1:80), the receiver taking them when its chart wakes.
#include <cstdio>
#include <string>

#include "testing/http/advert_server.h"
#include "testing/http/http_control.h"
#include "testing/robot/png_writer.h"
#include "testing/terminal/test_terminal.h"

int main(int argc, char** argv) {
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
    return t.callInt(name,
                     {Arg::chart(0), Arg::i(0), Arg::s(channel), Arg::s("demo"), Arg::s("demo password"), Arg::i(0)});
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

  std::printf("\nthe chart advert (advert server: localhost)\n");
  const std::string data1 = test_http::advert::uniqueData1();
  test_http::advert::script(data1, test_http::advert::picture(test_http::advert::bmp(120, 40, 0x2090F0),
                                                              "http://example.invalid/offer", "", "1"));
  const int attached = receiver.callInt("CreateHelper2", {Arg::i(0), Arg::chart(0), Arg::i(5), Arg::i(15), Arg::i(0),
                                                          Arg::i(30), Arg::s(data1), Arg::i(60)});
  std::printf("receiver: CreateHelper2(chart, corner 0, 30 minutes) = %d\n", attached);
  test_terminal::Pixels shown;
  for (int attempt = 0; attempt < 500 && shown.at(shown.width - 105, 30) != 0x2090F0; ++attempt) {
    Sleep(20);
    receiver.paint(0);
    shown = receiver.pixels(0);
  }
  for (const auto& request : test_http::requests(test_http::advert::requestPrefix(data1)))
    std::printf("advert server saw: %s (Subscriber-Cookie: %s)\n", request.requestLine.c_str(),
                request.header("Subscriber-Cookie").c_str());
  std::printf("receiver: the answer's corner 1 put the advert top-right: pixel (%d, 30) is %06lX\n", shown.width - 105,
              shown.at(shown.width - 105, 30));
  if (argc > 1 && shown.width > 0) {
    const std::string png = std::string(argv[1]) + "\\chart_with_advert.png";
    testing_support::writeFile(png, robot::encodePng(shown.width, shown.height, shown.rgb));
    std::printf("receiver: the chart with its advert saved as %s\n", png.c_str());
  }
  const int removed = receiver.callInt("RemoveHelper", {Arg::chart(0)});
  std::printf("receiver: RemoveHelper(chart) = %d, the chart's own window procedure back: %s\n", removed,
              receiver.ownWindowProc(0) ? "yes" : "no");
  sender.quit();
  receiver.quit();
  return 0;
}
