// An empty program that one core library is linked into whole (see torvikel_layer_check in
// CMakeLists.txt): it links only if that library needs nothing beyond what it declares.
//
// Thread rule: none; it is never run.
int main() { return 0; }
