#include "metrics.h"

#include <cstdio>
#include <cstdlib>

namespace hub {

namespace {

std::string seconds(double s) {
  char text[32];
  std::snprintf(text, sizeof text, "%g", s);
  return text;
}

}  // namespace

void RequestCounts::answered(const char* kind, std::string_view body) {
  int result = kOk;
  if (body.rfind("ERR:", 0) == 0) result = std::atoi(std::string(body.substr(4, 8)).c_str());
  if (body == "OKAY") ++stored_;
  if (result == 2001) ++failedLogins_;
  ++counts_[{kind, result}];
}

std::string RequestCounts::text() const {
  // The same kind may sit under several pointers to equal literals: summed by name.
  std::map<std::pair<std::string, int>, long long> byName;
  for (const auto& [key, n] : counts_) byName[{key.first, key.second}] += n;
  std::string out =
      "# HELP lumarel_hub_requests_total Requests answered, by kind and result (ok, an ERR number, or gone).\n"
      "# TYPE lumarel_hub_requests_total counter\n";
  for (const auto& [key, n] : byName) {
    const std::string result = key.second == kOk ? "ok" : key.second == kGone ? "gone" : std::to_string(key.second);
    out +=
        "lumarel_hub_requests_total{kind=\"" + key.first + "\",result=\"" + result + "\"} " + std::to_string(n) + "\n";
  }
  out +=
      "# HELP lumarel_hub_messages_stored_total Messages stored through this process.\n"
      "# TYPE lumarel_hub_messages_stored_total counter\n"
      "lumarel_hub_messages_stored_total " +
      std::to_string(stored_) +
      "\n"
      "# HELP lumarel_hub_failed_logins_total Requests refused for an unknown user or a wrong digest.\n"
      "# TYPE lumarel_hub_failed_logins_total counter\n"
      "lumarel_hub_failed_logins_total " +
      std::to_string(failedLogins_) + "\n";
  return out;
}

void LatencyHistogram::add(double s) {
  std::size_t i = 0;
  while (i < kBounds.size() && s > kBounds[i]) ++i;
  ++buckets_[i];
  sumMicros_ += static_cast<long long>(s * 1e6);
}

std::string LatencyHistogram::text(const std::string& name) const {
  std::string out =
      "# HELP " + name + " Time Redis took for a command of the hub, in seconds.\n# TYPE " + name + " histogram\n";
  long long cumulative = 0;
  for (std::size_t i = 0; i < buckets_.size(); ++i) {
    cumulative += buckets_[i].load();
    out += name + "_bucket{le=\"" + (i < kBounds.size() ? seconds(kBounds[i]) : std::string("+Inf")) + "\"} " +
           std::to_string(cumulative) + "\n";
  }
  out += name + "_sum " + seconds(static_cast<double>(sumMicros_.load()) / 1e6) + "\n";
  out += name + "_count " + std::to_string(cumulative) + "\n";
  return out;
}

}  // namespace hub
