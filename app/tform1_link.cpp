// The link side of the window: switching the port on and off, and the per-sentence hand-off
// from the reader thread onto the window thread.
//
// Thread rule: window thread only; the reader thread reaches HandleSentence through the
// blocking hand-off.
#include "app/tform1.h"

void TForm1::Button1Click() {}

void TForm1::OpenComPort() {}

void TForm1::HandleSentence() {}

void TForm1::UpdateSentenceDisplay() {}
