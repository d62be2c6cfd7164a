#include "server.h"

#include <chrono>
#include <limits>
#include <map>
#include <vector>

#include "log.h"
#include "protocol.h"
#include "session.h"
#include "store.h"

namespace hub {

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
      redis_(loop, redisAddress(settings), settings.redisConnections, static_cast<std::size_t>(settings.maxQueued)),
      shutdownDeadline_(loop) {}

bool Server::open(std::string& error) {
  boost::system::error_code ec;
  const auto address = boost::asio::ip::make_address(settings_.listen, ec);
  if (ec) {
    error = "bad listen address " + settings_.listen;
    return false;
  }
  const tcp::endpoint endpoint(address, static_cast<unsigned short>(settings_.port));
  acceptor_.open(endpoint.protocol(), ec);
  if (!ec) acceptor_.set_option(boost::asio::socket_base::reuse_address(true), ec);
  if (!ec) acceptor_.bind(endpoint, ec);
  if (!ec) acceptor_.listen(boost::asio::socket_base::max_listen_connections, ec);
  if (ec) {
    error = "cannot listen on " + settings_.listen + ":" + std::to_string(settings_.port) + ": " + ec.message();
    return false;
  }
  return true;
}

void Server::start() {
  auto self = shared_from_this();
  redis_.listen([self](long long id, const std::string& channel) { self->sent(id, channel); },
                [self] { self->resync(); });
  accept();
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

// Receivers of one channel mostly share their mark: one look in Redis per
// distinct mark, whatever the number of receivers.
void Server::sent(long long id, const std::string& channel) {
  const auto list = waiting_.find(channel);
  if (list == waiting_.end()) return;
  std::map<long long, std::vector<std::shared_ptr<Session>>> byMark;
  for (const auto& [raw, session] : list->second) {
    if (session->waitingBelow(id))
      byMark[session->mark()].push_back(session);
    else
      session->messageArrived();
  }
  for (auto& [mark, group] : byMark) {
    auto shared = std::make_shared<std::vector<std::shared_ptr<Session>>>();
    for (auto& s : group)
      if (s->beginFetch()) shared->push_back(std::move(s));
    const bool queued = redis_.script(
        std::string(store::kFetchBody) + store::kFetchCall,
        {store::lastKey(channel), store::messagesKey(channel), store::timesKey(channel)},
        {std::to_string(mark), std::to_string(nowMs()), std::to_string(settings_.keepSeconds * 1000LL),
         std::to_string(settings_.linesPerAnswer)},
        [shared](const Reply& reply) {
          for (const auto& s : *shared) s->onFetched(reply);
        },
        true);
    if (!queued)
      for (const auto& s : *shared) s->onFetched(Reply{});
  }
}

void Server::resync() {
  std::vector<std::string> channels;
  for (const auto& [channel, _] : waiting_) channels.push_back(channel);
  for (const auto& channel : channels) sent(std::numeric_limits<long long>::max(), channel);
}

void Server::shutdown() {
  if (shuttingDown_) return;
  shuttingDown_ = true;
  boost::system::error_code ignored;
  acceptor_.close(ignored);
  std::vector<Session*> all(sessions_.begin(), sessions_.end());
  for (Session* s : all)
    if (sessions_.count(s)) s->shutdown();
  if (sessions_.empty()) return;
  shutdownDeadline_.expires_after(std::chrono::seconds(settings_.shutdownSeconds));
  shutdownDeadline_.async_wait([this](boost::system::error_code ec) {
    if (ec) return;
    logLine("shutdown: " + std::to_string(sessions_.size()) + " connections still open at the deadline");
    loop_.stop();
  });
}

}  // namespace hub
