#pragma once
// The "Select a MIDI port" dialog, for files that name no port.

#include <windows.h>

#include <string>
#include <vector>

// Index of the chosen name in `names`, or -1 when the user cancelled or nothing was selected.
int ShowSelectPortDialog(const std::vector<std::string>& names, HWND parent, HINSTANCE instance);
