// Starting an update: the direct start, the confirmed start of a discovered file, and the worker.
#include <windows.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>

#include "AppState.h"
#include "Log.h"
#include "PortDiscovery.h"
#include "SelectPortDialog.h"
#include "UpdateSession.h"
#include "WinmmMidiSystem.h"
#include "WindowsUpdateProgress.h"
#include "resource.h"

namespace {

// What the window thread hands to the worker; the worker owns it once it runs.
struct UpdateRequest {
    std::string portName;
    std::string path;
};

HANDLE workerThread = nullptr;
DWORD workerThreadId = 0;

// The update that the confirmation dialog asks about, while it is open.
const Update* confirmingUpdate = nullptr;

// A start that failed before or inside the worker: the reason in the failure box, then back to idle.
void ReportFailure(const char* reason, bool known) {
    if (known) {
        LogMessage("Thread caught exception: %s\n", reason);
    } else {
        LogMessage("Thread caught unknown exception\n");
    }
    PostText(WM_UPDATE_FAILED, static_cast<WPARAM>(-1), known ? reason : "Unknown reason");
    PostMessageA(mainWindow, WM_UPDATE_FINISHED, static_cast<WPARAM>(updateRunning.load()), 0);
}

// Runs `work`, turning every exception into the failure report.
template <typename Work>
void CatchingFailures(Work work) {
    try {
        work();
    } catch (const ParseError& error) {
        ReportFailure(error.what(), true);
    } catch (const std::exception& error) {
        ReportFailure(error.what(), true);
    } catch (...) {
        ReportFailure(nullptr, false);
    }
}

DWORD WINAPI UpdateThread(LPVOID argument) {
    std::unique_ptr<UpdateRequest> request(static_cast<UpdateRequest*>(argument));
    if (!request) {
        ConsoleMessage("Invalid request\n");
    } else {
        LPARAM normalEnd = 0;
        CatchingFailures([&] {
            LogMessage("Loading update file %s...\n", request->path.c_str());
            std::ifstream stream(request->path, std::ios::binary);
            Update update(stream);
            LogMessage("Product name:   %s\n", update.productName.c_str());
            LogMessage("Message:        %s\n", update.message.c_str());
            LogMessage("Image:          %u bytes\n", static_cast<unsigned>(update.image.size()));
            LogMessage("Port names:     %u\n", static_cast<unsigned>(update.winPort.names.size()));
            LogMessage("SysEx portions: %u\n", static_cast<unsigned>(update.portions.size()));
            LogMessage("Total SysEx:    %u bytes\n", static_cast<unsigned>(TotalSysExSize(update)));
            ShowProductInfo(update);

            WindowsUpdateProgress progress;
            ConsoleMessage("Using Window MM library ********************************************\n");
            WinmmMidiSystem midi;
            // The port, the computer kept awake (on this thread, which Windows requires) and the
            // run are the core's; what ends the run without a verdict is reported as any failure.
            UpdateSession session(update, RunPortSettings(update, HostPlatform::Windows, request->portName));
            const UpdateOutcome outcome = session.Run(midi, progress);
            request.reset();
            if (!outcome.completed) {
                ReportFailure(outcome.failure.c_str(), outcome.failureKnown);
                return;
            }
            normalEnd = 1;
        });
        request.reset();
        if (!normalEnd) return 1;  // the failure path has posted WM_UPDATE_FINISHED
    }
    PostMessageA(mainWindow, WM_UPDATE_FINISHED, static_cast<WPARAM>(updateRunning.load()), 1);
    return 1;
}

INT_PTR CALLBACK ConfirmDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
    switch (message) {
    case WM_INITDIALOG: {
        CheckDlgButton(dialog, IDC_EMERGENCY, BST_UNCHECKED);
        if (confirmingUpdate) {
            SetWindowTextA(dialog, ("Update " + confirmingUpdate->productName).c_str());
            SetDlgItemTextA(dialog, IDC_CONFIRM_TEXT, ConfirmQuestionText(*confirmingUpdate).c_str());
        }
        // The emergency update is not offered: the check box goes before the dialog is shown.
        SendDlgItemMessageA(dialog, IDC_EMERGENCY, WM_CLOSE, 0, 0);
        return TRUE;
    }
    case WM_COMMAND:
        if (LOWORD(wParam) == IDOK) {
            EndDialog(dialog, IDOK);
            StartUpdate(mainWindow, updateFilePath);
            return TRUE;
        }
        if (LOWORD(wParam) == IDCANCEL) {
            EndDialog(dialog, IDCANCEL);
            std::exit(0);
        }
        return FALSE;
    default:
        return FALSE;
    }
}

}  // namespace

