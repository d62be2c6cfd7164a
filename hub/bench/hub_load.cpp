// hub_load: a load generator of our own that speaks the hub's wire format,
// with a bare Redis publish-to-subscriber round trip beside it as the floor.
//   hub_load --hub-port P --redis-port R --hub-pid PID --user U --digest D
#include <sys/resource.h>

#include <algorithm>
#include <cmath>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <boost/asio.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>
#include <hiredis/hiredis.h>

namespace asio = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;
using tcp = asio::ip::tcp;
using Clock = std::chrono::steady_clock;

namespace {

struct Options {
  int hubPort = 0, redisPort = 0, hubPid = 0;
  std::string user, digest;
  int held = 10000;
};

double microsSince(Clock::time_point t) { return std::chrono::duration<double, std::micro>(Clock::now() - t).count(); }

double percentile(std::vector<double> v, double p) {
  if (v.empty()) return 0;
  std::sort(v.begin(), v.end());
  return v[std::min(v.size() - 1, static_cast<std::size_t>(std::lround(p * static_cast<double>(v.size() - 1))))];
}

long rssKb(int pid) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/status");
  std::string word;
  while (in >> word)
    if (word == "VmRSS:") {
      long kb = 0;
      in >> kb;
      return kb;
    }
  return 0;
}

http::request<http::string_body> hubRequest(const Options& o, bool send, const std::string& channel, long long r,
                                            std::string body = {}) {
  http::request<http::string_body> req(send ? http::verb::post : http::verb::get,
                                       send ? "/zlk/channels/send.aspx?c=" + channel
                                            : "/zlk/channels/receive.aspx?c=" + channel + "&r=" + std::to_string(r),
                                       11);
  req.set(http::field::host, "localhost");
  req.set(http::field::user_agent, "zelk");
  req.set("Zelk-Version", "100");
  req.set("Zelk-Username", o.user);
  req.set("Zelk-Password", o.digest);
  req.keep_alive(true);
  if (send) req.body() = std::move(body);
  req.prepare_payload();
  return req;
}

// A blocking client on one kept-alive connection.
class Client {
 public:
  explicit Client(const Options& o) : o_(o), socket_(io_) {
    socket_.connect(tcp::endpoint(asio::ip::make_address("127.0.0.1"), static_cast<unsigned short>(o.hubPort)));
  }
  std::string exchange(http::request<http::string_body>& req) {
    http::write(socket_, req);
    http::response<http::string_body> res;
    http::read(socket_, buffer_, res);
    return res.body();
  }
  std::string send(const std::string& channel, const std::string& text) {
    auto req = hubRequest(o_, true, channel, 0, text);
    return exchange(req);
  }
  std::string receive(const std::string& channel, long long r) {
    auto req = hubRequest(o_, false, channel, r);
    return exchange(req);
  }

 private:
  const Options& o_;
  asio::io_context io_;
  tcp::socket socket_;
  beast::flat_buffer buffer_;
};

long long highestId(const std::string& answer) {
  long long highest = 0;
  std::size_t at = answer.find('\r');
  while (at != std::string::npos) {
    highest = std::max(highest, std::atoll(answer.c_str() + at + 1));
    at = answer.find('\r', at + 1);
  }
  return highest;
}

std::string health(const Options& o) {
  asio::io_context io;
  tcp::socket s(io);
  s.connect(tcp::endpoint(asio::ip::make_address("127.0.0.1"), static_cast<unsigned short>(o.hubPort)));
  http::request<http::empty_body> req(http::verb::get, "/health", 11);
  http::write(s, req);
  beast::flat_buffer b;
  http::response<http::string_body> res;
  http::read(s, b, res);
  return res.body();
}

long heldNow(const Options& o) {
  const std::string h = health(o);
  const auto at = h.find("held=");
  return at == std::string::npos ? -1 : std::atol(h.c_str() + at + 5);
}

