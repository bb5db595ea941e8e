// Setting the simulated winmm up from a text, as a program that runs against it as its winmm does.

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <sstream>

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
