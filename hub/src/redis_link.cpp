#include "redis_link.h"

#include <poll.h>
#include <sys/socket.h>

#include <algorithm>
#include <optional>
#include <string_view>

#include <chrono>
#include <cstdio>
#include <memory>
#include <unordered_map>

#include <boost/asio/post.hpp>
#include <hiredis/hiredis.h>

#include "log.h"
#include "store.h"

namespace hub {

namespace {

Reply copyReply(const redisReply* r) {
  Reply out;
  switch (r->type) {
    case REDIS_REPLY_NIL: out.kind = Reply::Kind::Nil; break;
    case REDIS_REPLY_INTEGER:
      out.kind = Reply::Kind::Integer;
      out.integer = r->integer;
      break;
    case REDIS_REPLY_STRING:
    case REDIS_REPLY_STATUS:
      out.kind = Reply::Kind::Text;
      out.text.assign(r->str, r->len);
      break;
    case REDIS_REPLY_ERROR:
      out.kind = Reply::Kind::Error;
      out.text.assign(r->str, r->len);
      break;
    case REDIS_REPLY_ARRAY:
      out.kind = Reply::Kind::Array;
      out.items.reserve(r->elements);
      for (std::size_t i = 0; i < r->elements; ++i) out.items.push_back(copyReply(r->element[i]));
      break;
    default: out.kind = Reply::Kind::Failed; break;
  }
  return out;
}

Context connect(const RedisAddress& address, std::string& why) {
  Context c = connectRedis(address, timeval{1, 0}, why);
  // A command that takes longer than this means Redis is in trouble: the
  // request gets "busy" and the connection is made anew.
  if (c) redisSetTimeout(c.get(), timeval{5, 0});
  return c;
}

Reply run(redisContext* c, const std::vector<std::string>& words) {
  ReplyPtr r = runArgv(c, words);
  if (!r) {
    Reply failed;
    failed.text = c->errstr[0] ? c->errstr : "no reply";
    return failed;
  }
  return copyReply(r.get());
}

}  // namespace

void RedisHealth::report(bool reachable, const std::string& why) {
  std::lock_guard<std::mutex> hold(lock_);
  if (reachable_.exchange(reachable) == reachable) return;
  if (reachable)
    logLine("redis reachable again");
  else
    logLine("redis unreachable: " + why);
}

RedisLink::RedisLink(boost::asio::io_context& loop, RedisAddress address, int workers, std::size_t maxQueued)
    : loop_(loop), address_(std::move(address)), maxQueued_(maxQueued) {
  for (int i = 0; i < workers; ++i) workers_.emplace_back([this] { work(); });
}

RedisLink::~RedisLink() { stop(); }

void RedisLink::stop() {
  closeQueue();
  for (auto& t : workers_)
    if (t.joinable()) t.join();
  listenerStop_ = true;
  const int socket = listenerSocket_.load();
  if (socket >= 0) ::shutdown(socket, SHUT_RDWR);
  if (listener_.joinable()) listener_.join();
}

bool RedisLink::enqueue(Job job) {
  job.keep.emplace(loop_.get_executor());
  {
    std::lock_guard<std::mutex> hold(lock_);
    if (stopping_ || queue_.size() >= maxQueued_) return false;
    queue_.push_back(std::move(job));
    // One woken connection takes everything queued by the time it runs: waking
    // one per job would cost a thread switch per job.
    if (idle_ == 0 || signalled_) return true;
    signalled_ = true;
  }
  wake_.notify_one();
  return true;
}

void RedisLink::closeQueue() {
  std::deque<Job> unstarted;
  {
    std::lock_guard<std::mutex> hold(lock_);
    stopping_ = true;
    unstarted.swap(queue_);
  }
  wake_.notify_all();
  for (auto& job : unstarted) {
    Reply failed;
    failed.text = "the hub is stopping";
    boost::asio::post(
        loop_, [done = std::move(job.done), failed, keep = std::move(job.keep)]() mutable { done(std::move(failed)); });
  }
}

bool RedisLink::busy() {
  std::lock_guard<std::mutex> hold(lock_);
  return running_ > 0 || !queue_.empty();
}

int RedisLink::inFlight() {
  std::lock_guard<std::mutex> hold(lock_);
  return running_;
}

std::size_t RedisLink::queued() {
  std::lock_guard<std::mutex> hold(lock_);
  return queue_.size();
}

bool RedisLink::script(const std::string& source, std::vector<std::string> keys, std::vector<std::string> args,
                       Done done, bool idempotent) {
  Job job;
  job.idempotent = idempotent;
  job.words = {"EVALSHA", "", std::to_string(keys.size())};
  for (auto& k : keys) job.words.push_back(std::move(k));
  for (auto& a : args) job.words.push_back(std::move(a));
  job.scriptSource = source;
  job.done = std::move(done);
  return enqueue(std::move(job));
}

bool RedisLink::command(std::vector<std::string> words, Done done) {
  Job job;
  job.words = std::move(words);
  job.done = std::move(done);
  return enqueue(std::move(job));
}

void RedisLink::work() {
  Context c;
  // Digests of the scripts this connection has loaded; a restarted Redis
  // forgets them (NOSCRIPT), and they are loaded again.
  std::unordered_map<std::string, std::string> loaded;
  std::string why;
  auto ensureConnected = [&] {
    if (!c) {
      c = connect(address_, why);
      loaded.clear();
    }
    return static_cast<bool>(c);
  };
  // Fills in the digest of a script job, loading the script when needed.
  auto prepare = [&](Job& job) -> std::optional<Reply> {
    if (job.scriptSource.empty()) return std::nullopt;
    auto known = loaded.find(job.scriptSource);
    if (known == loaded.end()) {
      Reply sha = run(c.get(), {"SCRIPT", "LOAD", job.scriptSource});
      if (sha.kind != Reply::Kind::Text) return sha;
      known = loaded.emplace(job.scriptSource, sha.text).first;
    }
    job.words[1] = known->second;
    return std::nullopt;
  };
  // One job alone, loading its script again when Redis has forgotten it.
  auto runOne = [&](Job& job) {
    for (int attempt = 0; attempt < 2; ++attempt) {
      if (auto failed = prepare(job)) return *failed;
      Reply reply = run(c.get(), job.words);
      if (reply.kind != Reply::Kind::Error || reply.text.rfind("NOSCRIPT", 0) != 0) return reply;
      loaded.erase(job.scriptSource);
    }
    Reply failed;
    failed.kind = Reply::Kind::Error;
    failed.text = "script not loaded";
    return failed;
  };
  // What is queued goes to Redis as one pipeline: many commands in flight on
  // this connection, their replies read back in order.
  constexpr std::size_t kBatch = 64;
  for (;;) {
    std::vector<Job> jobs;
    {
      std::unique_lock<std::mutex> hold(lock_);
      ++idle_;
      while (queue_.empty() && !stopping_) {
        wake_.wait(hold);
        // Woken, whether or not another connection took the jobs first: the
        // next job must wake one again.
        signalled_ = false;
      }
      --idle_;
      // At a stop, closeQueue() has answered what was queued.
      if (stopping_ || queue_.empty()) return;
      while (!queue_.empty() && jobs.size() < kBatch) {
        jobs.push_back(std::move(queue_.front()));
        queue_.pop_front();
      }
      running_ += static_cast<int>(jobs.size());
      if (!queue_.empty() && idle_ > 0 && !signalled_) {
        signalled_ = true;
        wake_.notify_one();
      }
    }
    std::vector<Reply> replies(jobs.size());
    std::vector<bool> done(jobs.size(), false);
    why.clear();
    const auto began = std::chrono::steady_clock::now();
    if (ensureConnected()) {
      // Scripts are loaded first: a command run alone would read the reply
      // of one already in the pipeline.
      std::size_t sent = jobs.size();
      for (std::size_t i = 0; i < jobs.size(); ++i) {
        if (auto failed = prepare(jobs[i])) {
          replies[i] = *failed;
          done[i] = true;
          if (failed->kind == Reply::Kind::Failed) {
            sent = i;
            break;
          }
        }
      }
      for (std::size_t i = 0; i < sent && c && !c->err; ++i) {
        if (done[i]) continue;
        std::vector<const char*> argv;
        std::vector<std::size_t> lengths;
        for (const auto& w : jobs[i].words) {
          argv.push_back(w.data());
          lengths.push_back(w.size());
        }
        redisAppendCommandArgv(c.get(), static_cast<int>(argv.size()), argv.data(), lengths.data());
      }
      for (std::size_t i = 0; i < sent && c && !c->err; ++i) {
        if (done[i]) continue;
        void* raw = nullptr;
        if (redisGetReply(c.get(), &raw) != REDIS_OK || !raw) break;
        ReplyPtr r(static_cast<redisReply*>(raw));
        replies[i] = copyReply(r.get());
        done[i] = true;
        if (replies[i].kind == Reply::Kind::Error && replies[i].text.rfind("NOSCRIPT", 0) == 0) {
          loaded.erase(jobs[i].scriptSource);
          done[i] = false;  // run again below, alone
          replies[i] = Reply{};
        }
      }
      if (c && c->err) {
        why = c->errstr;
        c.reset();
      }
    } else {
      why = why.empty() ? "cannot connect" : why;
    }
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - began).count();
    // Jobs without a reply: a command forgotten by Redis runs again; one whose
    // connection broke runs again on a new one only when it may run twice.
    for (std::size_t i = 0; i < jobs.size(); ++i) {
      if (done[i]) continue;
      // No reply and a sound connection: Redis had forgotten the script.
      const bool retry = why.empty() || jobs[i].idempotent;
      if (retry && ensureConnected()) {
        replies[i] = runOne(jobs[i]);
        if (replies[i].kind == Reply::Kind::Failed) {
          why = replies[i].text;
          c.reset();
        }
      } else {
        replies[i].text = why.empty() ? "no reply" : why;
      }
    }
    for (std::size_t i = 0; i < jobs.size(); ++i) latency_.add(seconds);
    // A connection found broken and made anew is no sign of trouble; a job
    // left without a reply is.
    std::string failure;
    for (const auto& r : replies)
      if (r.kind == Reply::Kind::Failed) failure = r.text.empty() ? "no reply" : r.text;
    health_.report(failure.empty(), failure);
    const int count = static_cast<int>(jobs.size());
    boost::asio::post(loop_, [jobs = std::move(jobs), replies = std::move(replies)]() mutable {
      for (std::size_t i = 0; i < jobs.size(); ++i) jobs[i].done(std::move(replies[i]));
    });
    std::lock_guard<std::mutex> hold(lock_);
    running_ -= count;
  }
}

