// The install dialog of a real Marvolt.exe started with no command line, as a
// double click starts it; the robot is the person at the dialog.
#include <windows.h>
#include <commctrl.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

#include "testing/robot/marvolt_runner.h"
#include "installer/ui/maker_site.h"
#include "installer/ui/resource.h"
#include "testing/http/http_control.h"
#include "testing/recorder/shell_open.h"
#include "testing/support/registry_entries.h"
#include "testing/terminal/test_terminal.h"
#include "terminal/path_text.h"

namespace {

using marvolt_test::MarvoltRun;
using marvolt_test::Package;
using testing_support::fileExists;
using testing_support::readFile;
using testing_support::RegistryEntries;
using testing_support::TempDir;
using testing_support::waitUntil;

constexpr const char* kDefaultCaption = "Add-on for MetaTrader 4";
constexpr const char* kPackageIni = "[Install]\r\nexpert.ex4=experts\r\n";

bool sameFolder(const std::string& a, const std::string& b) { return lstrcmpiA(a.c_str(), b.c_str()) == 0; }

bool installed(const std::string& copy) { return readFile(copy + "\\experts\\expert.ex4") == "expert"; }

// A package of one expert, installed into experts.
void addExpert(const Package& package, const std::string& ini = kPackageIni) {
  package.addFile("expert.ex4", "expert");
  package.writeIni(ini);
}

// An icon file of one 32-pixel image in a single colour, with a clear border
// of two pixels.
std::string solidIcon(COLORREF colour) {
  constexpr int size = 32;
  std::string image;
  auto put32 = [&](std::uint32_t v) { image.append(reinterpret_cast<const char*>(&v), 4); };
  auto put16 = [&](std::uint16_t v) { image.append(reinterpret_cast<const char*>(&v), 2); };
  put32(40);
  put32(size);
  put32(size * 2);
  put16(1);
  put16(32);
  for (int i = 0; i < 6; ++i) put32(0);
  std::string mask;
  for (int y = 0; y < size; ++y) {
    std::uint32_t bits = 0;
    for (int x = 0; x < size; ++x) {
      const bool inside = x >= 2 && x < size - 2 && y >= 2 && y < size - 2;
      const char pixel[4] = {static_cast<char>(GetBValue(colour)), static_cast<char>(GetGValue(colour)),
                             static_cast<char>(GetRValue(colour)), static_cast<char>(inside ? 255 : 0)};
      image.append(pixel, 4);
      if (!inside) bits |= 0x80u >> (x % 8) << (x / 8 * 8);
    }
    mask.append(reinterpret_cast<const char*>(&bits), 4);
  }
  image += mask;
  std::string file;
  auto f16 = [&](std::uint16_t v) { file.append(reinterpret_cast<const char*>(&v), 2); };
  auto f32 = [&](std::uint32_t v) { file.append(reinterpret_cast<const char*>(&v), 4); };
  f16(0);
  f16(1);
  f16(1);
  file += std::string("\x20\x20\x00\x00", 4);
  f16(1);
  f16(32);
  f32(static_cast<std::uint32_t>(image.size()));
  f32(22);
  return file + image;
}

// How many pixels of a control, as the screen shows it, have this colour.
int pixelsOf(HWND control, COLORREF colour) {
  const auto picture = robot::capture(control);
  int n = 0;
  for (int y = 0; y < picture.height; ++y)
    for (int x = 0; x < picture.width; ++x) n += picture.at(x, y) == colour;
  return n;
}

// A running copy whose window title begins with a number, and a copy known
// only from the program list: a numbered line and a bare line.
struct NumberedAndBareCopies {
  NumberedAndBareCopies(const std::string& numberedName, const std::string& title, const std::string& bareName)
      : numbered(test_terminal::makeCopyFolder(dir / numberedName)),
        bare(testing_support::makeSampleCopy(dir / bareName)) {
    started = terminal.start(numbered, title) &&
              registry.uninstallEntry("MarvoltDialog" + bareName, bare + "\\Uninstall.exe");
  }
  ~NumberedAndBareCopies() { terminal.quit(); }
  TempDir dir{"dlg"};
  const std::string numbered, bare;
  test_terminal::TestTerminal terminal;
  RegistryEntries registry;
  bool started = false;
};

// One run of Marvolt.exe without a command line, from its install dialog on.
class DialogRun {
 public:
  explicit DialogRun(const Package& package, const std::string& caption = kDefaultCaption) {
    if (!process_.start(package.exe(), "", package.path())) {
      ADD_FAILURE() << "cannot start Marvolt.exe: " << GetLastError();
      return;
    }
    if (auto shown = robot::waitForDialog(process_.id(), caption, 30000))
      dialog = *shown;
    else
      ADD_FAILURE() << "no install dialog \"" << caption << "\"";
  }

