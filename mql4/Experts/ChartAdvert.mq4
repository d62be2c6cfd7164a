//+------------------------------------------------------------------+
//| ChartAdvert.mq4: shows the advert in the top-right corner of its |
//| chart while it runs, and gives the chart back when removed.      |
//+------------------------------------------------------------------+
#property strict
#include <Lumarel.mqh>

input int Corner = 1;            // 0 top-left, 1 top-right, 2 bottom-left, 3 bottom-right
input int RefreshMinutes = 30;   // 10 at least

int chart = 0;

int OnInit() {
  chart = WindowHandle(Symbol(), Period());
  if (LmCreateHelper(chart, 45, 10, Corner, RefreshMinutes, Symbol(), Period()) == 0)
    Print("no advert: too many charts carry one");
  return INIT_SUCCEEDED;
}

void OnTick() {}

void OnDeinit(const int reason) {
  if (chart != 0) RemoveHelper(chart);
}
