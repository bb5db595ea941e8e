#pragma once
// The program's process-wide state: one window thread, at most one worker.

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

constexpr UINT_PTR kAnimationTimerId = 42;
constexpr UINT kAnimationIntervalMs = 40;
constexpr int kTextBufferSize = 128;

extern HINSTANCE programInstance;
extern HWND mainWindow;
extern HWND progressBar;
extern HWND statusLine;
extern HWND productLine;
extern char updateFilePath[kPathBufferSize];
extern bool consoleEnabled;
extern std::atomic<LONG> updateRunning;      // tested and set by the window thread only
extern std::atomic<bool> indeterminateMode;  // set by the worker's reporter, read by the window
extern int animationPosition;
extern bool windowExpanded;
extern PictureSlot<HBITMAP> backgroundBitmap;
extern SIZE normalSize;
extern SIZE expandedSize;
extern char titleText[kTextBufferSize];
extern char noticeText[kTextBufferSize];
// Refuses to end the program, and holds off the end of the session, while an update runs (window
// thread only).
extern UpdateGuard updateGuard;

// Posts a message carrying a heap copy of `text`; the copy is freed here when the post fails.
void PostText(UINT message, WPARAM wParam, const char* text);

// Main window helpers.
void SetClientSize(HWND window, int width, int height);
void CenterWindowOnScreen(HWND window);
void SetUpdatingLayout(HWND window, bool on);
int CenteredMessageBox(HWND owner, const char* text, const char* caption, UINT type);

// Starting an update.
void StartUpdate(HWND owner, const char* path);
void ConfirmUpdate(const char* path);
void ShowProductInfo(const Update& update);
// Whether an update's worker thread has not ended yet (it may still be using GDI+); the handle of
// one that has ended is closed.
bool WorkerRunning();

// Background pictures (GDI+ must be running).
HBITMAP LoadPngResource(int id);
HBITMAP BitmapFromPngBytes(const std::vector<std::uint8_t>& bytes);

// Diagnostic log: the sink to the debugger output and standard output, and the Ctrl-key console.
void InstallDebuggerLogSink();
void OpenConsole();
