// The advert helper in a test terminal, as an MQL4 program uses it: attached
// to a chart by CreateHelper2, fetching from the advert server of the test
// web server, painting into a corner of the chart and opening its click target.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <optional>

#include "channels/advert/advert_rules.h"
#include "testing/robot/marvolt_runner.h"
#include "terminal/folder_hash.h"
#include "testing/http/advert_server.h"
#include "testing/recorder/shell_open.h"
#include "testing/robot/png_writer.h"
#include "testing/robot/robot.h"
#include "testing/terminal/protocol.h"
#include "testing/terminal/test_terminal.h"

namespace {

using test_http::Received;
namespace advert = test_http::advert;
using test_terminal::Arg;
using test_terminal::Pixels;
using testing_support::waitUntil;

constexpr int kImageWidth = 60;
constexpr int kImageHeight = 30;

struct Rect {
  int left, top, right, bottom;
};

std::string screenshotPath(const std::string& name) {
  const std::string folder = testing_support::hostPath(ADVERT_SCREENSHOTS);
  testing_support::makeFolders(folder);
  return folder + "\\" + name + ".png";
}

void savePixels(const Pixels& p, const std::string& name) {
  testing_support::writeFile(screenshotPath(name), robot::encodePng(p.width, p.height, p.rgb));
}

bool closeTo(unsigned long a, unsigned long b, int tolerance) {
  for (int shift = 0; shift < 24; shift += 8)
    if (std::abs(static_cast<int>((a >> shift) & 0xFF) - static_cast<int>((b >> shift) & 0xFF)) > tolerance)
      return false;
  return true;
}

// Every pixel of the client area: the advert's colour inside the rectangle,
// the chart's own drawing everywhere else. The first wrong one, or "".
std::string wrongPixel(const Pixels& p, const Rect& r, unsigned long color, int tolerance) {
  if (p.width == 0) return "no pixels read";
  for (int y = 0; y < p.height; ++y)
    for (int x = 0; x < p.width; ++x) {
      const bool inside = x >= r.left && x < r.right && y >= r.top && y < r.bottom;
      const unsigned long want = inside ? color : test_terminal::chartPixel(x, y);
      if (!closeTo(p.at(x, y), want, inside ? tolerance : 0)) {
        char text[120];
        std::snprintf(text, sizeof text, "pixel (%d,%d) is %06lX, want %06lX (%s the advert)", x, y, p.at(x, y), want,
                      inside ? "inside" : "outside");
        return text;
      }
    }
  return "";
}

class AdvertHelper : public ::testing::Test {
 protected:
  void SetUp() override { copy_ = test_terminal::makeCopyFolder(dir_ / "copy"); }

  void start(int charts = 2, const std::string& folder = "") {
    ASSERT_TRUE(terminal_.start(folder.empty() ? copy_ : folder, "1: Advert", charts)) << GetLastError();
  }
  int create(int chart, int marginX, int marginY, int corner, int refresh, const Arg& data1, int data2) {
    return terminal_.callInt("CreateHelper2", {Arg::i(0), Arg::chart(chart), Arg::i(marginX), Arg::i(marginY),
                                               Arg::i(corner), Arg::i(refresh), data1, Arg::i(data2)});
  }
  int create(int chart, const std::string& data1, int marginX = 7, int marginY = 9, int corner = 0) {
    return create(chart, marginX, marginY, corner, 10, Arg::s(data1), 1);
  }
  int remove(int chart) { return terminal_.callInt("RemoveHelper", {Arg::chart(chart)}); }

  std::vector<Received> waitForRequests(const std::string& data1, std::size_t count = 1) {
    std::vector<Received> seen;
    waitUntil([&] { return (seen = test_http::requests(advert::requestPrefix(data1))).size() >= count; }, 30000);
    return seen;
  }

  // Repaints the chart until the advert's colour shows at (x, y).
  Pixels waitForColor(int chart, int x, int y, unsigned long color, int tolerance) {
    Pixels p;
    waitUntil(
        [&] {
          terminal_.paint(chart);
          p = terminal_.pixels(chart);
          return closeTo(p.at(x, y), color, tolerance);
        },
        30000);
    return p;
  }

