// The COM server start-up at the end of a run: the registration switches of
// the real Marvolt.exe, the entries they write and remove, and the page
// object served to a client in another process.
#include <gtest/gtest.h>
#include <ole2.h>
#include <tlhelp32.h>

#include <algorithm>

#include "installer/main/com_server.h"
#include "testing/robot/marvolt_runner.h"
#include "installer/web/marvolt_lib.h"
#include "installer/web/tests/page_script.h"
#include "terminal/win_handles.h"
#include "testing/recorder/shell_open.h"
#include "terminal/path_text.h"

namespace {

using installer::ComServerSwitch;
using installer::findComServerSwitch;
using marvolt_test::Package;

TEST(ComServerSwitch, WholeWordsAfterSlashOrDash) {
  const struct {
    const char* commandLine;
    ComServerSwitch expected;
  } cases[] = {
      {"/RegServer", ComServerSwitch::RegServer},
      {"-regserver", ComServerSwitch::RegServer},
      {"/REGSERVER ", ComServerSwitch::RegServer},
      {"\"C:\\Program Files\\MT4\" /RegServer", ComServerSwitch::RegServer},
      {"-UnregServer", ComServerSwitch::UnregServer},
      {"/RegServerPerUser", ComServerSwitch::RegServerPerUser},
      {"-unregserverperuser", ComServerSwitch::UnregServerPerUser},
      {"-Embedding", ComServerSwitch::Embedding},
      {"/Embedding", ComServerSwitch::Embedding},
      {"", ComServerSwitch::None},
      {"-", ComServerSwitch::None},
      {"C:\\MT4-RegServer-old", ComServerSwitch::None},
      {"C:\\MT4-RegServer", ComServerSwitch::None},
      {"C:\\Brokers/UnregServer", ComServerSwitch::None},
      {"C:\\MT4 -RegServer-old", ComServerSwitch::None},
      {"/RegServerX", ComServerSwitch::None},
      {"/Reg Server", ComServerSwitch::None},
      {"C:\\MetaTrader -Embeddings", ComServerSwitch::None},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.commandLine);
    EXPECT_EQ(findComServerSwitch(c.commandLine), c.expected);
  }
}

constexpr const char* kClassKey = "CLSID\\{04B3AE66-673B-4A88-AEB3-F724ECF6F20B}";
constexpr const char* kTypeLibKey = "TypeLib\\{4E743D78-BB8A-478A-A12F-75EF0FFD6533}";
constexpr const char* kInterfaceKey = "Interface\\{4C5B71FB-BC91-4F29-9EAC-D65F191ACE70}";
constexpr const char* kAppIdKey = "AppID\\{165E29A7-06B0-4F10-ABE4-1E12CD756875}";

// A value of a key below `root`; null when the key or value is missing.
std::optional<std::string> readValue(HKEY root, const std::string& key, const char* name = nullptr) {
  char value[2048] = {};
  DWORD size = sizeof value - 1;
  if (RegGetValueA(root, key.c_str(), name, RRF_RT_REG_SZ, nullptr, value, &size) != ERROR_SUCCESS) return std::nullopt;
  return std::string(value);
}

bool keyExists(HKEY root, const std::string& key) {
  terminal::UniqueKey opened;
  return RegOpenKeyExA(root, key.c_str(), 0, KEY_READ, opened.put()) == ERROR_SUCCESS;
}

// Processes running the program at `path`.
int processesOf(const std::string& path) {
  int count = 0;
  terminal::UniqueFile snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
  PROCESSENTRY32 entry = {};
  entry.dwSize = sizeof entry;
  for (BOOL more = Process32First(snapshot.get(), &entry); more; more = Process32Next(snapshot.get(), &entry)) {
    terminal::UniqueHandle process(OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, entry.th32ProcessID));
    char image[MAX_PATH] = {};
    DWORD size = MAX_PATH;
    if (process && QueryFullProcessImageNameA(process.get(), 0, image, &size) && lstrcmpiA(image, path.c_str()) == 0)
      ++count;
  }
  return count;
}

