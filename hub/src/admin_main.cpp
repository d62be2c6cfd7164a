// lumarel-hub-admin: accounts, grants and channels of a hub's Redis. The
// password is read from standard input; Redis gets only a keyed hash of its digest.
#include <algorithm>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include "channels/hub/md5.h"
#include "credentials.h"
#include "redis_connect.h"
#include "server.h"
#include "settings.h"
#include "store.h"

namespace {

using hub::ReplyPtr;

ReplyPtr run(redisContext* c, const std::vector<std::string>& words) { return hub::runArgv(c, words); }

int usage() {
  std::cerr << "usage: lumarel-hub-admin [--config FILE] [--SETTING VALUE ...] COMMAND\n"
               "  the hub's settings file and flags: redis-host, redis-port, redis-socket, redis-user,\n"
               "  redis-password and digest-key are the ones used here\n"
               "  add USER [--replace]          the password is read from standard input (one line)\n"
               "  add-digest USER [--replace]   standard input holds the 32-digit MD5 digest instead\n"
               "  disable USER | enable USER | remove USER\n"
               "  allow USER send|receive PATTERN    PATTERN: a channel, a prefix ending in *, or *\n"
               "  revoke USER send|receive PATTERN\n"
               "  grants USER       the user's patterns, or the defaults a kind without grants falls back to\n"
               "  users             every user, with \"disabled\" after the disabled ones\n"
               "  channels          every channel: name, latest id, messages kept\n"
               "  rehash            replaces digests an older hub stored by their keyed hashes\n";
  return 2;
}

bool validPattern(const std::string& pattern) {
  if (pattern.empty() || pattern.size() > 1024) return false;
  for (const char c : pattern)
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) return false;
  return true;
}

std::string joined(const std::vector<std::string>& patterns) {
  std::string text;
  for (const auto& p : patterns) text += (text.empty() ? "" : " ") + p;
  return text.empty() ? "(none)" : text;
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
  // Settings come first, as "--name value" pairs; the command follows.
  std::vector<std::string> flags;
  while (args.size() >= 2 && args[0].rfind("--", 0) == 0) {
    flags.insert(flags.end(), args.begin(), args.begin() + 2);
    args.erase(args.begin(), args.begin() + 2);
  }
  std::string error;
  const hub::Settings settings = hub::readSettings(flags, error);
  if (!error.empty()) {
    std::cerr << "lumarel-hub-admin: " << error << "\n";
    return 2;
  }
  bool replace = false;
  for (auto i = args.begin(); i != args.end();)
    if (*i == "--replace") {
      replace = true;
      i = args.erase(i);
    } else {
      ++i;
    }
  if (args.empty()) return usage();
  const std::string command = args[0];
  const std::string user = args.size() > 1 ? args[1] : "";
  const hub::RedisAddress address = hub::redisAddress(settings);
  hub::Context c = hub::connectRedis(address, timeval{5, 0}, error);
  if (!c) {
    std::cerr << "lumarel-hub-admin: cannot reach redis at " << address.where() << ": " << error << "\n";
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
    const std::string hash = hub::keyedHash(settings.digestKey, digest);
    // HSETNX: of two admins adding one name at once, one wins and the other is told.
    ReplyPtr r = run(c.get(), replace ? std::vector<std::string>{"HSET", key, "hash", hash}
                                      : std::vector<std::string>{"HSETNX", key, "hash", hash});
    if (!r || r->type == REDIS_REPLY_ERROR) return 1;
    if (!replace && r->integer == 0) {
      std::cerr << "lumarel-hub-admin: user " << user << " exists: --replace sets a new password\n";
      return 1;
    }
    ReplyPtr rest = run(c.get(), {"HSETNX", key, "disabled", "0"});
    run(c.get(), {"HDEL", key, "digest"});  // a digest kept by an older hub
    if (!rest || rest->type == REDIS_REPLY_ERROR) return 1;
    std::cout << (replace ? "replaced " : "added ") << user << "\n";
    return 0;
  }
  if (command == "allow" || command == "revoke") {
    const std::string kind = args.size() > 2 ? args[2] : "";
    const std::string pattern = args.size() > 3 ? args[3] : "";
    if (args.size() != 4 || (kind != "send" && kind != "receive") || !validPattern(pattern)) return usage();
    ReplyPtr exists = run(c.get(), {"EXISTS", key});
    if (!exists || exists->integer != 1) {
      std::cerr << "lumarel-hub-admin: no user " << user << "\n";
      return 1;
    }
    ReplyPtr r = run(c.get(), {command == "allow" ? "SADD" : "SREM", hub::store::grantsKey(user, kind), pattern});
    if (!r || r->type != REDIS_REPLY_INTEGER) return 1;
    if (command == "revoke" && r->integer == 0) {
      std::cerr << "lumarel-hub-admin: " << user << " has no " << kind << " grant " << pattern << "\n";
      return 1;
    }
    std::cout << (command == "allow" ? "allowed " : "revoked ") << user << " " << kind << " " << pattern << "\n";
    return 0;
  }
  if (command == "grants") {
    ReplyPtr exists = run(c.get(), {"EXISTS", key});
    if (!exists || exists->integer != 1) {
      std::cerr << "lumarel-hub-admin: no user " << user << "\n";
      return 1;
    }
    for (const std::string kind : {"send", "receive"}) {
      ReplyPtr r = run(c.get(), {"SMEMBERS", hub::store::grantsKey(user, kind)});
      std::vector<std::string> patterns;
      for (std::size_t i = 0; r && r->type == REDIS_REPLY_ARRAY && i < r->elements; ++i)
        patterns.emplace_back(r->element[i]->str, r->element[i]->len);
      std::sort(patterns.begin(), patterns.end());
      if (patterns.empty())
        std::cout << kind << "\tdefault-" << kind << ": "
                  << joined(kind == std::string("send") ? settings.defaultSend : settings.defaultReceive) << "\n";
      for (const auto& p : patterns) std::cout << kind << "\t" << p << "\n";
    }
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
    // A name added again later starts without the old grants.
    run(c.get(), {"DEL", hub::store::grantsKey(user, "send"), hub::store::grantsKey(user, "receive")});
    std::cout << "removed " << user << "\n";
    return 0;
  }
  if (command == "rehash") {
    // Users stored by a hub that kept the digest itself: keep only its keyed hash.
    int changed = 0;
    for (const auto& k : scan(c.get(), hub::store::userKey("") + "*")) {
      ReplyPtr digest = run(c.get(), {"HGET", k, "digest"});
      if (!digest || digest->type != REDIS_REPLY_STRING) continue;
      run(c.get(), {"HSET", k, "hash", hub::keyedHash(settings.digestKey, std::string(digest->str, digest->len))});
      run(c.get(), {"HDEL", k, "digest"});
      ++changed;
    }
    std::cout << "rehashed " << changed << " users\n";
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
