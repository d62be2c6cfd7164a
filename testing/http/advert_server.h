#pragma once
// The advert server as tests script it in the test web server: an answer for
// the requests of one helper (told apart by its data1 text), and small
// pictures in the formats the library decodes.
#include <optional>
#include <string>

#include "testing/http/http_control.h"

namespace test_http::advert {

// A data1 text no other test uses, letters and digits only.
std::string uniqueData1();

// The path and query a helper attached with this data1 text asks for, up to
// "&data2=".
std::string requestPrefix(const std::string& data1);

struct AdvertAnswer {
  int status = 200;
  std::string body;
  std::optional<std::string> imageUrl;      // header "imageurl"
  std::optional<std::string> imageUrlData;  // header "imageurldata"
  std::optional<std::string> corner;        // header "corner"
  int delayMs = 0;
};

// A picture (or any body) answered with status 200 and these headers; a
// header left at none is not sent.
AdvertAnswer picture(std::string body, std::optional<std::string> imageUrl = std::nullopt,
                     std::optional<std::string> imageUrlData = std::nullopt,
                     std::optional<std::string> corner = std::nullopt, int delayMs = 0);
// An answer with another status and no advert headers.
AdvertAnswer failure(int status, std::string body = "");

bool script(const std::string& data1, const AdvertAnswer& answer);

// Pictures of one colour (COLORREF 0x00BBGGRR), width x height.
std::string bmp(int width, int height, unsigned long color);
std::string gif(int width, int height, unsigned long color);
std::string jpeg(int width, int height, unsigned long color);  // encoded by the platform's codecs

}  // namespace test_http::advert
