#pragma once
#include <string>
#include <vector>

#include "installer/config/install_ini_keys.h"

// Reading install.ini through the platform's profile functions, which give a
// present-but-empty key as an empty text and a missing key as the default.
namespace installer {

std::string readText(const std::string& iniPath, const TextKey& key);
int readInt(const std::string& iniPath, const IntKey& key);

// The value of a key of a listed section ([Install], [Run], ...), cut at `bound`.
std::string readValue(const std::string& iniPath, const char* section, const std::string& key, std::size_t bound);

// The key names of a section in file order, as many as fit whole into 9,999
// characters. A name that does not fit is left out, never taken cut short,
// and a message naming the section says so.
std::vector<std::string> readKeyList(const std::string& iniPath, const char* section);

// The full path of the running program's install.ini; empty when it would
// pass 259 characters.
std::string programIniPath();

// Where the running program looks for its install.ini, whatever its length.
std::string programIniLocation();

// True when the file exists and can be opened for reading.
bool iniFileReadable(const std::string& iniPath);

}  // namespace installer
