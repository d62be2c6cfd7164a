#pragma once
// Counters of the hub's work for GET /metrics (the Prometheus text format),
// served on a listen address of its own so that it need not be public.
#include <array>
#include <atomic>
#include <map>
#include <string>
#include <string_view>
#include <utility>

namespace hub {

// Counted on the event loop only, for every answer: cheap, with no text built.
class RequestCounts {
 public:
  // A request of this kind ("send", "receive", "health", "other", a literal)
  // answered with this body; a held client that left unanswered counts as "gone".
  void answered(const char* kind, std::string_view body);
  void gone() { ++counts_[{"receive", kGone}]; }
  std::string text() const;

 private:
  static constexpr int kOk = 0, kGone = -1;
  std::map<std::pair<const char*, int>, long long> counts_;
  long long stored_ = 0;
  long long failedLogins_ = 0;
};

// Written by the Redis threads, read by the loop.
class LatencyHistogram {
 public:
  static constexpr std::array<double, 14> kBounds = {0.0001, 0.00025, 0.0005, 0.001, 0.0025, 0.005, 0.01,
                                                     0.025,  0.05,    0.1,    0.25,  0.5,    1,     5};
  void add(double seconds);
  // Lines of a histogram named `name`.
  std::string text(const std::string& name) const;

 private:
  std::array<std::atomic<long long>, kBounds.size() + 1> buckets_{};
  std::atomic<long long> sumMicros_{0};
};

}  // namespace hub
