// Starting an update: the direct start, the confirmed start of a discovered file, and the worker.
#include "StartUpdate.h"

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>

#include "BackgroundImage.h"
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
    WindowLink link;
};

// A start that failed before or inside the worker: the reason in the failure box, then back to idle.
void ReportFailure(const WindowLink& link, const char* reason, bool known) {
    if (known) {
        LogMessage("Thread caught exception: %s\n", reason);
    } else {
        LogMessage("Thread caught unknown exception\n");
    }
    PostText(link.window, WM_UPDATE_FAILED, static_cast<WPARAM>(-1), known ? reason : "Unknown reason");
    PostMessageA(link.window, WM_UPDATE_FINISHED, static_cast<WPARAM>(link.updateRunning.load()), 0);
}

// Runs `work`, turning every exception into the failure report.
template <typename Work>
void CatchingFailures(const WindowLink& link, Work work) {
    try {
        work();
    } catch (const ParseError& error) {
        ReportFailure(link, error.what(), true);
    } catch (const std::exception& error) {
        ReportFailure(link, error.what(), true);
    } catch (...) {
        ReportFailure(link, nullptr, false);
    }
}

// The product line, and the file's picture in place of the banner.
void ShowProductInfo(const WindowLink& link, const Update& update) {
    std::string line = ProductLineText(update);
    PostText(link.window, WM_UPDATE_PRODUCT, static_cast<WPARAM>(link.updateRunning.load()), line.c_str());
    if (update.image.empty()) return;
    HBITMAP picture = BitmapFromPngBytes(update.image);
    if (!picture) return;
    // The banner that this replaces is released later by the window thread (see WM_PAINT).
    link.picture.Replace(picture);
    RedrawWindow(link.window, nullptr, nullptr,
                 RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN | RDW_UPDATENOW);
}

DWORD WINAPI UpdateThread(LPVOID argument) {
    std::unique_ptr<UpdateRequest> request(static_cast<UpdateRequest*>(argument));
    if (!request) {
        // Nothing to run, and no window to tell.
        ConsoleMessage("Invalid request\n");
        return 1;
    }
    const WindowLink link = request->link;
    LPARAM normalEnd = 0;
    CatchingFailures(link, [&] {
        LogMessage("Loading update file %s...\n", request->path.c_str());
        std::ifstream stream(request->path, std::ios::binary);
        Update update(stream);
        LogMessage("Product name:   %s\n", update.productName.c_str());
        LogMessage("Message:        %s\n", update.message.c_str());
        LogMessage("Image:          %u bytes\n", static_cast<unsigned>(update.image.size()));
        LogMessage("Port names:     %u\n", static_cast<unsigned>(update.winPort.names.size()));
        LogMessage("SysEx portions: %u\n", static_cast<unsigned>(update.portions.size()));
        LogMessage("Total SysEx:    %u bytes\n", static_cast<unsigned>(TotalSysExSize(update)));
        ShowProductInfo(link, update);

        WindowsUpdateProgress progress(link);
        ConsoleMessage("Using Window MM library ********************************************\n");
        WinmmMidiSystem midi;
        // The port, the computer kept awake (on this thread, which Windows requires) and the run
        // are the core's; what ends the run without a verdict is reported as any failure.
        UpdateSession session(update, RunPortSettings(update, HostPlatform::Windows, request->portName));
        const UpdateOutcome outcome = session.Run(midi, progress);
        request.reset();
        if (!outcome.completed) {
            ReportFailure(link, outcome.failure.c_str(), outcome.failureKnown);
            return;
        }
        normalEnd = 1;
    });
    request.reset();
    if (!normalEnd) return 1;  // the failure path has posted WM_UPDATE_FINISHED
    PostMessageA(link.window, WM_UPDATE_FINISHED, static_cast<WPARAM>(link.updateRunning.load()), 1);
    return 1;
}

// What the confirmation dialog asks about and does, while it is open; the dialog keeps its
// address in DWLP_USER.
struct Confirmation {
    UpdateStarter& starter;
    const Update& update;
    const char* path;
    bool started;
};

}  // namespace

