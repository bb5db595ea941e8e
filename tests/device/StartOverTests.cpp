// A device whose update was interrupted is back in update mode: a new run from the first portion
// starts over, and only that.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "DeviceTestSupport.h"
#include "TestSupport.h"
#include "VirtualDeviceModel.h"

namespace {

const Bytes kFirst = {0xF0, 0x01, 0x02, 0xF7, 0xF0, 0x03, 0xF7};
const Bytes kFirstHalf = {0xF0, 0x01, 0x02, 0xF7};
const Bytes kSecond = {0xF0, 0x40, 0xF7};

TEST(StartOver, ANewRunAfterAnInterruptedOneIsJudgedOnItsOwn) {
    const struct {
        const char* name;
        std::vector<Bytes> portions;
        std::vector<Bytes> pieces;  // as they arrive
        std::uint32_t restarts, completed, corrupt;
        std::uint64_t unexpected;
    } cases[] = {
        {"stopped part-way through a portion", {kFirst, kSecond}, {kFirstHalf, kFirst, kSecond}, 1, 2, 0, 0},
        {"stopped between portions", {kFirst, kSecond}, {kFirst, kFirst, kSecond}, 1, 2, 0, 0},
        {"stopped twice", {kFirst, kSecond}, {kFirstHalf, kFirstHalf, kFirst, kSecond}, 2, 2, 0, 0},
        {"a wrong byte part-way is still corruption", {kFirst, kSecond}, {kFirstHalf, {0xF0, 0x09, 0xF7}}, 0, 1, 1, 0},
        {"a portion that begins as the first does", {kFirst, kFirst}, {kFirst, kFirst}, 0, 2, 0, 0},
        {"a finished update sent again", {kFirst}, {kFirst, kFirst}, 0, 1, 0, 7},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ScopedLogMute mute;
        VirtualDeviceModel model(MakeUpdate(c.portions), QuietSettings(), {});
        std::uint64_t now = 0;
        for (const Bytes& piece : c.pieces) model.Receive(piece.data(), piece.size(), now += 10);
        const VirtualDeviceModel::Stats& s = model.GetStats();
        EXPECT_EQ(s.restarts, c.restarts);
        EXPECT_EQ(s.portionsCompleted, c.completed);
        EXPECT_EQ(s.portionsCorrupt, c.corrupt);
        EXPECT_EQ(s.bytesUnexpected, c.unexpected);
        if (c.restarts > 0) {
            // The report is the new run's: its bytes, and a status for each of its portions.
            Bytes firmware;
            for (const Bytes& p : c.portions) firmware.insert(firmware.end(), p.begin(), p.end());
            EXPECT_EQ(model.Wire(), firmware);
            EXPECT_TRUE(model.AllPortionsReceived());
            EXPECT_EQ(model.TakeDue(now + 60000).size(), c.portions.size());
        }
    }
}

}  // namespace