  HWND control(int id) const { return GetDlgItem(dialog.window, id); }
  HWND list() const { return control(IDC_COPY_LIST); }
  std::vector<std::string> lines() const { return robot::listLines(list()); }
  std::vector<std::string> selected() const {
    std::vector<std::string> texts;
    const auto all = lines();
    for (int i : robot::selectedLines(list()))
      if (i < static_cast<int>(all.size())) texts.push_back(all[i]);
    return texts;
  }
  bool installEnabled() const { return IsWindowEnabled(control(IDC_INSTALL)) != FALSE; }
  bool click(const char* button) const { return robot::clickButton(dialog, button); }
  // Waits until exactly these lines are selected, the clicks being posted.
  bool waitForSelected(const std::vector<std::string>& wanted) const {
    return waitUntil([&] { return selected() == wanted; }, 10000);
  }

  // "Find MT4", the folder chosen in the shell's folder browser and OK.
  bool findMt4(const std::string& folder) const {
    if (!click("Find MT4")) return false;
    const auto browser = robot::waitForAnyDialog(process_.id(), {dialog.window}, 20000);
    if (!browser) {
      ADD_FAILURE() << "no folder browser";
      return false;
    }
    if (!robot::chooseFolder(*browser, folder, 20000)) {
      ADD_FAILURE() << "could not choose " << folder << " in \"" << browser->caption << "\"";
      return false;
    }
    return waitUntil([&] { return !IsWindow(browser->window); }, 10000);
  }

  // The next window the installer shows besides the dialog.
  std::optional<robot::Dialog> nextWindow() const {
    return robot::waitForAnyDialog(process_.id(), {dialog.window}, 20000);
  }

  // Answers every later window until the installer ends.
  MarvoltRun finish(const std::function<std::string(const robot::Dialog&)>& answer = robot::goOnButton) {
    MarvoltRun result;
    for (auto& seen : robot::answerUntilExit(process_.handle(), process_.id(), answer, 90000, {dialog.window}))
      (seen.buttons.empty() ? result.windows : result.dialogs).push_back(std::move(seen));
    result.exitCode = process_.waitForExit(5000);
    return result;
  }

  robot::Dialog dialog;

