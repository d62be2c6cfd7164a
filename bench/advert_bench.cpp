// The cost of one chart paint with the advert helper attached next to the
// same paint without it: the chart's own drawing, plus what the helper adds.
// Two equal charts, child windows of one frame as the terminal's charts are,
// one of them with the helper, are painted in turn, so that whatever else the
// machine does weighs on both alike. Needs the test web server on 127.0.0.1:80.
#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

#include "bench/bench_support.h"
#include "testing/http/advert_server.h"
#include "terminal/system_library.h"

namespace {

using Create = int(__stdcall*)(int, int, int, int, int, int, const char*, int);
using Remove = int(__stdcall*)(int);

constexpr unsigned long kAdvertColor = 0x3060F0;

// A chart that draws a grid over its whole area, as a price chart draws its
// bars and scales.
LRESULT CALLBACK chartProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_PAINT) {
    PAINTSTRUCT paint;
    HDC dc = BeginPaint(window, &paint);
    RECT client;
    GetClientRect(window, &client);
    FillRect(dc, &paint.rcPaint, static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH)));
    HGDIOBJ pen = SelectObject(dc, GetStockObject(WHITE_PEN));
    for (int x = 0; x < client.right; x += 8) {
      MoveToEx(dc, x, 0, nullptr);
      LineTo(dc, x, client.bottom);
    }
    for (int y = 0; y < client.bottom; y += 8) {
      MoveToEx(dc, 0, y, nullptr);
      LineTo(dc, client.right, y);
    }
    SelectObject(dc, pen);
    EndPaint(window, &paint);
    return 0;
  }
  if (message == WM_ERASEBKGND) return 1;
  return DefWindowProcA(window, message, wParam, lParam);
}

void pump() {
  MSG m;
  while (PeekMessageA(&m, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&m);
}

double timePaint(HWND chart, const RECT* area) {
  pump();
  const long long start = bench::nowMicroseconds();
  RedrawWindow(chart, area, nullptr, RDW_INVALIDATE | RDW_UPDATENOW);
  return static_cast<double>(bench::nowMicroseconds() - start);
}

// Paints the two charts in turn, `count` times each, the first one first on
// every other round. `area` null: the whole chart, as a resize or an uncovered
// chart repaints.
double medianRatio(HWND first, HWND second, int count, const RECT* area, bench::Percentiles* firstOut = nullptr,
                   bench::Percentiles* secondOut = nullptr) {
  std::vector<double> a, b;
  for (int i = 0; i < count; ++i) {
    if (i % 2 == 0) {
      a.push_back(timePaint(first, area));
      b.push_back(timePaint(second, area));
    } else {
      b.push_back(timePaint(second, area));
      a.push_back(timePaint(first, area));
    }
  }
  const auto pa = bench::percentiles(a), pb = bench::percentiles(b);
  if (firstOut) *firstOut = pa;
  if (secondOut) *secondOut = pb;
  return pa.median / pb.median;
}

unsigned long pixel(HWND chart, int x, int y) {
  HDC dc = GetDC(chart);
  const COLORREF c = GetPixel(dc, x, y);
  ReleaseDC(chart, dc);
  return c;
}

}  // namespace

int main(int argc, char** argv) {
  const char* path = argc > 1 ? argv[1] : "Lumarel.dll";
  HMODULE library = LoadLibraryA(path);
  auto create = terminal::procAddress<Create>(library, "CreateHelper2");
  auto remove = terminal::procAddress<Remove>(library, "RemoveHelper");
  if (!create || !remove) {
    std::printf("cannot load %s or its advert exports: %lu\n", path, GetLastError());
    return 1;
  }
  WNDCLASSA type = {};
  type.lpfnWndProc = chartProc;
  type.hInstance = GetModuleHandleA(nullptr);
  type.lpszClassName = "BenchAdvertChart";
  RegisterClassA(&type);
  WNDCLASSA frameType = {};
  frameType.lpfnWndProc = DefWindowProcA;
  frameType.hInstance = type.hInstance;
  frameType.lpszClassName = "BenchAdvertFrame";
  RegisterClassA(&frameType);
  constexpr int kWidth = 600, kHeight = 450;
  HWND frame =
      CreateWindowExA(0, frameType.lpszClassName, "terminal", WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN | WS_VISIBLE, 0, 0,
                      2 * kWidth + 40, kHeight + 60, nullptr, nullptr, type.hInstance, nullptr);
  HWND withAdvert = CreateWindowExA(0, type.lpszClassName, "chart", WS_CHILD | WS_VISIBLE, 0, 0, kWidth, kHeight, frame,
                                    nullptr, type.hInstance, nullptr);
  HWND plain = CreateWindowExA(0, type.lpszClassName, "chart", WS_CHILD | WS_VISIBLE, kWidth + 10, 0, kWidth, kHeight,
                               frame, nullptr, type.hInstance, nullptr);
  const int handle = static_cast<int>(reinterpret_cast<std::intptr_t>(withAdvert));

  const std::string data1 = test_http::advert::uniqueData1();
  if (!test_http::advert::script(data1, test_http::advert::picture(test_http::advert::bmp(200, 50, kAdvertColor),
                                                                   "http://click.invalid/", "", "1"))) {
    std::printf("the test web server does not answer on 127.0.0.1:80\n");
    return 1;
  }
  constexpr int kPaints = 400;
  // A tick's candle at the chart's bottom left: far from the advert.
  const RECT corner = {0, kHeight - 100, 200, kHeight};
  medianRatio(withAdvert, plain, 50, nullptr);  // warm up
  const double same = medianRatio(withAdvert, plain, kPaints, nullptr);
  create(0, handle, 5, 15, 0, 10, data1.c_str(), 0);
  // Corner 1, margins 45 and 10: the advert's middle.
  const DWORD waitStart = GetTickCount();
  while (pixel(withAdvert, kWidth - 45 - 100, 35) != kAdvertColor) {
    if (GetTickCount() - waitStart > 30000) {
      std::printf("the advert never showed\n");
      return 1;
    }
    Sleep(20);
    RedrawWindow(withAdvert, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW);
  }
  bench::Percentiles advert{}, without{};
  const double whole = medianRatio(withAdvert, plain, kPaints, nullptr, &advert, &without);
  bench::Percentiles cornerAdvert{}, cornerWithout{};
  const double away = medianRatio(withAdvert, plain, kPaints, &corner, &cornerAdvert, &cornerWithout);
  remove(handle);

  std::printf("chart paint, two %d x %d child windows painted in turn, %d paints each:\n", kWidth, kHeight, kPaints);
  std::printf("  before the helper, the two charts: ratio %.2f (the baseline: 1 when they cost alike)\n", same);
  std::printf("  without the helper: median %.0f us, p99 %.0f us\n", without.median, without.p99);
  std::printf("  with the helper and a 200 x 50 advert: median %.0f us, p99 %.0f us\n", advert.median, advert.p99);
  std::printf("  ratio with / without (medians): %.2f\n", whole);
  std::printf("  a 200 x 100 corner away from the advert: median %.0f us without, %.0f us with, ratio %.2f\n",
              cornerWithout.median, cornerAdvert.median, away);
  DestroyWindow(frame);
  return 0;
}
