#pragma once
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <boost/asio/steady_timer.hpp>
#include <boost/beast/core/flat_buffer.hpp>
#include <boost/beast/core/tcp_stream.hpp>
#include <boost/beast/http.hpp>

#include "redis_link.h"

namespace hub {

class Server;

// One connection: reads a request, answers it (holding a receive request
// until a message comes or the hold time ends), and reads the next.
class Session : public std::enable_shared_from_this<Session> {
 public:
  Session(boost::asio::ip::tcp::socket socket, std::shared_ptr<Server> server);
  ~Session();
  void start() { readRequest(); }

  // From the server: a message with this id was stored in the held channel.
  bool waitingBelow(long long id) const { return phase_ == Phase::Waiting && mark_ < id; }
  long long mark() const { return mark_; }
  bool waiting() const { return phase_ == Phase::Waiting; }
  void messageArrived();  // while fetching: look again once the fetch is back
  void fetchAgain();      // while waiting
  // A look made for several receivers of one mark: begin it (false when this
  // one is not waiting), then hand each the result.
  bool beginFetch();
  void onFetched(const Reply& reply);
  void shutdown();

 private:
  enum class Phase { Reading, Fetching, Waiting, Writing, Done };
  using Request = boost::beast::http::request<boost::beast::http::string_body>;

  void readRequest();
  void onRead(boost::beast::error_code ec);
  void handle(const Request& request);
  std::string clientAddress(const Request& request);
  std::vector<std::string> admitKeys(bool sending, long long now) const;
  std::vector<std::string> admitArgs(const Request& request, bool sending) const;
  std::string refusal(const Reply& reply);
  void send(const Request& request);
  void receive(const Request& request, long long r);
  void expire();
  void watchClient();
  void finishHold(const std::string& answer);
  void answer(boost::beast::http::status status, std::string body, bool keepAlive);
  void close();

  boost::beast::tcp_stream stream_;
  boost::beast::flat_buffer buffer_;
  std::optional<boost::beast::http::request_parser<boost::beast::http::string_body>> parser_;
  boost::beast::http::response<boost::beast::http::string_body> response_;
  std::shared_ptr<Server> server_;
  Phase phase_ = Phase::Reading;
  // A held receive request.
  std::string channel_, user_, address_;
  long long mark_ = 0;
  bool held_ = false;
  bool again_ = false;     // a message came while fetching
  bool expired_ = false;   // the hold time ended while fetching
  bool admitted_ = false;  // the first look let the request in
  bool keepAlive_ = true;
  std::optional<boost::asio::steady_timer> holdTimer_;
};

}  // namespace hub
