// Arbitrary install.ini bytes: the reader keeps every entry inside its input,
// numbers lines in order, and finds each entry of a first section by its names.
#include <cstdint>
#include <string_view>

#include "installer/config/ini_file.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  const installer::IniFile ini = installer::parseIni(text);
  int lastLine = 0;
  for (const auto& section : ini.sections) {
    if (section.line <= lastLine || section.name.size() > size) __builtin_trap();
    lastLine = section.line;
    for (const auto& entry : section.entries) {
      if (entry.line <= lastLine || entry.key.size() + entry.value.size() > size) __builtin_trap();
      lastLine = entry.line;
      // Only the first section of a name is read, as the profile functions do.
      if (entry.hasEquals && ini.section(section.name) == &section && !ini.entry(section.name, entry.key))
        __builtin_trap();
      static_cast<void>(installer::profileInteger(entry.value));
    }
  }
  return 0;
}
