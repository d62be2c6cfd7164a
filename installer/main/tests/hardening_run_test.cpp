// Marvolt.exe where a package, a download folder or the registry is not what
// the installer hopes for: a planted DLL, an over-long list or path, a missing
// install.ini.
#include <gtest/gtest.h>

#include "installer/main/tests/marvolt_runner.h"
#include "testing/http/http_control.h"

namespace {

using marvolt_test::Package;
using testing_support::fileExists;
using testing_support::readFile;
using testing_support::TempDir;

std::string makeCopy(const std::string& root) {
  testing_support::makeFolders(root + "\\experts");
  testing_support::makeFolders(root + "\\config");
  return root;
}

// A load order of Wine's for one program and one DLL, while the object lives.
class WineDllOverride {
 public:
  WineDllOverride(const std::string& program, const std::string& dll, const std::string& order)
      : key_("Software\\Wine\\AppDefaults\\" + program + "\\DllOverrides"), dll_(dll) {
    HKEY key = nullptr;
    EXPECT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, key_.c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key, nullptr),
              ERROR_SUCCESS);
    if (!key) return;
    RegSetValueExA(key, dll.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(order.c_str()),
                   static_cast<DWORD>(order.size() + 1));
    RegCloseKey(key);
  }
  ~WineDllOverride() { RegDeleteKeyValueA(HKEY_CURRENT_USER, key_.c_str(), dll_.c_str()); }
  WineDllOverride(const WineDllOverride&) = delete;
  WineDllOverride& operator=(const WineDllOverride&) = delete;

 private:
  std::string key_, dll_;
};

// The program runs elevated from a download folder: a winhttp.dll beside it
// must never run, while the notifications still go out through the real one.
TEST(HardeningRun, WinHttpPlantedBesideTheProgramIsNeverLoaded) {
  const std::string prefix = test_http::uniquePrefix();
  TempDir copyDir{"plant"};
  const std::string copy = makeCopy(copyDir.path());
  Package package;
  const std::string planted = package / "winhttp.dll";
  ASSERT_TRUE(CopyFileA(testing_support::hostPath(PLANTED_WINHTTP).c_str(), planted.c_str(), FALSE))
      << "cannot plant " << PLANTED_WINHTTP << ": " << GetLastError();
  package.addFile("a.ex4", "a");
  package.writeIni("[Install]\r\na.ex4=experts\r\n[Messages]\r\nMessageUrl3=http://localhost" + prefix + "done\r\n");

  // Windows takes a DLL found on the search path before anything else; Wine
  // prefers its own built-in winhttp unless told, for this program, to take
  // a native one first as Windows would.
  WineDllOverride nativeFirst("Marvolt.exe", "winhttp", "native,builtin");
  const auto result = package.run(copy);
  EXPECT_EQ(result.exitCode, 0u);
  EXPECT_EQ(result.captions(), std::vector<std::string>{"Install successful"});
  EXPECT_FALSE(fileExists(planted + ".loaded")) << "the planted winhttp.dll ran inside the installer";
  EXPECT_EQ(test_http::requests(prefix).size(), 1u) << "the notification went through the system's WinHTTP";
}

}  // namespace