class ComRegistrationTest : public ::testing::Test {
 protected:
  // A package without install.ini ends its run before the switch is reached.
  void SetUp() override {
    removeRegistration();  // each test starts from a machine without the class
    package.writeIni("[Info]\r\n");
  }
  void TearDown() override {
    removeRegistration();  // whatever a failed test left behind
    RegCloseKey(userClasses_);
  }
  // The classes root shows the user's keys over the machine's: a key in both
  // is gone from it only once it is gone from both.
  void removeRegistration() {
    HKEY machineClasses = nullptr;
    RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Software\\Classes", 0, KEY_ALL_ACCESS, &machineClasses);
    for (HKEY root : {userClasses(), machineClasses, HKEY_CLASSES_ROOT})
      for (const char* key : {kClassKey, "Marvolt.WBCustomizer", "Marvolt.WBCustomizer.1", kAppIdKey,
                              "AppID\\Marvolt.exe", kTypeLibKey, kInterfaceKey})
        if (root) RegDeleteTreeA(root, key);
    if (machineClasses) RegCloseKey(machineClasses);
  }
  HKEY userClasses() {
    if (!userClasses_) RegCreateKeyA(HKEY_CURRENT_USER, "Software\\Classes", &userClasses_);
    return userClasses_;
  }
  void expectRegistered(HKEY root) {
    EXPECT_EQ(readValue(root, kClassKey), "WBCustomizer Class");
    const auto server = readValue(root, std::string(kClassKey) + "\\LocalServer32");
    ASSERT_TRUE(server.has_value());
    EXPECT_EQ(terminal::asciiLower(*server), terminal::asciiLower("\"" + package.exe() + "\""))
        << "the program's own path";
    EXPECT_EQ(readValue(root, std::string(kClassKey) + "\\ProgID"), "Marvolt.WBCustomizer.1");
    EXPECT_EQ(readValue(root, std::string(kClassKey) + "\\VersionIndependentProgID"), "Marvolt.WBCustomizer");
    EXPECT_EQ(readValue(root, std::string(kClassKey) + "\\TypeLib"), "{4E743D78-BB8A-478A-A12F-75EF0FFD6533}");
    EXPECT_EQ(readValue(root, kClassKey, "AppID"), "{165E29A7-06B0-4F10-ABE4-1E12CD756875}");
    EXPECT_EQ(readValue(root, "Marvolt.WBCustomizer\\CLSID"), "{04B3AE66-673B-4A88-AEB3-F724ECF6F20B}");
    EXPECT_EQ(readValue(root, "Marvolt.WBCustomizer\\CurVer"), "Marvolt.WBCustomizer.1");
    EXPECT_EQ(readValue(root, "Marvolt.WBCustomizer.1\\CLSID"), "{04B3AE66-673B-4A88-AEB3-F724ECF6F20B}");
    EXPECT_EQ(readValue(root, kAppIdKey), "Marvolt");
    EXPECT_EQ(readValue(root, "AppID\\Marvolt.exe", "AppID"), "{165E29A7-06B0-4F10-ABE4-1E12CD756875}");
  }
  void expectTypeLibraryRegistered() {
    EXPECT_EQ(readValue(HKEY_CLASSES_ROOT, std::string(kTypeLibKey) + "\\1.0"), "Marvolt 1.0 Type Library");
    EXPECT_TRUE(keyExists(HKEY_CLASSES_ROOT, kInterfaceKey)) << "IWBCustomizer marshalled by its type library";
  }
  void expectNothingRegistered(HKEY root) {
    for (const char* key : {kClassKey, "Marvolt.WBCustomizer", "Marvolt.WBCustomizer.1", kAppIdKey,
                            "AppID\\Marvolt.exe", kTypeLibKey, kInterfaceKey})
      EXPECT_FALSE(keyExists(root, key)) << key;
  }
  // The switch is acted on at the end of an installer run; a window the run
  // shows on the way (an install dialog with nothing to choose) is closed.
  DWORD run(const std::string& commandLine) {
    const auto result = package.run(commandLine, [](const robot::Dialog& d) {
      PostMessageW(d.window, WM_CLOSE, 0, 0);
      return std::string();
    });
    return result.exitCode;
  }
  Package package;
  HKEY userClasses_ = nullptr;
};

TEST_F(ComRegistrationTest, RegServerThenUnregServer) {
  ASSERT_EQ(run("/RegServer"), 0u);
  expectRegistered(HKEY_CLASSES_ROOT);
  expectTypeLibraryRegistered();
  ASSERT_EQ(run("/UnregServer"), 0u);
  expectNothingRegistered(HKEY_CLASSES_ROOT);
  EXPECT_EQ(run("/UnregServer"), 0u) << "withdrawing twice is no failure";
}