 private:
  testing_support::ChildProcess process_;
};

// The list starts from what discovery finds on this machine; the tests add
// their own copies to a machine that has none.
TEST(InstallDialog, EmptyListKeepsInstallDisabledUntilFindMt4AddsACopy) {
  TempDir dir{"dlg"};
  const std::string copy = testing_support::makeSampleCopy(dir / "Browsed");
  Package package;
  addExpert(package);
  DialogRun run(package);
  ASSERT_NE(run.dialog.window, nullptr);
  ASSERT_TRUE(run.lines().empty()) << "this machine has copies of its own";
  EXPECT_FALSE(run.installEnabled());
  EXPECT_FALSE(run.click("Install")) << "a disabled button cannot be clicked";

  ASSERT_TRUE(run.findMt4(copy));
  ASSERT_TRUE(waitUntil([&] { return run.lines().size() == 1; }, 10000));
  EXPECT_TRUE(sameFolder(run.lines()[0], copy)) << run.lines()[0];
  EXPECT_EQ(run.selected(), run.lines()) << "the added copy is selected";
  EXPECT_TRUE(run.installEnabled());

  ASSERT_TRUE(run.click("Install"));
  const auto result = run.finish();
  EXPECT_EQ(result.exitCode, 0u);
  EXPECT_EQ(result.captions(), std::vector<std::string>{"Install successful"});
  EXPECT_TRUE(installed(copy));
}

// A double-clicked installer on a machine with one copy: that copy is
// selected, and Install installs into it.
TEST(InstallDialog, OneLineOpensSelectedTwoOrMoreNoneSelected) {
  for (int copies : {1, 2, 3}) {
    SCOPED_TRACE(std::to_string(copies) + " copies");
    TempDir dir{"dlg"};
    RegistryEntries registry;
    std::vector<std::string> folders;
    for (int i = 0; i < copies; ++i) {
      folders.push_back(testing_support::makeSampleCopy(dir / ("Copy" + std::to_string(i))));
      ASSERT_TRUE(registry.uninstallEntry("MarvoltDialogTest" + std::to_string(i), folders.back() + "\\Uninstall.exe"));
    }
    Package package;
    addExpert(package);
    DialogRun run(package);
    ASSERT_NE(run.dialog.window, nullptr);
    ASSERT_EQ(run.lines(), folders);
    EXPECT_TRUE(run.installEnabled());
    if (copies == 1) {
      EXPECT_EQ(run.selected(), folders);
      ASSERT_TRUE(run.click("Install"));
      const auto result = run.finish();
      EXPECT_EQ(result.captions(), std::vector<std::string>{"Install successful"});
      EXPECT_TRUE(installed(folders[0]));
    } else {
      EXPECT_TRUE(run.selected().empty());
      ASSERT_TRUE(robot::pressEscape(run.dialog.window));
      EXPECT_TRUE(run.finish().dialogs.empty());
    }
  }
}

TEST(InstallDialog, InstallWithoutSelectionAsksThenTwoCopiesAreInstalled) {
  NumberedAndBareCopies copies("A", "2: Demo account", "B");
  ASSERT_TRUE(copies.started) << GetLastError();
  const std::string &numbered = copies.numbered, &bare = copies.bare;
  Package package;
  addExpert(package);
  DialogRun run(package);
  ASSERT_NE(run.dialog.window, nullptr);
  const std::vector<std::string> both = {"#2: " + numbered, bare};
  ASSERT_EQ(run.lines(), both);
  ASSERT_TRUE(run.selected().empty());

  ASSERT_TRUE(run.click("Install"));
  const auto message = run.nextWindow();
  ASSERT_TRUE(message);
  EXPECT_EQ(message->caption, "Select copy of MT4");
  EXPECT_EQ(message->text, "Please select one or more copies of MT4 from the list");
  EXPECT_EQ(message->style & MB_ICONMASK, UINT(MB_ICONWARNING)) << robot::styleText(message->style);
  EXPECT_EQ(message->owner, run.dialog.window);
  ASSERT_TRUE(robot::clickButton(*message, "OK"));
  // The dialog is still there and still answers.
  ASSERT_TRUE(run.click("Select all"));
  ASSERT_TRUE(run.waitForSelected(both));

  ASSERT_TRUE(run.click("Install"));
  const auto result = run.finish();
  EXPECT_EQ(result.exitCode, 0u);
  EXPECT_EQ(result.captions(), std::vector<std::string>{"Install successful"});
  EXPECT_TRUE(installed(numbered)) << "the numbered line's folder follows its \"#2: \"";
  EXPECT_TRUE(installed(bare));
}

// The install worker stops at the first copy that fails: with the later line's
// copy holding the file, the earlier one has it and the later one not.
TEST(InstallDialog, ChosenCopiesAreInstalledInListOrder) {
  TempDir dir{"dlg"};
  const std::string numbered = test_terminal::makeCopyFolder(dir / "A");
  const std::string bare = test_terminal::makeCopyFolder(dir / "B");
  test_terminal::TestTerminal first, second;
  ASSERT_TRUE(first.start(numbered, "2: Demo account"));
  ASSERT_TRUE(second.start(bare, "Beta"));
  Package package;
  addExpert(package);
  DialogRun run(package);
  ASSERT_NE(run.dialog.window, nullptr);
  const auto lines = run.lines();
  ASSERT_EQ(lines.size(), 2u);
  const bool numberedFirst = lines[0] == "#2: " + numbered;
  ASSERT_EQ(lines[numberedFirst ? 1 : 0], bare);
  const std::string earlier = numberedFirst ? numbered : bare, later = numberedFirst ? bare : numbered;
  ASSERT_TRUE((numberedFirst ? second : first).hold(later + "\\experts\\expert.ex4"));

  ASSERT_TRUE(run.click("Select all"));
  ASSERT_TRUE(run.waitForSelected(lines));
  ASSERT_TRUE(run.click("Install"));
  const auto result = run.finish();
  EXPECT_EQ(result.captions(), (std::vector<std::string>{"expert.ex4", "Install failed"}));
  EXPECT_TRUE(installed(earlier)) << "the earlier line was installed first";
  EXPECT_FALSE(installed(later));
  first.quit();
  second.quit();
}

TEST(InstallDialog, FindMt4SelectsAnEqualLineOrAddsTheFolder) {
  TempDir dir{"dlg"};
  const std::string bare = testing_support::makeSampleCopy(dir / "Bare");
  const std::string numbered = test_terminal::makeCopyFolder(dir / "Numbered");
  test_terminal::TestTerminal terminal;
  ASSERT_TRUE(terminal.start(numbered, "3: Live"));
  RegistryEntries registry;
  // Listed in lower case; the browser gives the folder as the disk spells it.
  ASSERT_TRUE(registry.uninstallEntry("MarvoltDialogLower", terminal::asciiLower(bare) + "\\Uninstall.exe"));
  Package package;
  addExpert(package);
  DialogRun run(package);
  ASSERT_NE(run.dialog.window, nullptr);
  const auto before = run.lines();
  ASSERT_EQ(before.size(), 2u);
  ASSERT_NE(std::find(before.begin(), before.end(), terminal::asciiLower(bare)), before.end());

  ASSERT_TRUE(run.findMt4(bare));
  EXPECT_TRUE(run.waitForSelected({terminal::asciiLower(bare)})) << "the equal line, in other letter case, is selected";
  EXPECT_EQ(run.lines(), before) << "and nothing is added";

  ASSERT_TRUE(run.findMt4(numbered));
  ASSERT_TRUE(waitUntil([&] { return run.lines().size() == 3; }, 10000))
      << "a folder equal only to a numbered line's path is a line of its own";
  const auto after = run.lines();
  EXPECT_NE(std::find(after.begin(), after.end(), "#3: " + numbered), after.end());
  const auto chosen = run.selected();
  ASSERT_EQ(chosen.size(), 2u);
  EXPECT_TRUE(std::any_of(chosen.begin(), chosen.end(), [&](const std::string& l) { return sameFolder(l, numbered); }))
      << "the added line is selected";

  ASSERT_TRUE(robot::pressEscape(run.dialog.window));
  EXPECT_TRUE(run.finish().dialogs.empty());
  terminal.quit();
}

TEST(InstallDialog, FindMt4CancelledOrNotACopyAddsNothing) {
  TempDir dir{"dlg"};
  const std::string plain = dir / "Plain";
  testing_support::makeFolders(plain);
  Package package;
  addExpert(package);
  DialogRun run(package);
  ASSERT_NE(run.dialog.window, nullptr);
  ASSERT_TRUE(run.lines().empty()) << "this machine has copies of its own";

  ASSERT_TRUE(run.click("Find MT4"));
  auto browser = run.nextWindow();
  ASSERT_TRUE(browser);
  HWND tree = FindWindowExA(browser->window, nullptr, "SysTreeView32", nullptr);
  ASSERT_TRUE(waitUntil([&] { return SendMessageA(tree, TVM_GETCOUNT, 0, 0) > 0; }, 20000));
  ASSERT_TRUE(robot::clickButton(*browser, "Cancel"));
  ASSERT_TRUE(waitUntil([&] { return !IsWindow(browser->window); }, 10000));

  ASSERT_TRUE(run.findMt4(plain));
  const auto message = run.nextWindow();
  ASSERT_TRUE(message) << "no message for a folder without experts";
  EXPECT_EQ(message->caption, "Not MT4");
  EXPECT_EQ(message->owner, run.dialog.window);
  EXPECT_EQ(message->style & MB_ICONMASK, UINT(MB_ICONWARNING)) << robot::styleText(message->style);
  ASSERT_TRUE(robot::clickButton(*message, "OK"));
  // The browse ends with the message: nothing is added after it.
  ASSERT_TRUE(waitUntil([&] { return !IsWindow(message->window); }, 10000));
  EXPECT_TRUE(run.lines().empty());
  EXPECT_FALSE(run.installEnabled());

  ASSERT_TRUE(robot::pressEscape(run.dialog.window));
  EXPECT_TRUE(run.finish().dialogs.empty());
}

TEST(InstallDialog, SelectAllAndInvert) {
  TempDir dir{"dlg"};
  RegistryEntries registry;
  std::vector<std::string> folders;
  for (const char* name : {"One", "Three", "Two"}) {
    folders.push_back(testing_support::makeSampleCopy(dir / name));
    ASSERT_TRUE(registry.uninstallEntry(std::string("MarvoltDialog") + name, folders.back() + "\\Uninstall.exe"));
  }
  Package package;
  addExpert(package);
  DialogRun run(package);
  ASSERT_NE(run.dialog.window, nullptr);
  ASSERT_EQ(run.lines(), folders);
  ASSERT_TRUE(robot::selectLine(run.list(), 1, true));

  const struct {
    const char* button;
    std::vector<std::string> selected;
  } steps[] = {{"Invert", {folders[0], folders[2]}}, {"Select all", folders}, {"Invert", {}}, {"Invert", folders}};
  for (const auto& step : steps) {
    SCOPED_TRACE(step.button);
    ASSERT_TRUE(run.click(step.button));
    EXPECT_TRUE(run.waitForSelected(step.selected)) << run.selected().size() << " selected";
  }
  ASSERT_TRUE(robot::pressEscape(run.dialog.window));
  EXPECT_TRUE(run.finish().dialogs.empty());
}

TEST(InstallDialog, EscapeAndTheCloseBoxEndTheRunWithoutAMessage) {
  const struct {
    const char* name;
    bool (*close)(HWND);
  } ways[] = {{"Escape", robot::pressEscape}, {"close box", robot::clickCloseBox}};
  for (const auto& way : ways) {
    SCOPED_TRACE(way.name);
    TempDir dir{"dlg"};
    const std::string copy = testing_support::makeSampleCopy(dir / "Copy");
    RegistryEntries registry;
    ASSERT_TRUE(registry.uninstallEntry("MarvoltDialogClose", copy + "\\Uninstall.exe"));
    Package package;
    addExpert(package);
    DialogRun run(package);
    ASSERT_NE(run.dialog.window, nullptr);
    ASSERT_EQ(run.selected(), std::vector<std::string>{copy});
    ASSERT_TRUE(way.close(run.dialog.window));
    const auto result = run.finish();
    EXPECT_EQ(result.exitCode, 2u) << "ended by the user";
    EXPECT_TRUE(result.dialogs.empty()) << result.dialogs[0].caption;
    EXPECT_TRUE(result.windows.empty()) << "no progress window either";
    EXPECT_FALSE(fileExists(copy + "\\experts\\expert.ex4"));
  }
}

// Two thousand folders and registry entries: the list takes the first 1000
// copies discovery finds, "Find MT4" adds one more, and Install takes the
// first 1000 selected lines.
TEST(InstallDialog, ThousandAndOneCopiesInstallIntoTheFirstThousand) {
  TempDir dir{"many"};
  RegistryEntries registry;
  for (int i = 0; i < 1000; ++i) {
    char name[16];
    wsprintfA(name, "C%04d", i);
    const std::string copy = testing_support::makeSampleCopy(dir / name);
    ASSERT_TRUE(registry.uninstallEntry(std::string("MarvoltDialogMany") + name, copy + "\\Uninstall.exe"));
  }
  const std::string last = testing_support::makeSampleCopy(dir / "Z Last");
  Package package;
  addExpert(package);
  DialogRun run(package);
  ASSERT_NE(run.dialog.window, nullptr);
  ASSERT_EQ(run.lines().size(), 1000u);
  ASSERT_TRUE(run.findMt4(last));
  ASSERT_TRUE(waitUntil([&] { return run.lines().size() == 1001; }, 10000));
  ASSERT_TRUE(run.click("Select all"));
  ASSERT_TRUE(waitUntil([&] { return robot::selectedLines(run.list()).size() == 1001; }, 10000));
  const auto lines = run.lines();
  ASSERT_TRUE(sameFolder(lines.back(), last)) << lines.back();

  ASSERT_TRUE(run.click("Install"));
  const auto result = run.finish();
  EXPECT_EQ(result.captions(), std::vector<std::string>{"Install successful"});
  int done = 0;
  for (std::size_t i = 0; i + 1 < lines.size(); ++i) done += installed(lines[i]);
  EXPECT_EQ(done, 1000);
  EXPECT_FALSE(installed(last)) << "the 1001st selected line is left out";
}

// The advert page comes from the advert server, the test web server here
// (the test build names localhost as the advert server).
// Wine's browser control cannot render a page on this machine, but it asks
// the server for it, and the placeholder names the address it was given.
TEST(InstallDialog, AdvertAsksTheServerForInfoIdAndNothingForZero) {
  const std::string adverts = "/adverts/htmladvert.aspx";
  const struct {
    const char* info;
    int infoId;  // 0: no advert
  } cases[] = {
      {"", 1000}, {"[Info]\r\nInfoId=77\r\n", 77}, {"[Info]\r\nInfoId=0\r\n", 0}, {"[Info]\r\nInfoId=-5\r\n", 0}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.info);
    const std::size_t before = test_http::requests(adverts).size();
    Package package;
    addExpert(package, std::string(kPackageIni) + c.info);
    DialogRun run(package);
    ASSERT_NE(run.dialog.window, nullptr);
    const std::string wanted = c.infoId > 0 ? adverts + "?sid=" + std::to_string(c.infoId) + "&data2=12" : "";
    char shown[512] = {};
    GetWindowTextA(run.control(IDC_ADVERT), shown, sizeof shown);
    EXPECT_EQ(shown, wanted.empty() ? "" : "http://" MARVOLT_ADVERT_HOST + wanted);
    if (!wanted.empty()) {
      EXPECT_TRUE(waitUntil(
          [&] {
            const auto seen = test_http::requests(adverts);
            return std::any_of(seen.begin() + std::min(before, seen.size()), seen.end(),
                               [&](const test_http::Received& r) { return r.path() == wanted; });
          },
          20000))
          << "no request for " << wanted;
    }
    ASSERT_TRUE(robot::pressEscape(run.dialog.window));
    EXPECT_TRUE(run.finish().dialogs.empty());
    // The installer has ended: a request it did not make by now never comes.
    if (wanted.empty()) {
      EXPECT_EQ(test_http::requests(adverts).size(), before);
    }
  }
}