  testing_support::TempDir dir_{"adv"};
  std::string copy_;
  test_terminal::TestTerminal terminal_;
};

TEST(AdvertLibrary, ExportsAllTwentyThreeFunctions) {
  const std::string path = test_terminal::lumarelDll();
  HMODULE library = LoadLibraryA(path.c_str());
  ASSERT_NE(library, nullptr) << path << ": " << GetLastError();
  const char* const names[] = {"LM_StartSender",
                               "LM_ReleaseSender",
                               "LM_SendMessage",
                               "LM_StartReceiver",
                               "LM_ReleaseReceiver",
                               "LM_GetMessages",
                               "LM_CheckChannel",
                               "LM_ChannelHasReceiver",
                               "SetupTimedTicks",
                               "RemoveTimedTicks",
                               "LM_StartReceiveInternetMessages",
                               "LM_EndReceiveInternetMessages",
                               "LM_QueryInternetMessages",
                               "LM_IsInternetReceiverActive",
                               "LM_GetLastInternetReceiveError",
                               "LM_StartSendInternetMessages",
                               "LM_SendInternetMessage",
                               "LM_EndSendInternetMessages",
                               "LM_IsInternetSendSessionTerminated",
                               "LM_GetLastInternetSendError",
                               "CreateHelper2",
                               "RemoveHelper",
                               "TimeUTC"};
  for (const char* name : names) EXPECT_NE(GetProcAddress(library, name), nullptr) << name;
  FreeLibrary(library);
}

TEST_F(AdvertHelper, BlockAdvertKeepsTheHelperOff) {
  start();
  const std::string blocked = advert::uniqueData1(), open = advert::uniqueData1();
  ASSERT_TRUE(terminal_.setProp(0, "BlockAdvert", 1));
  EXPECT_EQ(create(0, blocked), 1);
  EXPECT_TRUE(terminal_.ownWindowProc(0)) << "a blocked chart was subclassed";
  EXPECT_EQ(terminal_.getProp(0, "OldWndProc"), 0);
  EXPECT_EQ(remove(0), 0);
  // The other chart fetches; by the time its request arrives a fetch of the
  // blocked one would have arrived too.
  EXPECT_EQ(create(1, open), 1);
  EXPECT_FALSE(terminal_.ownWindowProc(1));
  EXPECT_EQ(waitForRequests(open).size(), 1u);
  EXPECT_TRUE(test_http::requests(advert::requestPrefix(blocked)).empty());
}

TEST_F(AdvertHelper, TerminalMarkerSwitchesTheHelperOff) {
  // The terminal is started through an upper-case path: the library hashes
  // its folder as the system names it, the installer the folder it was given.
  std::string upper = copy_;
  std::transform(upper.begin(), upper.end(), upper.begin(), [](unsigned char c) { return std::toupper(c); });
  std::string lower = copy_;
  std::transform(lower.begin(), lower.end(), lower.begin(), [](unsigned char c) { return std::tolower(c); });
  start(2, upper);
  const std::uint32_t marker = terminal::lastScanHashMarker(lower + "\\");
  const struct {
    const char* name;
    std::optional<std::uint32_t> value;
    bool off;
  } cases[] = {
      {"the folder's marker, written over the lower-case path", marker, true},
      {"the bare hash, one less", marker - 1, false},
      {"one more", marker + 1, false},
      {"no marker", std::nullopt, false},
  };
  const std::string ini = copy_ + "\\config\\terminal.ini";
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    DeleteFileA(ini.c_str());
    if (c.value) {
      ASSERT_TRUE(WritePrivateProfileStringA("Settings", "LastScanHash", std::to_string(*c.value).c_str(), ini.c_str()))
          << GetLastError();
    }
    WritePrivateProfileStringA(nullptr, nullptr, nullptr, ini.c_str());  // flush the cache
    const std::string data1 = advert::uniqueData1();
    EXPECT_EQ(create(0, data1), 1);
    EXPECT_EQ(terminal_.ownWindowProc(0), c.off);
    // A helper removed before its fetch thread ran asks nothing: wait first.
    if (!c.off) {
      EXPECT_EQ(waitForRequests(data1).size(), 1u);
    }
    EXPECT_EQ(remove(0), c.off ? 0 : 1);
    EXPECT_TRUE(terminal_.ownWindowProc(0));
  }
}

