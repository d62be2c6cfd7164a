//+------------------------------------------------------------------+
//| LocalReceiver.mq4: prints what arrives on the channel "Prices".  |
//| A sender wakes this chart, so OnTick runs as soon as a message   |
//| waits, also on a quiet market.                                   |
//+------------------------------------------------------------------+
#property strict
#include <Lumarel.mqh>

input string Channel = "Prices";
int receiver = 0;

int OnInit() {
  receiver = LmStartReceiver(Channel, WindowHandle(Symbol(), Period()));
  return receiver != 0 ? INIT_SUCCEEDED : INIT_FAILED;
}

void OnTick() {
  string pending = LmGetMessages(receiver);
  if (pending == "") return;
  string messages[];
  int count = StringSplit(pending, '\t', messages);
  for (int i = 0; i < count; i++) Print("received: ", messages[i]);
}

void OnDeinit(const int reason) { LM_ReleaseReceiver(receiver); }
