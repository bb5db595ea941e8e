#pragma once
// What an update's worker shares with the main window: the messages it posts, and three single words.

#include <windows.h>

#include <atomic>

#include "AppLogic.h"

// Messages from the worker (and the entry point) to the main window. A text in lParam is a heap
// copy (strdup) that the window frees after handling the message.
constexpr UINT WM_UPDATE_PROGRESS = WM_USER + 0;
constexpr UINT WM_UPDATE_FAILED = WM_USER + 1;
constexpr UINT WM_UPDATE_FINISHED = WM_USER + 2;
constexpr UINT WM_UPDATE_PRODUCT = WM_USER + 3;
constexpr UINT WM_UPDATE_ANIMATE = WM_USER + 4;
constexpr UINT WM_UPDATE_COMPLETED = WM_USER + 5;
constexpr UINT WM_UPDATE_FOUND = WM_USER + 6;

// The window and the words that the window owns and an update's worker and its reporter use
// besides it. The window outlives every copy of its link (see the entry point).
struct WindowLink {
    HWND window;                           // set once, when the window is created
    std::atomic<LONG>& updateRunning;      // tested and set by the window thread only
    std::atomic<bool>& indeterminateMode;  // set by the worker's reporter, read by the window
    PictureSlot<HBITMAP>& picture;         // replaced by the worker, painted by the window
};

// Posts a message carrying a heap copy of `text`; the copy is freed here when the post fails.
void PostText(HWND window, UINT message, WPARAM wParam, const char* text);
