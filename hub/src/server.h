#pragma once
// The hub's HTTP side: one event loop, one session per connection, and the
// receive requests that wait for a message, listed per channel.
#include <map>
#include <memory>
#include <string>
#include <unordered_map>
#include <unordered_set>

#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/steady_timer.hpp>

#include "metrics.h"
#include "redis_link.h"
#include "settings.h"

namespace hub {

class Session;

RedisAddress redisAddress(const Settings& settings);

class Server : public std::enable_shared_from_this<Server> {
 public:
  Server(boost::asio::io_context& loop, const Settings& settings);

  // Binds and listens; false (with `error`) when the address is taken.
  bool open(std::string& error);
  void start();
  // Stops accepting, answers every held request at once and ends idle
  // connections; the loop runs out of work when the last connection has gone,
  // or is stopped at shutdown-seconds.
  void shutdown();
  void stopRedis() { redis_.stop(); }
  RequestCounts& counts() { return counts_; }
  std::string metricsText();

  const Settings& settings() const { return settings_; }
  RedisLink& redis() { return redis_; }
  bool shuttingDown() const { return shuttingDown_; }

  // Held requests, by channel.
  void hold(const std::shared_ptr<Session>& session, const std::string& channel, const std::string& user);
  void release(Session* session, const std::string& channel, const std::string& user);
  int heldBy(const std::string& user) const;

  // Failed logins: a name or address that reached its limit is refused here,
  // without Redis, until its minute ends.
  bool loginLimited(const std::string& user, const std::string& address, long long nowMs);
  void noteLoginLimit(const std::string& user, const std::string& address, long long nowMs, long long note);

  void enter(Session* s) { sessions_.insert(s); }
  void leave(Session* s);
  std::size_t connections() const { return sessions_.size(); }
  std::size_t held() const { return heldTotal_; }
  std::size_t waiting() const;  // held and not being looked up

 private:
  void accept();
  void acceptMetrics();
  void stopAtDeadline();
  void sent(long long id, const std::string& channel, const std::string& line);
  void resync();
  void checkRedisSettings();

  boost::asio::io_context& loop_;
  Settings settings_;
  boost::asio::ip::tcp::acceptor acceptor_;
  boost::asio::ip::tcp::acceptor metricsAcceptor_;
  RequestCounts counts_;
  RedisLink redis_;
  std::unordered_map<std::string, std::unordered_map<Session*, std::shared_ptr<Session>>> waiting_;
  std::unordered_map<std::string, int> heldPerUser_;
  std::size_t heldTotal_ = 0;
  std::unordered_set<Session*> sessions_;
  long long limitMinute_ = 0;  // the minute the two sets below are of
  std::unordered_set<std::string> limitedUsers_, limitedAddresses_;
  bool shuttingDown_ = false;
  bool checkedRedisSettings_ = false;
  bool refusing_ = false;  // at the connection limit: logged once until it passes
  boost::asio::steady_timer shutdownDeadline_;
};

}  // namespace hub
