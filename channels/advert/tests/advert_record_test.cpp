// The advert records inside one process, built so that a record's memory
// becomes inaccessible when it is freed: the fetch schedule as the record
// keeps it, painting that never waits for the network, and removal raced
// against painting and fetching.
#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <functional>
#include <optional>
#include <thread>

#include "channels/advert/advert_helper.h"
#include "channels/frame/exports.h"
#include "testing/http/advert_server.h"
#include "testing/robot/robot.h"
#include "testing/support/test_support.h"

namespace {

namespace advert = test_http::advert;
using advert::AdvertAnswer;
using testing_support::waitUntil;

constexpr UINT kRun = WM_APP + 3;
// A message only the chart's own procedure and the other subclass count.
constexpr UINT kCounted = WM_APP + 7;

std::string screenshotPath(const std::string& name) {
  const std::string folder = testing_support::hostPath(ADVERT_SCREENSHOTS);
  testing_support::makeFolders(folder);
  return folder + "\\" + name + ".png";
}

// A fault ends the test program at once with a line saying where, rather than
// waiting for a debugger that nobody attaches.
LONG WINAPI reportFault(EXCEPTION_POINTERS* info) {
  std::fprintf(stderr, "fault %08lX at %p reading %p\n", info->ExceptionRecord->ExceptionCode,
               info->ExceptionRecord->ExceptionAddress,
               info->ExceptionRecord->NumberParameters > 1
                   ? reinterpret_cast<void*>(info->ExceptionRecord->ExceptionInformation[1])
                   : nullptr);
  std::fflush(stderr);
  TerminateProcess(GetCurrentProcess(), 3);
  return EXCEPTION_EXECUTE_HANDLER;
}
const auto faultReporter = SetUnhandledExceptionFilter(reportFault);
std::atomic<long> chartPaints{0};
// Where the advert of create() lies (margins 7 and 9, a 40 x 20 image), and
// whether the chart's last paint could draw there: it must never, or the
// advert flickers with every paint of the chart.
constexpr RECT kAdvertAt = {7, 9, 47, 29};
std::atomic<bool> chartReachedAdvert{false};
std::atomic<long> chartCounted{0};

LRESULT CALLBACK chartProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == kRun) {
    (*reinterpret_cast<std::function<void()>*>(lParam))();
    return 0;
  }
  if (message == kCounted) {
    chartCounted.fetch_add(1);
    return 0;
  }
  if (message == WM_PAINT) {
    PAINTSTRUCT paint;
    HDC dc = BeginPaint(window, &paint);
    chartReachedAdvert.store(RectVisible(dc, &kAdvertAt) != FALSE);
    FillRect(dc, &paint.rcPaint, static_cast<HBRUSH>(GetStockObject(GRAY_BRUSH)));
    EndPaint(window, &paint);
    chartPaints.fetch_add(1);
    return 0;
  }
  return DefWindowProcA(window, message, wParam, lParam);
}

// A chart window on a thread of its own that pumps its messages.
class ChartThread {
 public:
  ChartThread() {
    lumarel::initialiseAdvertHelpers();
    HANDLE ready = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    thread_ = std::thread([this, ready] {
      WNDCLASSA type = {};
      type.lpfnWndProc = chartProc;
      type.hInstance = GetModuleHandleA(nullptr);
      type.lpszClassName = "AdvertRecordChart";
      RegisterClassA(&type);
      window_ = CreateWindowExA(0, type.lpszClassName, "chart", WS_POPUP | WS_VISIBLE, 0, 0, 300, 200, nullptr, nullptr,
                                type.hInstance, nullptr);
      SetEvent(ready);
      MSG message;
      while (GetMessageA(&message, nullptr, 0, 0) > 0) DispatchMessageA(&message);
    });
    WaitForSingleObject(ready, 30000);
    CloseHandle(ready);
  }
  ~ChartThread() {
    run([this] {
      DestroyWindow(window_);
      PostQuitMessage(0);
    });
    thread_.join();
  }
  HWND window() const { return window_; }
  int handle() const { return static_cast<int>(reinterpret_cast<std::intptr_t>(window_)); }
  void run(std::function<void()> work) { SendMessageA(window_, kRun, 0, reinterpret_cast<LPARAM>(&work)); }
  // A paint of the whole window, done before this returns.
  void paint() {
    run([this] { RedrawWindow(window_, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW); });
  }

