// Entry point and the main window: banner, progress bar, status line and product line, the menu,
// dropped files, and the messages that an update's worker posts.
#include <windows.h>
#include <commctrl.h>
#include <commdlg.h>
#include <objidl.h>
#include <gdiplus.h>
#include <shellapi.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "AppState.h"
#include "Log.h"
#include "PortDiscovery.h"
#include "resource.h"

HINSTANCE programInstance = nullptr;
HWND mainWindow = nullptr;
HWND progressBar = nullptr;
HWND statusLine = nullptr;
HWND productLine = nullptr;
char updateFilePath[kPathBufferSize] = {};
bool consoleEnabled = false;
std::atomic<LONG> updateRunning{0};
std::atomic<bool> indeterminateMode{false};
int animationPosition = 0;
bool windowExpanded = false;
PictureSlot<HBITMAP> backgroundBitmap;
SIZE normalSize = {0, 0};
SIZE expandedSize = {0, 0};
char titleText[kTextBufferSize] = {};
char noticeText[kTextBufferSize] = {};

namespace {

// The system holds off a log-off or shut-down, naming the reason, while the window asks it to.
bool BlockSessionEnd(const std::string& reason) {
    const std::wstring wide(reason.begin(), reason.end());  // the reason is plain ASCII
    if (ShutdownBlockReasonCreate(mainWindow, wide.c_str())) return true;
    LogMessage("The end of the session cannot be held off during the update (%lu)\n",
               static_cast<unsigned long>(GetLastError()));
    return false;
}

void UnblockSessionEnd() { ShutdownBlockReasonDestroy(mainWindow); }

}  // namespace

UpdateGuard updateGuard(BlockSessionEnd, UnblockSessionEnd);

