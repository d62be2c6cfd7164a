#pragma once
#include <cstdint>
#include <string>
#include <vector>

namespace robot {

// An 8-bit RGB PNG of the pixels (rows top to bottom, 3 bytes a pixel), its
// image data in stored deflate blocks: large, but any viewer reads it.
std::string encodePng(int width, int height, const std::vector<std::uint8_t>& rgb);

}  // namespace robot
