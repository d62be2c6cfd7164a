#include "terminal/folder_hash.h"

namespace terminal {

std::uint32_t folderHash(std::string_view text) {
  std::uint32_t hash = 5381;
  for (char c : text) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    // Bytes of 128 and above count as negative: the marker's readers were
    // built with a signed char.
    const auto byte = static_cast<std::int32_t>(static_cast<signed char>(c));  // NOLINT(bugprone-signed-char-misuse)
    hash = hash * 33u + static_cast<std::uint32_t>(byte);
  }
  return hash;
}

std::uint32_t lastScanHashMarker(std::string_view folderWithBackslash) {
  return (folderHash(folderWithBackslash) & 0xFFFFu) + 1u;
}

}  // namespace terminal
