// A small helper for the window tests under Wine: finds the program's windows from outside, prints
// the texts they show and presses their buttons, as a user would.
//
//   ui_driver dialog TITLE [TIMEOUT_MS]     waits for a dialog or message box titled TITLE and
//                                           prints its title, its outer rectangle, its client
//                                           size and the class and text of each visible child
//                                           (a progress bar's position instead of its text)
//   ui_driver main [TIMEOUT_MS]             the same for the main window (class "MIDI Updater")
//   ui_driver click TITLE BUTTON            presses the button labelled BUTTON in dialog TITLE
//   ui_driver gone TITLE [TIMEOUT_MS]       waits until no dialog titled TITLE is left
//   ui_driver close                         asks the main window to close (as its close box does)
//   ui_driver command ID                    sends the main window a menu command, as the menu does
//   ui_driver end-session                   asks the main window whether the session may end (as a
//                                           log-off does) and prints "end session: 1" or "... 0"
//   ui_driver hold-control [TIMEOUT_MS]     holds Ctrl down, prints "held", and lets it go once the
//                                           main window is there (as a user who holds the key while
//                                           the program starts); status 1 if it never comes
//
// Exit status 0 on success, 1 on time-out or when the window or button is not there.
#include <windows.h>
#include <commctrl.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

struct Search {
    const char* className;
    std::string title;  // empty: any title
    HWND found = nullptr;
};

// Once a window answers (see Answers), its texts come within this bound however slow the machine.
constexpr UINT kAnswerMs = 20000;

std::string TextOf(HWND window) {
    char text[2048] = {};
    DWORD_PTR length = 0;
    SendMessageTimeoutA(window, WM_GETTEXT, sizeof text, reinterpret_cast<LPARAM>(text), SMTO_NORMAL,
                        kAnswerMs, &length);
    return text;
}

// Whether the window's thread takes messages now: a program that is still starting up (slow under
// emulation) shows its window before it reads its messages, and would answer with empty texts.
bool Answers(HWND window) {
    DWORD_PTR result = 0;
    return SendMessageTimeoutA(window, WM_NULL, 0, 0, SMTO_NORMAL, 1000, &result) != 0;
}

BOOL CALLBACK MatchTopLevel(HWND window, LPARAM parameter) {
    auto* search = reinterpret_cast<Search*>(parameter);
    char className[64] = {};
    GetClassNameA(window, className, sizeof className);
    if (!IsWindowVisible(window) || std::strcmp(className, search->className) != 0) return TRUE;
    if (!search->title.empty() && TextOf(window) != search->title) return TRUE;
    search->found = window;
    return FALSE;
}

// `answering`: only a window that takes messages now, for reading its texts; posting to a window
// needs no answer.
HWND WaitFor(const char* className, const std::string& title, DWORD timeoutMs, bool answering = false) {
    DWORD start = GetTickCount();
    for (;;) {
        Search search{className, title};
        EnumWindows(MatchTopLevel, reinterpret_cast<LPARAM>(&search));
        if (search.found && (!answering || Answers(search.found))) return search.found;
        if (GetTickCount() - start > timeoutMs) return nullptr;
        Sleep(100);
    }
}

BOOL CALLBACK CollectChild(HWND window, LPARAM parameter) {
    reinterpret_cast<std::vector<HWND>*>(parameter)->push_back(window);
    return TRUE;
}

std::vector<HWND> Children(HWND window) {
    std::vector<HWND> children;
    EnumChildWindows(window, CollectChild, reinterpret_cast<LPARAM>(&children));
    return children;
}

