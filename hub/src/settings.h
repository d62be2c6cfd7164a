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
  std::string redisSocket;  // a unix socket path, used instead of host and port
  std::string redisUser;    // a Redis ACL user
  std::string redisPassword;
  // The secret under which Redis keeps each password digest (HMAC-SHA256);
  // the hub and lumarel-hub-admin must share it.
  std::string digestKey;
  // Channel patterns a user without grants of the kind may send to or receive from.
  std::vector<std::string> defaultSend;
  std::vector<std::string> defaultReceive{"*"};
  // A header a trusted proxy in front of the hub sets to the client's address
  // (its last entry is taken); empty: the connection's own address.
  std::string clientAddressHeader;
  int redisConnections = 4;
  // A receive with nothing new waits this long, then answers empty: under the
  // 60-second read time-out common proxies and load balancers use.
  int holdSeconds = 50;
  // A receiver that asks again right after an answer is answered no sooner
  // than this after its request came, with everything that arrived meanwhile:
  // its library never reaches the pause it makes after ten requests in ten seconds.
  int minAnswerMs = 1100;
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
  std::string metricsListen = "127.0.0.1:9280";  // "off": no metrics listener
};

// Reads the file named by --config (if any), then the flags. On a fault,
// `error` says which and the result is meaningless.
Settings readSettings(const std::vector<std::string>& args, std::string& error);
std::string settingsUsage();

// "host:port" of metrics-listen; false for "off".
bool splitListen(const std::string& text, std::string& host, int& port);

}  // namespace hub
