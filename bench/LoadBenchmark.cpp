// Loading update files and raw SysEx files of 1, 16 and 64 MB against reading the same bytes into
// memory: the loader is meant to copy portion data straight from the stream into place.

#include <benchmark/benchmark.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <map>
#include <stdexcept>
#include <string>
#include <vector>

#include "Update.h"

namespace {

// SysEx messages of 1 KiB back to back, as firmware usually arrives.
std::vector<std::uint8_t> Messages(std::size_t size, std::uint8_t seed) {
    std::vector<std::uint8_t> data(size);
    for (std::size_t i = 0; i < size; ++i) {
        const std::size_t inMessage = i % 1024;
        data[i] = inMessage == 0 ? 0xF0 : inMessage == 1023 ? 0xF7 : static_cast<std::uint8_t>((i + seed) & 0x7F);
    }
    data.back() = 0xF7;
    return data;
}

// The fixture files, written once per size and kind and removed when the program ends.
class Fixtures {
public:
    ~Fixtures() {
        for (const auto& entry : paths) {
            std::error_code ignored;
            std::filesystem::remove(entry.second, ignored);
        }
    }
    const std::filesystem::path& Get(std::size_t megabytes, bool raw) {
        const std::size_t key = megabytes * 2 + (raw ? 1 : 0);
        auto found = paths.find(key);
        if (found != paths.end()) return found->second;
        const std::filesystem::path path = std::filesystem::temp_directory_path() /
            ("midiupdate_load_" + std::to_string(megabytes) + (raw ? "mb.syx" : "mb.upd"));
        const std::size_t bytes = megabytes * 1024 * 1024;
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        if (raw) {
            const std::vector<std::uint8_t> data = Messages(bytes, 1);
            out.write(reinterpret_cast<const char*>(data.data()), static_cast<std::streamsize>(data.size()));
        } else {
            // Four portions, as a file with separate boot and application parts might hold.
            UpdateFileContents contents;
            contents.productName = "Bench Synth";
            contents.version = {2, 1};
            contents.message = "Benchmark file.\nNothing to install.";
            contents.portSettings = {"win:x:name:Bench Port:ideal:2048"};
            for (std::uint8_t i = 0; i < 4; ++i) contents.portions.push_back({Messages(bytes / 4, i), 1000});
            WriteUpdateFile(out, contents);
        }
        out.close();
        if (!out) throw std::runtime_error("Could not write " + path.string());
        return paths.emplace(key, path).first->second;
    }

private:
    std::map<std::size_t, std::filesystem::path> paths;
};

Fixtures& TheFixtures() {
    static Fixtures fixtures;
    return fixtures;
}

void ReadFileBytes(benchmark::State& state, bool raw) {
    const std::filesystem::path& path = TheFixtures().Get(static_cast<std::size_t>(state.range(0)), raw);
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

void LoadFile(benchmark::State& state, bool raw) {
    const std::filesystem::path& path = TheFixtures().Get(static_cast<std::size_t>(state.range(0)), raw);
    std::int64_t bytes = 0;
    for (auto _ : state) {
        std::ifstream stream(path, std::ios::binary);
        const Update update(stream);
        if (update.isRawSysEx != raw || update.portions.empty()) state.SkipWithError("loaded the wrong kind");
        benchmark::DoNotOptimize(update.portions.data());
        bytes += static_cast<std::int64_t>(TotalSysExSize(update));
    }
    state.SetBytesProcessed(bytes);
}

BENCHMARK_CAPTURE(ReadFileBytes, upd, false)->Arg(1)->Arg(16)->Arg(64)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(LoadFile, upd, false)->Arg(1)->Arg(16)->Arg(64)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(ReadFileBytes, syx, true)->Arg(1)->Arg(16)->Arg(64)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(LoadFile, syx, true)->Arg(1)->Arg(16)->Arg(64)->Unit(benchmark::kMillisecond);

}  // namespace
