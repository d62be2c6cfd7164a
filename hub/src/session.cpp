#include "session.h"

#include <chrono>

#include <boost/asio/dispatch.hpp>

#include "credentials.h"
#include "protocol.h"
#include "server.h"
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

std::string headerOf(const http::request<http::string_body>& request, const char* name) {
  const auto found = request.find(name);
  return found == request.end() ? std::string() : std::string(found->value());
}

// A body far above the limit is not read to its end: the answer goes out and
// the connection is closed.
std::uint64_t bodyCeiling(const Settings& s) { return std::max<std::uint64_t>(64 * 1024, s.maxMessageBytes * 4); }

std::string lastEntry(std::string_view list) {
  const auto comma = list.rfind(',');
  if (comma != std::string_view::npos) list.remove_prefix(comma + 1);
  while (!list.empty() && list.front() == ' ') list.remove_prefix(1);
  while (!list.empty() && list.back() == ' ') list.remove_suffix(1);
  return std::string(list);
}

std::string joined(const std::vector<std::string>& patterns) {
  std::string text;
  for (const auto& p : patterns) text += p + "\n";
  return text;
}

const std::string kSendScript = std::string(store::kAdmit) + store::kSendBody;
const std::string kReceiveScript = std::string(store::kAdmit) + store::kFetchBody + store::kReceiveCall;
const std::string kFetchScript = std::string(store::kFetchBody) + store::kFetchCall;

}  // namespace

Session::Session(tcp::socket socket, std::shared_ptr<Server> server)
    : stream_(std::move(socket)), buffer_(16 * 1024), server_(std::move(server)) {
  server_->enter(this);
}

Session::~Session() { server_->leave(this); }

void Session::readRequest() {
  phase_ = Phase::Reading;
  if (server_->shuttingDown()) return close();
  parser_.emplace();
  parser_->header_limit(8 * 1024);
  parser_->body_limit(bodyCeiling(server_->settings()));
  stream_.expires_after(std::chrono::seconds(server_->settings().headerSeconds));
  http::async_read(stream_, buffer_, *parser_,
                   [self = shared_from_this()](beast::error_code ec, std::size_t) { self->onRead(ec); });
}

void Session::onRead(beast::error_code ec) {
  kind_ = "other";
  if (ec == http::error::body_limit) {
    return answer(http::status::payload_too_large, errorAnswer(error_number::kMessageTooLong), false);
  }
  if (ec) return close();  // the client left, sent nothing in time, or sent no HTTP
  handle(parser_->get());
}

void Session::handle(const Request& request) {
  const Target target = readTarget(std::string_view(request.target().data(), request.target().size()));
  const bool keepAlive = request.keep_alive();
  keepAlive_ = keepAlive;
  kind_ = "health";
  if (target.path == kHealthPath) {
    // Without the subscription, held receivers would wait out their hold for
    // every message: the hub is not healthy then either.
    const bool reachable = server_->redis().reachable(), subscribed = server_->redis().subscribed();
    if (reachable && subscribed)
      return answer(
          http::status::ok,
          "ok held=" + std::to_string(server_->waiting()) + " connections=" + std::to_string(server_->connections()),
          keepAlive);
    return answer(http::status::service_unavailable, reachable ? "redis subscription down" : "redis unreachable",
                  keepAlive);
  }
  const bool isSend = target.path == kSendPath && request.method() == http::verb::post;
  const bool isReceive = target.path == kReceivePath && request.method() == http::verb::get;
  kind_ = isSend ? "send" : isReceive ? "receive" : "other";
  if (!isSend && !isReceive) return answer(http::status::not_found, errorAnswer(error_number::kBadRequest), keepAlive);
  if (headerOf(request, "Zelk-Version") != kVersion)
    return answer(http::status::ok, errorAnswer(error_number::kWrongVersion), keepAlive);
  const std::string user = headerOf(request, "Zelk-Username");
  if (user.empty() || user.size() > 256 || headerOf(request, "Zelk-Password").size() != 32)
    return answer(http::status::ok, errorAnswer(error_number::kUnknownUser), keepAlive);
  if (const int refusal = checkChannel(target.channel, server_->settings().maxChannelBytes))
    return answer(http::status::ok, errorAnswer(refusal), keepAlive);
  channel_ = target.channel;
  user_ = user;
  address_ = clientAddress(request);
  // A name or address over its failed logins costs no Redis call until its minute ends.
  if (server_->loginLimited(user_, address_, nowMs()))
    return answer(http::status::ok, errorAnswer(error_number::kSlowDown), keepAlive);
  if (isSend) return send(request);
  const auto r = target.hasMark ? readMark(target.mark) : std::optional<long long>(0);
  if (!r) return answer(http::status::ok, errorAnswer(error_number::kBadRequest), keepAlive);
  receive(request, *r);
}

