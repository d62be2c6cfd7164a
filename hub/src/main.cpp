// lumarel-hub: the message hub of internet channels, on Redis.
#include <sys/resource.h>

#include <csignal>
#include <iostream>
#include <memory>

#include <boost/asio/io_context.hpp>
#include <boost/asio/signal_set.hpp>

#include "log.h"
#include "server.h"
#include "settings.h"

namespace {

// Every held receive request is an open connection: take every descriptor
// the system allows.
void raiseDescriptorLimit() {
  rlimit limit{};
  if (getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur < limit.rlim_max) {
    limit.rlim_cur = limit.rlim_max;
    setrlimit(RLIMIT_NOFILE, &limit);
  }
}

}  // namespace

int run(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  for (const auto& a : args)
    if (a == "--help" || a == "-h") {
      std::cout << hub::settingsUsage();
      return 0;
    }
  std::string error;
  const hub::Settings settings = hub::readSettings(args, error);
  if (!error.empty()) {
    std::cerr << "lumarel-hub: " << error << "\n" << hub::settingsUsage();
    return 2;
  }
  std::signal(SIGPIPE, SIG_IGN);
  raiseDescriptorLimit();

  boost::asio::io_context loop(1);
  auto server = std::make_shared<hub::Server>(loop, settings);
  if (!server->open(error)) {
    hub::logLine("not started: " + error);
    return 1;
  }
  boost::asio::signal_set signals(loop, SIGINT, SIGTERM);
  signals.async_wait([&](const boost::system::error_code& ec, int signal) {
    if (ec) return;
    hub::logLine(std::string("stopping on ") + (signal == SIGINT ? "SIGINT" : "SIGTERM") + ": answering " +
                 std::to_string(server->held()) + " held requests");
    server->shutdown();
  });
  if (settings.digestKey.empty())
    hub::logLine("warning: no digest-key: whoever copies Redis can guess passwords offline from what it keeps");
  server->start();
  hub::logLine("started on " + settings.listen + ":" + std::to_string(settings.port) + ", redis " +
               hub::redisAddress(settings).where() + ", hold " + std::to_string(settings.holdSeconds) + " s");
  loop.run();
  server->stopRedis();
  hub::logLine("stopped");
  return 0;
}

// What nothing below caught (out of memory, a failed system call the
// library throws for) ends the hub with its reason in the log.
int main(int argc, char** argv) {
  try {
    return run(argc, argv);
  } catch (const std::exception& e) {
    std::cerr << "lumarel-hub: " << e.what() << "\n";
  } catch (...) {
    std::cerr << "lumarel-hub: unknown failure\n";
  }
  return 1;
}
