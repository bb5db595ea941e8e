// Loading a 64 MB update file should cost little more than reading its bytes: the loader is meant
// to copy portion data straight from the stream into place, never byte by byte.

#include <benchmark/benchmark.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "Update.h"

namespace {

constexpr std::size_t kPortionCount = 4;
constexpr std::size_t kPortionSize = 16 * 1024 * 1024;

// SysEx messages of 1 KiB back to back, as firmware usually arrives.
SysExPortion MakePortion(std::uint8_t seed) {
    SysExPortion portion;
    portion.data.resize(kPortionSize);
    for (std::size_t i = 0; i < kPortionSize; ++i) {
        const std::size_t inMessage = i % 1024;
        portion.data[i] = inMessage == 0      ? 0xF0
                          : inMessage == 1023 ? 0xF7
                                              : static_cast<std::uint8_t>((i + seed) & 0x7F);
    }
    portion.delay = 1000;
    return portion;
}

// The fixture file, written once per run and removed when the program ends.
class FixtureFile {
public:
    FixtureFile() : path(std::filesystem::temp_directory_path() / "midiupdate_load_benchmark.upd") {
        UpdateFileContents contents;
        contents.productName = "Bench Synth";
        contents.version = {2, 1};
        contents.message = "Benchmark file.\nNothing to install.";
        contents.portSettings = {"win:x:name:Bench Port:ideal:2048"};
        for (std::size_t i = 0; i < kPortionCount; ++i)
            contents.portions.push_back(MakePortion(static_cast<std::uint8_t>(i)));
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        WriteUpdateFile(out, contents);
        out.close();
        if (!out) throw std::runtime_error("Could not write " + path.string());
    }
    ~FixtureFile() {
        std::error_code ignored;
        std::filesystem::remove(path, ignored);
    }
    FixtureFile(const FixtureFile&) = delete;
    FixtureFile& operator=(const FixtureFile&) = delete;

    const std::filesystem::path path;
};

const std::filesystem::path& FixturePath() {
    static const FixtureFile fixture;
    return fixture.path;
}

void ReadFileBytes(benchmark::State& state) {
    const std::filesystem::path& path = FixturePath();
    std::int64_t bytes = 0;
    for (auto _ : state) {
        std::ifstream stream(path, std::ios::binary);
        stream.seekg(0, std::ios::end);
        const std::streamoff size = stream.tellg();
        stream.seekg(0);
        std::vector<std::uint8_t> data(static_cast<std::size_t>(size));
        stream.read(reinterpret_cast<char*>(data.data()), size);
        if (stream.gcount() != size) state.SkipWithError("short read");
        benchmark::DoNotOptimize(data.data());
        bytes += size;
    }
    state.SetBytesProcessed(bytes);
}

void LoadUpdateFile(benchmark::State& state) {
    const std::filesystem::path& path = FixturePath();
    std::int64_t bytes = 0;
    for (auto _ : state) {
        std::ifstream stream(path, std::ios::binary);
        const Update update(stream);
        if (update.portions.size() != kPortionCount) state.SkipWithError("wrong portion count");
        benchmark::DoNotOptimize(update.portions.data());
        bytes += static_cast<std::int64_t>(TotalSysExSize(update));
    }
    state.SetBytesProcessed(bytes);
}

BENCHMARK(ReadFileBytes)->Unit(benchmark::kMillisecond);
BENCHMARK(LoadUpdateFile)->Unit(benchmark::kMillisecond);

}  // namespace
