#include "installer/web/notification_text.h"

#include <cctype>
#include <cstdio>

namespace installer {

std::string withQuerySuffix(std::string_view address, int pid, std::string_view cid, std::string_view did) {
  std::string text(address);
  text += address.find('?') != std::string_view::npos ? "&" : "?";
  text += "pid=" + std::to_string(pid);
  text += "&cid=";
  text += cid;
  text += "&did=";
  text += did;
  return text;
}

std::string computerIdFromGuid(std::string_view guid) {
  std::string id;
  for (char c : guid)
    if (std::isxdigit(static_cast<unsigned char>(c)))
      id += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return id;
}

std::string computerIdFromSerial(unsigned long serial) {
  char text[16];
  std::snprintf(text, sizeof text, "%012lX", serial);
  return text;
}

}  // namespace installer