TEST_F(AdvertHelper, NullWindowAndRemovingTwice) {
  start();
  // A null data1 goes out as an empty text; data2 tells this run's request apart.
  const int data2 = static_cast<int>((GetTickCount() ^ GetCurrentProcessId()) & 0x7FFFFFFF);
  const std::string path = advert::requestPrefix("") + std::to_string(data2);
  EXPECT_EQ(create(0, 7, 9, 0, 10, Arg::i(0), data2), 1) << "null data1";
  std::vector<Received> seen;
  EXPECT_TRUE(waitUntil([&] { return !(seen = test_http::requests(path)).empty(); }, 30000));
  for (const auto& r : seen) EXPECT_EQ(r.path(), path);

  const std::string data1 = advert::uniqueData1();
  EXPECT_EQ(terminal_.callInt("CreateHelper2", {Arg::i(0), Arg::i(0), Arg::i(1), Arg::i(1), Arg::i(0), Arg::i(10),
                                                Arg::s(data1), Arg::i(0)}),
            1)
      << "null window";
  EXPECT_EQ(terminal_.callInt("RemoveHelper", {Arg::i(0)}), 0);
  EXPECT_EQ(remove(0), 1);
  EXPECT_TRUE(terminal_.ownWindowProc(0)) << "the chart's own procedure was not put back";
  EXPECT_EQ(terminal_.getProp(0, "OldWndProc"), 0);
  EXPECT_EQ(remove(0), 0);
  // The null window fetched nothing: a later helper's request comes alone.
  const std::string later = advert::uniqueData1();
  EXPECT_EQ(create(1, later), 1);
  EXPECT_EQ(waitForRequests(later).size(), 1u);
  EXPECT_TRUE(test_http::requests(advert::requestPrefix(data1)).empty());
}

TEST_F(AdvertHelper, TableHoldsAThousandWindows) {
  start(1001);
  const std::string data1 = advert::uniqueData1();
  ASSERT_TRUE(advert::script(data1, advert::failure(404)));
  for (int chart = 0; chart < 1000; ++chart) ASSERT_EQ(create(chart, data1), 1) << "chart " << chart;
  EXPECT_EQ(create(1000, data1), 0) << "the 1001st window";
  EXPECT_TRUE(terminal_.ownWindowProc(1000));
  // Each chart fetches once (a 404 brings no image and so no later fetch).
  EXPECT_EQ(waitForRequests(data1, 1000).size(), 1000u);
  EXPECT_EQ(remove(500), 1);
  EXPECT_EQ(create(1000, data1), 1) << "after one removal";
  EXPECT_FALSE(terminal_.ownWindowProc(1000));
  // A chart closed with its advert frees its slot as well.
  EXPECT_EQ(create(500, data1), 0) << "the table is full again";
  ASSERT_TRUE(terminal_.closeChart(10));
  EXPECT_EQ(create(500, data1), 1) << "after a chart with an advert was closed";
  EXPECT_FALSE(terminal_.ownWindowProc(500));
  EXPECT_EQ(waitForRequests(data1, 1002).size(), 1002u);
}

TEST_F(AdvertHelper, RequestAsTheServerGetsIt) {
  start(4);
  const std::string base = advert::uniqueData1();
  const std::string longText = base + std::string(1100 - base.size(), 'L');
  const struct {
    const char* name;
    std::string data1;
    int data2;
    std::string pathAfterPrefix;  // after "/adverts/advert.aspx?sid=1000&mac"
  } cases[] = {
      {"plain", base + "EURUSD", 15, "=&data1=" + base + "EURUSD&data2=15"},
      {"ampersand and equals unescaped", base + "a&b=c", -1, "=&data1=" + base + "a&b=c&data2=-1"},
      // The library hands the space over as it stands; the request object
      // writes it as %20, since a request line cannot hold a space.
      {"space as the request object sends it", base + "b c", 3, "=&data1=" + base + "b%20c&data2=3"},
      {"1100 characters cut after 1023", longText, 5, ("=&data1=" + longText).substr(0, 1023)},
  };
  DWORD serial = lumarel::kUnknownVolumeSerial;
  if (!GetVolumeInformationA("C:\\", nullptr, 0, &serial, nullptr, nullptr, nullptr, 0))
    serial = lumarel::kUnknownVolumeSerial;
  int chart = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ASSERT_EQ(create(chart++, 7, 9, 0, 10, Arg::s(c.data1), c.data2), 1);
    std::vector<Received> seen;
    const std::string path = "/adverts/advert.aspx?sid=1000&mac" + c.pathAfterPrefix;
    const std::string distinct = advert::requestPrefix(c.data1.substr(0, base.size() + 1));
    const std::string own = distinct.substr(0, distinct.size() - std::string("&data2=").size());
    waitUntil([&] { return !(seen = test_http::requests(own)).empty(); }, 30000);
    ASSERT_EQ(seen.size(), 1u);
    const Received& r = seen[0];
    EXPECT_EQ(r.requestLine.substr(0, 4), "GET ");
    EXPECT_EQ(r.path(), path);
    EXPECT_EQ(r.header("MT4Helper"), "MT4Helper");
    const std::string cookie = r.header("Subscriber-Cookie");
    EXPECT_EQ(cookie, lumarel::machineIdFromSerial(serial));
    EXPECT_EQ(cookie.size(), 12u);
    EXPECT_EQ(cookie.find_first_not_of("0123456789ABCDEF"), std::string::npos) << cookie;
    EXPECT_EQ(r.header("Host"), LUMAREL_ADVERT_HOST);
    EXPECT_TRUE(r.body.empty());
  }
}

