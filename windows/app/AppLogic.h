#pragma once
// The window program's arithmetic and texts, free of any screen or operating system call, so that
// they are checked by plain tests on every platform.

#include <cstddef>
#include <functional>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "FrontEndTexts.h"

// Buffer sizes of the window's own texts (characters including the terminator); the texts it
// shares with the page are in FrontEndTexts.h.
constexpr std::size_t kPathBufferSize = 260;
constexpr std::size_t kAboutTextSize = 128;

constexpr const char* kProgramVersion = "1.14";
constexpr const char* kBuildLabel = "beta";

struct Point {
    int x = 0;
    int y = 0;
};
struct Rect {
    int left = 0;
    int top = 0;
    int right = 0;
    int bottom = 0;
    int Width() const { return right - left; }
    int Height() const { return bottom - top; }
};

// The path inside a command-line tail: its first and last characters are dropped (the quotes),
// the rest is cut to what a path buffer holds. A tail of one character gives an empty path.
std::string CommandLinePath(const std::string& tail);
// A file name cut to what a path buffer holds.
std::string CutToPathBuffer(const std::string& name);

// The next position of the indeterminate animation: 3 further, back to 0 above 100.
int NextAnimationPosition(int position);

// Top-left corner that centres a window on the screen, never above or left of its edge.
Point CenteredOnScreen(int screenWidth, int screenHeight, int windowWidth, int windowHeight);
// Top-left corner of a message box centred on its owner and kept on the desktop.
Point CenteredOnOwner(const Rect& owner, int boxWidth, int boxHeight, const Rect& desktop);
// Outer size that gives the window a client area of the wanted size.
std::pair<int, int> OuterSizeForClient(const Rect& outer, const Rect& client, int width, int height);

// Progress bar position for a fraction: the integer part of fraction x 100 in single precision.
int ProgressPosition(float fraction);

// The About box: the title, the program's version and build, and the notice; 127 characters.
std::string AboutBoxText(const char* title, const char* notice);

// What asks the program to end: File > Exit, the window's close box or Alt+F4 (WM_CLOSE), and the
// end of the session (log-off, restart, shut-down).
enum class LeaveRequest { ExitCommand, CloseWindow, EndSession };

// Keeps an update from being broken off halfway, which can leave a device with half a firmware:
// while one runs, every LeaveRequest is refused, and the system is asked to hold off the end of
// the session (`block`, with the reason to show; false when the system would not). The block is
// asked for once per update and lifted (`unblock`) once, only when it was granted: an end
// reported for a start that never ran its worker lifts nothing.
class UpdateGuard {
public:
    UpdateGuard(std::function<bool(const std::string& reason)> block, std::function<void()> unblock)
        : block(std::move(block)), unblock(std::move(unblock)) {}
    void UpdateStarted();
    void UpdateEnded();
    bool MayLeave(LeaveRequest request) const;

private:
    std::function<bool(const std::string&)> block;
    std::function<void()> unblock;
    bool updating = false;
    bool blocked = false;
};

// The reason the system shows for holding off the end of the session, in the status line's words.
std::string ShutdownBlockReasonText();

// The picture the window paints, replaced from any thread. A replaced picture is never released
// by the thread that replaces it (the window may be painting it at that very moment): it waits in
// a list that the window thread empties when it is not painting.
template <typename Handle>
class PictureSlot {
public:
    Handle Current() const {
        std::lock_guard<std::mutex> guard(lock);
        return current;
    }
    // Any thread: the new picture is painted from now on; the old one is kept for release.
    void Replace(Handle picture) {
        std::lock_guard<std::mutex> guard(lock);
        if (current) retired.push_back(current);
        current = picture;
    }
    // Window thread, outside painting: the pictures that nobody paints any more.
    std::vector<Handle> TakeRetired() {
        std::lock_guard<std::mutex> guard(lock);
        std::vector<Handle> out;
        out.swap(retired);
        return out;
    }

private:
    mutable std::mutex lock;
    Handle current{};
    std::vector<Handle> retired;
};