void PostText(HWND window, UINT message, WPARAM wParam, const char* text) {
    char* copy = _strdup(text);
    if (!PostMessageA(window, message, wParam, reinterpret_cast<LPARAM>(copy))) std::free(copy);
}

bool UpdateStarter::Start(const char* path) {
    // The port choice and the message box run message loops of their own: a file dropped on the
    // window meanwhile would start a second update beside this one, on the same device. Drops are
    // refused until this start has ended; the end of an update (or of a failed start) takes them
    // again.
    if (link.updateRunning || starting) return false;
    starting = true;
    bool started = false;
    DragAcceptFiles(link.window, FALSE);
    CatchingFailures(link, [&] {
        std::ifstream stream(path, std::ios::binary);
        Update update(stream);
        std::string portName;
        if (update.isRawSysEx) {
            std::vector<std::string> names = ListOutputPortNames();
            // Without any output device there is nothing to choose from and nothing to send to.
            if (names.empty()) throw ParseError(kNoOutputPortText);
            portName = PickedPortName(names, ShowSelectPortDialog(names, link.window, instance));
        }
        if (!update.message.empty()) {
            MessageBoxA(link.window, ImportantMessageText(update.message).c_str(),
                        "Important message about update", MB_ICONINFORMATION | MB_OK);
        }
        auto* request = new UpdateRequest{portName, path, link};

        link.updateRunning = 1;
        // The worker before has reported its end; its handle goes (closing it never stops a thread).
        if (workerThread) CloseHandle(workerThread);
        workerThread = nullptr;
        ConsoleMessage("Creating worker thread!\n");
        workerThread = CreateThread(nullptr, 0, UpdateThread, request, 0, &workerThreadId);
        if (!workerThread) {
            ConsoleMessage("CreateThread failed!\n");
            delete request;
            link.updateRunning = 0;
            DragAcceptFiles(link.window, TRUE);
            return;
        }
        started = true;
    });
    starting = false;
    return started;
}

bool UpdateStarter::WorkerRunning() {
    if (!workerThread) return false;
    if (WaitForSingleObject(workerThread, 0) == WAIT_TIMEOUT) return true;
    CloseHandle(workerThread);
    workerThread = nullptr;
    return false;
}

INT_PTR CALLBACK UpdateStarter::ConfirmDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_INITDIALOG: {
        SetWindowLongPtrA(dialog, DWLP_USER, lParam);
        const Confirmation* asked = reinterpret_cast<const Confirmation*>(lParam);
        CheckDlgButton(dialog, IDC_EMERGENCY, BST_UNCHECKED);
        SetWindowTextA(dialog, ("Update " + asked->update.productName).c_str());
        SetDlgItemTextA(dialog, IDC_CONFIRM_TEXT, ConfirmQuestionText(asked->update).c_str());
        // The emergency update is not offered: the check box goes before the dialog is shown.
        SendDlgItemMessageA(dialog, IDC_EMERGENCY, WM_CLOSE, 0, 0);
        return TRUE;
    }
    case WM_COMMAND:
        if (LOWORD(wParam) == IDOK) {
            EndDialog(dialog, IDOK);
            if (auto* asked = reinterpret_cast<Confirmation*>(GetWindowLongPtrA(dialog, DWLP_USER))) {
                asked->started = asked->starter.Start(asked->path);
            }
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

bool UpdateStarter::Confirm(const char* path) {
    bool started = false;
    CatchingFailures(link, [&] {
        std::ifstream stream(path, std::ios::binary);
        Update update(stream);
        SetWindowTextA(link.window, ("Update " + update.productName).c_str());
        ShowProductInfo(link, update);
        Confirmation asked{*this, update, path, false};
        DialogBoxParamA(instance, MAKEINTRESOURCEA(IDD_CONFIRM), link.window, ConfirmDialogProc,
                        reinterpret_cast<LPARAM>(&asked));
        started = asked.started;
    });
    return started;
}