TEST_F(AdvertHelper, AdvertShowsInItsCornerOverTheChart) {
  start();
  terminal_.resize(0, 402, 302);  // client 400 x 300 inside the border
  const struct {
    const char* name;
    std::string (*picture)(int, int, unsigned long);
    unsigned long color;
    int tolerance;
    std::optional<std::string> corner;
    Rect at;
  } cases[] = {
      {"bmp, the caller's corner and margins", advert::bmp, 0x2020E0, 0, std::nullopt, {7, 9, 67, 39}},
      {"gif, corner 1", advert::gif, 0x20C0F0, 0, "1", {295, 10, 355, 40}},
      {"jpeg, corner 2", advert::jpeg, 0x30D040, 24, "2", {5, 250, 65, 280}},
      {"bmp, corner 3", advert::bmp, 0xF0F0F0, 0, "3", {295, 250, 355, 280}},
      {"bmp, corner 7 as 0", advert::bmp, 0x800080, 0, " 7", {5, 15, 65, 45}},
  };
  int shot = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string data1 = advert::uniqueData1();
    const std::string body = c.picture(kImageWidth, kImageHeight, c.color);
    ASSERT_FALSE(body.empty());
    ASSERT_TRUE(advert::script(data1, advert::picture(body, "http://click.invalid/", "", c.corner)));
    ASSERT_EQ(create(0, data1), 1);
    // A second attachment to the same chart changes nothing.
    EXPECT_EQ(create(0, 100, 100, 3, 10, Arg::s(data1 + "again"), 2), 1);
    const int cx = (c.at.left + c.at.right) / 2, cy = (c.at.top + c.at.bottom) / 2;
    const Pixels p = waitForColor(0, cx, cy, c.color, c.tolerance);
    savePixels(p, "advert_corner_" + std::to_string(shot++));
    EXPECT_EQ(wrongPixel(p, c.at, c.color, c.tolerance), "");
    EXPECT_EQ(remove(0), 1);
  }
  // The robot's view of the whole terminal, the last advert still drawn.
  robot::saveScreenshot(terminal_.mainWindow(), screenshotPath("advert_terminal"));
}

TEST_F(AdvertHelper, ResizedChartMovesTheAdvertWithItsEdge) {
  start();
  terminal_.resize(0, 402, 302);
  const std::string data1 = advert::uniqueData1();
  const unsigned long color = 0x1080F0;
  ASSERT_TRUE(
      advert::script(data1, advert::picture(advert::bmp(kImageWidth, kImageHeight, color), "", std::nullopt, "3")));
  ASSERT_EQ(create(0, data1), 1);
  Pixels p = waitForColor(0, 325, 265, color, 0);
  EXPECT_EQ(wrongPixel(p, {295, 250, 355, 280}, color, 0), "");
  const SIZE client = terminal_.resize(0, 502, 402);
  ASSERT_EQ(client.cx, 500);
  ASSERT_EQ(client.cy, 400);
  p = waitForColor(0, 425, 365, color, 0);
  savePixels(p, "advert_resized");
  EXPECT_EQ(wrongPixel(p, {395, 350, 455, 380}, color, 0), "");
}