 private:
  std::thread thread_;
  HWND window_ = nullptr;
};

int create(const ChartThread& chart, const std::string& data1, int refresh = 10) {
  return CreateHelper2(0, chart.handle(), 7, 9, 0, refresh, data1.c_str(), 0);
}

// The record of a window, held while the test reads it.
struct Held {
  explicit Held(HWND window) : helper(lumarel::acquireHelper(window)) {}
  ~Held() { lumarel::releaseHelper(helper); }
  lumarel::AdvertHelper* operator->() const { return helper; }
  lumarel::AdvertHelper* helper;
};

HBITMAP imageOf(lumarel::AdvertHelper* helper) {
  AcquireSRWLockShared(&helper->viewLock);
  HBITMAP image = helper->view.image;
  ReleaseSRWLockShared(&helper->viewLock);
  return image;
}

std::size_t requestCount(const std::string& data1) { return test_http::requests(advert::requestPrefix(data1)).size(); }

// Waits for the fetch that has made its `count`th request to end.
bool fetchEnded(lumarel::AdvertHelper* helper, const std::string& data1, std::size_t count) {
  return waitUntil([&] { return requestCount(data1) >= count && !helper->fetchUnderWay.load(); }, 30000);
}

TEST(AdvertRecord, RefreshBelowTenBecomesTen) {
  ChartThread chart;
  const std::string data1 = advert::uniqueData1();
  ASSERT_TRUE(advert::script(data1, advert::failure(404)));
  for (const auto& [given, stored] : {std::pair{0, 10}, {9, 10}, {-5, 10}, {10, 10}, {25, 25}}) {
    SCOPED_TRACE(given);
    ASSERT_EQ(create(chart, data1, given), 1);
    {
      Held helper(chart.window());
      ASSERT_NE(helper.helper, nullptr);
      EXPECT_EQ(helper->refreshMinutes, stored);
    }
    EXPECT_EQ(RemoveHelper(chart.handle()), 1);
  }
}

