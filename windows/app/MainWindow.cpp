// Entry point and the main window: banner, progress bar, status line and product line, the menu,
// dropped files, and the messages that an update's worker posts.
#include "MainWindow.h"

#include <commctrl.h>
#include <commdlg.h>
#include <objidl.h>
#include <gdiplus.h>
#include <shellapi.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "BackgroundImage.h"
#include "DiagnosticLog.h"
#include "Log.h"
#include "PortDiscovery.h"
#include "WindowPlacement.h"
#include "resource.h"

namespace {

const char* const kClassName = "MIDI Updater";
constexpr UINT_PTR kAnimationTimerId = 42;
constexpr UINT kAnimationIntervalMs = 40;

MainWindow* WindowObject(HWND window) {
    return reinterpret_cast<MainWindow*>(GetWindowLongPtrA(window, GWLP_USERDATA));
}

}  // namespace

MainWindow::MainWindow(HINSTANCE program)
    : instance(program),
      updateGuard([this](const std::string& reason) { return BlockSessionEnd(reason); },
                  [this] { UnblockSessionEnd(); }),
      starter(program, link) {}

// The system holds off a log-off or shut-down, naming the reason, while the window asks it to.
bool MainWindow::BlockSessionEnd(const std::string& reason) {
    const std::wstring wide(reason.begin(), reason.end());  // the reason is plain ASCII
    if (ShutdownBlockReasonCreate(window, wide.c_str())) return true;
    LogMessage("The end of the session cannot be held off during the update (%lu)\n",
               static_cast<unsigned long>(GetLastError()));
    return false;
}

void MainWindow::UnblockSessionEnd() { ShutdownBlockReasonDestroy(window); }

bool MainWindow::Create(int showCommand) {
    WNDCLASSEXA windowClass = {};
    windowClass.cbSize = sizeof windowClass;
    windowClass.style = CS_HREDRAW | CS_VREDRAW;
    windowClass.lpfnWndProc = WindowProc;
    windowClass.hInstance = instance;
    windowClass.hIcon = LoadIconA(nullptr, IDI_APPLICATION);
    windowClass.hIconSm = LoadIconA(nullptr, IDI_APPLICATION);
    windowClass.hCursor = LoadCursorA(nullptr, IDC_ARROW);
    windowClass.hbrBackground = static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH));
    windowClass.lpszMenuName = MAKEINTRESOURCEA(IDR_MAINMENU);
    windowClass.lpszClassName = kClassName;
    if (!RegisterClassExA(&windowClass)) {
        MessageBoxA(nullptr, "Failed to initialize!", "MIDI Updater", MB_ICONERROR);
        return false;
    }
    HWND created = CreateWindowExA(0, kClassName, "", WS_CLIPCHILDREN | WS_CAPTION | WS_SYSMENU,
                                   CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT,
                                   nullptr, nullptr, instance, this);
    ShowWindow(created, showCommand);
    UpdateWindow(created);
    return true;
}

void MainWindow::OfferStartFile(const char* commandLine, bool consoleEnabled) {
    std::string tail = commandLine ? commandLine : "";
    if (!tail.empty()) {
        std::strcpy(updateFilePath, CommandLinePath(tail).c_str());
        PostMessageA(window, WM_COMMAND, IDM_OPEN, 1);
    } else if (!consoleEnabled) {
        WIN32_FIND_DATAA found;
        HANDLE search = FindFirstFileA("*.upd", &found);
        if (search != INVALID_HANDLE_VALUE) {
            std::strcpy(updateFilePath, CutToPathBuffer(found.cFileName).c_str());
            FindClose(search);
            PostMessageA(window, WM_UPDATE_FOUND, 0, 1);
        }
    }
}

void MainWindow::ReleaseReplacedPictures() {
    for (HBITMAP old : backgroundBitmap.TakeRetired()) DeleteObject(old);
}

void MainWindow::PaintBackground() {
    ReleaseReplacedPictures();
    PAINTSTRUCT paint;
    HDC dc = BeginPaint(window, &paint);
    HBITMAP bitmap = backgroundBitmap.Current();
    if (bitmap) {
        BITMAP info;
        HDC memory = CreateCompatibleDC(dc);
        if (memory && GetObjectA(bitmap, sizeof info, &info)) {
            HGDIOBJ old = SelectObject(memory, bitmap);
            BitBlt(dc, 0, 0, info.bmWidth, info.bmHeight, memory, 0, 0, SRCCOPY);
            SelectObject(memory, old);
        }
        if (memory) DeleteDC(memory);
    }
    EndPaint(window, &paint);
}

void CALLBACK MainWindow::AnimationTimerProc(HWND handle, UINT, UINT_PTR, DWORD) {
    MainWindow* self = WindowObject(handle);
    if (self && self->indeterminateMode) PostMessageA(self->window, WM_UPDATE_ANIMATE, 0, 0);
}

