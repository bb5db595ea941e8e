#pragma once
// Where windows and message boxes go: a window's client size, a window centred on the screen, and
// message boxes centred on their owner.

#include <windows.h>

void SetClientSize(HWND window, int width, int height);
void CenterWindowOnScreen(HWND window);
// MessageBoxA, with the box centred on `owner` and kept on the desktop.
int CenteredMessageBox(HWND owner, const char* text, const char* caption, UINT type);