// The chart paints everything but the advert, the advert is drawn after it,
// and a paint that misses the advert leaves it as it is.
TEST(AdvertRecord, TheChartNeverPaintsOverTheAdvert) {
  constexpr COLORREF kAdvertColor = 0xFF0000;
  constexpr COLORREF kChartGray = RGB(128, 128, 128);  // GRAY_BRUSH
  ChartThread chart;
  const std::string data1 = advert::uniqueData1();
  ASSERT_TRUE(advert::script(data1, advert::picture(advert::bmp(40, 20, 0xFF0000))));
  ASSERT_EQ(create(chart, data1), 1);
  {
    Held helper(chart.window());
    ASSERT_TRUE(fetchEnded(helper.helper, data1, 1));
  }
  auto pixelAt = [&](int x, int y) {
    COLORREF c = 0;
    chart.run([&] {
      HDC dc = GetDC(chart.window());
      c = GetPixel(dc, x, y);
      ReleaseDC(chart.window(), dc);
    });
    return c;
  };
  const struct {
    const char* name;
    std::optional<RECT> area;  // none: the whole chart
  } cases[] = {
      {"the whole chart", std::nullopt},
      {"a corner away from the advert", RECT{200, 150, 300, 200}},
      {"a rectangle over part of the advert", RECT{0, 0, 20, 20}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const long before = chartPaints.load();
    chart.run(
        [&] { RedrawWindow(chart.window(), c.area ? &*c.area : nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW); });
    EXPECT_GT(chartPaints.load(), before) << "the chart did not paint";
    EXPECT_FALSE(chartReachedAdvert.load()) << "the chart's paint could draw over the advert";
    EXPECT_EQ(pixelAt(27, 19), kAdvertColor) << "the advert is not shown";
    EXPECT_EQ(pixelAt(3, 3), kChartGray) << "the chart beside the advert";
    EXPECT_EQ(pixelAt(48, 30), kChartGray) << "the chart beside the advert";
  }
  robot::saveScreenshot(chart.window(), screenshotPath("advert_clipped_paint"));
}

TEST(AdvertRecord, ScheduleAndWhatAFailedFetchLeaves) {
  ChartThread chart;
  const std::string data1 = advert::uniqueData1();
  const std::string first = advert::bmp(40, 20, 0x0000FF);
  ASSERT_TRUE(advert::script(data1, advert::picture(first, "http://click.invalid/a", "d", "1")));
  ASSERT_EQ(create(chart, data1), 1);
  Held helper(chart.window());
  ASSERT_NE(helper.helper, nullptr);
  ASSERT_TRUE(fetchEnded(helper.helper, data1, 1));
  const HBITMAP shown = imageOf(helper.helper);
  ASSERT_NE(shown, nullptr);
  // Due refreshMinutes after the fetch ended.
  EXPECT_NEAR(helper->nextFetchDue.load() - lumarel::nowSeconds(), 600, 5);
  const std::int32_t firstRepaint = helper->lastInvalidate.load();
  EXPECT_NEAR(firstRepaint, lumarel::nowSeconds(), 5);

  const struct {
    const char* name;
    AdvertAnswer answer;
  } failures[] = {
      {"404", advert::failure(404, "missing")},
      {"a body that is not a picture", advert::picture("this is not a picture", "http://other.invalid/", "x", "2")},
  };
  std::size_t count = 1;
  for (const auto& f : failures) {
    SCOPED_TRACE(f.name);
    ASSERT_TRUE(advert::script(data1, f.answer));
    // The due time has come: the next paint starts a fetch.
    helper->nextFetchDue.store(0);
    const std::int32_t began = lumarel::nowSeconds();
    chart.paint();
    ASSERT_TRUE(fetchEnded(helper.helper, data1, ++count));
    EXPECT_EQ(imageOf(helper.helper), shown);
    EXPECT_EQ(helper->view.clickUrl, "http://click.invalid/a");
    EXPECT_EQ(helper->view.clickData, "d");
    EXPECT_EQ(helper->view.placement.corner, 1);
    EXPECT_EQ(helper->view.placement.marginX, 45);
    EXPECT_NEAR(helper->nextFetchDue.load() - began, 600, 2);
  }

  // A new picture within 10 seconds of the last repaint request: stored, but
  // no second repaint is asked for. An empty corner and a missing
  // "imageurldata" leave their values.
  ASSERT_TRUE(advert::script(data1, advert::picture(advert::bmp(30, 10, 0x00FF00), "", std::nullopt, "")));
  helper->nextFetchDue.store(0);
  chart.paint();
  ASSERT_TRUE(fetchEnded(helper.helper, data1, ++count));
  EXPECT_NE(imageOf(helper.helper), shown);
  EXPECT_EQ(helper->view.imageWidth, 30);
  EXPECT_EQ(helper->view.imageHeight, 10);
  EXPECT_EQ(helper->view.clickUrl, "");
  EXPECT_EQ(helper->view.clickData, "d");
  EXPECT_EQ(helper->view.placement.corner, 1);
  EXPECT_EQ(helper->lastInvalidate.load(), firstRepaint);

  // Not due yet: painting starts nothing (a start would have set the flag
  // before the paint returned).
  chart.paint();
  EXPECT_FALSE(helper->fetchUnderWay.load());
  helper->nextFetchDue.store(0);
  chart.paint();
  ASSERT_TRUE(fetchEnded(helper.helper, data1, count + 1));
  EXPECT_EQ(requestCount(data1), count + 1);
  EXPECT_EQ(RemoveHelper(chart.handle()), 1);
}

TEST(AdvertRecord, PaintingAndRemovalNeverWaitForAFetch) {
  ChartThread chart;
  const std::string data1 = advert::uniqueData1();
  ASSERT_TRUE(advert::script(data1, advert::picture(advert::bmp(40, 20, 0xFF0000))));
  ASSERT_EQ(create(chart, data1), 1);
  Held helper(chart.window());
  ASSERT_TRUE(fetchEnded(helper.helper, data1, 1));
  ASSERT_TRUE(advert::script(data1, advert::picture(advert::bmp(40, 20, 0xFF0000), "", "", "", 8000)));
  helper->nextFetchDue.store(0);
  const long paintsBefore = chartPaints.load();
  chart.paint();
  // The server holds its answer for 8 seconds; the paint is over already.
  EXPECT_GT(chartPaints.load(), paintsBefore);
  EXPECT_TRUE(helper->fetchUnderWay.load());
  // The removal comes once the server holds the request: a fetch thread that
  // had not asked yet when its record came off the chart would rightly ask
  // nothing (on a busy machine the thread may start that late).
  ASSERT_TRUE(waitUntil([&] { return requestCount(data1) >= 2; }, 30000));
  EXPECT_TRUE(helper->fetchUnderWay.load());
  EXPECT_EQ(RemoveHelper(chart.handle()), 1);
  EXPECT_TRUE(helper->fetchUnderWay.load()) << "removal waited for the fetch";
  EXPECT_TRUE(helper->removed.load());
  ASSERT_TRUE(fetchEnded(helper.helper, data1, 2));
}

// Attach and remove thousands of times while the chart paints and takes mouse
// messages without pause and fetches store their pictures. A record read
// after it was freed faults on its inaccessible pages; every record must be
// freed exactly once in the end.
TEST(AdvertRecord, RemovalRacesPaintingAndFetching) {
  const long liveBefore = lumarel::checkedLiveHelpers();
  {
    ChartThread chart;
    const std::string data1 = advert::uniqueData1();
    ASSERT_TRUE(
        advert::script(data1, advert::picture(advert::bmp(40, 20, 0x00FFFF), "http://click.invalid/", "", "3")));
    std::atomic<bool> done{false};
    std::thread painter([&] {
      while (!done.load()) {
        RedrawWindow(chart.window(), nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW);
        SendMessageA(chart.window(), WM_MOUSEMOVE, 0, MAKELPARAM(250, 170));
        PostMessageA(chart.window(), WM_MOUSEMOVE, 0, MAKELPARAM(10, 10));
      }
    });
    int attached = 0;
    for (int round = 0; round < 2000; ++round) {
      attached += create(chart, data1);
      if (round % 3 == 1)
        Sleep(1);  // sometimes a fetch gets under way first
      else if (round % 3 == 2)
        Sleep(0);
      ASSERT_EQ(RemoveHelper(chart.handle()), 1) << "round " << round;
    }
    done.store(true);
    painter.join();
    EXPECT_EQ(attached, 2000);
    EXPECT_GT(requestCount(data1), 0u);
  }
  EXPECT_TRUE(waitUntil([&] { return lumarel::checkedLiveHelpers() == liveBefore; }, 60000))
      << lumarel::checkedLiveHelpers() - liveBefore << " records never freed";
}

// Another subclass of the chart window, as other code in the terminal may
// install one: it counts what it sees and forwards everything.
struct OtherSubclass {
  static inline std::atomic<long> counted{0};
  static inline WNDPROC previous = nullptr;
  static LRESULT CALLBACK proc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == kCounted) counted.fetch_add(1);
    return CallWindowProcA(previous, window, message, wParam, lParam);
  }
  static void install(ChartThread& chart) {
    chart.run([&] {
      previous = reinterpret_cast<WNDPROC>(GetWindowLongPtrA(chart.window(), GWLP_WNDPROC));
      SetWindowLongPtrA(chart.window(), GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(proc));
    });
  }
  // Unhooks as a subclass does: puts back whatever it found.
  static void remove(ChartThread& chart) {
    chart.run([&] { SetWindowLongPtrA(chart.window(), GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(previous)); });
  }
};

