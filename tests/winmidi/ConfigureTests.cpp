// Setting the simulated winmm up from a text, as a program that runs against it as its winmm does.

#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <thread>

#include "LayerTestSupport.h"
#include "PortDiscovery.h"
#include "Update.h"
#include "VirtualDeviceModel.h"

namespace {

class LayerConfiguration : public LayerTest {};

TEST_F(LayerConfiguration, DevicesAndAnInstrumentFromText) {
    UpdateFileContents contents;
    contents.productName = "Pad";
    contents.version = {1, 5};
    contents.portions.push_back({{0xF0, 0x01, 0x02, 0xF7}, 0});
    const std::string path = ::testing::TempDir() + "layer-config.upd";
    {
        std::ofstream file(path, std::ios::binary);
        WriteUpdateFile(file, contents);
    }
    EXPECT_EQ(winmm_layer::Configure("out=Synth;device=2- Pad;model=" + path + "|status=fail;stillplaying=1"), "");
    EXPECT_EQ(ListOutputPortNames(), (std::vector<std::string>{"Synth", "2- Pad"}));
    EXPECT_EQ(ListInputDevices(), (std::vector<std::pair<int, std::string>>{{0, "2- Pad"}}));
    std::remove(path.c_str());

    const struct {
        const char* text;
        const char* error;
    } bad[] = {
        {"colour=blue", "unknown item: colour=blue"},
        {"model=/nonexistent/x.upd", "model=/nonexistent/x.upd: Update file was invalid (bad header)."},
    };
    for (const auto& c : bad) EXPECT_EQ(winmm_layer::Configure(c.text), c.error);
}

}  // namespace

namespace {

// Input arriving for a device whose handle another thread closes: the delivery never touches the
// closed handle (run under AddressSanitizer as well).
TEST_F(LayerConfiguration, InputForAHandleClosedMeanwhileIsDropped) {
    winmm_layer::AddInput("Pad");
    std::atomic<bool> stop{false};
    std::thread device([&] {
        const winmm_layer::Bytes message = {0xF0, 0x01, 0xF7};
        while (!stop) winmm_layer::InjectInput(0, message);
    });
    constexpr unsigned kRounds = 2000;
    for (unsigned round = 0; round < kRounds; ++round) {
        HMIDIIN handle = nullptr;
        ASSERT_EQ(midiInOpen(&handle, 0, 0, 0, CALLBACK_NULL),
                  MMSYSERR_NOERROR);
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
