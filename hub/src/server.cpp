#include "server.h"

#include <chrono>

#include <algorithm>

#include <boost/asio/post.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>
#include <limits>
#include <map>
#include <vector>

#include "log.h"
#include "protocol.h"
#include "session.h"
#include "store.h"

namespace hub {

namespace beast = boost::beast;
namespace http = beast::http;
using tcp = boost::asio::ip::tcp;

namespace {

long long nowMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::system_clock::now().time_since_epoch())
      .count();
}

}  // namespace

RedisAddress redisAddress(const Settings& s) {
  return RedisAddress{s.redisHost, s.redisPort, s.redisSocket, s.redisUser, s.redisPassword};
}

Server::Server(boost::asio::io_context& loop, const Settings& settings)
    : loop_(loop),
      settings_(settings),
      acceptor_(loop),
      metricsAcceptor_(loop),
      redis_(loop, redisAddress(settings), settings.redisConnections, static_cast<std::size_t>(settings.maxQueued)),
      shutdownDeadline_(loop) {}

namespace {

bool listenOn(tcp::acceptor& acceptor, const std::string& host, int port, std::string& error) {
  boost::system::error_code ec;
  const auto address = boost::asio::ip::make_address(host, ec);
  if (ec) {
    error = "bad listen address " + host;
    return false;
  }
  const tcp::endpoint endpoint(address, static_cast<unsigned short>(port));
  acceptor.open(endpoint.protocol(), ec);
  if (!ec) acceptor.set_option(boost::asio::socket_base::reuse_address(true), ec);
  if (!ec) acceptor.bind(endpoint, ec);
  if (!ec) acceptor.listen(boost::asio::socket_base::max_listen_connections, ec);
  if (ec) {
    error = "cannot listen on " + host + ":" + std::to_string(port) + ": " + ec.message();
    return false;
  }
  return true;
}

// One GET /metrics per connection, then the connection is closed.
class MetricsExchange : public std::enable_shared_from_this<MetricsExchange> {
 public:
  MetricsExchange(tcp::socket socket, std::shared_ptr<Server> server)
      : stream_(std::move(socket)), server_(std::move(server)) {}
  void start() {
    stream_.expires_after(std::chrono::seconds(5));
    http::async_read(stream_, buffer_, request_, [self = shared_from_this()](beast::error_code ec, std::size_t) {
      if (!ec) self->respond();
    });
  }

 private:
  void respond() {
    const bool found = request_.method() == http::verb::get && request_.target() == "/metrics";
    response_.result(found ? http::status::ok : http::status::not_found);
    response_.version(11);
    response_.set(http::field::content_type, found ? "text/plain; version=0.0.4" : "text/plain");
    response_.keep_alive(false);
    response_.body() = found ? server_->metricsText() : "not found\n";
    response_.prepare_payload();
    http::async_write(stream_, response_, [self = shared_from_this()](beast::error_code, std::size_t) {
      beast::error_code ignored;
      self->stream_.socket().shutdown(tcp::socket::shutdown_both, ignored);
    });
  }

  beast::tcp_stream stream_;
  beast::flat_buffer buffer_;
  http::request<http::string_body> request_;
  http::response<http::string_body> response_;
  std::shared_ptr<Server> server_;
};

}  // namespace

bool Server::open(std::string& error) {
  if (!listenOn(acceptor_, settings_.listen, settings_.port, error)) return false;
  std::string host;
  int port = 0;
  if (splitListen(settings_.metricsListen, host, port) && !listenOn(metricsAcceptor_, host, port, error)) {
    error = "metrics-listen: " + error;
    return false;
  }
  return true;
}

void Server::acceptMetrics() {
  metricsAcceptor_.async_accept([self = shared_from_this()](boost::system::error_code ec, tcp::socket socket) {
    if (!self->metricsAcceptor_.is_open()) return;
    if (!ec) std::make_shared<MetricsExchange>(std::move(socket), self)->start();
    self->acceptMetrics();
  });
}

