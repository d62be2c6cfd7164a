#pragma once
#include <string>
#include <string_view>
#include <vector>

// Platform-free pieces of reading install.ini.
namespace installer {

// The program's own path with everything after its last backslash replaced by
// "install.ini". A path without a backslash, or a result longer than 259
// characters, gives an empty text: no file is read and every key has its
// default. A relative or shortened name would make the profile functions read
// some other file (they look for a bare name in the Windows folder).
std::string iniPathForProgram(std::string_view programPath);

// The same path without the bound, for telling the user where the file was
// looked for; empty only for a path without a backslash.
std::string iniPathBeside(std::string_view programPath);

// Splits a key list as the profile reader returns it (names each followed by a
// terminator, ending with an empty name) into names in file order. `size` is
// the count of characters the reader reported; nothing past it is read.
std::vector<std::string> splitKeyList(const char* buffer, std::size_t size);

// The key names that fit whole into a list buffer of `bufferSize` characters
// (each name with its terminator, and the empty name that ends the list).
// `cut` tells whether a name did not fit: it is left out rather than acted on
// cut short, since a cut name can name another file or program.
struct KeyList {
  std::vector<std::string> names;
  bool cut = false;
};
KeyList wholeNamesWithin(std::vector<std::string> names, std::size_t bufferSize);

// A prompt value as shown: every "~" becomes a carriage return.
std::string expandPromptText(std::string_view value);

}  // namespace installer
