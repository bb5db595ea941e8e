// Where windows and message boxes go. The message box is moved by a hook on its own thread, which
// the system calls without any context of ours: what it needs lives per thread, only while
// CenteredMessageBox runs.
#include "WindowPlacement.h"

#include <utility>

#include "AppLogic.h"

namespace {

// The box being shown on this thread: the window it is centred on, and the hook that moves it.
struct Centring {
    HWND owner = nullptr;
    HHOOK hook = nullptr;
};
thread_local Centring centring;

Rect ToRect(const RECT& r) { return Rect{r.left, r.top, r.right, r.bottom}; }

LRESULT CALLBACK CentringHookProc(int code, WPARAM wParam, LPARAM lParam) {
    if (code != HCBT_ACTIVATE) {
        CallNextHookEx(centring.hook, code, wParam, lParam);
        return 0;
    }
    HWND box = reinterpret_cast<HWND>(wParam);
    RECT boxRect, ownerRect, desktopRect;
    if (centring.owner && GetWindowRect(box, &boxRect) && GetWindowRect(centring.owner, &ownerRect) &&
        GetWindowRect(GetDesktopWindow(), &desktopRect)) {
        int width = boxRect.right - boxRect.left;
        int height = boxRect.bottom - boxRect.top;
        Point at = CenteredOnOwner(ToRect(ownerRect), width, height, ToRect(desktopRect));
        MoveWindow(box, at.x, at.y, width, height, FALSE);
    }
    UnhookWindowsHookEx(centring.hook);
    centring.hook = nullptr;
    return 0;
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

int CenteredMessageBox(HWND owner, const char* text, const char* caption, UINT type) {
    centring.owner = owner;
    centring.hook = SetWindowsHookExA(WH_CBT, CentringHookProc, nullptr, GetCurrentThreadId());
    int result = MessageBoxA(owner, text, caption, type);
    if (centring.hook) {
        UnhookWindowsHookEx(centring.hook);
        centring.hook = nullptr;
    }
    centring.owner = nullptr;
    return result;
}
