// Writes the SysEx portion files of the demo update: firmware-like data messages addressed to the
// virtual device's manufacturer ID, so that the demo exercises chunking at message ends.
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "UpdateStatus.h"

namespace {

std::vector<std::uint8_t> DataMessage(unsigned block, std::size_t payload) {
    std::vector<std::uint8_t> m = {0xF0, kManufacturerId[0], kManufacturerId[1], kManufacturerId[2],
                                   0x10, static_cast<std::uint8_t>(block & 0x7F)};
    std::uint32_t seed = 0x2545F491u * (block + 1);
    for (std::size_t i = 0; i < payload; ++i) {
        seed = seed * 1664525u + 1013904223u;
        std::uint8_t b = static_cast<std::uint8_t>((seed >> 24) & 0x7F);
        m.push_back(b == 0x0A ? 0x0B : b);  // keep line feeds out: they would end chunks early
    }
    m.push_back(0xF7);
    return m;
}

bool WritePortion(const std::string& path, unsigned firstBlock, unsigned blocks, std::size_t payload) {
    std::ofstream out(path, std::ios::binary);
    for (unsigned b = firstBlock; b < firstBlock + blocks; ++b) {
        std::vector<std::uint8_t> m = DataMessage(b, payload);
        out.write(reinterpret_cast<const char*>(m.data()), static_cast<std::streamsize>(m.size()));
    }
    return static_cast<bool>(out);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: make_demo_sysex FIRST.syx SECOND.syx\n");
        return 2;
    }
    bool ok = WritePortion(argv[1], 0, 3, 1000) && WritePortion(argv[2], 3, 2, 1000);
    return ok ? 0 : 1;
}
