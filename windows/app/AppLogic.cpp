#include "AppLogic.h"

#include "Log.h"

namespace {

// One text argument in a fixed-size window buffer, cut as the buffer cuts it.
template <std::size_t Size>
std::string FormatCut(const char* prefix, const char* text) {
    char buffer[Size];
    FormatToBuffer(buffer, Size, "%s%s", prefix, text);
    return buffer;
}

}  // namespace

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

namespace {
// The status row is one line high: a line break (LF, CR or CR LF) shows as one space there.
std::string OnOneRow(std::string text) {
    std::string row;
    row.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') continue;
        row += (text[i] == '\n' || text[i] == '\r') ? ' ' : text[i];
    }
    return row;
}
}  // namespace

std::string StatusLineText(const char* status) {
    return OnOneRow(FormatCut<kStatusTextSize>(" Updating: ", status));
}

std::string CompletedLineText(const char* verdict) {
    return OnOneRow(FormatCut<kCompletedTextSize>(" Completed: ", verdict));
}

std::string FailureBoxText(const char* reason) {
    return FormatCut<kFailureTextSize>("The update failed for the following reason:\n\n", reason);
}

std::string AboutBoxText(const char* title, const char* notice) {
    char buffer[kAboutTextSize];
    FormatToBuffer(buffer, sizeof buffer, "%s\nVersion %s (%s)\n\n%s", title, kProgramVersion,
                   kBuildLabel, notice);
    return buffer;
}

std::string ProductLineText(const Update& update) {
    return FormatString(" Product: '%s' \tFirmware version: %u.%02u", update.productName.c_str(),
                        static_cast<unsigned>(update.version.major),
                        static_cast<unsigned>(update.version.minor));
}

std::string ConfirmQuestionText(const Update& update) {
    return "Do you want to update your " + update.productName + " to version " +
           VersionText(update.version) + " now?";
}

std::string ImportantMessageText(const std::string& message) {
    return message + "\n\nClick OK to start.";
}

std::string PickedPortName(const std::vector<std::string>& names, int choice) {
    if (choice == -1) throw ParseError("Update canceled");
    if (choice < 0 || static_cast<std::size_t>(choice) >= names.size()) {
        throw ParseError(kNoOutputPortText);
    }
    return names[static_cast<std::size_t>(choice)];
}

PortSettings WorkerPortSettings(const PortSettings& fromFile, const std::string& portName) {
    PortSettings settings = fromFile;
    if (!portName.empty()) {
        settings.names = {portName};
        settings.pickedByHand = true;
    }
    return settings;
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
