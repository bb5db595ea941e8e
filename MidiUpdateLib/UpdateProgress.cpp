#include "UpdateProgress.h"

UpdateProgressConverter::UpdateProgressConverter(UpdateProgress& target, float from, float to,
                                                 float total)
    : target(target), offset(0.0f), scale(1.0f) {
    // A whole of zero bytes (every portion empty) has no shares; passing progress through
    // unchanged keeps the bar within 0 to 1 instead of dividing by zero.
    if (total > 0.0f) {
        offset = from / total;
        scale = (to - from) / total;
    }
}

void UpdateProgressConverter::Progress(float fraction) {
    // Kept in two single-precision steps (multiply, then add) so the result does not depend on
    // whether the compiler would fuse them.
    const float scaled = fraction * scale;
    target.Progress(scaled + offset);
}

void UpdateProgressConverter::ProgressIndeterminate() { target.ProgressIndeterminate(); }
void UpdateProgressConverter::Status(const std::string& text) { target.Status(text); }
void UpdateProgressConverter::Error(const std::string& text) { target.Error(text); }
void UpdateProgressConverter::Completed(const std::string& text) { target.Completed(text); }
void UpdateProgressConverter::BlockingMessage(const std::string& text) {
    target.BlockingMessage(text);
}
