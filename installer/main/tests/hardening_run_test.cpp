// Marvolt.exe where a package, a download folder or the registry is not what
// the installer hopes for: a planted DLL, an over-long list or path, a missing
// install.ini.
#include <gtest/gtest.h>

#include "testing/robot/marvolt_runner.h"
#include "testing/http/http_control.h"

namespace {

using marvolt_test::Package;
using testing_support::fileExists;
using testing_support::readFile;
using testing_support::TempDir;

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
  const std::string copy = testing_support::makeSampleCopy(copyDir.path());
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

// Without its install.ini a package would install nothing and call that a
// success; a package whose install.ini lists no file still succeeds.
TEST(HardeningRun, InstallIniMissingOrUnreadableIsReported) {
  const struct {
    const char* name;
    std::function<void(const Package&)> prepare;
    std::vector<std::string> captions;
    DWORD exitCode;
  } cases[] = {
      {"no install.ini", [](const Package&) {}, {"File missing from installation"}, 1},
      {"a folder named install.ini",
       [](const Package& p) { CreateDirectoryA((p / "install.ini").c_str(), nullptr); },
       {"File missing from installation"},
       1},
      {"install.ini without [Install]",
       [](const Package& p) { p.writeIni("[Info]\r\nCaption=Nothing\r\n"); },
       {"Install successful"},
       0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir copyDir{"noini"};
    const std::string copy = testing_support::makeSampleCopy(copyDir.path());
    Package package;
    c.prepare(package);
    const auto result = package.run(copy);
    EXPECT_EQ(result.exitCode, c.exitCode);
    ASSERT_EQ(result.captions(), c.captions);
    if (c.exitCode == 0) continue;
    EXPECT_EQ(result.dialogs[0].text, package / "install.ini") << "the path that was looked for";
    EXPECT_EQ(result.dialogs[0].style, UINT(MB_OK | MB_ICONERROR | MB_SYSTEMMODAL))
        << robot::styleText(result.dialogs[0].style);
    EXPECT_EQ(result.dialogs[0].owner, nullptr);
  }
}

// A [Delete] list longer than the installer reads: the name that does not
// fit would be taken cut short and delete another file of the copy.
TEST(HardeningRun, DeleteNameCutByTheListBoundIsLeftOut) {
  TempDir copyDir{"cut"};
  const std::string copy = testing_support::makeSampleCopy(copyDir.path());
  // The last name is cut where the list reaches 9,999 characters; every
  // prefix of it around that place is an existing file that must stay.
  const std::string last = "experts\\victim_abcdefgh_full.ex4";
  std::vector<std::string> prefixes;
  for (std::size_t length = 15; length <= 23; ++length) prefixes.push_back(last.substr(0, length));
  for (const auto& p : prefixes) testing_support::writeFile(copy + "\\" + p, "keep");
  std::string list;
  std::size_t used = 0;
  const std::size_t filler = 9997 - 19;  // the last name cut to 19 characters
  for (int i = 0; used + 22 + 12 <= filler; ++i) {
    const std::string name = "experts\\keep_" + std::to_string(1000 + i) + ".ex4";  // 21 characters
    list += name + "=\r\n";
    used += name.size() + 1;
  }
  const std::string pad = "experts\\" + std::string(filler - used - 1 - 8, 'p');
  list += pad + "=\r\n" + last + "=\r\n";

  Package package;
  package.addFile("a.ex4", "a");
  package.writeIni("[Delete]\r\n" + list + "[Install]\r\na.ex4=experts\r\n");
  const auto result = package.run(copy);
  EXPECT_EQ(result.exitCode, 0u);
  for (const auto& p : prefixes) EXPECT_TRUE(fileExists(copy + "\\" + p)) << p << " was deleted";
  ASSERT_EQ(result.captions(), (std::vector<std::string>{"Installer error", "Install successful"}));
  EXPECT_NE(result.dialogs[0].text.find("[Delete]"), std::string::npos) << result.dialogs[0].text;
  EXPECT_EQ(readFile(copy + "\\experts\\a.ex4"), "a") << "the rest of the package is installed";
}

// A destination path over 259 characters cannot be copied to: a failed copy
// like any other, which flag 1 lets pass.
TEST(HardeningRun, DestinationOverThePathLimitFollowsTheIgnoreFlag) {
  const struct {
    const char* flags;
    std::vector<std::string> captions;
    DWORD exitCode;
  } cases[] = {
      {",1", {"Install successful"}, 0},
      {"", {"File missing from installation", "Install failed"}, 1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string("flags \"") + c.flags + "\"");
    TempDir copyDir{"deep"};
    const std::string copy = testing_support::makeSampleCopy(copyDir.path());
    const std::string folder = "experts\\" + std::string(300 - copy.size(), 'd');
    Package package;
    package.addFile("deep.ex4", "deep");
    package.addFile("after.ex4", "after");
    package.writeIni("[Install]\r\ndeep.ex4=" + folder + c.flags + "\r\nafter.ex4=experts\r\n");
    const auto result = package.run(copy);
    EXPECT_EQ(result.exitCode, c.exitCode);
    EXPECT_EQ(result.captions(), c.captions);
    EXPECT_EQ(readFile(copy + "\\experts\\after.ex4"), "after") << "later entries are still copied";
  }
}

}  // namespace
