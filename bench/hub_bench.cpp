// Internet channels through the test hub, each figure beside a baseline of
// the same run:
//  - end-to-end latency from LM_SendInternetMessage in one test terminal to
//    the receiving chart's wake-up in another, next to a bare WinHTTP post to
//    the same hub from this program;
//  - the request rate of a receiver whose hub answers at once, next to the
//    bound that the pacing rule sets;
//  - handles and memory of the receiving terminal over a long run through a
//    stopped, slow, garbled and dropping hub, and the messages it got.
// Needs the test web server (testing/http/http-server) on 127.0.0.1:80.
#include <windows.h>
#include <psapi.h>
#include <winhttp.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "channels/hub/md5.h"
#include "testing/http/http_control.h"
#include "bench/bench_support.h"
#include "testing/terminal/test_terminal.h"

namespace {

using test_terminal::Arg;
using test_terminal::TestTerminal;
namespace hub = test_http::hub;

const char* const kUser = "bench";
const char* const kPassword = "bench password";

using bench::nowMicroseconds;
using bench::percentiles;

int startReceiver(TestTerminal& t, int chart, const std::string& channel) {
  return t.callInt("LM_StartReceiveInternetMessages",
                   {Arg::chart(chart), Arg::i(0), Arg::s(channel), Arg::s(kUser), Arg::s(kPassword), Arg::i(0)});
}

// A bare post to the hub: one session, then connect, request and read per message.
class BarePoster {
 public:
  BarePoster() { session_ = WinHttpOpen(L"bench", WINHTTP_ACCESS_TYPE_NO_PROXY, nullptr, nullptr, 0); }
  ~BarePoster() {
    if (session_) WinHttpCloseHandle(session_);
  }
  bool post(const std::wstring& path, const std::wstring& headers, const std::string& body) {
    HINTERNET connection = WinHttpConnect(session_, L"localhost", 80, 0);
    HINTERNET request = connection ? WinHttpOpenRequest(connection, L"POST", path.c_str(), nullptr, nullptr, nullptr,
                                                        WINHTTP_FLAG_REFRESH)
                                   : nullptr;
    bool ok =
        request &&
        WinHttpSendRequest(request, headers.c_str(), static_cast<DWORD>(headers.size()), const_cast<char*>(body.data()),
                           static_cast<DWORD>(body.size()), static_cast<DWORD>(body.size()), 0) &&
        WinHttpReceiveResponse(request, nullptr);
    DWORD available = 0;
    if (ok && WinHttpQueryDataAvailable(request, &available) && available) {
      std::string answer(available, '\0');
      DWORD read = 0;
      ok = WinHttpReadData(request, answer.data(), available, &read) && answer.rfind("OKAY", 0) == 0;
    }
    if (request) WinHttpCloseHandle(request);
    if (connection) WinHttpCloseHandle(connection);
    return ok;
  }

 private:
  HINTERNET session_ = nullptr;
};

// Requests a receiver may make in `seconds` when every answer comes at once:
// the pacing rule run with exchanges that take no time.
int pacingBound(int seconds) {
  long long times[10] = {};    // milliseconds, newest first; 0 as at the start
  long long now = 10'000'000;  // far from the initial zeros, as the clock of 1970
  const long long end = now + seconds * 1000LL;
  int requests = 0;
  for (;;) {
    if ((now - times[9]) / 1000 < 10) now += 6000;
    if (now >= end) break;
    for (int i = 9; i > 0; --i) times[i] = times[i - 1];
    times[0] = now;
    ++requests;
  }
  return requests;
}

struct Usage {
  DWORD handles = 0;
  double privateMb = 0;
};
Usage usageOf(DWORD processId) {
  Usage usage;
  HANDLE process = OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, processId);
  if (!process) return usage;
  GetProcessHandleCount(process, &usage.handles);
  PROCESS_MEMORY_COUNTERS_EX counters{};
  if (GetProcessMemoryInfo(process, reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&counters), sizeof counters))
    usage.privateMb = static_cast<double>(counters.PrivateUsage) / 1048576.0;
  CloseHandle(process);
  return usage;
}

std::wstring wide(const std::string& s) { return std::wstring(s.begin(), s.end()); }

}  // namespace

