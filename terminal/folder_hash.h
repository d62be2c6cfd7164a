#pragma once
#include <cstdint>
#include <string_view>

namespace terminal {

// djb2 over the text with A to Z lower-cased and every byte taken as a signed
// 8-bit value. The installer writes it as the LastScanHash marker and the
// library compares against it, so both must agree bit for bit.
std::uint32_t folderHash(std::string_view text);

// The LastScanHash value of a folder given with its trailing backslash:
// (folderHash, low 16 bits) + 1, from 1 to 65536. The installer writes it into
// a copy's config\terminal.ini; the library, finding its own terminal's value
// there, keeps the advert off that terminal's charts.
std::uint32_t lastScanHashMarker(std::string_view folderWithBackslash);

}  // namespace terminal