std::string Server::metricsText() {
  const auto gauge = [](const std::string& name, const std::string& help, long long value) {
    return "# HELP " + name + " " + help + "\n# TYPE " + name + " gauge\n" + name + " " + std::to_string(value) + "\n";
  };
  return counts_.text() +
         gauge("lumarel_hub_held_receivers", "Receive requests held now.", static_cast<long long>(heldTotal_)) +
         gauge("lumarel_hub_connections", "Open connections now.", static_cast<long long>(sessions_.size())) +
         gauge("lumarel_hub_redis_queue_depth", "Redis commands waiting for a connection.",
               static_cast<long long>(redis_.queued())) +
         gauge("lumarel_hub_redis_in_flight", "Redis commands sent and not yet answered.", redis_.inFlight()) +
         gauge("lumarel_hub_redis_subscribed", "1 while the subscription to stored messages is live.",
               redis_.subscribed() ? 1 : 0) +
         "# HELP lumarel_hub_subscription_reconnects_total Subscriptions made again after a lost one.\n"
         "# TYPE lumarel_hub_subscription_reconnects_total counter\n"
         "lumarel_hub_subscription_reconnects_total " +
         std::to_string(std::max(0LL, redis_.subscriptions() - 1)) + "\n" +
         redis_.latency().text("lumarel_hub_redis_command_seconds");
}

void Server::start() {
  auto self = shared_from_this();
  redis_.listen(
      [self](long long id, const std::string& channel, const std::string& line) { self->sent(id, channel, line); },
      [self] { self->resync(); });
  accept();
  if (metricsAcceptor_.is_open()) acceptMetrics();
}

void Server::accept() {
  acceptor_.async_accept([self = shared_from_this()](boost::system::error_code ec, tcp::socket socket) {
    if (!self->acceptor_.is_open()) return;
    if (!ec) {
      if (self->sessions_.size() >= static_cast<std::size_t>(self->settings_.maxConnections)) {
        if (!self->refusing_) logLine("connection limit reached: new connections are closed");
        self->refusing_ = true;
        boost::system::error_code ignored;
        socket.close(ignored);
      } else {
        self->refusing_ = false;
        std::make_shared<Session>(std::move(socket), self)->start();
      }
    } else if (ec != boost::asio::error::operation_aborted) {
      // Out of file descriptors, most often: the next accept may succeed once
      // connections have gone.
      logLine("accept failed: " + ec.message());
    }
    self->accept();
  });
}

void Server::hold(const std::shared_ptr<Session>& session, const std::string& channel, const std::string& user) {
  waiting_[channel][session.get()] = session;
  ++heldPerUser_[user];
  ++heldTotal_;
}

void Server::release(Session* session, const std::string& channel, const std::string& user) {
  const auto list = waiting_.find(channel);
  if (list == waiting_.end() || list->second.erase(session) == 0) return;
  if (list->second.empty()) waiting_.erase(list);
  const auto count = heldPerUser_.find(user);
  if (count != heldPerUser_.end() && --count->second <= 0) heldPerUser_.erase(count);
  --heldTotal_;
}

bool Server::loginLimited(const std::string& user, const std::string& address, long long nowMs) {
  if (nowMs / 60000 != limitMinute_) {
    limitMinute_ = nowMs / 60000;
    limitedUsers_.clear();
    limitedAddresses_.clear();
  }
  return limitedUsers_.count(user) || limitedAddresses_.count(address);
}

void Server::noteLoginLimit(const std::string& user, const std::string& address, long long nowMs, long long note) {
  loginLimited(user, address, nowMs);
  if (note & store::login_note::kUser) limitedUsers_.insert(user);
  if (note & store::login_note::kAddress) limitedAddresses_.insert(address);
  if (note & store::login_note::kReached)
    logLine("failed logins: user " + user + " from " + address + " refused for the rest of the minute");
}

int Server::heldBy(const std::string& user) const {
  const auto count = heldPerUser_.find(user);
  return count == heldPerUser_.end() ? 0 : count->second;
}

std::size_t Server::waiting() const {
  std::size_t count = 0;
  for (const auto& [channel, list] : waiting_)
    for (const auto& [raw, session] : list) count += session->waiting();
  return count;
}

void Server::leave(Session* s) {
  sessions_.erase(s);
  if (shuttingDown_ && sessions_.empty()) shutdownDeadline_.cancel();
}

