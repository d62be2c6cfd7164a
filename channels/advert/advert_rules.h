#pragma once
// The platform-free rules of the chart advert: where it sits, what a mouse
// position hits, what a fetch asks for and how an answer's placement reads.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace lumarel {

struct AdvertPlacement {
  int corner = 0;  // 0 top-left, 1 top-right, 2 bottom-left, 3 bottom-right; others as 0
  int marginX = 0;
  int marginY = 0;
};

struct AdvertRect {
  int left = 0, top = 0, right = 0, bottom = 0;
  bool operator==(const AdvertRect&) const = default;
};

// The advert's rectangle in client coordinates of a client area W x H,
// clipped to that area: an advert larger than the chart can never take the
// clicks and the painting of more than the chart's own client area.
AdvertRect advertRect(const AdvertPlacement& placement, int imageWidth, int imageHeight, int clientWidth,
                      int clientHeight);

// A mouse message's second parameter: x in its low 16 bits, y in the next 16,
// both unsigned, so a position left of or above the window lies far outside.
// All four edges count.
bool liesOnAdvert(const AdvertRect& rect, std::uint32_t mousePosition);

// The margins an answer's "corner" header brings with it.
AdvertPlacement placementForCorner(int corner);

// A header value read as a plain text-to-integer conversion does: leading
// white space and a sign, then digits up to the first other character; 0
// when there are none. Values beyond the int range stop at its ends.
int leadingInteger(std::string_view text);

// Below 10 minutes (zero and negative included) the refresh becomes 10.
int refreshMinutesFrom(int requested);

// When the next fetch is due after a successful one at `now`: `refreshMinutes`
// later, at most a year later, so that no large interval overflows. Times are
// the low 32 bits of the seconds since 1970, compared as signed numbers.
std::int32_t nextFetchAfter(std::int32_t now, int refreshMinutes);

// A click opens only "http://" and "https://" addresses (scheme in any case):
// whatever else the advert server names ("cmd.exe", "file:", a share) would
// start a program in the terminal's process. Others leave the advert not
// clickable.
bool isClickableAddress(std::string_view clickUrl);

// The most an advert answer may bring: a body of 1 MiB and an image of
// 2048 x 2048 pixels. More is a failed fetch.
inline constexpr std::size_t kMaxAdvertBodyBytes = 1024 * 1024;
inline constexpr int kMaxAdvertSide = 2048;
bool advertImageSizeAccepted(int width, int height);

// The size a BMP, GIF or JPEG body declares in its header, read before
// anything decodes it (a small body may declare a huge image); none for
// another format or a header cut short.
struct DeclaredSize {
  long long width = 0, height = 0;
};
std::optional<DeclaredSize> declaredImageSize(std::string_view body);

// What a fetch appends to the request address (which ends in "&mac"): the
// caller's text unescaped and the number, cut after 1023 characters as the
// platform's formatter cuts them.
std::string advertQueryTail(std::string_view data1, int data2);

// "http://" HOST "/adverts/advert.aspx?sid=1000&mac".
std::string advertRequestUrl(std::string_view host);

// The "Subscriber-Cookie" value: 12 upper-case hexadecimal digits from the
// volume serial number of C:\.
std::string machineIdFromSerial(std::uint32_t serial);

// The serial number that stands when the volume cannot be queried.
inline constexpr std::uint32_t kUnknownVolumeSerial = 305419896;

}  // namespace lumarel