WNDPROC installedProc(const ChartThread& chart) {
  return reinterpret_cast<WNDPROC>(GetWindowLongPtrA(chart.window(), GWLP_WNDPROC));
}

// One message through the window's whole chain: which procedures saw it.
struct Seen {
  long chart, other;
};
Seen sendCounted(const ChartThread& chart) {
  const long chartBefore = chartCounted.load(), otherBefore = OtherSubclass::counted.load();
  SendMessageA(chart.window(), kCounted, 0, 0);
  return {chartCounted.load() - chartBefore, OtherSubclass::counted.load() - otherBefore};
}

// A second subclass above ours, taken away before or after ours, and the
// helper attached again: the chart's own procedure and the other subclass
// keep receiving every message, and nothing calls itself for ever.
TEST(AdvertRecord, AnotherSubclassAboveOursKeepsTheChainWhole) {
  const struct {
    const char* name;
    bool otherLeavesFirst;
  } orders[] = {{"the other subclass removed before ours", true}, {"the other subclass removed after ours", false}};
  for (const auto& order : orders) {
    SCOPED_TRACE(order.name);
    ChartThread chart;
    const WNDPROC chartOwn = installedProc(chart);
    const std::string data1 = advert::uniqueData1();
    ASSERT_TRUE(advert::script(data1, advert::failure(404)));
    ASSERT_EQ(create(chart, data1), 1);
    ASSERT_EQ(installedProc(chart), lumarel::advertWindowProc);
    OtherSubclass::install(chart);
    Seen seen = sendCounted(chart);
    EXPECT_EQ(seen.chart, 1);
    EXPECT_EQ(seen.other, 1);

    if (order.otherLeavesFirst) {
      OtherSubclass::remove(chart);
      EXPECT_EQ(installedProc(chart), lumarel::advertWindowProc);
      EXPECT_EQ(RemoveHelper(chart.handle()), 1);
      EXPECT_EQ(installedProc(chart), chartOwn) << "the chart's own procedure was not put back";
    } else {
      EXPECT_EQ(RemoveHelper(chart.handle()), 1);
      EXPECT_EQ(installedProc(chart), &OtherSubclass::proc) << "the other subclass was dropped";
      seen = sendCounted(chart);
      EXPECT_EQ(seen.other, 1);
      EXPECT_EQ(seen.chart, 1) << "ours, left below the other, no longer forwards";
      OtherSubclass::remove(chart);
      // Ours is back on top with nothing of its own to do: it forwards.
      seen = sendCounted(chart);
      EXPECT_EQ(seen.chart, 1) << "the chart went dead";
      EXPECT_EQ(seen.other, 0);
    }
    chart.paint();

    // Attached again: one subclass of ours, never its own previous procedure.
    ASSERT_EQ(create(chart, data1), 1);
    EXPECT_NE(GetPropA(chart.window(), "OldWndProc"), reinterpret_cast<HANDLE>(lumarel::advertWindowProc));
    seen = sendCounted(chart);
    EXPECT_EQ(seen.chart, 1);
    const long paints = chartPaints.load();
    chart.paint();
    EXPECT_GT(chartPaints.load(), paints) << "the chart no longer paints";
    EXPECT_EQ(RemoveHelper(chart.handle()), 1);
    EXPECT_EQ(installedProc(chart), chartOwn) << "the chart's own procedure was not put back in the end";
    EXPECT_EQ(GetPropA(chart.window(), "OldWndProc"), nullptr);
    EXPECT_EQ(RemoveHelper(chart.handle()), 0);
    seen = sendCounted(chart);
    EXPECT_EQ(seen.chart, 1);
  }
}