int main() {
  if (!hub::addUser(kUser, kPassword)) {
    std::printf("the test hub does not answer on 127.0.0.1:80\n");
    return 1;
  }
  testing_support::TempDir copy{"hubbench"};
  test_terminal::makeCopyFolder(copy.path());
  TestTerminal sending, receiving;
  if (!sending.start(copy.path(), "1: Sending") || !receiving.start(copy.path(), "2: Receiving", 3)) {
    std::printf("cannot start the test terminals\n");
    return 1;
  }

  // 1. Latency, one message a second: faster would meet the pacing rule.
  constexpr int kRounds = 40;
  const std::string channel = hub::uniqueChannel();
  hub::setHold(channel, 120000);
  const int receiver = startReceiver(receiving, 0, channel);
  receiving.autoDrain(0, receiver, "LM_QueryInternetMessages");
  const int sender = sending.callInt("LM_StartSendInternetMessages", {Arg::chart(0), Arg::i(0), Arg::s(channel),
                                                                      Arg::s(kUser), Arg::s(kPassword), Arg::i(0)});
  Sleep(500);  // the receiver's first request is held at the hub
  std::vector<double> viaLibrary;
  for (int i = 0; i < kRounds; ++i) {
    const long long roundStart = nowMicroseconds();
    receiving.clearTicks(0);
    const long long sent = nowMicroseconds();
    sending.call("LM_SendInternetMessage", {Arg::i(sender), Arg::s("m" + std::to_string(i))});
    std::vector<test_terminal::Tick> got;
    for (int spin = 0; spin < 5000 && got.empty(); ++spin) got = receiving.ticks(0);
    if (!got.empty()) viaLibrary.push_back(static_cast<double>(got.front().microseconds - sent));
    const long long spent = (nowMicroseconds() - roundStart) / 1000;
    if (spent < 1050) Sleep(static_cast<DWORD>(1050 - spent));
  }
  const std::string baselineChannel = hub::uniqueChannel();
  const std::wstring headers =
      L"Zelk-Version: 100\r\nZelk-Username: bench\r\nZelk-Password: " + wide(lumarel::md5Hex(kPassword)) + L"\r\n";
  BarePoster poster;
  std::vector<double> bare;
  for (int i = 0; i < kRounds; ++i) {
    const long long t0 = nowMicroseconds();
    if (poster.post(wide(hub::sendPath(baselineChannel)), headers, "m" + std::to_string(i)))
      bare.push_back(static_cast<double>(nowMicroseconds() - t0));
  }
  const auto e2e = percentiles(viaLibrary), post = percentiles(bare);
  std::printf("latency, microseconds (%zu and %zu samples)\n", viaLibrary.size(), bare.size());
  std::printf("  %-44s %9s %9s %14s\n", "", "median", "p99", "median ratio");
  std::printf("  %-44s %9.0f %9.0f %14.2f\n", "LM_SendInternetMessage to the chart's wake-up", e2e.median, e2e.p99,
              1.0);
  std::printf("  %-44s %9.0f %9.0f %14.2f\n\n", "bare WinHTTP post to the same hub", post.median, post.p99,
              post.median / e2e.median);
  receiving.callInt("LM_EndReceiveInternetMessages", {Arg::i(receiver)});

  // 2. A hub that answers at once: the pacing rule alone sets the rate.
  constexpr int kRateSeconds = 40;
  const std::string eager = hub::uniqueChannel();
  test_http::script(hub::receivePrefix(eager), test_http::answerWith("DATA\r"));
  const int paced = startReceiver(receiving, 1, eager);
  Sleep(kRateSeconds * 1000);
  receiving.callInt("LM_EndReceiveInternetMessages", {Arg::i(paced)});
  const std::size_t made = test_http::requests(hub::receivePrefix(eager)).size();
  const int bound = pacingBound(kRateSeconds);
  std::printf("requests in %d s with a hub that answers at once\n", kRateSeconds);
  std::printf("  receiver  %4zu\n  bound     %4d (pacing rule, exchanges taking no time)\n  ratio     %4.2f\n\n", made,
              bound, static_cast<double>(made) / bound);

  // 3. A long run through faults: stopped, slow, garbled, dropping, well.
  const std::string faulty = hub::uniqueChannel();
  hub::setHold(faulty, 2000);
  const int enduring = startReceiver(receiving, 2, faulty);
  receiving.autoDrain(2, enduring, "LM_QueryInternetMessages");
  const int faultySender =
      sending.callInt("LM_StartSendInternetMessages",
                      {Arg::chart(0), Arg::i(0), Arg::s(faulty), Arg::s(kUser), Arg::s(kPassword), Arg::i(0)});
  Sleep(3000);
  const Usage start = usageOf(receiving.processId());
  int accepted = 0;
  const std::string prefix = hub::receivePrefix(faulty);
  const char* phases[] = {"stopped", "slow", "garbled", "dropping", "well"};
  constexpr int kCycles = 1, kPhaseSeconds = 12;
  for (int cycle = 0; cycle < kCycles; ++cycle) {
    for (const char* phase : phases) {
      const std::string name = phase;
      if (name == "stopped") hub::stop(faulty);
      if (name == "slow") test_http::script(prefix, test_http::dropped(4000));
      if (name == "garbled") test_http::script(prefix, test_http::answerWith("<html>busy</html>"));
      if (name == "dropping") test_http::script(prefix, test_http::dropped());
      for (int s = 0; s < kPhaseSeconds; s += 3) {
        const int code = sending.callInt("LM_SendInternetMessage",
                                         {Arg::i(faultySender), Arg::s(name + " " + std::to_string(accepted))});
        accepted += code == 0;
        Sleep(3000);
      }
      hub::start(faulty);
      test_http::unscript(prefix);
    }
  }
  Sleep(35000);  // the last error wait, then the rest arrives
  const Usage finish = usageOf(receiving.processId());
  std::size_t delivered = 0;
  for (const auto& text : receiving.drained(2)) delivered += 1 + std::count(text.begin(), text.end(), '\t');
  std::printf("receiving terminal over %d s of faults (%s)\n", kCycles * 5 * kPhaseSeconds,
              "stopped, slow, garbled, dropping, well");
  std::printf("  handles        %5lu at start %5lu at the end (ratio %.2f)\n", start.handles, finish.handles,
              start.handles ? static_cast<double>(finish.handles) / start.handles : 0.0);
  std::printf("  private memory %5.1f MB at start %5.1f MB at the end (ratio %.2f)\n", start.privateMb,
              finish.privateMb, start.privateMb > 0 ? finish.privateMb / start.privateMb : 0.0);
  std::printf("  messages       %d accepted by the hub, %zu delivered\n", accepted, delivered);
  receiving.callInt("LM_EndReceiveInternetMessages", {Arg::i(enduring)});
  sending.callInt("LM_EndSendInternetMessages", {Arg::i(faultySender)});
  sending.callInt("LM_EndSendInternetMessages", {Arg::i(sender)});
  sending.quit();
  receiving.quit();
  return 0;
}
