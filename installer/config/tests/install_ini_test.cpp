#include "installer/config/install_ini.h"
#include "installer/config/ini_file.h"
#include "installer/config/ini_text.h"

#include <gtest/gtest.h>

#include "testing/robot/robot.h"
#include "testing/support/test_support.h"

namespace {

using namespace installer;
using testing_support::TempDir;
using testing_support::writeFile;

class InstallIniTest : public ::testing::Test {
 protected:
  void write(const std::string& text) { writeFile(ini, text); }
  TempDir dir{"ini"};
  std::string ini = dir / "install.ini";
};

TEST_F(InstallIniTest, TextKeysGiveDefaultEmptyOrValue) {
  write("[Info]\r\nCaption=\r\nDownloadId=abc\r\n[Messages]\r\nMessageUrl1=http://localhost/x\r\n");
  EXPECT_EQ(readText(ini, keys::Caption), "");  // present but empty: not the default
  EXPECT_EQ(readText(ini, keys::DownloadId), "abc");
  EXPECT_EQ(readText(ini, keys::LimitToBroker), "");
  EXPECT_EQ(readText(ini, keys::MessageUrl1), "http://localhost/x");
  EXPECT_EQ(readText(ini, keys::WebPage3), "");
}

TEST_F(InstallIniTest, MissingFileGivesEveryDefault) {
  const std::string missing = dir / "none.ini";
  EXPECT_EQ(readText(missing, keys::Caption), "Add-on for MetaTrader 4");
  EXPECT_EQ(readInt(missing, keys::InfoId), 1000);
  EXPECT_EQ(readInt(missing, keys::VersionCheck), 0);
  EXPECT_TRUE(readKeyList(missing, sections::Install).empty());
  // No path at all (the program's path could not be formed) reads nothing.
  EXPECT_EQ(readText("", keys::Caption), "Add-on for MetaTrader 4");
  EXPECT_EQ(readInt("", keys::InfoId), 1000);
}

TEST_F(InstallIniTest, SectionAndKeyNamesIgnoreCase) {
  write("[info]\r\ncaption=Mine\r\nINFOID=0\r\n");
  EXPECT_EQ(readText(ini, keys::Caption), "Mine");
  EXPECT_EQ(readInt(ini, keys::InfoId), 0);
}

TEST_F(InstallIniTest, TextIsCutAtItsBound) {
  write("[Info]\r\nDownloadId=" + std::string(150, 'd') + "\r\nCaption=" + std::string(1500, 'c') + "\r\n");
  EXPECT_EQ(readText(ini, keys::DownloadId), std::string(98, 'd'));
  EXPECT_EQ(readText(ini, keys::Caption), std::string(999, 'c'));
}

TEST_F(InstallIniTest, IntegersAreDecimalWithDefault) {
  write("[Info]\r\nPackageId=1234\r\nHideHelp=-7\r\n[DotNet]\r\nVersionCheck=350\r\n");
  EXPECT_EQ(readInt(ini, keys::PackageId), 1234);
  EXPECT_EQ(readInt(ini, keys::HideHelp), -7);
  EXPECT_EQ(readInt(ini, keys::VersionCheck), 350);
  EXPECT_EQ(readInt(ini, keys::HideHelp2), 0);
}

TEST_F(InstallIniTest, KeyListKeepsFileOrder) {
  write(
      "[Install]\r\nz.ex4=experts\r\na.ex4=experts\\indicators,1\r\nm\\data.csv=experts\\files\r\n"
      "[Run]\r\nsetup.exe=/quiet\r\n");
  const auto names = readKeyList(ini, sections::Install);
  ASSERT_EQ(names.size(), 3u);
  EXPECT_EQ(names[0], "z.ex4");
  EXPECT_EQ(names[1], "a.ex4");
  EXPECT_EQ(names[2], "m\\data.csv");
  EXPECT_EQ(readValue(ini, sections::Install, names[1], kEntryValueBound), "experts\\indicators,1");
  EXPECT_EQ(readValue(ini, sections::Run, "setup.exe", kEntryValueBound), "/quiet");
}

TEST_F(InstallIniTest, LongKeyListLeavesOutTheNameThatDoesNotFit) {
  std::string text = "[Delete]\r\n";
  for (int i = 0; i < 400; ++i) text += "experts\\file_number_" + std::to_string(1000 + i) + ".ex4=\r\n";
  write(text);
  std::vector<std::string> names;
  const auto seen = robot::answerWhile([&] { names = readKeyList(ini, sections::Delete); },
                                       [](const robot::Dialog& d) { return robot::goOnButton(d); }, 30000);
  std::size_t total = 0;
  for (const auto& n : names) total += n.size() + 1;
  EXPECT_LT(names.size(), 400u);
  EXPECT_LE(total, 9998u);
  EXPECT_GT(total, 9900u);  // the list is filled, not stopped early
  for (std::size_t i = 0; i < names.size(); ++i)
    EXPECT_EQ(names[i], "experts\\file_number_" + std::to_string(1000 + i) + ".ex4") << "every name is whole";
  ASSERT_EQ(seen.size(), 1u) << "the cut list is reported";
  EXPECT_EQ(seen[0].caption, "Installer error");
  EXPECT_NE(seen[0].text.find("[Delete]"), std::string::npos) << seen[0].text;
  EXPECT_EQ(seen[0].style, UINT(MB_OK | MB_ICONERROR | MB_SYSTEMMODAL));

  // A list that fits shows nothing.
  write("[Delete]\r\na.ex4=\r\n");
  const auto none = robot::answerWhile([&] { names = readKeyList(ini, sections::Delete); },
                                       [](const robot::Dialog& d) { return robot::goOnButton(d); }, 30000);
  EXPECT_TRUE(none.empty());
  EXPECT_EQ(names, std::vector<std::string>{"a.ex4"});
}

}  // namespace