void PostText(UINT message, WPARAM wParam, const char* text) {
    char* copy = _strdup(text);
    if (!PostMessageA(mainWindow, message, wParam, reinterpret_cast<LPARAM>(copy))) std::free(copy);
}

void ShowProductInfo(const Update& update) {
    std::string line = ProductLineText(update);
    PostText(WM_UPDATE_PRODUCT, static_cast<WPARAM>(updateRunning.load()), line.c_str());
    if (update.image.empty()) return;
    HBITMAP picture = BitmapFromPngBytes(update.image);
    if (!picture) return;
    // The banner that this replaces is released later by the window thread (see WM_PAINT).
    backgroundBitmap.Replace(picture);
    RedrawWindow(mainWindow, nullptr, nullptr,
                 RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN | RDW_UPDATENOW);
}

void StartUpdate(HWND owner, const char* path) {
    // The port choice and the message box run message loops of their own: a file dropped on the
    // window meanwhile would start a second update beside this one, on the same device. Drops are
    // refused until this start has ended; the end of an update (or of a failed start) takes them
    // again.
    static bool starting = false;
    if (updateRunning || starting) return;
    starting = true;
    DragAcceptFiles(mainWindow, FALSE);
    CatchingFailures([&] {
        std::ifstream stream(path, std::ios::binary);
        Update update(stream);
        std::string portName;
        if (update.isRawSysEx) {
            std::vector<std::string> names = ListOutputPortNames();
            // Without any output device there is nothing to choose from and nothing to send to.
            if (names.empty()) throw ParseError(kNoOutputPortText);
            portName = PickedPortName(names, ShowSelectPortDialog(names, owner, programInstance));
        }
        if (!update.message.empty()) {
            MessageBoxA(mainWindow, ImportantMessageText(update.message).c_str(),
                        "Important message about update", MB_ICONINFORMATION | MB_OK);
        }
        auto* request = new UpdateRequest{portName, path};

        updateRunning = 1;
        // The worker before has reported its end; its handle goes (closing it never stops a thread).
        if (workerThread) CloseHandle(workerThread);
        workerThread = nullptr;
        ConsoleMessage("Creating worker thread!\n");
        workerThread = CreateThread(nullptr, 0, UpdateThread, request, 0, &workerThreadId);
        if (!workerThread) {
            ConsoleMessage("CreateThread failed!\n");
            delete request;
            updateRunning = 0;
            DragAcceptFiles(mainWindow, TRUE);
            return;
        }
        updateGuard.UpdateStarted();
        if (owner == mainWindow) SetUpdatingLayout(mainWindow, true);
    });
    starting = false;
}

bool WorkerRunning() {
    if (!workerThread) return false;
    if (WaitForSingleObject(workerThread, 0) == WAIT_TIMEOUT) return true;
    CloseHandle(workerThread);
    workerThread = nullptr;
    return false;
}

void ConfirmUpdate(const char* path) {
    CatchingFailures([&] {
        std::ifstream stream(path, std::ios::binary);
        Update update(stream);
        SetWindowTextA(mainWindow, ("Update " + update.productName).c_str());
        ShowProductInfo(update);
        confirmingUpdate = &update;
        DialogBoxParamA(programInstance, MAKEINTRESOURCEA(IDD_CONFIRM), mainWindow, ConfirmDialogProc, 0);
        confirmingUpdate = nullptr;
    });
}