void MainWindow::ChooseUpdateFile() {
    updateFilePath[0] = '\0';
    static const char filters[] =
        "All supported files\0*.syx;*.upd\0"
        "Update file (*.upd)\0*.upd\0"
        "SysEx file (*.syx)\0*.syx\0"
        "All files\0*\0";
    OPENFILENAMEA dialog = {};
    dialog.lStructSize = sizeof dialog;
    dialog.hwndOwner = window;
    dialog.lpstrFilter = filters;
    dialog.nFilterIndex = 1;
    dialog.lpstrFile = updateFilePath;
    dialog.nMaxFile = kPathBufferSize;
    dialog.Flags = OFN_FILEMUSTEXIST | OFN_PATHMUSTEXIST;
    if (GetOpenFileNameA(&dialog)) StartUpdate(updateFilePath);
}

void MainWindow::ShowAbout() {
    std::string text = AboutBoxText(titleText, noticeText);
    CenteredMessageBox(window, text.c_str(), "About", MB_ICONINFORMATION);
}

void MainWindow::HandleDrop(HDROP drop) {
    UINT count = DragQueryFileA(drop, 0xFFFFFFFF, nullptr, 0);
    for (UINT i = 0; i < count; ++i) {
        char name[kPathBufferSize] = {};
        if (DragQueryFileA(drop, i, name, kPathBufferSize) && name[0]) {
            StartUpdate(name);
            break;
        }
    }
    DragFinish(drop);
}

void MainWindow::StartUpdate(const char* path) {
    if (starter.Start(path)) UpdateStarted();
}

void MainWindow::ConfirmUpdate() {
    if (starter.Confirm(updateFilePath)) UpdateStarted();
}

// The worker runs: no leaving and no drops until it reports its end (WM_UPDATE_FINISHED).
void MainWindow::UpdateStarted() {
    updateGuard.UpdateStarted();
    SetUpdatingLayout(true);
}

HWND MainWindow::CreateRow(const char* className, DWORD style, int y, int width, int height,
                           const char* text) {
    return CreateWindowExA(0, className, text, WS_CHILD | WS_VISIBLE | style, 0, y, width, height,
                           window, nullptr, instance, nullptr);
}

