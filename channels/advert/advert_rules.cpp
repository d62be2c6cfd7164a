#include "channels/advert/advert_rules.h"

#include <climits>
#include <cstdio>

namespace lumarel {

AdvertRect advertRect(const AdvertPlacement& p, int imageWidth, int imageHeight, int clientWidth, int clientHeight) {
  AdvertRect r;
  const bool right = p.corner == 1 || p.corner == 3;
  const bool bottom = p.corner == 2 || p.corner == 3;
  r.left = right ? clientWidth - imageWidth - p.marginX : p.marginX;
  r.top = bottom ? clientHeight - imageHeight - p.marginY : p.marginY;
  r.right = r.left + imageWidth;
  r.bottom = r.top + imageHeight;
  const auto clip = [](int value, int limit) { return value < 0 ? 0 : (value > limit ? limit : value); };
  r.left = clip(r.left, clientWidth);
  r.right = clip(r.right, clientWidth);
  r.top = clip(r.top, clientHeight);
  r.bottom = clip(r.bottom, clientHeight);
  return r;
}

bool liesOnAdvert(const AdvertRect& rect, std::uint32_t mousePosition) {
  const long long x = mousePosition & 0xFFFFu;
  const long long y = (mousePosition >> 16) & 0xFFFFu;
  return rect.left <= x && x <= rect.right && rect.top <= y && y <= rect.bottom;
}

AdvertPlacement placementForCorner(int corner) {
  switch (corner) {
    case 1: return {1, 45, 10};
    case 2: return {2, 5, 20};
    case 3: return {3, 45, 20};
    default: return {corner, 5, 15};
  }
}

int leadingInteger(std::string_view text) {
  std::size_t i = 0;
  while (i < text.size() && (text[i] == ' ' || (text[i] >= '\t' && text[i] <= '\r'))) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  long long value = 0;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
    value = value * 10 + (text[i] - '0');
    if (value > static_cast<long long>(INT_MAX) + 1) value = static_cast<long long>(INT_MAX) + 1;
  }
  if (negative) value = -value;
  if (value > INT_MAX) value = INT_MAX;
  return static_cast<int>(value);
}

int refreshMinutesFrom(int requested) { return requested < 10 ? 10 : requested; }

std::int32_t nextFetchAfter(std::int32_t now, int refreshMinutes) {
  constexpr long long kMostSeconds = 366LL * 24 * 60 * 60;
  long long seconds = 60LL * (refreshMinutes < 10 ? 10 : refreshMinutes);
  if (seconds > kMostSeconds) seconds = kMostSeconds;
  // Wraps as the 32-bit clock itself does.
  return static_cast<std::int32_t>(static_cast<std::uint32_t>(now) + static_cast<std::uint32_t>(seconds));
}

bool isClickableAddress(std::string_view clickUrl) {
  const auto startsWith = [&](std::string_view scheme) {
    if (clickUrl.size() < scheme.size()) return false;
    for (std::size_t i = 0; i < scheme.size(); ++i) {
      char c = clickUrl[i];
      if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
      if (c != scheme[i]) return false;
    }
    return true;
  };
  return startsWith("http://") || startsWith("https://");
}

bool advertImageSizeAccepted(int width, int height) {
  return width > 0 && height > 0 && width <= kMaxAdvertSide && height <= kMaxAdvertSide;
}

std::string advertQueryTail(std::string_view data1, int data2) {
  // The caller's text ends at its first NUL, as a C text does.
  data1 = data1.substr(0, data1.find('\0'));
  std::string tail = "=&data1=";
  tail += data1;
  tail += "&data2=" + std::to_string(data2);
  if (tail.size() > 1023) tail.resize(1023);
  return tail;
}

std::string advertRequestUrl(std::string_view host) {
  return "http://" + std::string(host) + "/adverts/advert.aspx?sid=1000&mac";
}

std::string machineIdFromSerial(std::uint32_t serial) {
  char text[16];
  std::snprintf(text, sizeof text, "%08X%04X", static_cast<unsigned>(serial ^ 0x5B2E9C41u),
                static_cast<unsigned>((serial >> 1) & 0xFFFFu));
  return text;
}

namespace {

std::uint32_t littleEndian(std::string_view bytes, std::size_t at, std::size_t count) {
  std::uint32_t value = 0;
  for (std::size_t i = 0; i < count; ++i)
    value |= static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[at + i])) << (8 * i);
  return value;
}

std::uint32_t bigEndian16(std::string_view bytes, std::size_t at) {
  return (static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[at])) << 8) |
         static_cast<unsigned char>(bytes[at + 1]);
}

std::optional<DeclaredSize> bmpSize(std::string_view body) {
  if (body.size() < 26) return std::nullopt;
  if (littleEndian(body, 14, 4) == 12)  // the old core header: 16-bit sizes
    return DeclaredSize{littleEndian(body, 18, 2), littleEndian(body, 20, 2)};
  const auto width = static_cast<std::int32_t>(littleEndian(body, 18, 4));
  const auto height = static_cast<std::int32_t>(littleEndian(body, 22, 4));
  // A negative height is a top-down bitmap of that many rows; a negative
  // width is no bitmap, and its size counts as large as it reads.
  const auto magnitude = [](std::int32_t v) { return v < 0 ? -static_cast<long long>(v) : static_cast<long long>(v); };
  return DeclaredSize{magnitude(width), magnitude(height)};
}

std::optional<DeclaredSize> jpegSize(std::string_view body) {
  std::size_t at = 2;
  while (at + 4 <= body.size()) {
    if (static_cast<unsigned char>(body[at]) != 0xFF) return std::nullopt;
    const auto marker = static_cast<unsigned char>(body[at + 1]);
    if (marker == 0xFF) {  // fill byte
      ++at;
      continue;
    }
    if (marker == 0xD8 || marker == 0x01 || (marker >= 0xD0 && marker <= 0xD7)) {  // no length
      at += 2;
      continue;
    }
    const std::uint32_t length = bigEndian16(body, at + 2);
    const bool frame = marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC;
    if (frame) {
      if (at + 9 > body.size()) return std::nullopt;
      return DeclaredSize{bigEndian16(body, at + 7), bigEndian16(body, at + 5)};
    }
    if (length < 2) return std::nullopt;
    at += 2 + length;
  }
  return std::nullopt;
}

}  // namespace

std::optional<DeclaredSize> declaredImageSize(std::string_view body) {
  if (body.substr(0, 2) == "BM") return bmpSize(body);
  if (body.substr(0, 6) == "GIF87a" || body.substr(0, 6) == "GIF89a") {
    if (body.size() < 10) return std::nullopt;
    return DeclaredSize{littleEndian(body, 6, 2), littleEndian(body, 8, 2)};
  }
  if (body.size() >= 2 && static_cast<unsigned char>(body[0]) == 0xFF && static_cast<unsigned char>(body[1]) == 0xD8)
    return jpegSize(body);
  return std::nullopt;
}

}  // namespace lumarel
