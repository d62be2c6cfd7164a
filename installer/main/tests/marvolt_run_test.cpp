// The real Marvolt.exe, copied into a package folder of its own and answered
// by the robot as a person would.
#include <gtest/gtest.h>

#include "installer/main/dotnet_check.h"
#include "testing/robot/marvolt_runner.h"
#include "testing/robot/robot.h"
#include "testing/support/test_support.h"

namespace {

using testing_support::TempDir;
using testing_support::writeFile;

class MarvoltRunTest : public ::testing::Test {
 protected:
  marvolt_test::MarvoltRun run(const std::string& commandLine,
                               const std::function<std::string(const robot::Dialog&)>& answer) {
    return package.run(commandLine, answer);
  }
  marvolt_test::Package package;
};

std::string answerDotNet(const robot::Dialog& d, const char* button) {
  return d.caption == ".NET Framework" ? button : marvolt_test::goOnOrClose(d);
}

// The .NET question of a run without the required version's key: its text
// and style, and the answer deciding whether the run goes on.
TEST_F(MarvoltRunTest, MissingDotNetIsAskedAndTheAnswerDecides) {
  const struct {
    const char* button;
    const char* ini;
    const char* version;
    bool onlyTheQuestion;
  } cases[] = {
      {"No", "[DotNet]\r\nVersionCheck=350\r\n", "requires version 3.50 of the Microsoft .NET Framework", true},
      {"Yes", "[DotNet]\r\nVersionCheck=400\r\n", "requires version 4.00 of the Microsoft .NET Framework", false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string("answer ") + c.button);
    writeFile(package / "install.ini", c.ini);
    const auto result = run("", [&](const robot::Dialog& d) { return answerDotNet(d, c.button); });
    // No ends the run; after Yes the install dialog is closed: both the user's end.
    EXPECT_EQ(result.exitCode, 2u);
    ASSERT_FALSE(result.dialogs.empty());
    if (c.onlyTheQuestion) {
      EXPECT_EQ(result.dialogs.size(), 1u) << "nothing but the question is shown";
    }
    const auto& question = result.dialogs[0];
    EXPECT_EQ(question.caption, ".NET Framework");
    EXPECT_NE(question.text.find(c.version), std::string::npos) << question.text;
    EXPECT_NE(question.text.find("\r\n\r\nContinue anyway?"), std::string::npos) << question.text;
    EXPECT_EQ(question.style, UINT(MB_YESNO | MB_ICONQUESTION | MB_SYSTEMMODAL)) << robot::styleText(question.style);
  }
}

TEST_F(MarvoltRunTest, NoQuestionWithoutARequiredVersion) {
  for (const char* ini :
       {"[DotNet]\r\nVersionCheck=250\r\n", "[DotNet]\r\nVersionCheck=0\r\n", "[Info]\r\nCaption=x\r\n"}) {
    SCOPED_TRACE(ini);
    writeFile(package / "install.ini", ini);
    const auto result = run("", marvolt_test::goOnOrClose);
    EXPECT_EQ(result.exitCode, 2u) << ini << ": the install dialog was closed";
    for (const auto& d : result.dialogs) EXPECT_NE(d.caption, ".NET Framework") << ini;
  }
}

TEST_F(MarvoltRunTest, MissingInstallIniEndsTheRunWithItsPath) {
  const auto result = run("", marvolt_test::goOnOrClose);
  EXPECT_EQ(result.exitCode, 1u);
  ASSERT_EQ(result.captions(), std::vector<std::string>{"File missing from installation"});
  EXPECT_EQ(result.dialogs[0].text, package / "install.ini");
}

TEST_F(MarvoltRunTest, RegistrationSwitchEndsWithExitCodeZero) {
  writeFile(package / "install.ini", "[Info]\r\n");
  const auto result = run("/RegServer", marvolt_test::goOnOrClose);
  EXPECT_EQ(result.exitCode, 0u);
  // The switch is no copy folder: the install dialog comes first, and closing
  // it shows nothing more.
  EXPECT_EQ(result.captions(), std::vector<std::string>{"Add-on for MetaTrader 4"});
}

// The prerequisite check itself, where the registry state is the test's own.
class DotNetKeyTest : public ::testing::Test {
 protected:
  static constexpr const char* kKey = "SOFTWARE\\Microsoft\\NET Framework Setup\\NDP\\v3.5";
  void TearDown() override { RegDeleteKeyA(HKEY_LOCAL_MACHINE, kKey); }
  TempDir dir{"net"};
  std::string ini = dir / "install.ini";
};

TEST_F(DotNetKeyTest, PresentKeyAsksNothing) {
  writeFile(ini, "[DotNet]\r\nVersionCheck=350\r\n");
  HKEY key = nullptr;
  ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, kKey, 0, nullptr, 0, KEY_WRITE, nullptr, &key, nullptr), ERROR_SUCCESS);
  RegCloseKey(key);
  bool goOn = false;
  const auto seen = robot::answerWhile([&] { goOn = installer::checkDotNetPrerequisite(ini); },
                                       [](const robot::Dialog&) { return "No"; }, 30000);
  EXPECT_TRUE(seen.empty());
  EXPECT_TRUE(goOn);
}

TEST_F(DotNetKeyTest, MissingKeyTheAnswerDecides) {
  writeFile(ini, "[DotNet]\r\nVersionCheck=350\r\n");
  for (const char* button : {"Yes", "No"}) {
    bool goOn = false;
    const auto seen = robot::answerWhile([&] { goOn = installer::checkDotNetPrerequisite(ini); },
                                         [&](const robot::Dialog&) { return button; }, 30000);
    ASSERT_EQ(seen.size(), 1u) << button;
    EXPECT_EQ(seen[0].caption, ".NET Framework");
    EXPECT_EQ(goOn, std::string(button) == "Yes") << button;
  }
}

TEST(DotNetCheck, VersionsAndTheirKeys) {
  const struct {
    int version;
    const char* key;
  } cases[] = {{200, "v2.0.50727"}, {300, "v3.0"},  {350, "v3.5"},   {400, "v4"},
               {0, nullptr},        {250, nullptr}, {-350, nullptr}, {450, nullptr}};
  for (const auto& c : cases) {
    const char* key = installer::dotNetKeyName(c.version);
    if (c.key)
      EXPECT_STREQ(key, c.key) << c.version;
    else
      EXPECT_EQ(key, nullptr) << c.version;
  }
  EXPECT_NE(installer::dotNetQuestion(200).find("version 2.00 of"), std::string::npos);
}

}  // namespace
