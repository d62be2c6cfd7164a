#pragma once
#include <string>

#include "installer/config/install_ini_keys.h"

namespace installer {

// One GET to the [Messages] address (keys::MessageUrl1, 2 or 3), with pid,
// cid and did and, when not empty, "&p1=" and the extra parameter as it
// stands. The answer is ignored. `onOwnThread`: started and not waited for.
void notifyServer(const std::string& iniPath, const TextKey& address, const std::string& extra, bool onOwnThread);

// Opens [Webpages] WebPage3, with the query suffix, in the user's browser.
void openSuccessPage(const std::string& iniPath);

// Upper-case hexadecimal digits, the same on every call on this computer.
std::string computerId();

std::string downloadId(const std::string& iniPath);

}  // namespace installer
