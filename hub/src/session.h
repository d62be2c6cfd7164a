#pragma once
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <boost/asio/steady_timer.hpp>
#include <boost/beast/core/flat_buffer.hpp>
#include <boost/beast/core/tcp_stream.hpp>
#include <boost/beast/http.hpp>

#include "hold_state.h"
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
  // True when this receiver is to be looked up: the server makes one look for
  // all receivers of one mark and hands each the reply.
  bool arrived(long long id, const std::string& line);
  void looked(const Reply& reply);
  long long mark() const { return hold_.mark(); }
  bool waiting() const { return hold_.waiting(); }
  void shutdown();

 private:
  // The connection's own phase; a held request's is in hold_.
  enum class Phase { Reading, Storing, Holding, Writing, Done };
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
  void lookAgain();
  void act(HoldState::Step step);
  void endHold(std::optional<std::string> body);
  void watchClient();
  void answer(boost::beast::http::status status, std::string body, bool keepAlive);
  void close();

  boost::beast::tcp_stream stream_;
  boost::beast::flat_buffer buffer_;
  std::optional<boost::beast::http::request_parser<boost::beast::http::string_body>> parser_;
  boost::beast::http::response<boost::beast::http::string_body> response_;
  std::shared_ptr<Server> server_;
  Phase phase_ = Phase::Reading;
  std::string channel_, user_, address_;
  bool keepAlive_ = true;
  const char* kind_ = "other";  // of the request under way, for the counts
  HoldState hold_;
  std::vector<std::string> lines_;  // what the latest look found, for the answer
  long long lastLineId_ = 0;        // the id of the last of lines_
  std::string refusalText_;
  std::optional<boost::asio::steady_timer> holdTimer_, restTimer_;
};

}  // namespace hub