// What a person sees: the package's caption and labels, its icon, the
// maker's icon and link; the link opens the maker's site. The screenshot is
// kept for a person to look at.
TEST(InstallDialog, CaptionLabelsIconsAndTheMakersLink) {
  NumberedAndBareCopies copies("MetaTrader 4 Live", "1234567: Live account", "MetaTrader 4 Demo");
  ASSERT_TRUE(copies.started) << GetLastError();
  const std::string &numbered = copies.numbered, &bare = copies.bare;
  constexpr COLORREF kProductColour = RGB(0, 160, 60);
  Package package;
  addExpert(package, std::string(kPackageIni) +
                         "[Info]\r\nCaption=Trend Tools 2.1\r\nInfoId=0\r\n"
                         "[Text]\r\nDialogText1=Pick the copies.~Then click Install.\r\n"
                         "DialogText2=Copies found\r\nDialogText3=Browse...\r\nDialogText4=Go\r\n"
                         "DialogText5=All\r\nDialogText6=\r\n");
  package.addFile("terminal.ico", solidIcon(kProductColour));
  test_terminal::ShellOpenRecorder browser;
  DialogRun run(package, "Trend Tools 2.1");
  ASSERT_NE(run.dialog.window, nullptr);

  const struct {
    int id;
    const char* text;
  } texts[] = {{IDC_TITLE, "Trend Tools 2.1"},
               {IDC_INSTRUCTIONS, "Pick the copies.\rThen click Install."},
               {IDC_COPY_FRAME, "Copies found"},
               {IDC_FIND_MT4, "Browse..."},
               {IDC_INSTALL, "Go"},
               {IDC_SELECT_ALL, "All"},
               {IDC_INVERT, ""},
               {IDC_MAKER_LINK, MARVOLT_MAKER_ADDRESS},
               {IDC_ADVERT, ""}};
  for (const auto& t : texts) {
    SCOPED_TRACE(t.id);
    char text[512] = {};
    ASSERT_NE(run.control(t.id), nullptr) << GetLastError();
    GetWindowTextA(run.control(t.id), text, sizeof text);
    EXPECT_STREQ(text, t.text);
  }
  EXPECT_EQ(run.lines(), (std::vector<std::string>{"#1234567: " + numbered, bare}));

  // Painted by the dialog itself: the icons in their controls, the link in
  // blue straight on the dialog's face.
  EXPECT_TRUE(waitUntil([&] { return pixelsOf(run.control(IDC_PRODUCT_ICON), kProductColour) > 400; }, 5000))
      << "the product icon from terminal.ico";
  const COLORREF boltWhite = RGB(255, 255, 255);
  EXPECT_GT(pixelsOf(run.control(IDC_MAKER_ICON), boltWhite), 20) << "the maker's icon";
  EXPECT_GT(pixelsOf(run.control(IDC_MAKER_LINK), RGB(0, 0, 255)), 20) << "blue link text";
  EXPECT_GT(pixelsOf(run.control(IDC_MAKER_LINK), GetSysColor(COLOR_BTNFACE)), 100) << "on the button face";
  EXPECT_EQ(pixelsOf(run.control(IDC_INSTRUCTIONS), RGB(0, 0, 255)), 0) << "other texts keep their colours";
  EXPECT_GT(pixelsOf(run.control(IDC_FIND_MT4), GetSysColor(COLOR_BTNTEXT)), 20)
      << "the frame of the list, which the button overlaps, leaves its text alone";

  ASSERT_TRUE(robot::selectLine(run.list(), 1, true));
  ASSERT_TRUE(run.waitForSelected({bare}));
  const std::string shots = testing_support::hostPath(SCREENSHOT_DIR);
  testing_support::makeFolders(shots);
  const std::string shot = shots + "\\install_dialog.png";
  DeleteFileA(shot.c_str());
  EXPECT_TRUE(robot::saveScreenshot(run.dialog.window, shot) && fileExists(shot)) << shot;
  std::printf("install dialog screenshot: %s\n", shot.c_str());

  ASSERT_TRUE(robot::clickControl(run.dialog.window, IDC_MAKER_LINK));
  ASSERT_TRUE(robot::clickControl(run.dialog.window, IDC_MAKER_ICON));
  EXPECT_TRUE(waitUntil([&] { return browser.opened().size() == 2; }, 20000));
  EXPECT_EQ(browser.opened(), (std::vector<std::string>{MARVOLT_MAKER_URL, MARVOLT_MAKER_URL}));

  ASSERT_TRUE(robot::pressEscape(run.dialog.window));
  EXPECT_TRUE(run.finish().dialogs.empty());
}

}  // namespace