// Many receive requests held at once, on one event loop.
struct HeldReceivers {
  struct One {
    tcp::socket socket;
    http::request<http::string_body> req;
    beast::flat_buffer buffer;
    http::response<http::string_body> res;
    explicit One(asio::io_context& io) : socket(io) {}
  };
  asio::io_context io;
  std::vector<std::unique_ptr<One>> all;
  std::atomic<int> answered{0}, failed{0};

  void start(const Options& o, int count, const std::string& channel, long long r) {
    const tcp::endpoint hub(asio::ip::make_address("127.0.0.1"), static_cast<unsigned short>(o.hubPort));
    for (int i = 0; i < count; ++i) {
      all.push_back(std::make_unique<One>(io));
      One* one = all.back().get();
      one->req = hubRequest(o, false, channel, r);
      one->socket.async_connect(hub, [this, one](beast::error_code ec) {
        if (ec) return void(++failed);
        http::async_write(one->socket, one->req, [this, one](beast::error_code ec, std::size_t) {
          if (ec) return void(++failed);
          http::async_read(one->socket, one->buffer, one->res,
                           [this](beast::error_code ec, std::size_t) { ++(ec ? failed : answered); });
        });
      });
    }
  }
};

template <typename Check>
bool waitFor(Check check, int seconds) {
  const auto deadline = Clock::now() + std::chrono::seconds(seconds);
  while (Clock::now() < deadline) {
    if (check()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return check();
}

void heldFigures(const Options& o) {
  const std::string channel = "bench-held";
  Client sender(o);
  sender.send(channel, "warm");
  const long baseline = rssKb(o.hubPid);
  HeldReceivers held;
  held.start(o, o.held, channel, 1);
  std::thread loop([&] { held.io.run(); });
  const bool all = waitFor([&] { return heldNow(o) >= o.held || held.failed > 0; }, 120);
  const long loaded = rssKb(o.hubPid);
  std::printf("held receive requests:        %d of %d held (%s), %d failed\n", static_cast<int>(heldNow(o)), o.held,
              all ? "all" : "NOT all", held.failed.load());
  std::printf("hub memory:                   %ld kB idle, %ld kB holding them: %.2f kB per held request\n", baseline,
              loaded, static_cast<double>(loaded - baseline) / o.held);
  const auto sent = Clock::now();
  sender.send(channel, "wake all");
  waitFor([&] { return held.answered + held.failed >= o.held; }, 120);
  std::printf("one message to all of them:   %d answered in %.1f ms\n", held.answered.load(), microsSince(sent) / 1000);
  loop.join();
}

struct Throughput {
  double perSecond = 0;
  int refused = 0;
};

Throughput sendRate(const Options& o, int channels, int threads, int perThread) {
  std::atomic<int> refused{0};
  std::vector<std::thread> workers;
  const auto start = Clock::now();
  for (int t = 0; t < threads; ++t)
    workers.emplace_back([&, t] {
      Client c(o);
      for (int i = 0; i < perThread; ++i) {
        const std::string channel =
            "bench-rate-" + std::to_string(channels) + "-" + std::to_string((t * perThread + i) % channels);
        if (c.send(channel, "price 1.23456 at " + std::to_string(i)) != "OKAY") ++refused;
      }
    });
  for (auto& w : workers) w.join();
  return {threads * perThread / (microsSince(start) / 1e6), refused.load()};
}

std::vector<double> hubLatency(const Options& o, int rounds) {
  std::vector<double> samples;
  const std::string channel = "bench-latency";
  Client sender(o);
  sender.send(channel, "start");
  long long r = 1;
  for (int i = 0; i < rounds; ++i) {
    std::atomic<bool> ready{false};
    std::string answer;
    std::thread receiver([&] {
      Client c(o);
      ready = true;
      answer = c.receive(channel, r);
    });
    while (!ready) std::this_thread::yield();
    // The receiver is held once the hub lists it.
    waitFor([&] { return heldNow(o) >= 1; }, 10);
    const auto sent = Clock::now();
    sender.send(channel, "tick " + std::to_string(i));
    receiver.join();
    samples.push_back(microsSince(sent));
    r = highestId(answer);
  }
  return samples;
}

redisContext* redisAt(int port) { return redisConnect("127.0.0.1", port); }

// The floor: PUBLISH on one connection until the subscriber on another has it.
std::vector<double> redisLatency(const Options& o, int rounds) {
  redisContext* sub = redisAt(o.redisPort);
  redisContext* pub = redisAt(o.redisPort);
  freeReplyObject(redisCommand(sub, "SUBSCRIBE bench-floor"));
  std::vector<double> samples;
  for (int i = 0; i < rounds; ++i) {
    const auto sent = Clock::now();
    freeReplyObject(redisCommand(pub, "PUBLISH bench-floor %d", i));
    void* reply = nullptr;
    redisGetReply(sub, &reply);
    samples.push_back(microsSince(sent));
    freeReplyObject(reply);
  }
  redisFree(sub);
  redisFree(pub);
  return samples;
}

double redisPublishRate(const Options& o, int threads, int perThread) {
  std::vector<std::thread> workers;
  const auto start = Clock::now();
  for (int t = 0; t < threads; ++t)
    workers.emplace_back([&] {
      redisContext* c = redisAt(o.redisPort);
      for (int i = 0; i < perThread; ++i) freeReplyObject(redisCommand(c, "PUBLISH bench-rate %d", i));
      redisFree(c);
    });
  for (auto& w : workers) w.join();
  return threads * perThread / (microsSince(start) / 1e6);
}

}  // namespace

int run(int argc, char** argv) {
  Options o;
  for (int i = 1; i + 1 < argc; i += 2) {
    const std::string name = argv[i], value = argv[i + 1];
    if (name == "--hub-port") o.hubPort = std::atoi(value.c_str());
    if (name == "--redis-port") o.redisPort = std::atoi(value.c_str());
    if (name == "--hub-pid") o.hubPid = std::atoi(value.c_str());
    if (name == "--user") o.user = value;
    if (name == "--digest") o.digest = value;
    if (name == "--held") o.held = std::atoi(value.c_str());
  }
  rlimit limit{};
  getrlimit(RLIMIT_NOFILE, &limit);
  limit.rlim_cur = limit.rlim_max;
  setrlimit(RLIMIT_NOFILE, &limit);
  if (static_cast<long>(limit.rlim_cur) < o.held + 100) {
    o.held = static_cast<int>(limit.rlim_cur) - 100;
    std::printf("(the descriptor limit %ld allows %d held requests)\n", static_cast<long>(limit.rlim_cur), o.held);
  }

  heldFigures(o);
  constexpr int kThreads = 16, kPerThread = 1000;
  const Throughput one = sendRate(o, 1, kThreads, kPerThread);
  const Throughput many = sendRate(o, 1000, kThreads, kPerThread);
  const double floorRate = redisPublishRate(o, kThreads, kPerThread);
  std::printf("messages/s, one channel:      %.0f (%d refused)\n", one.perSecond, one.refused);
  std::printf("messages/s, 1,000 channels:   %.0f (%d refused)\n", many.perSecond, many.refused);
  std::printf("floor: bare Redis PUBLISH/s:  %.0f (%d connections)\n", floorRate, kThreads);
  std::printf("  ratio hub/floor:            %.2f (one channel), %.2f (1,000 channels)\n", one.perSecond / floorRate,
              many.perSecond / floorRate);
  const auto hub = hubLatency(o, 300);
  const auto floor = redisLatency(o, 2000);
  std::printf("send-to-receive latency:      p50 %.0f us, p99 %.0f us (%zu messages)\n", percentile(hub, 0.5),
              percentile(hub, 0.99), hub.size());
  std::printf("floor: Redis publish-to-subscriber: p50 %.0f us, p99 %.0f us\n", percentile(floor, 0.5),
              percentile(floor, 0.99));
  std::printf("  ratio hub/floor:            p50 %.1f, p99 %.1f\n", percentile(hub, 0.5) / percentile(floor, 0.5),
              percentile(hub, 0.99) / percentile(floor, 0.99));
  return 0;
}

int main(int argc, char** argv) {
  try {
    return run(argc, argv);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "hub_load: %s\n", e.what());
  }
  return 1;
}
