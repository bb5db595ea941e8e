#pragma once
// The update run's reports, handed to the main window as posted messages.

#include "UpdateProgress.h"
#include "WindowLink.h"

class WindowsUpdateProgress : public UpdateProgress {
public:
    explicit WindowsUpdateProgress(const WindowLink& window) : link(window) {}
    ~WindowsUpdateProgress() override = default;
    void Progress(float fraction) override;
    void ProgressIndeterminate() override;
    void Status(const std::string& text) override;
    void Error(const std::string& text) override;
    void Completed(const std::string& text) override;
    // Shown from the worker itself: the update waits until the user has closed the box.
    void BlockingMessage(const std::string& text) override;

private:
    WindowLink link;
};
