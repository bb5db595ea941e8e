#pragma once
// The page's reporter: each report goes to the page's script (page/page.js), the texts as UTF-8 and
// the status row as the window words it.
// A blocking message holds the run, without holding the page, until the person closes its dialog.
// While it lives, the diagnostic log goes to the page too, which keeps the run's lines for its
// "Save log" button.

#include <string>

#include "UpdateProgress.h"

class WebUpdateProgress : public UpdateProgress {
public:
    WebUpdateProgress();
    ~WebUpdateProgress() override;
    WebUpdateProgress(const WebUpdateProgress&) = delete;
    WebUpdateProgress& operator=(const WebUpdateProgress&) = delete;

    void Progress(float fraction) override;
    void ProgressIndeterminate() override;
    void Status(const std::string& text) override;
    void Error(const std::string& text) override;
    void Completed(const std::string& text) override;
    void BlockingMessage(const std::string& text) override;
};
