#include <gtest/gtest.h>

#include "TestSupport.h"
#include "UpdateProgress.h"

namespace {

float OnlyProgress(const RecordingProgress& rec) {
    EXPECT_EQ(rec.events.size(), 1u);
    return rec.events.empty() ? -1.0f : rec.events[0].value;
}

}  // namespace

TEST(UpdateProgressConverter, FullRangePassesProgressThroughUnchanged) {
    for (float x : {0.0f, 0.1f, 0.333f, 0.5f, 1.0f}) {
        RecordingProgress rec;
        UpdateProgressConverter converter(rec, 0.0f, 4000.0f, 4000.0f);
        converter.Progress(x);
        EXPECT_EQ(OnlyProgress(rec), x);
    }
}

TEST(UpdateProgressConverter, MapsIntoThePortionShareByBytes) {
    RecordingProgress rec;
    UpdateProgressConverter second(rec, 1000.0f, 4000.0f, 4000.0f);
    second.Progress(0.5f);
    EXPECT_FLOAT_EQ(OnlyProgress(rec), 0.625f);
}

TEST(UpdateProgressConverter, LastPortionReachesTheEndOfTheBar) {
    RecordingProgress rec;
    UpdateProgressConverter last(rec, 1234.0f, 5001.0f, 5001.0f);
    last.Progress(1.0f);
    EXPECT_NEAR(OnlyProgress(rec), 1.0f, 1e-6f);
}

TEST(UpdateProgressConverter, TextsAndBusyReportsPassUnchangedAndInOrder) {
    RecordingProgress rec;
    {
        UpdateProgressConverter converter(rec, 10.0f, 20.0f, 40.0f);
        converter.Status("one %s");
        converter.ProgressIndeterminate();
        converter.BlockingMessage("two\n\nthree");
        converter.Error("four");
        converter.Completed("five");
    }
    EXPECT_EQ(rec.Trace(), (std::vector<std::string>{"S:one %s", "I", "B:two\n\nthree", "E:four",
                                                      "C:five"}));
}

TEST(UpdateProgressConverter, ZeroTotalKeepsProgressWithinTheBar) {
    for (float x : {0.0f, 0.5f, 1.0f}) {
        RecordingProgress rec;
        UpdateProgressConverter converter(rec, 0.0f, 0.0f, 0.0f);
        converter.Progress(x);
        float shown = OnlyProgress(rec);
        EXPECT_EQ(shown, x);  // also rules out NaN
    }
}