// A GIF whose logical screen claims 30000 x 30000 pixels: a decoder would
// make a bitmap of that size from a body of a few bytes.
std::string declaringHugeSize(std::string gif) {
  if (gif.size() >= 10) gif.replace(6, 4, std::string("\x30\x75\x30\x75", 4));
  return gif;
}

// What an answer may bring is bounded: a larger body or image is a failed
// fetch and leaves the record without an image.
TEST(AdvertRecord, OversizedAdvertIsRefused) {
  const struct {
    const char* name;
    std::string body;
    bool shown;
  } cases[] = {
      {"2048 pixels wide", advert::bmp(2048, 2, 0x0000FF), true},
      {"2049 pixels wide", advert::bmp(2049, 2, 0x0000FF), false},
      {"2049 pixels high", advert::bmp(2, 2049, 0x0000FF), false},
      {"a body over 1 MiB", advert::bmp(600, 600, 0x0000FF), false},
      {"a small gif declaring 30000 x 30000 pixels", declaringHugeSize(advert::gif(8, 8, 0x0000FF)), false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ChartThread chart;
    const std::string data1 = advert::uniqueData1();
    ASSERT_TRUE(advert::script(data1, advert::picture(c.body, "http://click.invalid/")));
    ASSERT_EQ(create(chart, data1), 1);
    {
      Held helper(chart.window());
      ASSERT_NE(helper.helper, nullptr);
      ASSERT_TRUE(fetchEnded(helper.helper, data1, 1));
      EXPECT_EQ(imageOf(helper.helper) != nullptr, c.shown) << c.body.size() << " bytes";
      if (!c.shown) {
        EXPECT_EQ(helper->view.clickUrl, "") << "a refused answer set the click target";
      }
    }
    EXPECT_EQ(RemoveHelper(chart.handle()), 1);
  }
}

}  // namespace