namespace {

const char* const kClassName = "MIDI Updater";

// The owner that the next message box is centred on, while CenteredMessageBox runs.
HWND centringOwner = nullptr;
thread_local HHOOK centringHook = nullptr;

Rect ToRect(const RECT& r) { return Rect{r.left, r.top, r.right, r.bottom}; }

LRESULT CALLBACK CentringHookProc(int code, WPARAM wParam, LPARAM lParam) {
    if (code != HCBT_ACTIVATE) {
        CallNextHookEx(centringHook, code, wParam, lParam);
        return 0;
    }
    HWND box = reinterpret_cast<HWND>(wParam);
    RECT boxRect, ownerRect, desktopRect;
    if (centringOwner && GetWindowRect(box, &boxRect) && GetWindowRect(centringOwner, &ownerRect) &&
        GetWindowRect(GetDesktopWindow(), &desktopRect)) {
        int width = boxRect.right - boxRect.left;
        int height = boxRect.bottom - boxRect.top;
        Point at = CenteredOnOwner(ToRect(ownerRect), width, height, ToRect(desktopRect));
        MoveWindow(box, at.x, at.y, width, height, FALSE);
    }
    UnhookWindowsHookEx(centringHook);
    centringHook = nullptr;
    return 0;
}

// Releases the pictures that were replaced; only the window thread calls it, never while painting.
void ReleaseReplacedPictures() {
    for (HBITMAP old : backgroundBitmap.TakeRetired()) DeleteObject(old);
}

void PaintBackground(HWND window) {
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

void CALLBACK AnimationTimerProc(HWND, UINT, UINT_PTR, DWORD) {
    if (indeterminateMode) PostMessageA(mainWindow, WM_UPDATE_ANIMATE, 0, 0);
}

void ChooseUpdateFile(HWND owner) {
    updateFilePath[0] = '\0';
    static const char filters[] =
        "All supported files\0*.syx;*.upd\0"
        "Update file (*.upd)\0*.upd\0"
        "SysEx file (*.syx)\0*.syx\0"
        "All files\0*\0";
    OPENFILENAMEA dialog = {};
    dialog.lStructSize = sizeof dialog;
    dialog.hwndOwner = owner;
    dialog.lpstrFilter = filters;
    dialog.nFilterIndex = 1;
    dialog.lpstrFile = updateFilePath;
    dialog.nMaxFile = kPathBufferSize;
    dialog.Flags = OFN_FILEMUSTEXIST | OFN_PATHMUSTEXIST;
    if (GetOpenFileNameA(&dialog)) StartUpdate(owner, updateFilePath);
}

void ShowAbout() {
    std::string text = AboutBoxText(titleText, noticeText);
    CenteredMessageBox(mainWindow, text.c_str(), "About", MB_ICONINFORMATION);
}

void HandleDrop(HDROP drop) {
    UINT count = DragQueryFileA(drop, 0xFFFFFFFF, nullptr, 0);
    for (UINT i = 0; i < count; ++i) {
        char name[kPathBufferSize] = {};
        if (DragQueryFileA(drop, i, name, kPathBufferSize) && name[0]) {
            StartUpdate(mainWindow, name);
            break;
        }
    }
    DragFinish(drop);
}

HWND CreateRow(HWND parent, const char* className, DWORD style, int y, int width, int height,
               const char* text) {
    return CreateWindowExA(0, className, text, WS_CHILD | WS_VISIBLE | style, 0, y, width, height,
                           parent, nullptr, programInstance, nullptr);
}

void CreateMainWindowContents(HWND window) {
    mainWindow = window;
    LoadStringA(programInstance, IDS_NOTICE, noticeText, kTextBufferSize);
    LoadStringA(programInstance, IDS_TITLE, titleText, kTextBufferSize);
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
    progressBar = CreateRow(window, PROGRESS_CLASSA, PBS_SMOOTH, height, width, h, nullptr);
    SendMessageA(progressBar, PBM_SETPOS, 0, 0);
    statusLine = CreateRow(window, "STATIC", 0, height + h, width, h, "Waiting for update file.");
    productLine = CreateRow(window, "STATIC", 0, height + 2 * h, width, h,
                            "No update file has been loaded yet.");
    if (HGDIOBJ font = GetStockObject(ANSI_VAR_FONT)) {
        SendMessageA(statusLine, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
        SendMessageA(productLine, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
    }
    ListInterfaces();
    CenterWindowOnScreen(window);
    SetUpdatingLayout(window, false);
}

// Handles the messages that carry a heap text; the text is freed afterwards.
void HandleTextMessage(UINT message, WPARAM wParam, char* text) {
    switch (message) {
    case WM_UPDATE_PROGRESS:
        if (static_cast<int>(wParam) >= 0) SendMessageA(progressBar, PBM_SETPOS, wParam, 0);
        if (text) SetWindowTextA(statusLine, StatusLineText(text).c_str());
        break;
    case WM_UPDATE_FAILED:
        CenteredMessageBox(mainWindow, FailureBoxText(text ? text : "").c_str(), titleText, MB_ICONERROR);
        break;
    case WM_UPDATE_PRODUCT:
        SetWindowTextA(productLine, text ? text : "");
        break;
    case WM_UPDATE_COMPLETED:
        SetWindowTextA(statusLine, CompletedLineText(text ? text : "").c_str());
        MessageBoxA(mainWindow, text ? text : "", titleText, MB_ICONINFORMATION);
        break;
    default:
        break;
    }
    std::free(text);
}

LRESULT CALLBACK MainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_CREATE:
        CreateMainWindowContents(window);
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
        PaintBackground(window);
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
                StartUpdate(window, updateFilePath);
            } else {
                ChooseUpdateFile(window);
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
        SetUpdatingLayout(window, false);
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
        ConfirmUpdate(updateFilePath);
        break;
    default:
        break;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

}  // namespace

void SetClientSize(HWND window, int width, int height) {
    RECT outer, client;
    GetWindowRect(window, &outer);
    GetClientRect(window, &client);
    std::pair<int, int> size = OuterSizeForClient(ToRect(outer), ToRect(client), width, height);
    MoveWindow(window, outer.left, outer.top, size.first, size.second, TRUE);
}

void CenterWindowOnScreen(HWND window) {
    RECT outer;
    GetWindowRect(window, &outer);
    int width = outer.right - outer.left;
    int height = outer.bottom - outer.top;
    Point at = CenteredOnScreen(GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN), width, height);
    MoveWindow(window, at.x, at.y, width, height, FALSE);
}

void SetUpdatingLayout(HWND window, bool on) {
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

int CenteredMessageBox(HWND owner, const char* text, const char* caption, UINT type) {
    centringOwner = owner;
    centringHook = SetWindowsHookExA(WH_CBT, CentringHookProc, nullptr, GetCurrentThreadId());
    int result = MessageBoxA(owner, text, caption, type);
    if (centringHook) {
        UnhookWindowsHookEx(centringHook);
        centringHook = nullptr;
    }
    centringOwner = nullptr;
    return result;
}

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR commandLine, int showCommand) {
    programInstance = instance;
    InstallDebuggerLogSink();
    WNDCLASSEXA windowClass = {};
    windowClass.cbSize = sizeof windowClass;
    windowClass.style = CS_HREDRAW | CS_VREDRAW;
    windowClass.lpfnWndProc = MainWindowProc;
    windowClass.hInstance = instance;
    windowClass.hIcon = LoadIconA(nullptr, IDI_APPLICATION);
    windowClass.hIconSm = LoadIconA(nullptr, IDI_APPLICATION);
    windowClass.hCursor = LoadCursorA(nullptr, IDC_ARROW);
    windowClass.hbrBackground = static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH));
    windowClass.lpszMenuName = MAKEINTRESOURCEA(IDR_MAINMENU);
    windowClass.lpszClassName = kClassName;

