#pragma once
#include <cstdint>
#include <string_view>

namespace terminal {

// djb2 over the text with A to Z lower-cased and every byte taken as a signed
// 8-bit value. The installer writes it as the LastScanHash marker and the
// library compares against it, so both must agree bit for bit.
std::uint32_t folderHash(std::string_view text);

}  // namespace terminal