// The image at (-20, 10) to (40, 40): x -1 is inside it in signed terms but
// reads as 65535, outside.
TEST_F(AdvertHelper, MouseOverAndClicksOnTheAdvert) {
  test_terminal::ShellOpenRecorder browser;
  start();
  const struct {
    const char* name;
    std::string imageUrlData;
  } cases[] = {{"click without data", ""}, {"click with data", "extra"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string data1 = advert::uniqueData1();
    const std::string target = "http://click.invalid/" + data1;
    const unsigned long color = 0x00A0FF;
    ASSERT_TRUE(advert::script(
        data1, advert::picture(advert::bmp(kImageWidth, kImageHeight, color), target, c.imageUrlData, std::nullopt)));
    ASSERT_EQ(create(0, -20, 10, 0, 10, Arg::s(data1), 0), 1);
    waitForColor(0, 10, 25, color, 0);
    const auto before = terminal_.events(0);
    const std::size_t opened = browser.opened().size();

    terminal_.setArrowCursor();
    EXPECT_EQ(terminal_.send(0, WM_MOUSEMOVE, 0, MAKELPARAM(10, 25)), 0);
    EXPECT_TRUE(terminal_.cursorIsHand());
    EXPECT_EQ(terminal_.send(0, WM_MOUSEMOVE, 0, MAKELPARAM(40, 40)), 0) << "the corner counts";
    EXPECT_EQ(terminal_.events(0).mouseMoves, before.mouseMoves) << "the chart saw a move over the advert";
    terminal_.setArrowCursor();
    terminal_.send(0, WM_MOUSEMOVE, 0, MAKELPARAM(41, 25));
    terminal_.send(0, WM_MOUSEMOVE, 0, MAKELPARAM(static_cast<WORD>(-1), 25));
    EXPECT_FALSE(terminal_.cursorIsHand());
    EXPECT_EQ(terminal_.events(0).mouseMoves, before.mouseMoves + 2);

    terminal_.send(0, WM_LBUTTONUP, 0, MAKELPARAM(10, 25));
    terminal_.send(0, WM_RBUTTONUP, 0, MAKELPARAM(39, 11));
    terminal_.send(0, WM_LBUTTONUP, 0, MAKELPARAM(static_cast<WORD>(-1), 25));  // outside: nothing opened
    const auto after = terminal_.events(0);
    EXPECT_EQ(after.leftUps, before.leftUps + 2) << "clicks reach the chart";
    EXPECT_EQ(after.rightUps, before.rightUps + 1);
    std::vector<std::string> all;
    waitUntil([&] { return (all = browser.opened()).size() >= opened + 2; }, 30000);
    ASSERT_GE(all.size(), opened + 2);
    EXPECT_EQ(all[opened], target);
    EXPECT_EQ(all[opened + 1], target);
    EXPECT_EQ(remove(0), 1);
  }

  // An empty "imageurl": shown, not clickable.
  const std::string quiet = advert::uniqueData1();
  const unsigned long color = 0x40FF40;
  ASSERT_TRUE(
      advert::script(quiet, advert::picture(advert::bmp(kImageWidth, kImageHeight, color), "", "data", std::nullopt)));
  ASSERT_EQ(create(0, -20, 10, 0, 10, Arg::s(quiet), 0), 1);
  waitForColor(0, 10, 25, color, 0);
  const auto before = terminal_.events(0);
  const std::size_t opened = browser.opened().size();
  terminal_.setArrowCursor();
  terminal_.send(0, WM_MOUSEMOVE, 0, MAKELPARAM(10, 25));
  EXPECT_FALSE(terminal_.cursorIsHand());
  terminal_.send(0, WM_LBUTTONUP, 0, MAKELPARAM(10, 25));
  terminal_.send(0, WM_RBUTTONUP, 0, MAKELPARAM(10, 25));
  const auto after = terminal_.events(0);
  EXPECT_EQ(after.mouseMoves, before.mouseMoves + 1);
  EXPECT_EQ(after.leftUps, before.leftUps + 1);
  EXPECT_EQ(after.rightUps, before.rightUps + 1);
  // A clickable advert on the other chart opens its target after those
  // clicks: had they opened anything, it would be listed first.
  const std::string later = advert::uniqueData1();
  ASSERT_TRUE(advert::script(later, advert::picture(advert::bmp(kImageWidth, kImageHeight, color),
                                                    "http://click.invalid/" + later, "", std::nullopt)));
  ASSERT_EQ(create(1, -20, 10, 0, 10, Arg::s(later), 0), 1);
  waitForColor(1, 10, 25, color, 0);
  terminal_.send(1, WM_LBUTTONUP, 0, MAKELPARAM(10, 25));
  std::vector<std::string> all;
  waitUntil([&] { return (all = browser.opened()).size() > opened; }, 30000);
  ASSERT_EQ(all.size(), opened + 1);
  EXPECT_EQ(all[opened], "http://click.invalid/" + later);
}

// The advert server names what a click opens: anything but a web address
// would start a program in the terminal's process.
TEST_F(AdvertHelper, ClickTargetThatIsNoWebAddressStartsNothing) {
  test_terminal::ShellOpenRecorder browser;
  test_terminal::StartMarker marker;
  start();
  std::string forward = marker.program();
  std::replace(forward.begin(), forward.end(), '\\', '/');
  const std::string targets[] = {marker.program(), "\"" + marker.program() + "\"", "file:///" + forward,
                                 "file://" + marker.program()};
  const unsigned long color = 0x3060C0;
  for (const auto& target : targets) {
    SCOPED_TRACE(target);
    const std::string data1 = advert::uniqueData1();
    ASSERT_TRUE(advert::script(
        data1, advert::picture(advert::bmp(kImageWidth, kImageHeight, color), target, "", std::nullopt)));
    ASSERT_EQ(create(0, data1), 1);
    waitForColor(0, 30, 20, color, 0);
    const auto before = terminal_.events(0);
    terminal_.setArrowCursor();
    terminal_.send(0, WM_MOUSEMOVE, 0, MAKELPARAM(30, 20));
    EXPECT_FALSE(terminal_.cursorIsHand()) << "an advert that opens no web address is clickable";
    terminal_.send(0, WM_LBUTTONUP, 0, MAKELPARAM(30, 20));
    terminal_.send(0, WM_RBUTTONUP, 0, MAKELPARAM(30, 20));
    const auto after = terminal_.events(0);
    EXPECT_EQ(after.mouseMoves, before.mouseMoves + 1);
    EXPECT_EQ(after.leftUps, before.leftUps + 1);
    EXPECT_EQ(after.rightUps, before.rightUps + 1);
    EXPECT_EQ(remove(0), 1);
  }
  // A web address clicked afterwards arrives: a program started by an earlier
  // click would have been started by then too.
  const std::string later = advert::uniqueData1();
  ASSERT_TRUE(advert::script(later, advert::picture(advert::bmp(kImageWidth, kImageHeight, color),
                                                    "https://click.invalid/" + later, "", std::nullopt)));
  ASSERT_EQ(create(1, later), 1);
  waitForColor(1, 30, 20, color, 0);
  terminal_.send(1, WM_LBUTTONUP, 0, MAKELPARAM(30, 20));
  std::vector<std::string> opened;
  waitUntil([&] { return !(opened = browser.opened()).empty(); }, 30000);
  EXPECT_EQ(opened, std::vector<std::string>{"https://click.invalid/" + later});
  EXPECT_FALSE(marker.started()) << "a click started the program the advert server named";
}

TEST_F(AdvertHelper, CopyInstalledWithHideHelpGetsNoAdvert) {
  marvolt_test::Package package;
  package.addFile("expert.ex4", "expert");
  package.writeIni("[Info]\r\nHideHelp=1\r\n[Install]\r\nexpert.ex4=experts\r\n");
  const auto run = package.run(copy_);
  ASSERT_EQ(run.exitCode, 0u);
  ASSERT_NE(testing_support::readFile(copy_ + "\\config\\terminal.ini").find("LastScanHash="), std::string::npos);

  start();
  const std::string hidden = advert::uniqueData1();
  EXPECT_EQ(create(0, hidden), 1);
  EXPECT_TRUE(terminal_.ownWindowProc(0)) << "the helper attached to a copy installed with HideHelp=1";
  EXPECT_EQ(remove(0), 0);

  // Without the marker the same terminal shows adverts: its fetch arrives,
  // and the hidden one's would have arrived before it.
  WritePrivateProfileStringA("Settings", "LastScanHash", nullptr, (copy_ + "\\config\\terminal.ini").c_str());
  const std::string shown = advert::uniqueData1();
  EXPECT_EQ(create(1, shown), 1);
  EXPECT_FALSE(terminal_.ownWindowProc(1));
  EXPECT_EQ(waitForRequests(shown).size(), 1u);
  EXPECT_TRUE(test_http::requests(advert::requestPrefix(hidden)).empty());
}

}  // namespace
