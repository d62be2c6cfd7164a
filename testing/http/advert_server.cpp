#include "testing/http/advert_server.h"

#include <windows.h>
#include <objbase.h>
#include <wincodec.h>

#include <atomic>
#include <vector>

namespace test_http::advert {

namespace {

void put16(std::string& out, unsigned value) {
  out += static_cast<char>(value & 0xFF);
  out += static_cast<char>((value >> 8) & 0xFF);
}
void put32(std::string& out, unsigned long value) {
  put16(out, value & 0xFFFF);
  put16(out, (value >> 16) & 0xFFFF);
}

unsigned char red(unsigned long c) { return c & 0xFF; }
unsigned char green(unsigned long c) { return (c >> 8) & 0xFF; }
unsigned char blue(unsigned long c) { return (c >> 16) & 0xFF; }

}  // namespace

std::string uniqueData1() {
  static std::atomic<int> counter{0};
  return "adv" + std::to_string(GetCurrentProcessId()) + "x" + std::to_string(GetTickCount()) + "x" +
         std::to_string(counter++);
}

std::string requestPrefix(const std::string& data1) {
  return "/adverts/advert.aspx?sid=1000&mac=&data1=" + data1 + "&data2=";
}

AdvertAnswer picture(std::string body, std::optional<std::string> imageUrl, std::optional<std::string> imageUrlData,
                     std::optional<std::string> corner, int delayMs) {
  AdvertAnswer a;
  a.body = std::move(body);
  a.imageUrl = std::move(imageUrl);
  a.imageUrlData = std::move(imageUrlData);
  a.corner = std::move(corner);
  a.delayMs = delayMs;
  return a;
}

AdvertAnswer failure(int status, std::string body) {
  AdvertAnswer a;
  a.status = status;
  a.body = std::move(body);
  return a;
}

bool script(const std::string& data1, const AdvertAnswer& answer) {
  Answer a;
  a.status = answer.status;
  a.body = answer.body;
  a.delayMs = answer.delayMs;
  if (answer.imageUrl) a.headers += "imageurl: " + *answer.imageUrl + "\r\n";
  if (answer.imageUrlData) a.headers += "imageurldata: " + *answer.imageUrlData + "\r\n";
  if (answer.corner) a.headers += "corner: " + *answer.corner + "\r\n";
  if (answer.status == 200) a.headers += "Content-Type: image/octet-stream\r\n";
  return test_http::script(requestPrefix(data1), a);
}

std::string bmp(int width, int height, unsigned long color) {
  const int rowBytes = (width * 3 + 3) & ~3;
  std::string out = "BM";
  put32(out, 54 + rowBytes * height);
  put32(out, 0);
  put32(out, 54);
  put32(out, 40);
  put32(out, width);
  put32(out, height);  // bottom-up
  put16(out, 1);
  put16(out, 24);
  put32(out, 0);
  put32(out, rowBytes * height);
  put32(out, 2835);
  put32(out, 2835);
  put32(out, 0);
  put32(out, 0);
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      out += static_cast<char>(blue(color));
      out += static_cast<char>(green(color));
      out += static_cast<char>(red(color));
    }
    out.append(rowBytes - width * 3, '\0');
  }
  return out;
}

// Every pixel is colour 0 of a two-colour table. The image data is LZW with
// 3-bit codes: a clear code before every two pixels keeps the decoder's
// table, and so the code size, from growing.
std::string gif(int width, int height, unsigned long color) {
  std::string out = "GIF89a";
  put16(out, width);
  put16(out, height);
  out += static_cast<char>(0x80);  // global table of 2 colours
  out += '\0';
  out += '\0';
  out += static_cast<char>(red(color));
  out += static_cast<char>(green(color));
  out += static_cast<char>(blue(color));
  out.append(3, '\0');
  out += ',';
  put16(out, 0);
  put16(out, 0);
  put16(out, width);
  put16(out, height);
  out += '\0';
  out += static_cast<char>(2);  // minimum code size
  std::vector<unsigned char> data;
  unsigned long bits = 0;
  int count = 0;
  auto emit = [&](unsigned code) {
    bits |= static_cast<unsigned long>(code) << count;
    count += 3;
    while (count >= 8) {
      data.push_back(static_cast<unsigned char>(bits & 0xFF));
      bits >>= 8;
      count -= 8;
    }
  };
  const long pixels = static_cast<long>(width) * height;
  for (long i = 0; i < pixels; ++i) {
    if (i % 2 == 0) emit(4);  // clear
    emit(0);
  }
  emit(5);  // end of information
  if (count > 0) data.push_back(static_cast<unsigned char>(bits & 0xFF));
  for (std::size_t at = 0; at < data.size(); at += 255) {
    const std::size_t n = std::min<std::size_t>(255, data.size() - at);
    out += static_cast<char>(n);
    out.append(reinterpret_cast<const char*>(data.data() + at), n);
  }
  out += '\0';
  out += ';';
  return out;
}

std::string jpeg(int width, int height, unsigned long color) {
  const HRESULT com = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  std::string out;
  IWICImagingFactory* factory = nullptr;
  IStream* stream = nullptr;
  IWICBitmapEncoder* encoder = nullptr;
  IWICBitmapFrameEncode* frame = nullptr;
  IPropertyBag2* options = nullptr;
  std::vector<unsigned char> rows(static_cast<std::size_t>(width) * height * 3);
  for (std::size_t i = 0; i < rows.size(); i += 3) {
    rows[i] = blue(color);
    rows[i + 1] = green(color);
    rows[i + 2] = red(color);
  }
  WICPixelFormatGUID format = GUID_WICPixelFormat24bppBGR;
  if (SUCCEEDED(CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER, IID_IWICImagingFactory,
                                 reinterpret_cast<void**>(&factory))) &&
      SUCCEEDED(CreateStreamOnHGlobal(nullptr, TRUE, &stream)) &&
      SUCCEEDED(factory->CreateEncoder(GUID_ContainerFormatJpeg, nullptr, &encoder)) &&
      SUCCEEDED(encoder->Initialize(stream, WICBitmapEncoderNoCache)) &&
      SUCCEEDED(encoder->CreateNewFrame(&frame, &options)) && SUCCEEDED(frame->Initialize(options)) &&
      SUCCEEDED(frame->SetSize(width, height)) && SUCCEEDED(frame->SetPixelFormat(&format)) &&
      SUCCEEDED(frame->WritePixels(height, width * 3, static_cast<UINT>(rows.size()), rows.data())) &&
      SUCCEEDED(frame->Commit()) && SUCCEEDED(encoder->Commit())) {
    HGLOBAL memory = nullptr;
    if (SUCCEEDED(GetHGlobalFromStream(stream, &memory))) {
      STATSTG stat = {};
      stream->Stat(&stat, STATFLAG_NONAME);
      const void* bytes = GlobalLock(memory);
      out.assign(static_cast<const char*>(bytes), static_cast<std::size_t>(stat.cbSize.QuadPart));
      GlobalUnlock(memory);
    }
  }
  if (options) options->Release();
  if (frame) frame->Release();
  if (encoder) encoder->Release();
  if (stream) stream->Release();
  if (factory) factory->Release();
  if (SUCCEEDED(com)) CoUninitialize();
  return out;
}

}  // namespace test_http::advert
