#include "settings.h"

#include <charconv>
#include <cmath>
#include <cstdlib>
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

Apply anyText(std::string Settings::*field) {
  return [=](Settings& s, const std::string& v) {
    s.*field = v;
    return true;
  };
}

// Patterns separated by commas or blanks: a channel name, a prefix ending in '*', or '*'.
Apply patterns(std::vector<std::string> Settings::*field) {
  return [=](Settings& s, const std::string& v) {
    std::vector<std::string> list;
    std::string word;
    for (std::size_t i = 0; i <= v.size(); ++i) {
      if (i == v.size() || v[i] == ',' || v[i] == ' ' || v[i] == '\t') {
        if (!word.empty()) list.push_back(word);
        word.clear();
      } else if (static_cast<unsigned char>(v[i]) < 0x20 || v[i] == 0x7f) {
        return false;
      } else {
        word.push_back(v[i]);
      }
    }
    s.*field = list;
    return true;
  };
}

Apply milliseconds(int Settings::*field, double lowSeconds, double highSeconds) {
  return [=](Settings& s, const std::string& v) {
    char* end = nullptr;
    const double seconds = std::strtod(v.c_str(), &end);
    if (v.empty() || end != v.c_str() + v.size() || !(seconds >= lowSeconds && seconds <= highSeconds)) return false;
    s.*field = static_cast<int>(std::lround(seconds * 1000));
    return true;
  };
}

Apply listenAddress(std::string Settings::*field) {
  return [=](Settings& s, const std::string& v) {
    std::string host;
    int port = 0;
    if (v != "off" && !splitListen(v, host, port)) return false;
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
      {"redis-socket", anyText(&Settings::redisSocket)},
      {"redis-user", anyText(&Settings::redisUser)},
      {"redis-password", anyText(&Settings::redisPassword)},
      {"digest-key", anyText(&Settings::digestKey)},
      {"default-send", patterns(&Settings::defaultSend)},
      {"default-receive", patterns(&Settings::defaultReceive)},
      {"client-address-header", anyText(&Settings::clientAddressHeader)},
      {"min-answer-seconds", milliseconds(&Settings::minAnswerMs, 0, 10)},
      {"metrics-listen", listenAddress(&Settings::metricsListen)},
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
    // A '#' at the start or after a blank begins a comment; one inside a
    // value (a password) does not.
    for (std::size_t hash = line.find('#'); hash != std::string::npos; hash = line.find('#', hash + 1))
      if (hash == 0 || line[hash - 1] == ' ' || line[hash - 1] == '\t') {
        line.resize(hash);
        break;
      }
    line = trim(line);
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

bool splitListen(const std::string& text, std::string& host, int& port) {
  const auto colon = text.rfind(':');
  if (colon == std::string::npos || colon == 0) return false;
  host = text.substr(0, colon);
  if (host.size() > 2 && host.front() == '[' && host.back() == ']') host = host.substr(1, host.size() - 2);
  const std::string digits = text.substr(colon + 1);
  long long n = 0;
  const auto [end, e] = std::from_chars(digits.data(), digits.data() + digits.size(), n);
  if (e != std::errc{} || end != digits.data() + digits.size() || n < 1 || n > 65535) return false;
  port = static_cast<int>(n);
  return true;
}

std::string settingsUsage() {
  std::string usage = "usage: lumarel-hub [--config FILE] [--NAME=VALUE ...]\nsettings:";
  for (const auto& [name, _] : appliers()) usage += " " + name;
  return usage + "\n";
}

}  // namespace hub