// The checker reads install.ini with its own parser, so that it runs off
// Windows too: it must see what the profile functions give the installer.
TEST_F(InstallIniTest, CheckersReadingAgreesWithTheProfileFunctions) {
  const struct {
    const char* ini;
    const char* section;
    const char* key;
  } cases[] = {
      {"[Info]\r\nCaption=Plain\r\n", "Info", "Caption"},
      {"[Info]\r\n  Caption  =  blanks around  \r\n", "Info", "Caption"},
      {"[Info]\r\nCaption=\"quoted words\"\r\n", "Info", "Caption"},
      {"[Info]\r\nCaption='single'\r\n", "Info", "Caption"},
      {"[Info]\r\nCaption=\"one side\r\n", "Info", "Caption"},
      {"[info]\r\ncaption=any case\r\n", "INFO", "CAPTION"},
      {"[Info]\r\nCaption=first\r\nCaption=second\r\n", "Info", "Caption"},
      {"[Info]\r\nCaption=first\r\n[Info]\r\nDownloadId=in the second\r\n", "Info", "DownloadId"},
      {"[Info]\r\n;Caption=commented\r\n", "Info", "Caption"},
      {"Caption=before any section\r\n[Info]\r\n", "Info", "Caption"},
      {"[Info]\nCaption=line feeds only\n", "Info", "Caption"},
      {"[ Info ]\r\nCaption=blank in the brackets\r\n", "Info", "Caption"},
      {"[Install]\r\na.ex4 = experts , 1\r\n", "Install", "a.ex4"},
      {"[Info]\r\nCaption=a=b\r\n", "Info", "Caption"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.ini);
    write(c.ini);
    char buffer[256] = {};
    const DWORD got = GetPrivateProfileStringA(c.section, c.key, "(missing)", buffer, sizeof buffer, ini.c_str());
    const std::string profile(buffer, got);
    const IniFile parsed = parseIni(c.ini);
    const IniEntry* entry = parsed.entry(c.section, c.key);
    EXPECT_EQ(entry ? entry->value : std::string("(missing)"), profile);
  }
}

TEST_F(InstallIniTest, CheckersKeyListsAgreeWithTheProfileFunctions) {
  const char* text = "[Install]\r\nb.ex4=experts\r\na.ex4\r\n; note\r\nsub\\c.ex4 = mql4\r\n[Run]\r\nx.exe=\r\n";
  write(text);
  const IniFile file = parseIni(text);
  const IniSection* install = file.section("install");
  ASSERT_NE(install, nullptr);
  std::vector<std::string> parsed;
  for (const auto& entry : install->entries)
    if (entry.hasEquals) parsed.push_back(entry.key);
  EXPECT_EQ(parsed.size(), 2u) << "a.ex4 has no \"=\": no key";
  std::string list(4096, '\0');
  const DWORD got = GetPrivateProfileStringA("Install", nullptr, "", list.data(), 4096, ini.c_str());
  EXPECT_EQ(splitKeyList(list.data(), got), parsed);
}
