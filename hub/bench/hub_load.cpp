// hub_load: a load generator of our own that speaks the hub's wire format,
// with a bare Redis publish-to-subscriber round trip beside it as the floor.
//   hub_load --hub-port P --other-hub-port Q --redis-port R --hub-pid PID --user U --digest D --digest-key K
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <sstream>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <boost/asio.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>
#include <hiredis/hiredis.h>

#include "credentials.h"
#include "store.h"

namespace asio = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;
using tcp = asio::ip::tcp;
using Clock = std::chrono::steady_clock;

namespace {

struct Options {
  int hubPort = 0, redisPort = 0, hubPid = 0;
  int otherHubPort = 0;  // a second hub process on the same Redis, answering at once (min-answer-seconds 0)
  std::string user, digest, digestKey;
  int held = 10000;
};

double microsSince(Clock::time_point t) { return std::chrono::duration<double, std::micro>(Clock::now() - t).count(); }

double percentile(std::vector<double> v, double p) {
  if (v.empty()) return 0;
  std::sort(v.begin(), v.end());
  return v[std::min(v.size() - 1, static_cast<std::size_t>(std::lround(p * static_cast<double>(v.size() - 1))))];
}

// User and system CPU time of a process so far, in milliseconds: what the
// hub itself spent, whatever else the machine was busy with.
double cpuMs(int pid) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
  std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  const auto close = text.rfind(')');
  if (close == std::string::npos) return 0;
  std::istringstream fields(text.substr(close + 2));
  std::string field;
  double ticks = 0;
  for (int i = 3; fields >> field && i <= 15; ++i)
    if (i == 14 || i == 15) ticks += std::atof(field.c_str());
  return ticks * 1000.0 / static_cast<double>(sysconf(_SC_CLK_TCK));
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

redisContext* redisAt(int port) { return redisConnect("127.0.0.1", port); }

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

long heldNow(const Options& o, int port = 0) {
  Options asked = o;
  if (port) asked.hubPort = port;
  const std::string h = health(asked);
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

struct HeldResult {
  double kbPerHeld = 0, wakeMs = 0;
  int answered = 0;
};

HeldResult heldFigures(const Options& o) {
  const std::string channel = "bench-held";
  Options other = o;
  other.hubPort = o.otherHubPort;
  Client sender(other);
  sender.send(channel, "warm");
  const long baseline = rssKb(o.hubPid);
  HeldReceivers held;
  held.start(o, o.held, channel, 1);
  std::thread loop([&] { held.io.run(); });
  const bool all = waitFor([&] { return heldNow(o) >= o.held || held.failed > 0; }, 120);
  const long loaded = rssKb(o.hubPid);
  HeldResult result;
  result.kbPerHeld = static_cast<double>(loaded - baseline) / o.held;
  std::printf("held receive requests:        %d of %d held (%s), %d failed\n", static_cast<int>(heldNow(o)), o.held,
              all ? "all" : "NOT all", held.failed.load());
  std::printf(
      "hub memory:                   %ld kB idle, %ld kB holding them: %.2f kB per held request (goal: at most 4)\n",
      baseline, loaded, result.kbPerHeld);
  // Sent through the other process: the wake-up crosses Redis pub/sub.
  const double cpuBefore = cpuMs(o.hubPid);
  const auto sent = Clock::now();
  sender.send(channel, "wake all");
  waitFor([&] { return held.answered + held.failed >= o.held; }, 120);
  result.wakeMs = microsSince(sent) / 1000;
  const double cpuSpent = cpuMs(o.hubPid) - cpuBefore;
  result.answered = held.answered.load();
  std::printf(
      "one message to all of them, sent through another hub process: %d answered in %.1f ms (goal: all within 1000)\n",
      result.answered, result.wakeMs);
  std::printf("  the holding hub's own CPU time for it: %.0f ms (the rest is the machine's other work)\n", cpuSpent);
  loop.join();
  return result;
}

// Receivers that ask again as soon as they have an answer, each on its own
// connection, counting the messages they get.
struct Followers {
  struct One {
    tcp::socket socket;
    http::request<http::string_body> req;
    beast::flat_buffer buffer;
    http::response<http::string_body> res;
    long long r = 0;
    explicit One(asio::io_context& io) : socket(io) {}
  };
  asio::io_context io;
  std::vector<std::unique_ptr<One>> all;
  std::atomic<long long> messages{0};
  std::atomic<bool> stop{false};
  const Options* o = nullptr;
  std::string channel;

  void ask(One* one) {
    if (stop) return;
    one->req = hubRequest(*o, false, channel, one->r);
    one->res = {};
    http::async_write(one->socket, one->req, [this, one](beast::error_code ec, std::size_t) {
      if (ec) return;
      http::async_read(one->socket, one->buffer, one->res, [this, one](beast::error_code ec, std::size_t) {
        if (ec) return;
        const std::string& body = one->res.body();
        for (std::size_t at = body.find('\r'); at != std::string::npos; at = body.find('\r', at + 1)) {
          const long long id = std::atoll(body.c_str() + at + 1);
          if (id > one->r) ++messages;
        }
        const long long highest = highestId(body);
        if (highest > 0) one->r = highest;
        ask(one);
      });
    });
  }
  void start(const Options& options, int count, const std::string& name, long long r) {
    o = &options;
    channel = name;
    const tcp::endpoint hub(asio::ip::make_address("127.0.0.1"), static_cast<unsigned short>(o->hubPort));
    for (int i = 0; i < count; ++i) {
      all.push_back(std::make_unique<One>(io));
      all.back()->r = r;
      all.back()->socket.connect(hub);
      ask(all.back().get());
    }
  }
};

struct Throughput {
  double perSecond = 0;
  int refused = 0;
};

Throughput sendRate(const Options& o, const std::string& channel, int threads, int perThread) {
  std::atomic<int> refused{0};
  std::vector<std::thread> workers;
  const auto start = Clock::now();
  for (int t = 0; t < threads; ++t)
    workers.emplace_back([&] {
      Client c(o);
      for (int i = 0; i < perThread; ++i)
        if (c.send(channel, "price 1.23456 at " + std::to_string(i)) != "OKAY") ++refused;
    });
  for (auto& w : workers) w.join();
  return {threads * perThread / (microsSince(start) / 1e6), refused.load()};
}

// Sends on one channel while `held` receivers of it follow every message.
Throughput sendRateFollowed(const Options& o, int held, int threads, int perThread) {
  const std::string channel = "bench-rate-" + std::to_string(held);
  Client c(o);
  c.send(channel, "first");
  Followers followers;
  followers.start(o, held, channel, 1);
  std::thread loop([&] { followers.io.run(); });
  waitFor([&] { return heldNow(o) >= held; }, 30);
  const Throughput t = sendRate(o, channel, threads, perThread);
  // Answers carry at most lines-per-answer lines and come at most every
  // min-answer-seconds: followers of a channel this busy take part of it.
  waitFor([&] { return heldNow(o) >= held; }, 10);
  std::printf("  %d held receivers took %lld messages meanwhile, and are held again\n", held,
              followers.messages.load());
  followers.stop = true;
  followers.io.stop();
  loop.join();
  return t;
}

// The like-for-like floor: the hub's own store script, called by a bare
// client with as many commands in flight as the hub has senders.
double scriptFloorRate(const Options& o, int inFlight, int total) {
  redisContext* c = redisAt(o.redisPort);
  const std::string source = std::string(hub::store::kAdmit) + hub::store::kSendBody;
  redisReply* loaded = static_cast<redisReply*>(redisCommand(c, "SCRIPT LOAD %b", source.data(), source.size()));
  const std::string sha(loaded->str, loaded->len);
  freeReplyObject(loaded);
  const std::string channel = "bench-floor-script", user = "bench-floor";
  redisCommand(c, "HSET %s hash %s disabled 0", hub::store::userKey(user).c_str(),
               hub::keyedHash(o.digestKey, o.digest).c_str());
  const auto call = [&](int i) {
    const long long now =
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::system_clock::now().time_since_epoch())
            .count();
    const std::vector<std::string> words = {"EVALSHA",
                                            sha,
                                            "8",
                                            hub::store::userKey(user),
                                            hub::store::rateKey(user, now / 1000),
                                            hub::store::grantsKey(user, "send"),
                                            hub::store::failedUserKey(user, now / 60000),
                                            hub::store::failedAddressKey("127.0.0.1", now / 60000),
                                            hub::store::lastKey(channel),
                                            hub::store::messagesKey(channel),
                                            hub::store::timesKey(channel),
                                            hub::keyedHash(o.digestKey, o.digest),
                                            "10000000",
                                            channel,
                                            "*\n",
                                            user,
                                            "price 1.23456 at " + std::to_string(i),
                                            std::to_string(now),
                                            "1000",
                                            "3600000",
                                            std::string(hub::store::kSentTopic)};
    std::vector<const char*> argv;
    std::vector<std::size_t> lengths;
    for (const auto& w : words) {
      argv.push_back(w.data());
      lengths.push_back(w.size());
    }
    redisAppendCommandArgv(c, static_cast<int>(argv.size()), argv.data(), lengths.data());
  };
  const auto start = Clock::now();
  int sent = 0, received = 0, failed = 0;
  for (; sent < inFlight && sent < total; ++sent) call(sent);
  while (received < total) {
    void* reply = nullptr;
    if (redisGetReply(c, &reply) != REDIS_OK) break;
    const auto* r = static_cast<redisReply*>(reply);
    if (r->type != REDIS_REPLY_ARRAY || r->element[0]->integer != 0) ++failed;
    freeReplyObject(reply);
    ++received;
    if (sent < total) call(sent++);
  }
  const double rate = received / (microsSince(start) / 1e6);
  if (failed) std::printf("  (the floor's script refused %d calls)\n", failed);
  redisFree(c);
  return rate;
}

std::vector<double> hubLatency(const Options& at, int rounds) {
  Options o = at;
  o.hubPort = at.otherHubPort;
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
    waitFor([&] { return heldNow(o) >= 1; }, 10);  // o is the other hub here
    const auto sent = Clock::now();
    sender.send(channel, "tick " + std::to_string(i));
    receiver.join();
    samples.push_back(microsSince(sent));
    r = highestId(answer);
  }
  return samples;
}

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

