#include "WindowsUpdateProgress.h"

#include "Log.h"

void WindowsUpdateProgress::Progress(float fraction) {
    LogMessage("Progress: %f\n", static_cast<double>(fraction));
    link.indeterminateMode = false;
    PostMessageA(link.window, WM_UPDATE_PROGRESS, static_cast<WPARAM>(ProgressPosition(fraction)), 0);
}

void WindowsUpdateProgress::ProgressIndeterminate() {
    LogMessage("ProgressIndeterminate\n");
    link.indeterminateMode = true;
    PostMessageA(link.window, WM_UPDATE_ANIMATE, 0, 0);
}

void WindowsUpdateProgress::Status(const std::string& text) {
    LogMessage("Status: %s\n", text.c_str());
    PostText(link.window, WM_UPDATE_PROGRESS, static_cast<WPARAM>(-1), text.c_str());
}

void WindowsUpdateProgress::Error(const std::string& text) {
    LogMessage("Error: %s\n", text.c_str());
    PostText(link.window, WM_UPDATE_FAILED, static_cast<WPARAM>(-1), text.c_str());
}

void WindowsUpdateProgress::Completed(const std::string& text) {
    LogMessage("Completed: %s\n", text.c_str());
    PostText(link.window, WM_UPDATE_COMPLETED, static_cast<WPARAM>(-1), text.c_str());
}

void WindowsUpdateProgress::BlockingMessage(const std::string& text) {
    LogMessage("BlockingMessage: %s\n", text.c_str());
    MessageBoxA(link.window, text.c_str(), "Important", MB_OK);
}
