// A fetch: one GET to the advert server on a thread of its own, whose answer
// brings the image as its body and the click target and placement as headers.
#include <windows.h>
#include <objbase.h>
#include <ocidl.h>
#include <olectl.h>
#include <msxml2.h>

#include <new>
#include <optional>
#include <string>
#include <string_view>

#include "channels/advert/advert_helper.h"
#include "terminal/win_handles.h"

namespace lumarel {

namespace {

// IXMLHTTPRequest, {ED8C108D-4349-11D2-91A4-00C04F7969E8}.
const IID kXmlHttpRequestIid = {0xED8C108D, 0x4349, 0x11D2, {0x91, 0xA4, 0x00, 0xC0, 0x4F, 0x79, 0x69, 0xE8}};

constexpr std::int32_t kRetrySeconds = 600;
constexpr std::int32_t kRepaintSpacingSeconds = 10;

class Bstr {
 public:
  Bstr() = default;
  explicit Bstr(const std::wstring& text) : value_(SysAllocStringLen(text.data(), static_cast<UINT>(text.size()))) {}
  ~Bstr() { SysFreeString(value_); }
  Bstr(const Bstr&) = delete;
  Bstr& operator=(const Bstr&) = delete;
  BSTR get() const { return value_; }
  BSTR* put() {
    SysFreeString(value_);
    value_ = nullptr;
    return &value_;
  }

 private:
  BSTR value_ = nullptr;
};

std::wstring wideFromAnsi(const std::string& text) {
  if (text.empty()) return {};
  const int length = MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  std::wstring wide(length > 0 ? length : 0, L'\0');
  if (length > 0) MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), wide.data(), length);
  return wide;
}

std::string machineId() {
  DWORD serial = kUnknownVolumeSerial;
  if (!GetVolumeInformationA("C:\\", nullptr, 0, &serial, nullptr, nullptr, nullptr, 0)) serial = kUnknownVolumeSerial;
  return machineIdFromSerial(serial);
}

// A response header in the ANSI code page: none when the request object gives
// no value or it does not fit in (length + 1) bytes. An empty text is a value.
std::optional<std::string> responseHeader(IXMLHTTPRequest* request, const wchar_t* name) {
  Bstr header{std::wstring(name)};
  Bstr value;
  if (request->getResponseHeader(header.get(), value.put()) != S_OK) return std::nullopt;
  const int length = value.get() ? static_cast<int>(SysStringLen(value.get())) : 0;
  std::string ansi(static_cast<std::size_t>(length) + 2, '\0');
  if (length == 0) return std::string();
  const int written = WideCharToMultiByte(CP_ACP, 0, value.get(), length, ansi.data(), length + 1, nullptr, nullptr);
  if (written <= 0) return std::nullopt;
  ansi.resize(static_cast<std::size_t>(written));
  return ansi;
}

// The answer's picture as a bitmap of the record's own, independent of the
// picture object that decoded it.
HBITMAP decodeAdvert(IXMLHTTPRequest* request, int& width, int& height) {
  VARIANT body;
  VariantInit(&body);
  if (FAILED(request->get_responseStream(&body))) return nullptr;
  terminal::ComPtr<IStream> stream;
  if ((V_VT(&body) == VT_UNKNOWN || V_VT(&body) == VT_STREAM) && V_UNKNOWN(&body))
    V_UNKNOWN(&body)->QueryInterface(IID_IStream, reinterpret_cast<void**>(stream.put()));
  VariantClear(&body);
  if (!stream) return nullptr;
  // The request object has the whole body by now; a larger one, or one whose
  // header declares a larger image, is refused before the picture decoder
  // spends memory and time on it.
  STATSTG about = {};
  if (FAILED(stream->Stat(&about, STATFLAG_NONAME)) || about.cbSize.QuadPart > kMaxAdvertBodyBytes) return nullptr;
  const auto size = static_cast<ULONG>(about.cbSize.QuadPart);
  HGLOBAL memory = GlobalAlloc(GMEM_MOVEABLE, size ? size : 1);
  if (!memory) return nullptr;
  terminal::ComPtr<IStream> held;
  if (FAILED(CreateStreamOnHGlobal(memory, TRUE, held.put()))) {
    GlobalFree(memory);
    return nullptr;
  }
  ULARGE_INTEGER exact;
  exact.QuadPart = size;
  if (FAILED(held->SetSize(exact))) return nullptr;
  ULONG got = 0;
  auto* bytes = static_cast<char*>(GlobalLock(memory));
  const bool read = bytes && SUCCEEDED(stream->Read(bytes, size, &got)) && got == size;
  const auto declared = read ? declaredImageSize(std::string_view(bytes, got)) : std::nullopt;
  if (bytes) GlobalUnlock(memory);
  if (!read || (declared && (declared->width > kMaxAdvertSide || declared->height > kMaxAdvertSide))) return nullptr;
  terminal::ComPtr<IPicture> picture;
  if (FAILED(OleLoadPicture(held.get(), static_cast<LONG>(size), FALSE, IID_IPicture,
                            reinterpret_cast<void**>(picture.put()))) ||
      !picture)
    return nullptr;
  short type = PICTYPE_NONE;
  OLE_HANDLE handle = 0;
  if (FAILED(picture->get_Type(&type)) || type != PICTYPE_BITMAP || FAILED(picture->get_Handle(&handle)) || !handle)
    return nullptr;
  // A real copy: the picture object deletes its own bitmap when it goes.
  const HANDLE original = reinterpret_cast<HANDLE>(static_cast<UINT_PTR>(handle));
  const HBITMAP made = static_cast<HBITMAP>(CopyImage(original, IMAGE_BITMAP, 0, 0, 0));
  if (!made || made == original) return nullptr;
  terminal::UniqueGdi copy(made);
  BITMAP info = {};
  if (!GetObjectA(made, sizeof info, &info)) return nullptr;
  const int side = info.bmHeight < 0 ? -info.bmHeight : info.bmHeight;
  if (!advertImageSizeAccepted(info.bmWidth, side)) return nullptr;
  width = info.bmWidth;
  height = side;
  return static_cast<HBITMAP>(copy.release());
}