// One loopback HTTP exchange on a kept-alive connection: GET /health, which
// the hub answers without Redis.
std::vector<double> httpExchange(const Options& at, int rounds) {
  asio::io_context io;
  tcp::socket s(io);
  s.connect(tcp::endpoint(asio::ip::make_address("127.0.0.1"), static_cast<unsigned short>(at.otherHubPort)));
  beast::flat_buffer b;
  std::vector<double> samples;
  for (int i = 0; i < rounds; ++i) {
    http::request<http::empty_body> req(http::verb::get, "/health", 11);
    req.keep_alive(true);
    const auto began = Clock::now();
    http::write(s, req);
    http::response<http::string_body> res;
    http::read(s, b, res);
    samples.push_back(microsSince(began));
  }
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
    if (name == "--digest-key") o.digestKey = value;
    if (name == "--other-hub-port") o.otherHubPort = std::atoi(value.c_str());
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

  const HeldResult held = heldFigures(o);
  constexpr int kThreads = 16, kPerThread = 1000;
  // Each hub run has its floor measured just before it: the machine's other
  // work changes from minute to minute, and a ratio of two moments says little.
  double worst = 1e9;
  for (const int followers : {1, 100}) {
    const double floorRate = scriptFloorRate(o, kThreads, kThreads * kPerThread);
    const Throughput t = sendRateFollowed(o, followers, kThreads, kPerThread);
    worst = std::min(worst, t.perSecond / floorRate);
    std::printf(
        "messages/s, one channel, %3d held receivers: %.0f (%d refused); floor, the store script from a bare "
        "client with %d in flight: %.0f; ratio %.2f (goal: 0.8)\n",
        followers, t.perSecond, t.refused, kThreads, floorRate, t.perSecond / floorRate);
  }
  const double publishRate = redisPublishRate(o, kThreads, kPerThread);
  std::printf("(bare Redis PUBLISH/s, %d connections: %.0f)\n", kThreads, publishRate);
  const auto hub = hubLatency(o, 300);
  const auto floor = redisLatency(o, 2000);
  const auto exchange = httpExchange(o, 2000);
  const double bound = 2 * percentile(floor, 0.5) + percentile(exchange, 0.5);
  std::printf("send-to-receive latency:      p50 %.0f us, p99 %.0f us (%zu messages)\n", percentile(hub, 0.5),
              percentile(hub, 0.99), hub.size());
  std::printf("floor: Redis publish-to-subscriber p50 %.0f us (p99 %.0f); loopback HTTP exchange p50 %.0f us\n",
              percentile(floor, 0.5), percentile(floor, 0.99), percentile(exchange, 0.5));
  std::printf("  ratio hub p50 / (2 x publish p50 + HTTP p50 = %.0f us): %.2f (goal: at most 1)\n", bound,
              percentile(hub, 0.5) / bound);
  std::printf(
      "summary: send rate %.2f of the floor (goal 0.8), latency %.2f of its bound (goal 1), %.2f kB per held "
      "request (goal 4), %d of %d woken in %.0f ms (goal all in 1000)\n",
      worst, percentile(hub, 0.5) / bound, held.kbPerHeld, held.answered, o.held, held.wakeMs);
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
