//+------------------------------------------------------------------+
//| LocalSender.mq4: sends each new price to the channel "Prices".   |
//+------------------------------------------------------------------+
#property strict
#include <Lumarel.mqh>

input string Channel = "Prices";
int sender = 0;

int OnInit() {
  sender = LmStartSender(Channel);
  return sender != 0 ? INIT_SUCCEEDED : INIT_FAILED;
}

void OnTick() {
  string message = Symbol() + " " + DoubleToString(Bid, Digits);
  int result = LmSendMessage(sender, message);
  if (result == LM_TOO_LONG) Print("The receiver is not keeping up: message not sent");
}

void OnDeinit(const int reason) { LM_ReleaseSender(sender); }