// Receivers whose mark is the message's predecessor are answered with the
// line the notification carries; the others (behind, or woken after a lost
// subscription) mostly share their mark: one look in Redis per distinct mark,
// whatever the number of receivers.
void Server::sent(long long id, const std::string& channel, const std::string& line) {
  const auto list = waiting_.find(channel);
  if (list == waiting_.end()) return;
  // Only a waiting receiver can be answered (and so leave the list) here:
  // those are taken out first; the others (looking, resting) only take note.
  std::vector<std::shared_ptr<Session>> waiting;
  for (const auto& [raw, session] : list->second) {
    if (session->waiting())
      waiting.push_back(session);
    else
      session->arrived(id, line);
  }
  std::map<long long, std::vector<std::shared_ptr<Session>>> byMark;
  for (const auto& session : waiting)
    if (session->arrived(id, line)) byMark[session->mark()].push_back(session);
  for (auto& [mark, group] : byMark) {
    auto shared = std::make_shared<std::vector<std::shared_ptr<Session>>>(std::move(group));
    const bool queued = redis_.script(
        std::string(store::kFetchBody) + store::kFetchCall,
        {store::lastKey(channel), store::messagesKey(channel), store::timesKey(channel)},
        {std::to_string(mark), std::to_string(nowMs()), std::to_string(settings_.keepSeconds * 1000LL),
         std::to_string(settings_.linesPerAnswer)},
        [shared](const Reply& reply) {
          for (const auto& s : *shared) s->looked(reply);
        },
        true);
    if (!queued)
      for (const auto& s : *shared) s->looked(Reply{});
  }
}

// Settings of Redis under which what the hub accepted can be lost: one
// warning line each, once Redis is first reached.
void Server::checkRedisSettings() {
  redis_.command({"CONFIG", "GET", "*"}, [](const Reply& reply) {
    std::map<std::string, std::string> config;
    for (std::size_t i = 0; reply.kind == Reply::Kind::Array && i + 1 < reply.items.size(); i += 2)
      config[reply.items[i].text] = reply.items[i + 1].text;
    const auto appendonly = config.find("appendonly");
    const auto policy = config.find("maxmemory-policy");
    if (appendonly == config.end() || policy == config.end()) {
      logLine("warning: cannot read Redis's appendonly and maxmemory-policy (" +
              (reply.kind == Reply::Kind::Error || reply.kind == Reply::Kind::Failed ? reply.text
                                                                                     : std::string("not listed")) +
              "): make sure that what the hub accepts cannot be lost (see its README)");
      return;
    }
    logLine("redis settings: appendonly " + appendonly->second + ", maxmemory-policy " + policy->second);
    if (appendonly->second != "yes")
      logLine("warning: Redis appendonly is " + appendonly->second +
              ": messages accepted since its last snapshot are lost when Redis stops, and their ids are then "
              "given again to other messages");
    if (policy->second.rfind("allkeys-", 0) == 0)
      logLine("warning: Redis maxmemory-policy is " + policy->second +
              ": at its memory limit Redis drops accounts, kept messages and channels' latest ids");
    else if (policy->second != "noeviction")
      logLine("warning: Redis maxmemory-policy is " + policy->second +
              ": at its memory limit Redis drops kept messages before their time");
  });
}

void Server::resync() {
  if (!checkedRedisSettings_) {
    checkedRedisSettings_ = true;
    checkRedisSettings();
  }
  std::vector<std::string> channels;
  for (const auto& [channel, _] : waiting_) channels.push_back(channel);
  for (const auto& channel : channels) sent(std::numeric_limits<long long>::max(), channel, {});
}

void Server::shutdown() {
  if (shuttingDown_) return;
  shuttingDown_ = true;
  boost::system::error_code ignored;
  acceptor_.close(ignored);
  metricsAcceptor_.close(ignored);
  // Queued Redis jobs are answered as failed (never stored); those under way
  // are answered when Redis replies.
  redis_.closeQueue();
  std::vector<Session*> all(sessions_.begin(), sessions_.end());
  for (Session* s : all)
    if (sessions_.count(s)) s->shutdown();
  if (sessions_.empty()) return;
  shutdownDeadline_.expires_after(std::chrono::seconds(settings_.shutdownSeconds));
  shutdownDeadline_.async_wait([this](boost::system::error_code ec) {
    if (!ec) stopAtDeadline();
  });
}

// What is still open at the deadline is cut off, but never a send whose
// message Redis is storing: its "OKAY" goes out first (Redis answers or
// fails within the command time-out).
void Server::stopAtDeadline() {
  if (redis_.busy()) {
    shutdownDeadline_.expires_after(std::chrono::milliseconds(20));
    shutdownDeadline_.async_wait([this](boost::system::error_code ec) {
      if (!ec) stopAtDeadline();
    });
    return;
  }
  logLine("shutdown: " + std::to_string(sessions_.size()) + " connections still open at the deadline");
  // Posted after the last Redis answers, so they run (and their writes begin) first.
  boost::asio::post(loop_, [this] { loop_.stop(); });
}

}  // namespace hub
