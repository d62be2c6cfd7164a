//+------------------------------------------------------------------+
//| Lumarel.mqh: the functions of Lumarel.dll for MQL4 programs.     |
//| Put Lumarel.dll in MQL4\Libraries and allow DLL imports.         |
//+------------------------------------------------------------------+
#property strict

#import "Lumarel.dll"
// Seconds since 1970-01-01 00:00:00 UTC, whatever the computer's time zone.
long TimeUTC();

// Wakes the chart `window` (WindowHandle(Symbol(), Period())) every
// `interval` milliseconds, in steps of 10, for as long as the chart exists:
// the chart's program runs as on a new price. Returns a handle for
// RemoveTimedTicks, or 0 when window is 0 or no thread could be started.
int SetupTimedTicks(int window, int interval);

// Stops the ticks of a handle from SetupTimedTicks. Returns 1 when they have
// stopped (and for the handle 0), 0 for a value that is not such a handle.
int RemoveTimedTicks(int handle);
#import
