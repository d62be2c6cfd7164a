#include "settings.h"

#include <charconv>
#include <fstream>
#include <functional>
#include <map>

namespace hub {

namespace {

using Apply = std::function<bool(Settings&, const std::string&)>;

template <typename N>
Apply number(N Settings::*field, long long low, long long high) {
  return [=](Settings& s, const std::string& v) {
    long long n = 0;
    const auto [end, e] = std::from_chars(v.data(), v.data() + v.size(), n);
    if (e != std::errc{} || end != v.data() + v.size() || n < low || n > high) return false;
    s.*field = static_cast<N>(n);
    return true;
  };
}

Apply text(std::string Settings::*field) {
  return [=](Settings& s, const std::string& v) {
    if (v.empty()) return false;
    s.*field = v;
    return true;
  };
}

const std::map<std::string, Apply>& appliers() {
  static const std::map<std::string, Apply> table = {
      {"listen", text(&Settings::listen)},
      {"port", number(&Settings::port, 1, 65535)},
      {"redis-host", text(&Settings::redisHost)},
      {"redis-port", number(&Settings::redisPort, 1, 65535)},
      {"redis-connections", number(&Settings::redisConnections, 1, 64)},
      // Well under the library's 120-second receive time-out.
      {"hold-seconds", number(&Settings::holdSeconds, 1, 100)},
      {"max-message-bytes", number(&Settings::maxMessageBytes, 1, 1 << 20)},
      {"max-channel-bytes", number(&Settings::maxChannelBytes, 1, 1024)},
      {"max-held-per-user", number(&Settings::maxHeldPerUser, 1, 1000000)},
      {"requests-per-second", number(&Settings::requestsPerSecond, 1, 10000000)},
      {"keep-count", number(&Settings::keepCount, 1, 1000000)},
      {"keep-seconds", number(&Settings::keepSeconds, 1, 365 * 86400)},
      {"lines-per-answer", number(&Settings::linesPerAnswer, 1, 100000)},
      {"header-seconds", number(&Settings::headerSeconds, 1, 3600)},
      {"write-seconds", number(&Settings::writeSeconds, 1, 3600)},
      {"max-connections", number(&Settings::maxConnections, 1, 10000000)},
      {"max-queued", number(&Settings::maxQueued, 1, 10000000)},
      {"shutdown-seconds", number(&Settings::shutdownSeconds, 1, 600)},
  };
  return table;
}

std::string trim(const std::string& s) {
  const auto begin = s.find_first_not_of(" \t\r");
  if (begin == std::string::npos) return {};
  return s.substr(begin, s.find_last_not_of(" \t\r") - begin + 1);
}

bool apply(Settings& s, const std::string& name, const std::string& value, std::string& error) {
  const auto found = appliers().find(name);
  if (found == appliers().end()) {
    error = "unknown setting " + name;
    return false;
  }
  if (!found->second(s, value)) {
    error = "bad value for " + name + ": " + value;
    return false;
  }
  return true;
}

bool readFile(Settings& s, const std::string& path, std::string& error) {
  std::ifstream in(path);
  if (!in) {
    error = "cannot read " + path;
    return false;
  }
  std::string line;
  for (int number = 1; std::getline(in, line); ++number) {
    line = trim(line.substr(0, line.find('#')));
    if (line.empty()) continue;
    const auto equals = line.find('=');
    if (equals == std::string::npos) {
      error = path + ":" + std::to_string(number) + ": expected name = value";
      return false;
    }
    if (!apply(s, trim(line.substr(0, equals)), trim(line.substr(equals + 1)), error)) {
      error = path + ":" + std::to_string(number) + ": " + error;
      return false;
    }
  }
  return true;
}

}  // namespace

Settings readSettings(const std::vector<std::string>& args, std::string& error) {
  Settings s;
  std::vector<std::pair<std::string, std::string>> flags;
  for (std::size_t i = 0; i < args.size(); ++i) {
    if (args[i].rfind("--", 0) != 0) {
      error = "unexpected argument " + args[i];
      return s;
    }
    std::string name = args[i].substr(2), value;
    const auto equals = name.find('=');
    if (equals != std::string::npos) {
      value = name.substr(equals + 1);
      name.resize(equals);
    } else if (i + 1 < args.size()) {
      value = args[++i];
    } else {
      error = "no value for --" + name;
      return s;
    }
    flags.emplace_back(name, value);
  }
  for (const auto& [name, value] : flags)
    if (name == "config" && !readFile(s, value, error)) return s;
  for (const auto& [name, value] : flags)
    if (name != "config" && !apply(s, name, value, error)) return s;
  return s;
}

std::string settingsUsage() {
  std::string usage = "usage: lumarel-hub [--config FILE] [--NAME=VALUE ...]\nsettings:";
  for (const auto& [name, _] : appliers()) usage += " " + name;
  return usage + "\n";
}

}  // namespace hub