std::string Session::clientAddress(const Request& request) {
  const std::string& header = server_->settings().clientAddressHeader;
  if (!header.empty()) {
    const auto found = request.find(header);
    if (found != request.end()) {
      std::string last = lastEntry(std::string_view(found->value().data(), found->value().size()));
      if (!last.empty() && last.size() <= 64) return last;
    }
  }
  beast::error_code ec;
  const auto remote = stream_.socket().remote_endpoint(ec);
  return ec ? std::string("unknown") : remote.address().to_string();
}

// The keys and arguments every script call begins with: account, rate,
// grants of the kind and failed logins (keys), and the credential, the rate
// limit, the channel and the default grants (arguments).
std::vector<std::string> Session::admitKeys(bool sending, long long now) const {
  return {store::userKey(user_), store::rateKey(user_, now / 1000),
          store::grantsKey(user_, sending ? "send" : "receive"), store::failedUserKey(user_, now / 60000),
          store::failedAddressKey(address_, now / 60000)};
}

std::vector<std::string> Session::admitArgs(const Request& request, bool sending) const {
  const Settings& s = server_->settings();
  return {keyedHash(s.digestKey, headerOf(request, "Zelk-Password")), std::to_string(s.requestsPerSecond), channel_,
          joined(sending ? s.defaultSend : s.defaultReceive)};
}

// A script's refusal {number, login note}: the answer's text, and the
// failed-login limit noted when the script says it was reached.
std::string Session::refusal(const Reply& reply) {
  const long long number = reply.items[0].integer;
  const long long note = reply.items.size() > 1 ? reply.items[1].integer : 0;
  if (note != 0) server_->noteLoginLimit(user_, address_, nowMs(), note);
  return errorAnswer(static_cast<int>(number));
}

void Session::send(const Request& request) {
  const Settings& s = server_->settings();
  std::string text = request.body();
  if (text.size() > s.maxMessageBytes)
    return answer(http::status::ok, errorAnswer(error_number::kMessageTooLong), keepAlive_);
  if (text.empty()) return answer(http::status::ok, errorAnswer(error_number::kEmptyMessage), keepAlive_);
  flattenText(text);
  const long long now = nowMs();
  phase_ = Phase::Storing;
  std::vector<std::string> keys = admitKeys(true, now);
  keys.insert(keys.end(), {store::lastKey(channel_), store::messagesKey(channel_), store::timesKey(channel_)});
  std::vector<std::string> args = admitArgs(request, true);
  args.insert(args.end(), {user_, std::move(text), std::to_string(now), std::to_string(s.keepCount),
                           std::to_string(s.keepSeconds * 1000LL), std::string(store::kSentTopic)});
  const bool queued =
      server_->redis().script(kSendScript, std::move(keys), std::move(args), [self = shared_from_this()](Reply reply) {
        if (reply.kind != Reply::Kind::Array || reply.items.empty())
          return self->answer(http::status::ok, errorAnswer(error_number::kStorageUnavailable), self->keepAlive_);
        self->answer(http::status::ok, reply.items[0].integer == 0 ? std::string("OKAY") : self->refusal(reply),
                     self->keepAlive_);
      });
  if (!queued) answer(http::status::ok, errorAnswer(error_number::kStorageUnavailable), keepAlive_);
}

void Session::receive(const Request& request, long long r) {
  const Settings& s = server_->settings();
  if (server_->heldBy(user_) >= s.maxHeldPerUser)
    return answer(http::status::ok, errorAnswer(error_number::kSlowDown), keepAlive_);
  const long long now = nowMs();
  phase_ = Phase::Holding;
  hold_.begin(r, now, s.minAnswerMs);
  lines_.clear();
  // Listed before the first look, so that a message stored while the look is
  // under way is not missed.
  server_->hold(shared_from_this(), channel_, user_);
  holdTimer_.emplace(stream_.get_executor());
  holdTimer_->expires_after(std::chrono::seconds(s.holdSeconds));
  holdTimer_->async_wait([self = shared_from_this()](beast::error_code ec) {
    if (!ec) self->act(self->hold_.expired());
  });
  stream_.expires_never();
  watchClient();
  std::vector<std::string> keys = admitKeys(false, now);
  keys.insert(keys.end(), {store::lastKey(channel_), store::messagesKey(channel_), store::timesKey(channel_)});
  std::vector<std::string> args = admitArgs(request, false);
  args.insert(args.end(), {std::to_string(r), std::to_string(now), std::to_string(s.keepSeconds * 1000LL),
                           std::to_string(s.linesPerAnswer)});
  const bool queued = server_->redis().script(
      kReceiveScript, std::move(keys), std::move(args),
      [self = shared_from_this()](const Reply& reply) { self->looked(reply); }, true);
  // Thousands of requests are held at once: what was read for this one (its
  // parser, headers and read buffer) is not kept while it waits.
  parser_.reset();
  if (buffer_.size() == 0) buffer_.shrink_to_fit();
  if (!queued) looked(Reply{});
}

