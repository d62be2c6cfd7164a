#include "log.h"

#include <cstdio>
#include <ctime>
#include <mutex>

namespace hub {

void logLine(const std::string& text) {
  static std::mutex lock;
  char stamp[32];
  const std::time_t now = std::time(nullptr);
  std::tm utc{};
  gmtime_r(&now, &utc);
  std::strftime(stamp, sizeof stamp, "%Y-%m-%dT%H:%M:%SZ", &utc);
  std::lock_guard<std::mutex> hold(lock);
  std::fprintf(stderr, "%s lumarel-hub: %s\n", stamp, text.c_str());
  std::fflush(stderr);
}

}  // namespace hub
