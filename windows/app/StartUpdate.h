#pragma once
// Starting an update: the direct start, the confirmed start of a discovered file, and the worker.

#include <windows.h>

#include <string>

#include "Update.h"
#include "WindowLink.h"

// Starts updates for the main window, on the window thread. It tells the window what happens only
// by the messages of WindowLink.h, from the window thread and from the worker alike; a start that
// fails or is cancelled posts the failure and WM_UPDATE_FINISHED.
class UpdateStarter {
public:
    // `window` is the window's own link: its handle is filled in when the window is created.
    UpdateStarter(HINSTANCE program, const WindowLink& window) : instance(program), link(window) {}
    UpdateStarter(const UpdateStarter&) = delete;
    UpdateStarter& operator=(const UpdateStarter&) = delete;

    // Reads the file, asks for the port when it names none, shows its message and starts the
    // worker. True when the worker runs; nothing happens while an update runs or starts.
    bool Start(const char* path);
    // Shows the file's product and asks whether to update; Close ends the program. True when the
    // worker runs.
    bool Confirm(const char* path);
    // Whether the last worker has not ended yet (it may still be using GDI+); the handle of one
    // that has ended is closed.
    bool WorkerRunning();

private:
    static INT_PTR CALLBACK ConfirmDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

    HINSTANCE instance;
    const WindowLink& link;
    bool starting = false;
    HANDLE workerThread = nullptr;
    DWORD workerThreadId = 0;
};