// A look after the first: the account was checked by the first.
void Session::lookAgain() {
  const Settings& s = server_->settings();
  const bool queued = server_->redis().script(
      kFetchScript, {store::lastKey(channel_), store::messagesKey(channel_), store::timesKey(channel_)},
      {std::to_string(hold_.mark()), std::to_string(nowMs()), std::to_string(s.keepSeconds * 1000LL),
       std::to_string(s.linesPerAnswer)},
      [self = shared_from_this()](const Reply& reply) { self->looked(reply); }, true);
  if (!queued) looked(Reply{});
}

bool Session::arrived(long long id, const std::string& line) {
  const auto phase = hold_.phase();
  const bool resting = phase == HoldState::Phase::Resting;
  const bool follows =
      !line.empty() &&
      (phase == HoldState::Phase::Waiting ? id == hold_.mark() + 1
       : resting ? id == lastLineId_ + 1 && lines_.size() < static_cast<std::size_t>(server_->settings().linesPerAnswer)
                 : false);
  const HoldState::Step step = hold_.arrived(id, follows, nowMs());
  if (step == HoldState::Step::Look) return true;
  if (follows) {
    if (!resting) lines_.clear();
    lines_.push_back(line);
    lastLineId_ = id;
  }
  act(step);
  return false;
}

void Session::looked(const Reply& reply) {
  HoldState::Found found;
  if (reply.kind == Reply::Kind::Array && !reply.items.empty()) {
    if (reply.items[0].integer != 0) {
      found.kind = HoldState::Found::Kind::Refused;
      if (hold_.phase() == HoldState::Phase::Looking) refusalText_ = refusal(reply);
    } else {
      found.kind = HoldState::Found::Kind::Messages;
      found.mark = reply.items.size() >= 2 ? reply.items[1].integer : hold_.mark();
      found.lines = reply.items.size() > 2;
      if (found.lines && hold_.phase() == HoldState::Phase::Looking) {
        lines_.clear();
        for (std::size_t i = 2; i < reply.items.size(); ++i) lines_.push_back(reply.items[i].text);
        lastLineId_ = std::atoll(lines_.back().c_str());
      }
    }
  }
  act(hold_.looked(found, nowMs()));
}

void Session::act(HoldState::Step step) {
  using Step = HoldState::Step;
  switch (step) {
    case Step::Nothing: return;
    case Step::Look: return lookAgain();
    case Step::Rest: {
      const long long wait = std::max(0LL, hold_.restUntil() - nowMs());
      restTimer_.emplace(stream_.get_executor());
      restTimer_->expires_after(std::chrono::milliseconds(wait));
      restTimer_->async_wait([self = shared_from_this()](beast::error_code ec) {
        if (!ec) self->act(self->hold_.restOver());
      });
      return;
    }
    case Step::AnswerLines: return endHold(dataAnswer(hold_.mark(), lines_));
    case Step::AnswerMark: return endHold(dataAnswer(hold_.mark(), {}));
    case Step::AnswerBusy: return endHold(errorAnswer(error_number::kStorageUnavailable));
    case Step::AnswerRefusal: return endHold(refusalText_);
    case Step::Close: return endHold({});
  }
}

// The one way out of a hold: off the server's lists, timers and the watch on
// the client ended, then the answer (or, for a client that has gone, the close).
void Session::endHold(std::optional<std::string> body) {
  server_->release(this, channel_, user_);
  if (holdTimer_) holdTimer_->cancel();
  if (restTimer_) restTimer_->cancel();
  beast::error_code ignored;
  stream_.socket().cancel(ignored);
  lines_.clear();
  if (!body) {
    server_->counts().gone();
    return close();
  }
  answer(http::status::ok, std::move(*body), keepAlive_);
}

// A held client sends nothing until it has its answer: anything readable
// (its close, most often) means it has gone.
void Session::watchClient() {
  stream_.socket().async_wait(tcp::socket::wait_read, [self = shared_from_this()](beast::error_code ec) {
    if (!ec) self->act(self->hold_.clientGone());
  });
}

void Session::answer(http::status status, std::string body, bool keepAlive) {
  server_->counts().answered(kind_, body);
  phase_ = Phase::Writing;
  response_ = {};
  response_.result(status);
  response_.version(11);
  response_.set(http::field::server, "lumarel-hub");
  response_.set(http::field::content_type, "text/plain");
  response_.keep_alive(keepAlive && !server_->shuttingDown());
  response_.body() = std::move(body);
  response_.prepare_payload();
  stream_.expires_after(std::chrono::seconds(server_->settings().writeSeconds));
  http::async_write(stream_, response_, [self = shared_from_this()](beast::error_code ec, std::size_t) {
    if (ec || !self->response_.keep_alive()) return self->close();
    self->readRequest();
  });
}

void Session::shutdown() {
  if (phase_ == Phase::Reading) {
    beast::error_code ignored;
    stream_.socket().cancel(ignored);
  } else if (phase_ == Phase::Holding) {
    act(hold_.stop());
  }
}

void Session::close() {
  phase_ = Phase::Done;
  beast::error_code ignored;
  stream_.socket().shutdown(tcp::socket::shutdown_both, ignored);
  stream_.socket().close(ignored);
}

}  // namespace hub
