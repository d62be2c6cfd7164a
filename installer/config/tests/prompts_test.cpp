#include "installer/config/prompts.h"

#include <gtest/gtest.h>

#include "testing/robot/robot.h"
#include "testing/support/test_support.h"

namespace {

using namespace installer;
using testing_support::TempDir;
using testing_support::writeFile;

class PromptTest : public ::testing::Test {
 protected:
  void write(const std::string& text) { writeFile(ini, "[Text]\r\n" + text); }
  TempDir dir{"prompt"};
  std::string ini = dir / "install.ini";
};

TEST_F(PromptTest, EveryPromptHasItsDefaultWhenTheFileIsMissing) {
  const struct {
    Prompt prompt;
    const char* text;
    const char* caption;
  } cases[] = {
      {prompts::Success,
       "The software has been successfully installed.\r\n\r\nActive copies of MetaTrader may need "
       "to be restarted for the changes to appear in the Navigator.",
       "Install successful"},
      {prompts::Error, "Installation of the software was not successful.", "Install failed"},
      {prompts::NotMT4,
       "The selected folder is not the root directory of a copy of MetaTrader 4 (containing the "
       "terminal.exe application).",
       "Not MT4"},
      {prompts::MustSelect, "Please select one or more copies of MT4 from the list", "Select copy of MT4"},
      {prompts::Err1Display, "Unable to display the terms and conditions", "Installer error"},
      {prompts::Err1Load, "Unable to load the terms and conditions", "Installer error"},
      {prompts::Err2, "Unable to load the terms and conditions", "Installer error"},
      {prompts::Err3, "Unable to establish the download location for the copy of MetaTrader 4", "Installer error"},
      {prompts::Err4, "Unable to download the installer for MetaTrader 4", "Installer error"},
      {prompts::Err5, "Unable to run the installer for MetaTrader 4", "Installer error"},
      {prompts::Aborted, "Installation aborted", "Installation aborted"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(readPrompt(ini, c.prompt.textKey, c.prompt.defaultText), c.text) << c.prompt.textKey;
    EXPECT_EQ(readPrompt(ini, c.prompt.captionKey, c.prompt.defaultCaption), c.caption) << c.prompt.captionKey;
  }
  EXPECT_EQ(readPrompt(ini, prompts::InUse.textKey, prompts::InUse.defaultText),
            "File install failed. Please check that this copy of MetaTrader is NOT currently "
            "running.\r\n\r\nFiles cannot be updated if they are currently in use by MetaTrader.");
  EXPECT_EQ(readPrompt(ini, labels::DialogText4.key, labels::DialogText4.defaultText), "Install");
}

TEST_F(PromptTest, PresentEmptyMissingAndTilde) {
  write("Success=\r\nError=First line~Second line\r\nNotMT4Caption=Mine\r\n");
  EXPECT_EQ(readPrompt(ini, "Success", prompts::Success.defaultText), "");
  EXPECT_EQ(readPrompt(ini, "SuccessCaption", "Install successful"), "Install successful");
  EXPECT_EQ(readPrompt(ini, "Error", prompts::Error.defaultText), "First line\rSecond line");
  EXPECT_EQ(readPrompt(ini, "NotMT4Caption", "Not MT4"), "Mine");
  EXPECT_EQ(readPrompt(ini, "Missing", ""), "");
}

TEST_F(PromptTest, LongValueIsCutAt1998Characters) {
  write("Error=" + std::string(3000, 'e') + "\r\nErrorCaption=" + std::string(1999, 'c') + "\r\n");
  EXPECT_EQ(readPrompt(ini, "Error", ""), std::string(1998, 'e'));
  EXPECT_EQ(readPrompt(ini, "ErrorCaption", ""), std::string(1998, 'c'));
  const std::string longDefault(2500, 'd');
  EXPECT_EQ(readPrompt(dir / "none.ini", "Error", longDefault.c_str()), std::string(1998, 'd'));
}

TEST_F(PromptTest, MessageShowsTextCaptionAndStyle) {
  write("Error=Two~lines\r\nErrorCaption=Broken\r\n");
  int answer = -1;
  const auto seen =
      robot::answerWhile([&] { answer = showPrompt(ini, nullptr, prompts::Error, MB_ICONERROR | MB_SYSTEMMODAL); },
                         [](const robot::Dialog&) { return "OK"; }, 30000);
  ASSERT_EQ(seen.size(), 1u);
  EXPECT_EQ(seen[0].caption, "Broken");
  EXPECT_EQ(seen[0].text, "Two\rlines");
  EXPECT_EQ(seen[0].style, UINT(MB_OK | MB_ICONERROR | MB_SYSTEMMODAL)) << robot::styleText(seen[0].style);
  EXPECT_EQ(answer, IDOK);
}

TEST_F(PromptTest, EmptyTextOrCaptionShowsNothing) {
  const char* files[] = {"Success=\r\n", "SuccessCaption=\r\n", "Success=\r\nSuccessCaption=\r\n"};
  for (const char* file : files) {
    write(file);
    int answer = -1;
    const auto seen = robot::answerWhile([&] { answer = showPrompt(ini, nullptr, prompts::Success, MB_OK); },
                                         [](const robot::Dialog&) { return "OK"; }, 30000);
    EXPECT_TRUE(seen.empty()) << file;
    EXPECT_EQ(answer, 0) << file;
  }
  EXPECT_EQ(showPromptMessage(nullptr, "text", "", MB_OK), 0);
  EXPECT_EQ(showPromptMessage(nullptr, "", "caption", MB_OK), 0);
}

}  // namespace
