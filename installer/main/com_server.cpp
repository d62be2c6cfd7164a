#include "installer/main/com_server.h"

#include <windows.h>

#include <algorithm>
#include <cctype>

namespace installer {

ComServerSwitch findComServerSwitch(const std::string& commandLine) {
  std::string lower(commandLine);
  std::transform(lower.begin(), lower.end(), lower.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  struct Name {
    const char* text;
    ComServerSwitch value;
  };
  // Longer names first: "regserver" is the start of "regserverperuser".
  static constexpr Name kNames[] = {{"unregserverperuser", ComServerSwitch::UnregServerPerUser},
                                    {"regserverperuser", ComServerSwitch::RegServerPerUser},
                                    {"unregserver", ComServerSwitch::UnregServer},
                                    {"regserver", ComServerSwitch::RegServer}};
  for (std::size_t i = 0; i < lower.size(); ++i) {
    if (lower[i] != '/' && lower[i] != '-') continue;
    const std::string_view rest = std::string_view(lower).substr(i + 1);
    for (const auto& name : kNames) {
      if (rest.substr(0, std::char_traits<char>::length(name.text)) == name.text) return name.value;
    }
  }
  return ComServerSwitch::None;
}

int runComServerStartup(const std::string& commandLine) {
  // The program serves no COM class of its own yet, so registering and
  // withdrawing have nothing to write.
  if (findComServerSwitch(commandLine) != ComServerSwitch::None) return 0;
  MSG message;
  while (GetMessageA(&message, nullptr, 0, 0) > 0) {
    TranslateMessage(&message);
    DispatchMessageA(&message);
  }
  return message.message == WM_QUIT ? static_cast<int>(message.wParam) : 0;
}

}  // namespace installer
