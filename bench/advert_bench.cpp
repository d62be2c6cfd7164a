// The cost of one chart paint with the advert helper attached next to the
// same paint without it: the chart's own drawing, plus the window regions and
// the bitmap copy the helper adds. Needs the test web server on 127.0.0.1:80.
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
    FillRect(dc, &paint.rcPaint, static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH)));
    HGDIOBJ pen = SelectObject(dc, GetStockObject(WHITE_PEN));
    for (int x = 0; x < 800; x += 8) {
      MoveToEx(dc, x, 0, nullptr);
      LineTo(dc, x, 600);
    }
    for (int y = 0; y < 600; y += 8) {
      MoveToEx(dc, 0, y, nullptr);
      LineTo(dc, 800, y);
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

std::vector<double> timePaints(HWND chart, int count) {
  std::vector<double> samples;
  for (int i = 0; i < count; ++i) {
    pump();
    const long long start = bench::nowMicroseconds();
    RedrawWindow(chart, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW);
    samples.push_back(static_cast<double>(bench::nowMicroseconds() - start));
  }
  return samples;
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
  HWND chart = CreateWindowExA(0, type.lpszClassName, "chart", WS_POPUP | WS_VISIBLE, 0, 0, 800, 600, nullptr, nullptr,
                               type.hInstance, nullptr);
  const int handle = static_cast<int>(reinterpret_cast<std::intptr_t>(chart));

  const std::string data1 = test_http::advert::uniqueData1();
  if (!test_http::advert::script(data1, test_http::advert::picture(test_http::advert::bmp(200, 50, kAdvertColor),
                                                                   "http://click.invalid/", "", "1"))) {
    std::printf("the test web server does not answer on 127.0.0.1:80\n");
    return 1;
  }
  constexpr int kPaints = 400;
  timePaints(chart, 50);  // warm up
  const auto before = timePaints(chart, kPaints);
  create(0, handle, 5, 15, 0, 10, data1.c_str(), 0);
  // Corner 1, margins 45 and 10: the advert's middle on an 800 x 600 chart.
  const DWORD waitStart = GetTickCount();
  while (pixel(chart, 655, 35) != kAdvertColor) {
    if (GetTickCount() - waitStart > 30000) {
      std::printf("the advert never showed\n");
      return 1;
    }
    Sleep(20);
    RedrawWindow(chart, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW);
  }
  const auto with = timePaints(chart, kPaints);
  remove(handle);
  const auto after = timePaints(chart, kPaints);

  std::vector<double> without = before;
  without.insert(without.end(), after.begin(), after.end());
  const auto plain = bench::percentiles(without);
  const auto advert = bench::percentiles(with);
  std::printf("chart paint, 800 x 600, %d paints each:\n", kPaints);
  std::printf("  without the helper: median %.0f us, p99 %.0f us\n", plain.median, plain.p99);
  std::printf("  with the helper and a 200 x 50 advert: median %.0f us, p99 %.0f us\n", advert.median, advert.p99);
  std::printf("  ratio with / without (medians): %.2f\n", advert.median / plain.median);
  DestroyWindow(chart);
  return 0;
}
