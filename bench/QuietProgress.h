#pragma once
// A reporter that shows nothing, for benchmark runs that only time the update.

#include <string>

#include "UpdateProgress.h"

class QuietProgress : public UpdateProgress {
public:
    void Progress(float) override {}
    void ProgressIndeterminate() override {}
    void Status(const std::string&) override {}
    void Error(const std::string&) override {}
    void Completed(const std::string&) override {}
    void BlockingMessage(const std::string&) override {}
};
