// The simulated MIDI services with their records laid out as the system's multimedia header lays
// them out (byte-packed), so that a program built against the real header can call them: the
// layer's header is read first under that packing, then its source as it is.
#pragma pack(push, 1)
#include "WinmmLayer.h"
#pragma pack(pop)
#include "WinmmLayer.cpp"
