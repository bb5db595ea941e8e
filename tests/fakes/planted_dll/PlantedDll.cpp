// A DLL that does nothing but tell that it was loaded (LoadMarker.h): placed beside a program
// under the name of a system DLL (comctl32.dll, gdiplus.dll), it shows whether the program takes
// DLLs from its own folder.
#include "LoadMarker.h"

extern "C" int __stdcall DllMain(void* module, unsigned long reason, void*) {
    if (reason == 1) WriteLoadMarker(module);  // DLL_PROCESS_ATTACH
    return 1;
}
