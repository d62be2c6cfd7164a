#pragma once
// UTF-8 and UTF-16 texts at the Windows interfaces of both deliverables, and
// the owner of WinHTTP handles.
#include <windows.h>
#include <winhttp.h>

#include <string>
#include <string_view>

#include "terminal/win_handles.h"

namespace terminal {

std::wstring utf8ToWide(std::string_view text);
std::string wideToUtf8(std::wstring_view text);

struct InternetTraits {
  static HINTERNET invalid() { return nullptr; }
  static bool valid(HINTERNET h) { return h != nullptr; }
  static void close(HINTERNET h) { WinHttpCloseHandle(h); }
};
using UniqueInternet = Unique<HINTERNET, InternetTraits>;

}  // namespace terminal
