#include "redis_connect.h"

namespace hub {

ReplyPtr runArgv(redisContext* c, const std::vector<std::string>& words) {
  std::vector<const char*> argv;
  std::vector<std::size_t> lengths;
  argv.reserve(words.size());
  lengths.reserve(words.size());
  for (const auto& w : words) {
    argv.push_back(w.data());
    lengths.push_back(w.size());
  }
  return ReplyPtr(
      static_cast<redisReply*>(redisCommandArgv(c, static_cast<int>(argv.size()), argv.data(), lengths.data())));
}

Context connectRedis(const RedisAddress& address, timeval timeout, std::string& why) {
  Context c(address.socket.empty() ? redisConnectWithTimeout(address.host.c_str(), address.port, timeout)
                                   : redisConnectUnixWithTimeout(address.socket.c_str(), timeout));
  if (!c || c->err) {
    why = c ? c->errstr : "out of memory";
    return nullptr;
  }
  redisSetTimeout(c.get(), timeout);
  // A host that vanishes without a reset is noticed by the kernel too, not
  // only by the hub's own deadlines.
  if (address.socket.empty()) redisEnableKeepAlive(c.get());
  if (!address.password.empty()) {
    std::vector<std::string> auth{"AUTH"};
    if (!address.user.empty()) auth.push_back(address.user);
    auth.push_back(address.password);
    ReplyPtr r = runArgv(c.get(), auth);
    if (!r) {
      why = c->errstr[0] ? c->errstr : "no answer to AUTH";
      return nullptr;
    }
    if (r->type == REDIS_REPLY_ERROR) {
      why = "AUTH refused: " + std::string(r->str, r->len);
      return nullptr;
    }
  }
  return c;
}

}  // namespace hub
