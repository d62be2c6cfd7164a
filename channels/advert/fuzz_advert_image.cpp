// Arbitrary advert bodies: the header reader never reads out of bounds and
// never declares a negative size.
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "channels/advert/advert_rules.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view body(reinterpret_cast<const char*>(data), size);
  if (const auto declared = lumarel::declaredImageSize(body)) {
    if (declared->width < 0 || declared->height < 0) std::abort();
  }
  return 0;
}
