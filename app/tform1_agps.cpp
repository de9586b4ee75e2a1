// The assisted-GPS update of the window: download, switch to binary, upload thread.
//
// Thread rule: window thread only; the upload thread reaches the window through a hand-off.
#include "app/tform1.h"

void TForm1::Button3Click() {}

void TForm1::StopEpoUpload() {}
