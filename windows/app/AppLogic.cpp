#include "AppLogic.h"

#include "Log.h"

std::string CutToPathBuffer(const std::string& name) {
    return name.substr(0, kPathBufferSize - 1);
}

std::string CommandLinePath(const std::string& tail) {
    if (tail.size() < 2) return std::string();
    return CutToPathBuffer(tail.substr(1, tail.size() - 2));
}

int NextAnimationPosition(int position) {
    position += 3;
    return position > 100 ? 0 : position;
}

Point CenteredOnScreen(int screenWidth, int screenHeight, int windowWidth, int windowHeight) {
    Point p;
    p.x = (screenWidth - windowWidth) / 2;
    p.y = (screenHeight - windowHeight) / 2;
    if (p.x < 0) p.x = 0;
    if (p.y < 0) p.y = 0;
    return p;
}

Point CenteredOnOwner(const Rect& owner, int boxWidth, int boxHeight, const Rect& desktop) {
    Point p;
    p.x = owner.left + (owner.Width() / 2 - boxWidth / 2);
    p.y = owner.top + (owner.Height() / 2 - boxHeight / 2);
    if (p.x < 0) p.x = 0;
    if (p.y < 0) p.y = 0;
    if (p.x + boxWidth > desktop.right) p.x = desktop.right - boxWidth;
    if (p.y + boxHeight > desktop.bottom) p.y = desktop.bottom - boxHeight;
    return p;
}

std::pair<int, int> OuterSizeForClient(const Rect& outer, const Rect& client, int width, int height) {
    return {outer.Width() - client.Width() + width, outer.Height() - client.Height() + height};
}

int ProgressPosition(float fraction) {
    float scaled = fraction * 100.0f;
    return static_cast<int>(scaled);
}

std::string AboutBoxText(const char* title, const char* notice) {
    char buffer[kAboutTextSize];
    FormatToBuffer(buffer, sizeof buffer, "%s\nVersion %s (%s)\n\n%s", title, kProgramVersion,
                   kBuildLabel, notice);
    return buffer;
}

void UpdateGuard::UpdateStarted() {
    if (updating) return;
    updating = true;
    blocked = block && block(ShutdownBlockReasonText());
}

void UpdateGuard::UpdateEnded() {
    updating = false;
    if (blocked && unblock) unblock();
    blocked = false;
}

bool UpdateGuard::MayLeave(LeaveRequest) const { return !updating; }

std::string ShutdownBlockReasonText() {
    return "Updating: do not switch off the computer or the device until the update is complete.";
}