    Gdiplus::GdiplusStartupInput gdiplusInput;
    ULONG_PTR gdiplusToken = 0;
    Gdiplus::GdiplusStartup(&gdiplusToken, &gdiplusInput, nullptr);
    InitCommonControls();

    if (GetAsyncKeyState(VK_CONTROL) != 0) {
        consoleEnabled = true;
        OpenConsole();
        std::setvbuf(stdout, nullptr, _IONBF, 0);
        std::setvbuf(stdin, nullptr, _IONBF, 0);
    }

    if (!RegisterClassExA(&windowClass)) {
        MessageBoxA(nullptr, "Failed to initialize!", "MIDI Updater", MB_ICONERROR);
        return 0;
    }
    HWND window = CreateWindowExA(0, kClassName, "", WS_CLIPCHILDREN | WS_CAPTION | WS_SYSMENU,
                                  CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT,
                                  nullptr, nullptr, instance, nullptr);
    ShowWindow(window, showCommand);
    UpdateWindow(window);

    std::string tail = commandLine ? commandLine : "";
    if (!tail.empty()) {
        std::strcpy(updateFilePath, CommandLinePath(tail).c_str());
        PostMessageA(mainWindow, WM_COMMAND, IDM_OPEN, 1);
    } else if (!consoleEnabled) {
        WIN32_FIND_DATAA found;
        HANDLE search = FindFirstFileA("*.upd", &found);
        if (search != INVALID_HANDLE_VALUE) {
            std::strcpy(updateFilePath, CutToPathBuffer(found.cFileName).c_str());
            FindClose(search);
            PostMessageA(mainWindow, WM_UPDATE_FOUND, 0, 1);
        }
    }

    MSG message;
    while (GetMessageA(&message, nullptr, 0, 0) > 0) {
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
    ReleaseReplacedPictures();
    // A window closed during an update leaves the worker running, perhaps decoding a picture: GDI+
    // stays up for it, and the process ends anyway.
    if (!WorkerRunning()) Gdiplus::GdiplusShutdown(gdiplusToken);
    return static_cast<int>(message.wParam);
}
