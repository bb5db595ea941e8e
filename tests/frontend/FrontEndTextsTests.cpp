// The texts that the window program and the page share, and the outcomes of the port choice.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "FrontEndTexts.h"
#include "Log.h"

namespace {

TEST(FrontEndTexts, AreCutToTheirBuffers) {
    struct Case {
        const char* name;
        std::string (*make)(const char*);
        std::string prefix;
        std::size_t limit;
        bool oneRow;
    };
    const Case cases[] = {
        {"status", StatusLineText, " Updating: ", 255, true},
        {"completed", CompletedLineText, " Completed: ", 511, true},
        {"failure", FailureBoxText, "The update failed for the following reason:\n\n", 1023, false},
    };
    for (const Case& c : cases) {
        const std::string fits(c.limit - c.prefix.size(), 'x');
        EXPECT_EQ(c.make(fits.c_str()), c.prefix + fits) << c.name;
        const std::string tooLong = fits + "yz";
        EXPECT_EQ(c.make(tooLong.c_str()), c.prefix + fits) << c.name;
        EXPECT_EQ(c.make(""), c.prefix) << c.name;
        EXPECT_EQ(c.make("100% done"), c.prefix + "100% done") << c.name;
        // The status row shows a verdict's line breaks as spaces; the box keeps them.
        const char* verdict = "The update has been sent.\nPlease check.\r\nAnd\rthen";
        EXPECT_EQ(c.make(verdict), c.prefix + (c.oneRow ? "The update has been sent. Please check. And then" : verdict))
            << c.name;
    }
}

TEST(FrontEndTexts, ProductLineQuestionAndMessage) {
    Update update;
    update.productName = "Synth 100%";
    update.version = {1, 5};
    EXPECT_EQ(ProductLineText(update), " Product: 'Synth 100%' \tFirmware version: 1.05");
    EXPECT_EQ(ConfirmQuestionText(update), "Do you want to update your Synth 100% to version 1.05 now?");
    EXPECT_EQ(ImportantMessageText("Unplug the pedal."), "Unplug the pedal.\n\nClick OK to start.");

    // The product line is bounded by the formatting buffer.
    update.productName = std::string(400, 'p');
    EXPECT_EQ(ProductLineText(update).size(), kFormatBufferSize - 1);
}

TEST(PortChoice, CancelEmptyListAndPick) {
    const std::vector<std::string> names = {"Foo", "Foo 2"};
    EXPECT_EQ(PickedPortName(names, 1), "Foo 2");
    struct Failure {
        std::vector<std::string> names;
        int choice;
        std::string text;
    };
    const Failure failures[] = {
        {names, -1, "Update canceled"},
        {{}, -1, "Update canceled"},
        // No output device at all: the choice would point into an empty list.
        {{}, 0, kNoOutputPortText},
        {names, 2, kNoOutputPortText},
    };
    for (const Failure& f : failures) {
        try {
            PickedPortName(f.names, f.choice);
            ADD_FAILURE() << "no error for choice " << f.choice;
        } catch (const ParseError& error) {
            EXPECT_EQ(std::string(error.what()), f.text);
        }
    }
}

}  // namespace
