#pragma once
// One blocking Redis connection as the hub and lumarel-hub-admin make it:
// over TCP or a unix socket, then authenticated when a password is set.
#include <sys/time.h>

#include <memory>
#include <string>
#include <vector>

#include <hiredis/hiredis.h>

namespace hub {

struct RedisAddress {
  std::string host = "127.0.0.1";
  int port = 6379;
  std::string socket;    // a unix socket path: used instead of host and port
  std::string user;      // a Redis ACL user; empty: the default user
  std::string password;  // empty: no AUTH
  std::string where() const { return socket.empty() ? host + ":" + std::to_string(port) : socket; }
};

struct ContextFree {
  void operator()(redisContext* c) const { redisFree(c); }
};
using Context = std::unique_ptr<redisContext, ContextFree>;

struct ReplyFree {
  void operator()(redisReply* r) const { freeReplyObject(r); }
};
using ReplyPtr = std::unique_ptr<redisReply, ReplyFree>;

// Null, with `why`, when Redis cannot be reached or refuses the credentials.
// `timeout` bounds the connection and every later command on it.
Context connectRedis(const RedisAddress& address, timeval timeout, std::string& why);

ReplyPtr runArgv(redisContext* c, const std::vector<std::string>& words);

}  // namespace hub
