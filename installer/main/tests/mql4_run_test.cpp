// The mql4 destination through a real run: the MQL4 folder of a copy in
// portable mode, of a copy whose data folder its origin.txt names, and of a
// copy never started, whose data folder the installer makes.
#include <gtest/gtest.h>

#include <shlobj.h>

#include "installer/install/install_rules.h"
#include "testing/robot/marvolt_runner.h"
#include "testing/support/test_support.h"

namespace {

using marvolt_test::Package;
using testing_support::fileExists;
using testing_support::readFile;
using testing_support::TempDir;

std::string terminalsFolder() {
  char appData[MAX_PATH] = {};
  EXPECT_TRUE(SUCCEEDED(SHGetFolderPathA(nullptr, CSIDL_APPDATA, nullptr, SHGFP_TYPE_CURRENT, appData)));
  return std::string(appData) + "\\MetaQuotes\\Terminal";
}

std::u16string wide(const std::string& ascii) { return std::u16string(ascii.begin(), ascii.end()); }

std::string utf16File(const std::string& text) {
  std::string bytes = "\xFF\xFE";
  for (char c : text) {
    bytes += c;
    bytes += '\0';
  }
  return bytes;
}

// The data folder the terminal would make for a copy never started.
std::string ruleFolder(const std::string& copy) {
  std::string upper = copy;
  CharUpperBuffA(upper.data(), static_cast<DWORD>(upper.size()));
  return terminalsFolder() + "\\" + installer::dataFolderName(wide(upper));
}

TEST(Mql4Run, ExpertsGoWhereTheTerminalReadsThem) {
  const struct {
    const char* name;
    // Makes the copy's state; returns the MQL4 folder the file must reach.
    std::function<std::string(const std::string& copy, testing_support::RemovedAtEnd&)> arrange;
  } cases[] = {
      {"portable copy",
       [](const std::string& copy, testing_support::RemovedAtEnd&) {
         testing_support::makeFolders(copy + "\\MQL4");
         return copy + "\\MQL4";
       }},
      {"data folder found by its origin.txt",
       [](const std::string& copy, testing_support::RemovedAtEnd& outside) {
         // A name the rule would never give: only origin.txt ties it to the copy.
         const std::string data = outside.add(terminalsFolder() + "\\00000000000000000000000000ABCDEF");
         testing_support::makeFolders(data + "\\MQL4\\Experts");
         std::string named = copy + "\\";
         CharLowerBuffA(named.data(), static_cast<DWORD>(named.size()));
         testing_support::writeFile(data + "\\origin.txt", utf16File(named + "\r\n"));
         outside.add(ruleFolder(copy));
         return data + "\\MQL4";
       }},
      {"copy never started",
       [](const std::string& copy, testing_support::RemovedAtEnd& outside) {
         return outside.add(ruleFolder(copy)) + "\\MQL4";
       }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir copyDir{"mq4"};
    const std::string copy = testing_support::makeSampleCopy(copyDir / "Terminal");
    testing_support::RemovedAtEnd outside;
    const std::string mql4 = c.arrange(copy, outside);
    Package package;
    package.addFile("Alpha.ex4", "alpha");
    package.addFile("levels.csv", "1.1");
    package.writeIni("[Install]\r\nAlpha.ex4=mql4\\Experts\r\nlevels.csv=MQL4\\Files\\Alpha\\levels\r\n");
    const auto result = package.run(copy);
    EXPECT_EQ(result.exitCode, 0u);
    EXPECT_EQ(result.captions(), std::vector<std::string>{"Install successful"});
    EXPECT_EQ(readFile(mql4 + "\\Experts\\Alpha.ex4"), "alpha");
    EXPECT_EQ(readFile(mql4 + "\\Files\\Alpha\\levels\\levels.csv"), "1.1") << "every missing level is made";
    if (mql4 != copy + "\\MQL4") {
      EXPECT_FALSE(fileExists(copy + "\\MQL4")) << "a copy with a data folder got an MQL4 folder of its own";
    }
    if (std::string(c.name) == "data folder found by its origin.txt") {
      EXPECT_FALSE(fileExists(ruleFolder(copy))) << "a second data folder was made beside the one origin.txt names";
    }
    if (std::string(c.name) == "copy never started") {
      // The made folder carries the origin.txt a terminal writes, naming the copy.
      const std::u16string origin = installer::originFolder(readFile(ruleFolder(copy) + "\\origin.txt"));
      EXPECT_EQ(origin, wide(copy));
      std::string upper(origin.begin(), origin.end());
      CharUpperBuffA(upper.data(), static_cast<DWORD>(upper.size()));
      EXPECT_EQ(ruleFolder(copy), terminalsFolder() + "\\" + installer::dataFolderName(wide(upper)))
          << "the folder's name is the MD5 of the path its origin.txt gives";
    }
  }
}

}  // namespace
