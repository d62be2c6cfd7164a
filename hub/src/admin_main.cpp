// lumarel-hub-admin: accounts and channels of a hub's Redis. The password is
// read from standard input and only its digest is stored.
#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include <hiredis/hiredis.h>

#include "channels/hub/md5.h"
#include "store.h"

namespace {

struct ContextFree {
  void operator()(redisContext* c) const { redisFree(c); }
};
struct ReplyFree {
  void operator()(redisReply* r) const { freeReplyObject(r); }
};
using ReplyPtr = std::unique_ptr<redisReply, ReplyFree>;

ReplyPtr run(redisContext* c, const std::vector<std::string>& words) {
  std::vector<const char*> argv;
  std::vector<std::size_t> lengths;
  for (const auto& w : words) {
    argv.push_back(w.data());
    lengths.push_back(w.size());
  }
  return ReplyPtr(
      static_cast<redisReply*>(redisCommandArgv(c, static_cast<int>(argv.size()), argv.data(), lengths.data())));
}

int usage() {
  std::cerr << "usage: lumarel-hub-admin [--redis-host H] [--redis-port P] COMMAND\n"
               "  add USER          the password is read from standard input (one line)\n"
               "  add-digest USER   standard input holds the 32-digit MD5 digest instead\n"
               "  disable USER | enable USER | remove USER\n"
               "  users             every user, with \"disabled\" after the disabled ones\n"
               "  channels          every channel: name, latest id, messages kept\n";
  return 2;
}

bool validUser(const std::string& user) {
  if (user.empty() || user.size() > 256) return false;
  for (const char c : user)
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) return false;
  return true;
}

bool validDigest(const std::string& digest) {
  if (digest.size() != 32) return false;
  for (const char c : digest)
    if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) return false;
  return true;
}

std::vector<std::string> scan(redisContext* c, const std::string& pattern) {
  std::vector<std::string> keys;
  std::string cursor = "0";
  do {
    ReplyPtr r = run(c, {"SCAN", cursor, "MATCH", pattern, "COUNT", "1000"});
    if (!r || r->type != REDIS_REPLY_ARRAY || r->elements != 2) break;
    cursor.assign(r->element[0]->str, r->element[0]->len);
    for (std::size_t i = 0; i < r->element[1]->elements; ++i)
      keys.emplace_back(r->element[1]->element[i]->str, r->element[1]->element[i]->len);
  } while (cursor != "0");
  return keys;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  std::string host = "127.0.0.1";
  int port = 6379;
  while (args.size() >= 2 && (args[0] == "--redis-host" || args[0] == "--redis-port")) {
    if (args[0] == "--redis-host")
      host = args[1];
    else
      port = std::atoi(args[1].c_str());
    args.erase(args.begin(), args.begin() + 2);
  }
  if (args.empty()) return usage();
  const std::string command = args[0];
  const std::string user = args.size() > 1 ? args[1] : "";
  std::unique_ptr<redisContext, ContextFree> c(redisConnectWithTimeout(host.c_str(), port, timeval{2, 0}));
  if (!c || c->err) {
    std::cerr << "lumarel-hub-admin: cannot reach redis at " << host << ":" << port << "\n";
    return 1;
  }
  const std::string key = hub::store::userKey(user);
  if (command == "add" || command == "add-digest") {
    if (!validUser(user)) {
      std::cerr << "lumarel-hub-admin: a user name is 1 to 256 bytes without control characters\n";
      return 2;
    }
    std::string secret;
    std::getline(std::cin, secret);
    if (!secret.empty() && secret.back() == '\r') secret.pop_back();
    if (secret.empty()) {
      std::cerr << "lumarel-hub-admin: nothing on standard input\n";
      return 2;
    }
    const std::string digest = command == "add" ? lumarel::md5Hex(secret) : secret;
    secret.assign(secret.size(), '\0');
    if (!validDigest(digest)) {
      std::cerr << "lumarel-hub-admin: a digest is 32 lower-case hexadecimal digits\n";
      return 2;
    }
    ReplyPtr r = run(c.get(), {"HSET", key, "digest", digest, "disabled", "0"});
    if (!r || r->type == REDIS_REPLY_ERROR) return 1;
    std::cout << "added " << user << "\n";
    return 0;
  }
  if (command == "disable" || command == "enable") {
    ReplyPtr exists = run(c.get(), {"EXISTS", key});
    if (!exists || exists->integer != 1) {
      std::cerr << "lumarel-hub-admin: no user " << user << "\n";
      return 1;
    }
    run(c.get(), {"HSET", key, "disabled", command == "disable" ? "1" : "0"});
    std::cout << command << "d " << user << "\n";
    return 0;
  }
  if (command == "remove") {
    ReplyPtr r = run(c.get(), {"DEL", key});
    if (!r || r->integer != 1) {
      std::cerr << "lumarel-hub-admin: no user " << user << "\n";
      return 1;
    }
    std::cout << "removed " << user << "\n";
    return 0;
  }
  if (command == "users") {
    const std::string prefix = hub::store::userKey("");
    for (const auto& k : scan(c.get(), prefix + "*")) {
      ReplyPtr disabled = run(c.get(), {"HGET", k, "disabled"});
      const bool off = disabled && disabled->type == REDIS_REPLY_STRING && std::string(disabled->str) == "1";
      std::cout << k.substr(prefix.size()) << (off ? "\tdisabled" : "") << "\n";
    }
    return 0;
  }
  if (command == "channels") {
    const std::string prefix = hub::store::lastKey("");
    for (const auto& k : scan(c.get(), prefix + "*")) {
      const std::string channel = k.substr(prefix.size());
      ReplyPtr last = run(c.get(), {"GET", k});
      ReplyPtr kept = run(c.get(), {"ZCARD", hub::store::messagesKey(channel)});
      std::cout << channel << "\t" << (last && last->str ? last->str : "0") << "\t" << (kept ? kept->integer : 0)
                << "\n";
    }
    return 0;
  }
  return usage();
}
