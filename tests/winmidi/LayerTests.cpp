// The simulated winmm itself: what its callers on several threads rely on.

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "LayerTestSupport.h"

namespace {

class Layer : public LayerTest {};

// Input arriving for a device whose handle another thread closes: the delivery never touches the
// closed handle (run under AddressSanitizer as well).
TEST_F(Layer, InputForAHandleClosedMeanwhileIsDropped) {
    winmm_layer::AddInput("Pad");
    std::atomic<bool> stop{false};
    std::thread device([&] {
        const winmm_layer::Bytes message = {0xF0, 0x01, 0xF7};
        while (!stop) winmm_layer::InjectInput(0, message);
    });
    constexpr unsigned kRounds = 2000;
    for (unsigned round = 0; round < kRounds; ++round) {
        HMIDIIN handle = nullptr;
        ASSERT_EQ(midiInOpen(&handle, 0, 0, 0, CALLBACK_NULL), MMSYSERR_NOERROR);
        midiInStart(handle);
        ASSERT_EQ(midiInClose(handle), MMSYSERR_NOERROR);
    }
    stop = true;
    device.join();
    const winmm_layer::Stats s = winmm_layer::GetStats();
    EXPECT_EQ(s.inCloses, kRounds);
    EXPECT_EQ(s.openInHandles, 0u);
}

}  // namespace
