#include "testing/robot/png_writer.h"

#include <array>

namespace robot {

namespace {

std::uint32_t crc32(const std::string& bytes, std::size_t from) {
  static const auto table = [] {
    std::array<std::uint32_t, 256> t{};
    for (std::uint32_t n = 0; n < 256; ++n) {
      std::uint32_t c = n;
      for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
      t[n] = c;
    }
    return t;
  }();
  std::uint32_t c = 0xFFFFFFFFu;
  for (std::size_t i = from; i < bytes.size(); ++i)
    c = table[(c ^ static_cast<std::uint8_t>(bytes[i])) & 0xFF] ^ (c >> 8);
  return c ^ 0xFFFFFFFFu;
}

void putBig32(std::string& out, std::uint32_t v) {
  for (int shift = 24; shift >= 0; shift -= 8) out.push_back(static_cast<char>((v >> shift) & 0xFF));
}

void putChunk(std::string& out, const char* type, const std::string& data) {
  putBig32(out, static_cast<std::uint32_t>(data.size()));
  const std::size_t typeAt = out.size();
  out.append(type, 4);
  out += data;
  putBig32(out, crc32(out, typeAt));
}

}  // namespace

std::string encodePng(int width, int height, const std::vector<std::uint8_t>& rgb) {
  std::string raw;
  raw.reserve(static_cast<std::size_t>(height) * (width * 3 + 1));
  for (int y = 0; y < height; ++y) {
    raw.push_back(0);  // filter: none
    raw.append(reinterpret_cast<const char*>(rgb.data()) + static_cast<std::size_t>(y) * width * 3,
               static_cast<std::size_t>(width) * 3);
  }

  std::string zlib = {0x78, 0x01};
  std::uint32_t a = 1, b = 0;
  for (unsigned char c : raw) {
    a = (a + c) % 65521;
    b = (b + a) % 65521;
  }
  for (std::size_t at = 0; at < raw.size() || at == 0; at += 65535) {
    const std::size_t len = std::min<std::size_t>(65535, raw.size() - at);
    const bool last = at + len >= raw.size();
    zlib.push_back(last ? 1 : 0);
    zlib.push_back(static_cast<char>(len & 0xFF));
    zlib.push_back(static_cast<char>(len >> 8));
    zlib.push_back(static_cast<char>(~len & 0xFF));
    zlib.push_back(static_cast<char>((~len >> 8) & 0xFF));
    zlib.append(raw, at, len);
    if (last) break;
  }
  putBig32(zlib, (b << 16) | a);

  std::string header;
  putBig32(header, static_cast<std::uint32_t>(width));
  putBig32(header, static_cast<std::uint32_t>(height));
  header += std::string{8, 2, 0, 0, 0};  // 8-bit RGB, deflate, no filter choice, no interlace

  std::string png = "\x89PNG\r\n\x1a\n";
  putChunk(png, "IHDR", header);
  putChunk(png, "IDAT", zlib);
  putChunk(png, "IEND", "");
  return png;
}

}  // namespace robot
