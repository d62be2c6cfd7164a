#pragma once
// UTF-8 and UTF-16 texts at the Windows interfaces of both deliverables.
#include <windows.h>

#include <string>
#include <string_view>

#include "terminal/win_handles.h"

namespace terminal {

std::wstring utf8ToWide(std::string_view text);
std::string wideToUtf8(std::wstring_view text);

}  // namespace terminal
