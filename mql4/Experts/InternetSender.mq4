//+------------------------------------------------------------------+
//| InternetSender.mq4: posts each new price to a hub channel.       |
//+------------------------------------------------------------------+
#property strict
#include <Lumarel.mqh>

input string Channel = "Prices";
input string User = "";
input string Password = "";
input int Server = LM_HUB_PRODUCTION;
int sender = 0;

int OnInit() {
  sender = LmStartSendInternetMessages(WindowHandle(Symbol(), Period()), Server, Channel, User, Password);
  return sender != 0 ? INIT_SUCCEEDED : INIT_FAILED;
}

void OnTick() {
  if (LM_IsInternetSendSessionTerminated(sender) == 1) return;  // the hub ended it
  // One request per call, made on this thread: keep messages few.
  int result = LmSendInternetMessage(sender, Symbol() + " " + DoubleToString(Bid, Digits));
  if (result == LM_HUB_TERMINATED || result >= LM_HUB_FINAL_ERROR)
    Print("The hub ended this sender: ", LM_GetLastInternetSendError(sender));
  else if (result != LM_HUB_OK)
    Print("Not sent: ", result);
}

void OnDeinit(const int reason) { LM_EndSendInternetMessages(sender); }
