#pragma once
#include <string>
#include <string_view>

namespace installer {

// The address with "?" (or "&" when it has a query already) and
// "pid=%i&cid=%s&did=%s" after it; did is sent as it stands.
std::string withQuerySuffix(std::string_view address, int pid, std::string_view cid, std::string_view did);

// A computer identifier from the machine GUID's text: its hexadecimal digits,
// upper case, in order. Empty when the text has none.
std::string computerIdFromGuid(std::string_view guid);

// The fallback: the system volume's serial number as 12 hexadecimal digits.
std::string computerIdFromSerial(unsigned long serial);

}  // namespace installer
