// The copy into a system folder as a 32-bit installer on 64-bit Windows does
// it: with file system redirection off for that copy only.
#include "installer/install/install_copy.h"

#include <gtest/gtest.h>

#include "testing/support/test_support.h"

namespace {

using testing_support::fileExists;
using testing_support::TempDir;

std::string folderOf(UINT(WINAPI* query)(LPSTR, UINT)) {
  char folder[MAX_PATH] = {};
  query(folder, MAX_PATH);
  return std::string(folder) + "\\";
}

// Afterwards the thread sees the system folder of its own bitness again: the
// shell, the folder browser and the programs the installer starts must not
// be sent to the 64-bit one.
TEST(InstallIntoCopy, Wow64RedirectionIsOffForTheSystemFolderCopyOnly) {
  if (!testing_support::isWow64Process())
    GTEST_SKIP() << "only a 32-bit program on 64-bit Windows has file system redirection";
  char program[MAX_PATH] = {};
  GetModuleFileNameA(nullptr, program, MAX_PATH);
  const std::string source = std::string(program).substr(0, std::string(program).rfind('\\') + 1);
  const std::string name = "s64_" + std::to_string(GetCurrentProcessId()) + "_" + std::to_string(GetTickCount());
  TempDir dir{"s64"};
  testing_support::RemovedAtEnd removed;
  removed.add(source + name);
  testing_support::writeFile(source + name, "64-bit bytes");
  const std::string native = folderOf(GetSystemDirectoryA) + name;
  struct RemovedFromTheNativeFolder {
    const std::string& path;
    ~RemovedFromTheNativeFolder() {
      testing_support::Wow64RedirectionOff nativePaths;
      DeleteFileA(path.c_str());
    }
  } nativeRemoved{native};
  testing_support::writeFile(dir / "install.ini", "[Install]\r\n" + name + "=system64\r\n");

  ASSERT_TRUE(installer::installIntoCopy(dir / "install.ini", dir.path(), false, nullptr));
  EXPECT_FALSE(fileExists(native)) << "the thread still sees the 64-bit system folder";
  EXPECT_FALSE(fileExists(folderOf(GetSystemWow64DirectoryA) + name)) << "the file went to the 32-bit folder";
  testing_support::Wow64RedirectionOff nativePaths;
  ASSERT_TRUE(nativePaths.active()) << GetLastError();
  EXPECT_TRUE(fileExists(native)) << "the file is not in the 64-bit system folder";
}

}  // namespace
