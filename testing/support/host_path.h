#pragma once
// A path known at build time, in the form the test program sees it: a
// Windows program under Wine reaches this machine's files on drive Z:; a
// program of the host build takes the path as it is.
#include <string>

namespace testing_support {

inline std::string hostPath(std::string path) {
#ifdef _WIN32
  if (!path.empty() && path[0] == '/') {
    path = "Z:" + path;
    for (char& c : path)
      if (c == '/') c = '\\';
  }
#endif
  return path;
}

}  // namespace testing_support
