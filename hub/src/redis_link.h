#pragma once
// Redis from the hub's event loop: a few threads, each with a connection of
// its own, run commands taken from a bounded queue and hand each reply back
// to the loop; one more thread listens for stored messages, pinging Redis so
// that a vanished host is noticed. The loop itself never blocks on Redis.
#include <atomic>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include <boost/asio/executor_work_guard.hpp>
#include <boost/asio/io_context.hpp>

#include "metrics.h"
#include "redis_connect.h"

namespace hub {

// A reply, copied out of hiredis so that it can cross threads.
struct Reply {
  enum class Kind { Failed, Nil, Integer, Text, Array, Error } kind = Kind::Failed;
  long long integer = 0;
  std::string text;  // a text or error reply, or why the command failed
  std::vector<Reply> items;
};

// Logs once when Redis goes away and once when it is back: never per request.
class RedisHealth {
 public:
  void report(bool reachable, const std::string& why);
  bool reachable() const { return reachable_; }

 private:
  std::atomic<bool> reachable_{true};
  std::mutex lock_;
};

class RedisLink {
 public:
  using Done = std::function<void(Reply)>;
  // A stored message: its id, channel and line ("id TAB user TAB text"; empty
  // when the notification did not carry it).
  using Sent = std::function<void(long long id, std::string channel, std::string line)>;
  using Resync = std::function<void()>;

  RedisLink(boost::asio::io_context& loop, RedisAddress address, int workers, std::size_t maxQueued);
  ~RedisLink();

  // Runs a script (by its digest, loading it when Redis does not know it) and
  // calls `done` on the loop. False when the queue is full: the caller answers
  // "busy" at once rather than queue without bound.
  // `idempotent`: may run twice without harm, so a connection found broken
  // (Redis restarted since its last use) is made anew and the command tried once more.
  bool script(const std::string& source, std::vector<std::string> keys, std::vector<std::string> args, Done done,
              bool idempotent = false);
  bool command(std::vector<std::string> words, Done done);

  // Listens on the "sent" topic; `resync` runs after every (re)subscription,
  // when notifications may have been missed.
  void listen(Sent sent, Resync resync);
  // At shutdown: no new jobs; those not yet begun are answered as failed (and
  // so never reach Redis), those under way finish and are answered.
  void closeQueue();
  // Jobs queued or under way.
  bool busy();
  std::size_t queued();
  int inFlight();  // taken by a connection and not yet answered
  void stop();
  bool reachable() const { return health_.reachable(); }
  // The subscription is live: a stored message wakes the receivers held here.
  bool subscribed() const { return subscribed_; }
  // Subscriptions made since the start; more than one means reconnections.
  long long subscriptions() const { return subscriptions_; }
  const LatencyHistogram& latency() const { return latency_; }

 private:
  struct Job {
    std::vector<std::string> words;
    std::string scriptSource;  // non-empty: words are EVALSHA's, the digest filled in by the worker
    Done done;
    bool idempotent = false;
    // Keeps the loop running until the job's answer has been handed to it.
    std::optional<boost::asio::executor_work_guard<boost::asio::io_context::executor_type>> keep;
  };
  void work();
  void subscribe(const Sent& sent, const Resync& resync);
  std::string readNotifications(redisContext* c, const Sent& sent);
  bool enqueue(Job job);

  boost::asio::io_context& loop_;
  RedisAddress address_;
  std::size_t maxQueued_;
  std::mutex lock_;
  std::condition_variable wake_;
  std::deque<Job> queue_;
  bool stopping_ = false;
  int running_ = 0;         // jobs taken by a worker and not yet answered
  int idle_ = 0;            // workers waiting for a job
  bool signalled_ = false;  // one of them has been woken and has not yet run
  std::vector<std::thread> workers_;
  std::thread listener_;
  std::atomic<int> listenerSocket_{-1};
  std::atomic<bool> listenerStop_{false};
  std::atomic<bool> subscribed_{false};
  std::atomic<long long> subscriptions_{0};
  RedisHealth health_;
  LatencyHistogram latency_;
};

}  // namespace hub