void RedisLink::listen(Sent sent, Resync resync) {
  listener_ = std::thread([this, sent = std::move(sent), resync = std::move(resync)] { subscribe(sent, resync); });
}

namespace {

bool isPong(const redisReply* r) {
  if (r->type == REDIS_REPLY_STATUS) return std::string(r->str, r->len) == "PONG";
  return r->type == REDIS_REPLY_ARRAY && r->elements >= 1 && r->element[0]->type == REDIS_REPLY_STRING &&
         std::string(r->element[0]->str, r->element[0]->len) == "pong";
}

}  // namespace

// Reads notifications until the link fails; the reason is returned. A Redis
// host that vanishes without a reset sends nothing, and silence is also what
// a quiet channel looks like: a PING every few seconds, whose answer must come
// within a deadline, tells the two apart.
std::string RedisLink::readNotifications(redisContext* c, const Sent& sent) {
  using Clock = std::chrono::steady_clock;
  constexpr auto kPingEvery = std::chrono::seconds(3);
  constexpr auto kPongWithin = std::chrono::seconds(3);
  auto nextPing = Clock::now() + kPingEvery;
  // A PING awaits its answer until pongDue; none does while it is the epoch.
  Clock::time_point pongDue{};
  const auto awaiting = [&] { return pongDue != Clock::time_point{}; };
  for (;;) {
    void* raw = nullptr;
    while (redisGetReplyFromReader(c, &raw) == REDIS_OK && raw) {
      ReplyPtr r(static_cast<redisReply*>(raw));
      raw = nullptr;
      if (isPong(r.get())) {
        pongDue = {};
        // Redis answers: whatever a command that failed meanwhile reported.
        health_.report(true, {});
        continue;
      }
      if (r->type != REDIS_REPLY_ARRAY || r->elements != 3 || r->element[2]->type != REDIS_REPLY_STRING) continue;
      const std::string_view payload(r->element[2]->str, r->element[2]->len);
      const std::size_t space = payload.find(' ');
      if (space == std::string::npos) continue;
      const long long id = std::atoll(std::string(payload.substr(0, space)).c_str());
      const std::size_t lf = payload.find('\n', space + 1);
      std::string channel(payload.substr(space + 1, lf == std::string::npos ? std::string::npos : lf - space - 1));
      std::string line(lf == std::string::npos ? std::string_view() : payload.substr(lf + 1));
      boost::asio::post(loop_, [sent, id, channel = std::move(channel), line = std::move(line)]() mutable {
        sent(id, std::move(channel), std::move(line));
      });
    }
    if (c->err) return c->errstr;
    const auto now = Clock::now();
    if (awaiting() && now >= pongDue) return "no answer to PING within 3 s";
    if (!awaiting() && now >= nextPing) {
      const char* ping = "PING";
      const std::size_t length = 4;
      redisAppendCommandArgv(c, 1, &ping, &length);
      int done = 0;
      while (!done)
        if (redisBufferWrite(c, &done) != REDIS_OK) return c->errstr;
      pongDue = now + kPongWithin;
      nextPing = now + kPingEvery;
    }
    const auto until = awaiting() ? pongDue : nextPing;
    const auto wait = std::chrono::duration_cast<std::chrono::milliseconds>(until - Clock::now()).count();
    pollfd watched{c->fd, POLLIN, 0};
    const int ready = ::poll(&watched, 1, static_cast<int>(std::clamp<long long>(wait, 0, 1000)) + 1);
    if (listenerStop_) return "stopping";
    if (ready > 0 && redisBufferRead(c) != REDIS_OK) return c->errstr;
  }
}

void RedisLink::subscribe(const Sent& sent, const Resync& resync) {
  int pauseMs = 100;
  while (!listenerStop_) {
    std::string why;
    Context c = connectRedis(address_, timeval{2, 0}, why);
    if (c) {
      listenerSocket_ = c->fd;
      if (listenerStop_) ::shutdown(c->fd, SHUT_RDWR);
      const std::string topic(store::kSentTopic);
      Reply subscribed = run(c.get(), {"SUBSCRIBE", topic});
      if (subscribed.kind == Reply::Kind::Array) {
        pauseMs = 100;
        subscribed_ = true;
        health_.report(true, {});
        ++subscriptions_;
        boost::asio::post(loop_, resync);
        why = readNotifications(c.get(), sent);
        subscribed_ = false;
      } else {
        why = subscribed.text.empty() ? "no answer to SUBSCRIBE" : subscribed.text;
      }
      listenerSocket_ = -1;
    }
    if (listenerStop_) break;
    health_.report(false, why);
    // Bounded pause before the next attempt, cut short by a stop.
    for (int waited = 0; waited < pauseMs && !listenerStop_; waited += 50)
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    pauseMs = std::min(pauseMs * 2, 2000);
  }
}

}  // namespace hub
