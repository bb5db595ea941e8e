#include "FrontEndTexts.h"

#include "Log.h"

namespace {

// One text argument in a fixed-size buffer, cut as the buffer cuts it.
template <std::size_t Size>
std::string FormatCut(const char* prefix, const char* text) {
    char buffer[Size];
    FormatToBuffer(buffer, Size, "%s%s", prefix, text);
    return buffer;
}

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