TEST_F(ComRegistrationTest, DashAndAnyCaseAreTheSameSwitch) {
  ASSERT_EQ(run("-regserver"), 0u);
  expectRegistered(HKEY_CLASSES_ROOT);
  ASSERT_EQ(run("-UNREGSERVER"), 0u);
  expectNothingRegistered(HKEY_CLASSES_ROOT);
}

TEST_F(ComRegistrationTest, PerUserSwitchesUseTheUsersClasses) {
  ASSERT_EQ(run("/RegServerPerUser"), 0u);
  expectRegistered(userClasses());
  EXPECT_FALSE(keyExists(HKEY_LOCAL_MACHINE, std::string("Software\\Classes\\") + kClassKey)) << "nothing machine-wide";
  ASSERT_EQ(run("/UnregServerPerUser"), 0u);
  expectNothingRegistered(userClasses());
}

// CoCreateInstance starts the registered program with "-Embedding", which
// serves the page object without installing anything; its methods answer
// across the process boundary, by name and through the interface.
TEST_F(ComRegistrationTest, ClientInAnotherProcessGetsThePageObject) {
  ASSERT_EQ(run("/RegServer"), 0u);
  // The run started by COM must write nothing into the package; the check at
  // the end looks for an install.ini there.
  ASSERT_TRUE(DeleteFileA((package / "install.ini").c_str())) << GetLastError();
  test_terminal::ShellOpenRecorder browser;
  OleInitialize(nullptr);
  {
    CLSID classId = {};
    ASSERT_EQ(CLSIDFromProgID(L"Marvolt.WBCustomizer", &classId), S_OK);
    EXPECT_EQ(classId, CLSID_WBCustomizer);
    terminal::ComPtr<IDispatch> object;
    const HRESULT created =
        CoCreateInstance(classId, nullptr, CLSCTX_LOCAL_SERVER, IID_IDispatch, reinterpret_cast<void**>(object.put()));
    ASSERT_EQ(created, S_OK) << std::hex << created;
    EXPECT_EQ(processesOf(package.exe()), 1) << "served by the registered program";
    VARIANT result;
    VariantInit(&result);
    ASSERT_EQ(
        page_test::callByName(object.get(), L"OpenURL", {page_test::Argument(L"https://localhost/by-name")}, &result),
        S_OK);
    EXPECT_EQ(result.lVal, 1);
    terminal::ComPtr<IWBCustomizer> customizer;
    ASSERT_EQ(object->QueryInterface(IID_IWBCustomizer, reinterpret_cast<void**>(customizer.put())), S_OK);
    LONG opened = 0;
    BSTR url = SysAllocString(L"https://localhost/by-interface");
    EXPECT_EQ(customizer->OpenURL(url, &opened), S_OK);
    SysFreeString(url);
    EXPECT_EQ(opened, 1);
  }
  OleUninitialize();
  EXPECT_TRUE(testing_support::waitUntil([&] { return processesOf(package.exe()) == 0; }, 15000))
      << "the server ends when its last object is released";
  std::vector<std::string> seen;
  testing_support::waitUntil([&] { return (seen = browser.opened()).size() >= 2; }, 15000);
  std::sort(seen.begin(), seen.end());  // two browsers start at once
  EXPECT_EQ(seen, (std::vector<std::string>{"https://localhost/by-interface", "https://localhost/by-name"}));
  EXPECT_FALSE(testing_support::fileExists(package / "install.ini")) << "untouched package";
}

// A folder whose name merely contains a switch is a folder: the run installs
// into it and registers nothing.
TEST_F(ComRegistrationTest, FolderNamedLikeASwitchIsNoSwitch) {
  testing_support::TempDir parent{"sw"};
  const std::string copy = parent / "MT4-RegServer-old";
  testing_support::makeFolders(copy + "\\experts");
  testing_support::writeFile(copy + "\\terminal.exe", "MZ");
  package.addFile("a.ex4", "a");
  package.writeIni("[Install]\r\na.ex4=experts\r\n");
  const auto result = package.run(copy, robot::goOnButton);
  EXPECT_EQ(result.exitCode, 0u);
  EXPECT_EQ(result.captions(), std::vector<std::string>{"Install successful"});
  EXPECT_TRUE(testing_support::fileExists(copy + "\\experts\\a.ex4"));
  expectNothingRegistered(HKEY_CLASSES_ROOT);
}

}  // namespace
