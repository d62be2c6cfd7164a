// marvolt-check PACKAGE_FOLDER: reports what in a package would go wrong on
// a user's machine, one line each, as a compiler does.
#include <cstdio>
#include <string>

#include "installer/check/package_check.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: marvolt-check PACKAGE_FOLDER\n");
    return 2;
  }
  std::string folder = argv[1];
  const installer::PackageCheck check = installer::checkPackage(folder);
  if (!check.readable) {
    std::fprintf(stderr, "marvolt-check: %s\n", check.problem.c_str());
    return installer::checkExitCode(check);
  }
  while (folder.size() > 1 && (folder.back() == '/' || folder.back() == '\\')) folder.pop_back();
#ifdef _WIN32
  const std::string file = folder + "\\install.ini";
#else
  const std::string file = folder + "/install.ini";
#endif
  for (const auto& finding : check.findings) std::printf("%s\n", installer::formatFinding(file, finding).c_str());
  return installer::checkExitCode(check);
}
