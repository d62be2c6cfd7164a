//+------------------------------------------------------------------+
//| TimedTicks.mq4: runs every second, also on a quiet market. The   |
//| library wakes this chart every Interval milliseconds with the    |
//| tick message, so OnTick runs as on a new price.                  |
//+------------------------------------------------------------------+
#property strict
#include <Lumarel.mqh>

input int Interval = 1000;  // milliseconds, in steps of 10
int ticks = 0;
int runs = 0;

int OnInit() {
  ticks = SetupTimedTicks(WindowHandle(Symbol(), Period()), Interval);
  if (ticks == 0) {
    Print("SetupTimedTicks failed: is the chart open and are DLL imports allowed?");
    return INIT_FAILED;
  }
  return INIT_SUCCEEDED;
}

void OnTick() {
  runs++;
  // TimeUTC keeps counting while no price arrives; TimeCurrent does not.
  Comment("Run ", runs, " at ", TimeToString((datetime)TimeUTC(), TIME_DATE | TIME_SECONDS), " UTC",
          "\nLast price at ", TimeToString(TimeCurrent(), TIME_DATE | TIME_SECONDS));
}

void OnDeinit(const int reason) {
  RemoveTimedTicks(ticks);  // the ticks also stop by themselves when the chart closes
  Comment("");
}