// Line breaks inside a text are printed as \n so that each window is one line.
void PrintWindow(HWND window) {
    auto print = [](const char* kind, const std::string& text) {
        std::string flat;
        for (char c : text) flat += c == '\n' ? std::string("\\n") : c == '\r' ? std::string() : std::string(1, c);
        std::printf("%s: %s\n", kind, flat.c_str());
    };
    print("title", TextOf(window));
    RECT outer, client;
    GetWindowRect(window, &outer);
    GetClientRect(window, &client);
    std::printf("rect: %ld %ld %ld %ld\nclient: %ld %ld\n", static_cast<long>(outer.left),
                static_cast<long>(outer.top), static_cast<long>(outer.right),
                static_cast<long>(outer.bottom), static_cast<long>(client.right),
                static_cast<long>(client.bottom));
    for (HWND child : Children(window)) {
        if (!IsWindowVisible(child)) continue;
        char className[64] = {};
        GetClassNameA(child, className, sizeof className);
        if (std::strcmp(className, "msctls_progress32") == 0) {
            DWORD_PTR position = 0;
            SendMessageTimeoutA(child, PBM_GETPOS, 0, 0, SMTO_NORMAL, kAnswerMs, &position);
            print(className, std::to_string(position));
        } else {
            print(className, TextOf(child));
        }
    }
    std::fflush(stdout);
}

DWORD TimeoutArg(int argc, char** argv, int index) {
    return argc > index ? static_cast<DWORD>(std::strtoul(argv[index], nullptr, 10)) : 20000;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) return 2;
    std::string command = argv[1];
    if (command == "main") {
        HWND window = WaitFor("MIDI Updater", "", TimeoutArg(argc, argv, 2), true);
        if (!window) return 1;
        PrintWindow(window);
        return 0;
    }
    if (command == "close") {
        HWND window = WaitFor("MIDI Updater", "", 0);
        return window && PostMessageA(window, WM_CLOSE, 0, 0) ? 0 : 1;
    }
    if (command == "end-session") {
        HWND window = WaitFor("MIDI Updater", "", 0);
        DWORD_PTR answer = 0;
        if (!window || !SendMessageTimeoutA(window, WM_QUERYENDSESSION, 0, ENDSESSION_LOGOFF, SMTO_NORMAL,
                                            kAnswerMs, &answer)) {
            return 1;
        }
        std::printf("end session: %d\n", answer ? 1 : 0);
        std::fflush(stdout);
        return 0;
    }
    if (command == "hold-control") {
        // Wine forgets a key that a program has pressed when that program ends: this one stays
        // until the window has come up.
        INPUT input = {};
        input.type = INPUT_KEYBOARD;
        input.ki.wVk = VK_CONTROL;
        if (SendInput(1, &input, sizeof input) != 1) return 1;
        std::printf("held\n");
        std::fflush(stdout);
        HWND window = WaitFor("MIDI Updater", "", TimeoutArg(argc, argv, 2));
        input.ki.dwFlags = KEYEVENTF_KEYUP;
        SendInput(1, &input, sizeof input);
        return window ? 0 : 1;
    }
    if (argc < 3) return 2;
    if (command == "command") {
        HWND window = WaitFor("MIDI Updater", "", 0);
        WPARAM id = static_cast<WPARAM>(std::strtoul(argv[2], nullptr, 10));
        return window && PostMessageA(window, WM_COMMAND, id, 0) ? 0 : 1;
    }
    std::string title = argv[2];
    if (command == "dialog") {
        HWND dialog = WaitFor("#32770", title, TimeoutArg(argc, argv, 3), true);
        if (!dialog) return 1;
        PrintWindow(dialog);
        return 0;
    }
    if (command == "gone") {
        DWORD start = GetTickCount();
        while (WaitFor("#32770", title, 0)) {
            if (GetTickCount() - start > TimeoutArg(argc, argv, 3)) return 1;
            Sleep(100);
        }
        return 0;
    }
    if (command == "click" && argc >= 4) {
        HWND dialog = WaitFor("#32770", title, 20000);
        if (!dialog) return 1;
        for (HWND child : Children(dialog)) {
            std::string text = TextOf(child);
            std::string plain;
            for (char c : text) if (c != '&') plain += c;
            if (plain == argv[3] && IsWindowVisible(child)) {
                PostMessageA(child, BM_CLICK, 0, 0);
                return 0;
            }
        }
        return 1;
    }
    return 2;
}