struct ComApartment {
  HRESULT result = CoInitialize(nullptr);
  ~ComApartment() {
    if (SUCCEEDED(result)) CoUninitialize();
  }
};

// One exchange with the advert server; the time the next fetch is due.
std::int32_t exchange(AdvertHelper* helper) {
  const std::int32_t started = nowSeconds();
  const std::int32_t retry = started + kRetrySeconds;
  const std::wstring url = wideFromAnsi(helper->requestUrl + advertQueryTail(helper->data1, helper->data2));

  ComApartment apartment;
  CLSID type;
  terminal::ComPtr<IXMLHTTPRequest> request;
  if (FAILED(CLSIDFromProgID(L"Msxml2.XMLHTTP.3.0", &type)) ||
      FAILED(CoCreateInstance(type, nullptr, CLSCTX_INPROC_SERVER, kXmlHttpRequestIid,
                              reinterpret_cast<void**>(request.put()))))
    return retry;

  VARIANT synchronous, none;
  VariantInit(&synchronous);
  V_VT(&synchronous) = VT_BOOL;
  V_BOOL(&synchronous) = VARIANT_FALSE;
  VariantInit(&none);
  const Bstr method{std::wstring(L"GET")}, address{url};
  const Bstr helperName{std::wstring(L"MT4Helper")}, cookieName{std::wstring(L"Subscriber-Cookie")};
  const Bstr cookie{wideFromAnsi(machineId())};
  if (FAILED(request->open(method.get(), address.get(), synchronous, none, none)) ||
      FAILED(request->setRequestHeader(helperName.get(), helperName.get())) ||
      FAILED(request->setRequestHeader(cookieName.get(), cookie.get())) || FAILED(request->send(none)))
    return retry;
  long status = 0;
  if (FAILED(request->get_status(&status)) || status != 200) return retry;

  int width = 0, height = 0;
  // Owned here until stored: reading a header may fail or throw.
  terminal::UniqueGdi image(decodeAdvert(request.get(), width, height));
  if (!image) return retry;
  const auto clickUrl = responseHeader(request.get(), L"imageurl");
  const auto clickData = responseHeader(request.get(), L"imageurldata");
  const auto corner = responseHeader(request.get(), L"corner");

  HBITMAP previous;
  AcquireSRWLockExclusive(&helper->viewLock);
  AdvertView& view = helper->view;
  previous = view.image;
  view.image = static_cast<HBITMAP>(image.release());
  view.imageWidth = width;
  view.imageHeight = height;
  if (clickUrl) view.clickUrl = *clickUrl;
  if (clickData) view.clickData = *clickData;
  if (corner && !corner->empty()) view.placement = placementForCorner(leadingInteger(*corner));
  ReleaseSRWLockExclusive(&helper->viewLock);
  if (previous) DeleteObject(previous);

  const std::int32_t now = nowSeconds();
  if (now - helper->lastInvalidate.load() > kRepaintSpacingSeconds) {
    helper->lastInvalidate.store(now);
    InvalidateRect(helper->chartWindow, nullptr, FALSE);
  }
  return nextFetchAfter(now, helper->refreshMinutes);
}

}  // namespace

void startFetchIfDue(AdvertHelper* helper) {
  if (nowSeconds() < helper->nextFetchDue.load()) return;
  bool idle = false;
  if (!helper->fetchUnderWay.compare_exchange_strong(idle, true)) return;
  addReference(helper);
  if (!terminal::startDetachedThread(fetchAdvert, helper)) {
    helper->fetchUnderWay.store(false);
    releaseHelper(helper);
  }
}

DWORD WINAPI fetchAdvert(LPVOID parameter) {
  auto* helper = static_cast<AdvertHelper*>(parameter);
  EnterCriticalSection(&helper->lock);
  std::int32_t due = nowSeconds() + kRetrySeconds;
  // A record already taken off its chart asks the server nothing more.
  if (!helper->removed.load()) {
    try {
      due = exchange(helper);
    } catch (const std::bad_alloc&) {
    }
  }
  helper->nextFetchDue.store(due);
  helper->fetchUnderWay.store(false);
  LeaveCriticalSection(&helper->lock);
  releaseHelper(helper);
  return 0;
}

}  // namespace lumarel
