#pragma once
// MD5 (RFC 1321) over a byte string: the hub knows a password only by it.
#include <array>
#include <cstdint>
#include <string>
#include <string_view>

namespace lumarel {

std::array<std::uint8_t, 16> md5(std::string_view bytes);

// The 16 digest bytes, first to last, as 32 lower-case hexadecimal digits.
std::string md5Hex(std::string_view bytes);

}  // namespace lumarel
