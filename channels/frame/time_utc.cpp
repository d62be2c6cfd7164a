#include <ctime>

#include "channels/frame/library.h"

// Whole seconds since 1970-01-01 00:00:00 UTC, whatever the time zone. An MQL4
// import declaring int or datetime gets the low 32 bits.
LUMAREL_EXPORT long long LUMAREL_API TimeUTC() noexcept {
  return lumarel::guarded(-1LL, [] { return static_cast<long long>(std::time(nullptr)); });
}