void MainWindow::CreateContents() {
    LoadStringA(instance, IDS_NOTICE, noticeText, kTextBufferSize);
    LoadStringA(instance, IDS_TITLE, titleText, kTextBufferSize);
    SetWindowTextA(window, titleText);

    HBITMAP banner = LoadPngResource(IDB_BANNER);
    if (!banner) MessageBoxA(window, "Failed to load background image", "Error", MB_OK);
    backgroundBitmap.Replace(banner);
    int h = GetSystemMetrics(SM_CYVSCROLL);
    BITMAP info;
    if (banner && GetObjectA(banner, sizeof info, &info)) {
        SetClientSize(window, info.bmWidth, info.bmHeight);
    } else {
        SetClientSize(window, 500, 200);
    }
    RECT outer;
    GetWindowRect(window, &outer);
    normalSize = {outer.right - outer.left, outer.bottom - outer.top};
    expandedSize = {normalSize.cx, normalSize.cy + 3 * h};

    RECT client;
    GetClientRect(window, &client);
    int width = client.right - client.left;
    int height = client.bottom - client.top;
    progressBar = CreateRow(PROGRESS_CLASSA, PBS_SMOOTH, height, width, h, nullptr);
    SendMessageA(progressBar, PBM_SETPOS, 0, 0);
    statusLine = CreateRow("STATIC", 0, height + h, width, h, "Waiting for update file.");
    productLine = CreateRow("STATIC", 0, height + 2 * h, width, h, "No update file has been loaded yet.");
    if (HGDIOBJ font = GetStockObject(ANSI_VAR_FONT)) {
        SendMessageA(statusLine, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
        SendMessageA(productLine, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
    }
    ListInterfaces();
    CenterWindowOnScreen(window);
    SetUpdatingLayout(false);
}

void MainWindow::SetUpdatingLayout(bool on) {
    if (!on) {
        DragAcceptFiles(window, TRUE);
        return;
    }
    SetWindowTextA(statusLine, "");
    SendMessageA(progressBar, PBM_SETPOS, 0, 0);
    SetWindowPos(window, nullptr, 0, 0, expandedSize.cx, expandedSize.cy,
                 SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    DragAcceptFiles(window, FALSE);
    windowExpanded = true;
}

// Handles the messages that carry a heap text; the text is freed afterwards.
void MainWindow::HandleTextMessage(UINT message, WPARAM wParam, char* text) {
    switch (message) {
    case WM_UPDATE_PROGRESS:
        if (static_cast<int>(wParam) >= 0) SendMessageA(progressBar, PBM_SETPOS, wParam, 0);
        if (text) SetWindowTextA(statusLine, StatusLineText(text).c_str());
        break;
    case WM_UPDATE_FAILED:
        CenteredMessageBox(window, FailureBoxText(text ? text : "").c_str(), titleText, MB_ICONERROR);
        break;
    case WM_UPDATE_PRODUCT:
        SetWindowTextA(productLine, text ? text : "");
        break;
    case WM_UPDATE_COMPLETED:
        SetWindowTextA(statusLine, CompletedLineText(text ? text : "").c_str());
        MessageBoxA(window, text ? text : "", titleText, MB_ICONINFORMATION);
        break;
    default:
        break;
    }
    std::free(text);
}

LRESULT CALLBACK MainWindow::WindowProc(HWND handle, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_NCCREATE) {
        // The object comes with the creation; every later message finds it in the window.
        auto* created = static_cast<MainWindow*>(reinterpret_cast<CREATESTRUCTA*>(lParam)->lpCreateParams);
        SetWindowLongPtrA(handle, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(created));
        created->window = handle;
        created->link.window = handle;
    }
    MainWindow* self = WindowObject(handle);
    if (!self) return DefWindowProcA(handle, message, wParam, lParam);
    return self->HandleMessage(message, wParam, lParam);
}

LRESULT MainWindow::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_CREATE:
        CreateContents();
        break;
    case WM_CLOSE:
        // The close box and Alt+F4, like File > Exit, do nothing while an update runs.
        if (!updateGuard.MayLeave(LeaveRequest::CloseWindow)) return 0;
        break;
    case WM_QUERYENDSESSION:
        return updateGuard.MayLeave(LeaveRequest::EndSession) ? TRUE : FALSE;
    case WM_DESTROY:
        PostQuitMessage(0);
        return 0;
    case WM_PAINT:
        PaintBackground();
        break;
    case WM_ERASEBKGND:
        return 1;
    case WM_MOVING: {
        RECT* proposed = reinterpret_cast<RECT*>(lParam);
        proposed->bottom = proposed->top + (windowExpanded ? expandedSize.cy : normalSize.cy);
        return 1;
    }
    case WM_DROPFILES:
        HandleDrop(reinterpret_cast<HDROP>(wParam));
        break;
    case WM_COMMAND:
        switch (LOWORD(wParam)) {
        case IDM_OPEN:
            if (updateRunning) break;
            if (lParam == 1) {
                StartUpdate(updateFilePath);
            } else {
                ChooseUpdateFile();
            }
            break;
        case IDM_ABOUT:
            ShowAbout();
            break;
        case IDM_EXIT:
        case IDCANCEL:
            if (updateGuard.MayLeave(LeaveRequest::ExitCommand)) SendMessageA(window, WM_CLOSE, 0, 0);
            break;
        default:
            break;
        }
        return 0;
    case WM_UPDATE_PROGRESS:
    case WM_UPDATE_FAILED:
    case WM_UPDATE_PRODUCT:
    case WM_UPDATE_COMPLETED:
        HandleTextMessage(message, wParam, reinterpret_cast<char*>(lParam));
        break;
    case WM_UPDATE_FINISHED:
        updateRunning = 0;
        updateGuard.UpdateEnded();
        SetUpdatingLayout(false);
        ReleaseReplacedPictures();
        break;
    case WM_UPDATE_ANIMATE:
        if (indeterminateMode) {
            animationPosition = NextAnimationPosition(animationPosition);
            SendMessageA(progressBar, PBM_SETPOS, static_cast<WPARAM>(animationPosition), 0);
            SetTimer(window, kAnimationTimerId, kAnimationIntervalMs, AnimationTimerProc);
        }
        break;
    case WM_UPDATE_FOUND:
        ConfirmUpdate();
        break;
    default:
        break;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR commandLine, int showCommand) {
    InstallDebuggerLogSink();
    // On the heap: a worker that still runs when the window has gone keeps using it (see below).
    auto mainWindow = std::make_unique<MainWindow>(instance);

    Gdiplus::GdiplusStartupInput gdiplusInput;
    ULONG_PTR gdiplusToken = 0;
    Gdiplus::GdiplusStartup(&gdiplusToken, &gdiplusInput, nullptr);
    InitCommonControls();

    bool consoleEnabled = false;
    if (GetAsyncKeyState(VK_CONTROL) != 0) {
        consoleEnabled = true;
        OpenConsole();
        std::setvbuf(stdout, nullptr, _IONBF, 0);
        std::setvbuf(stdin, nullptr, _IONBF, 0);
    }

    if (!mainWindow->Create(showCommand)) return 0;
    mainWindow->OfferStartFile(commandLine, consoleEnabled);

    MSG message;
    while (GetMessageA(&message, nullptr, 0, 0) > 0) {
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
    mainWindow->ReleaseReplacedPictures();
    // A window closed during an update leaves the worker running, perhaps decoding a picture and
    // posting to the window's words: GDI+ and the window object stay up for it, and the process
    // ends anyway.
    if (mainWindow->WorkerRunning()) {
        static_cast<void>(mainWindow.release());
    } else {
        Gdiplus::GdiplusShutdown(gdiplusToken);
    }
    return static_cast<int>(message.wParam);
}
