//+------------------------------------------------------------------+
//| InternetReceiver.mq4: prints what arrives on a hub channel. The  |
//| library's polling thread wakes this chart when messages arrive,  |
//| so OnTick runs at once, also on a quiet market.                  |
//+------------------------------------------------------------------+
#property strict
#include <Lumarel.mqh>

input string Channel = "Prices";
input string User = "";
input string Password = "";
input int Server = LM_HUB_PRODUCTION;
int receiver = 0;

int OnInit() {
  receiver = LmStartReceiveInternetMessages(WindowHandle(Symbol(), Period()), Server, Channel, User, Password);
  if (receiver == 0) return INIT_FAILED;
  if (LM_GetLastInternetReceiveError(receiver) == LM_HUB_DUPLICATE)
    Print("Another receiver for ", Channel, " and ", User, " runs already");
  return INIT_SUCCEEDED;
}

void OnTick() {
  string pending = LmQueryInternetMessages(receiver);
  if (pending != "") {
    string messages[];
    int count = StringSplit(pending, '\t', messages);
    for (int i = 0; i < count; i++) Print("received: ", messages[i]);
  }
  if (LM_IsInternetReceiverActive(receiver) == 0)
    Comment("Receiver stopped, last error ", LM_GetLastInternetReceiveError(receiver));
}

void OnDeinit(const int reason) { LM_EndReceiveInternetMessages(receiver); }
