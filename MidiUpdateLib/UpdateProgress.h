#pragma once
// The reporter through which an update run shows everything the user sees.

#include <string>

class UpdateProgress {
public:
    virtual ~UpdateProgress() = default;
    // Determinate bar at this fraction of the whole (0.0 to 1.0).
    virtual void Progress(float fraction) = 0;
    // Busy indication without a fraction, until the next Progress.
    virtual void ProgressIndeterminate() = 0;
    // Replaces the one-line status text.
    virtual void Status(const std::string& text) = 0;
    // Reports a failure text.
    virtual void Error(const std::string& text) = 0;
    // Reports the final verdict of the run (success or failure alike).
    virtual void Completed(const std::string& text) = 0;
    // Shows the text and returns only when the user has acknowledged it.
    virtual void BlockingMessage(const std::string& text) = 0;
};

// Squeezes one portion's 0-to-1 progress into its share [from, to) of the whole bar.
class UpdateProgressConverter : public UpdateProgress {
public:
    // `target` is not owned and must outlive the converter. When `total` is not positive (every
    // portion empty) there is no share to compute and progress passes through unchanged.
    UpdateProgressConverter(UpdateProgress& target, float from, float to, float total);

    void Progress(float fraction) override;
    void ProgressIndeterminate() override;
    void Status(const std::string& text) override;
    void Error(const std::string& text) override;
    void Completed(const std::string& text) override;
    void BlockingMessage(const std::string& text) override;

private:
    UpdateProgress& target;
    float offset;
    float scale;
};
