#pragma once
// The hub's settings: defaults, an optional file of "name = value" lines, then
// command-line flags "--name=value" (or "--name value"), later ones winning.
#include <string>
#include <vector>

namespace hub {

struct Settings {
  std::string listen = "127.0.0.1";
  int port = 80;
  std::string redisHost = "127.0.0.1";
  int redisPort = 6379;
  int redisConnections = 4;
  int holdSeconds = 60;  // a receive with nothing new waits this long, then answers empty
  std::size_t maxMessageBytes = 4096;
  std::size_t maxChannelBytes = 64;
  int maxHeldPerUser = 100;    // held receive requests of one user in this process
  int requestsPerSecond = 50;  // per user, over every hub process
  int keepCount = 1000;        // messages kept per channel
  int keepSeconds = 3600;      // and for no longer than this
  int linesPerAnswer = 100;
  int headerSeconds = 30;  // to send a request's headers, or between two requests
  int writeSeconds = 30;   // to take an answer
  int maxConnections = 20000;
  int maxQueued = 20000;  // Redis commands waiting for a connection
  int shutdownSeconds = 10;
};

// Reads the file named by --config (if any), then the flags. On a fault,
// `error` says which and the result is meaningless.
Settings readSettings(const std::vector<std::string>& args, std::string& error);
std::string settingsUsage();

}  // namespace hub
