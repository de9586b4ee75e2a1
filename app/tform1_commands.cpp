// The command buttons of the window: restarts, output rates, fix rate, DGPS, queries, the
// assisted-GPS queries and the sentence log.
//
// Thread rule: window thread only.
#include "app/tform1.h"

void TForm1::hotClick() {}
void TForm1::warmClick() {}
void TForm1::coldClick() {}
void TForm1::btDefaultClick() {}
void TForm1::btConfirmClick() {}
void TForm1::btNAQueryClick() {}
void TForm1::btFixQueryClick() {}
void TForm1::btFixSetClick() {}
void TForm1::Button5Click() {}
void TForm1::btDGQueryClick() {}
void TForm1::btDGPSSetClick() {}
void TForm1::btVerQueryClick() {}
void TForm1::Button2Click() {}
void TForm1::Button4Click() {}
void TForm1::StartLogClick() {}
void TForm1::StopLogClick() {}

void TForm1::HandlePmtkReply() {}

void TForm1::WriteSentenceToLog() {
  StartLog->setEnabled(true);
  StopLog->setEnabled(false);
}
