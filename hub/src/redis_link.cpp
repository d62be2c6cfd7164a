#include "redis_link.h"

#include <poll.h>
#include <sys/socket.h>

#include <algorithm>
#include <optional>

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
  auto runScript = [&](Job& job) {
    for (int attempt = 0; attempt < 2; ++attempt) {
      auto known = loaded.find(job.scriptSource);
      if (known == loaded.end()) {
        Reply sha = run(c.get(), {"SCRIPT", "LOAD", job.scriptSource});
        if (sha.kind != Reply::Kind::Text) return sha;
        known = loaded.emplace(job.scriptSource, sha.text).first;
      }
      job.words[1] = known->second;
      Reply reply = run(c.get(), job.words);
      if (reply.kind != Reply::Kind::Error || reply.text.rfind("NOSCRIPT", 0) != 0) return reply;
      loaded.erase(known);
    }
    Reply failed;
    failed.kind = Reply::Kind::Error;
    failed.text = "script not loaded";
    return failed;
  };
  for (;;) {
    std::optional<Job> taken;
    {
      std::unique_lock<std::mutex> hold(lock_);
      wake_.wait(hold, [this] { return stopping_ || !queue_.empty(); });
      // At a stop, closeQueue() has answered what was queued.
      if (stopping_ || queue_.empty()) return;
      taken.emplace(std::move(queue_.front()));
      queue_.pop_front();
      ++running_;
    }
    Job& job = *taken;
    Reply reply;
    std::string why;
    for (int attempt = 0; attempt < (job.idempotent ? 2 : 1); ++attempt) {
      if (!c) c = connect(address_, why);
      if (!c) {
        reply.text = why;
        break;
      }
      const auto began = std::chrono::steady_clock::now();
      reply = job.scriptSource.empty() ? run(c.get(), job.words) : runScript(job);
      latency_.add(std::chrono::duration<double>(std::chrono::steady_clock::now() - began).count());
      if (reply.kind != Reply::Kind::Failed) break;
      why = reply.text;
      c.reset();
      loaded.clear();
    }
    health_.report(reply.kind != Reply::Kind::Failed, why);
    boost::asio::post(loop_, [done = std::move(job.done), reply = std::move(reply),
                              keep = std::move(job.keep)]() mutable { done(std::move(reply)); });
    std::lock_guard<std::mutex> hold(lock_);
    --running_;
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
  std::optional<Clock::time_point> pongDue;
  for (;;) {
    void* raw = nullptr;
    while (redisGetReplyFromReader(c, &raw) == REDIS_OK && raw) {
      ReplyPtr r(static_cast<redisReply*>(raw));
      raw = nullptr;
      if (isPong(r.get())) {
        pongDue.reset();
        continue;
      }
      if (r->type != REDIS_REPLY_ARRAY || r->elements != 3 || r->element[2]->type != REDIS_REPLY_STRING) continue;
      const std::string payload(r->element[2]->str, r->element[2]->len);
      const std::size_t space = payload.find(' ');
      if (space == std::string::npos) continue;
      const long long id = std::atoll(payload.substr(0, space).c_str());
      boost::asio::post(loop_, [sent, id, channel = payload.substr(space + 1)] { sent(id, channel); });
    }
    if (c->err) return c->errstr;
    const auto now = Clock::now();
    if (pongDue && now >= *pongDue) return "no answer to PING within 3 s";
    if (!pongDue && now >= nextPing) {
      const char* ping = "PING";
      const std::size_t length = 4;
      redisAppendCommandArgv(c, 1, &ping, &length);
      int done = 0;
      while (!done)
        if (redisBufferWrite(c, &done) != REDIS_OK) return c->errstr;
      pongDue = now + kPongWithin;
      nextPing = now + kPingEvery;
    }
    const auto until = pongDue ? *pongDue : nextPing;
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
