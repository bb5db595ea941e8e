#pragma once
// Runs midiupdate commands in-process with collected output, on files written to a temp folder.

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <functional>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "Cli.h"
#include "Clock.h"
#include "TestSupport.h"
#include "Update.h"

struct CliRun {
    int status = -1;
    std::string out;
    std::string err;

    std::vector<std::string> OutLines() const { return Lines(out); }
    std::string LastErrLine() const {
        std::vector<std::string> lines = Lines(err);
        return lines.empty() ? std::string() : lines.back();
    }
    static std::vector<std::string> Lines(const std::string& text) {
        std::vector<std::string> lines;
        std::istringstream in(text);
        for (std::string line; std::getline(in, line);) lines.push_back(line);
        return lines;
    }
};

// Runs the command with what `setUp` changes in its surroundings (its MIDI system, its pacing).
inline CliRun RunMidiUpdateWith(const std::vector<std::string>& args, const std::function<void(CliIo&)>& setUp,
                                const std::string& input = "", bool tty = false) {
    std::ostringstream out, err;
    std::istringstream in(input);
    CliIo io{out, err, in, tty};
    // Forecasts never depend on the MIDI systems of the machine the tests run on.
    io.transportPacing = [](const std::string&) { return std::unique_ptr<TransportPacing>(); };
    setUp(io);
    CliRun run;
    run.status = RunCli(args, io);
    run.out = out.str();
    run.err = err.str();
    return run;
}

inline CliRun RunMidiUpdate(const std::vector<std::string>& args, const std::string& input = "",
                            bool tty = false) {
    return RunMidiUpdateWith(args, [](CliIo&) {}, input, tty);
}

class TempDir {
public:
    TempDir() {
        static int counter = 0;
        path = std::filesystem::temp_directory_path() /
               ("midiupdate-test-" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) + "-" +
                std::to_string(counter++) + "-" +
                ::testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::create_directories(path);
    }
    ~TempDir() {
        std::error_code ignored;
        std::filesystem::remove_all(path, ignored);
    }
    std::string File(const std::string& name) const { return (path / name).string(); }
    std::string Write(const std::string& name, const std::vector<std::uint8_t>& bytes) const {
        std::ofstream f(File(name), std::ios::binary);
        f.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
        return File(name);
    }
    std::string WriteUpdate(const std::string& name, const UpdateFileContents& contents) const {
        std::ofstream f(File(name), std::ios::binary);
        WriteUpdateFile(f, contents);
        return File(name);
    }

private:
    std::filesystem::path path;
};

inline std::vector<std::uint8_t> ReadBytes(const std::string& path) {
    std::ifstream f(path, std::ios::binary);
    return std::vector<std::uint8_t>(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
}

// A simulated clock that lets the test act after every sleep: a device or a MIDI system answering
// while the program waits, as the real ones do on threads of their own.
class HookedClock : public SimulatedClock {
public:
    std::function<void(std::uint64_t nowMs)> afterSleep;
    void SleepMs(std::uint32_t ms) override {
        SimulatedClock::SleepMs(ms);
        if (afterSleep) afterSleep(NowMs());
    }
};

// A SysEx message of `size` bytes in all (F0 ... F7) with 7-bit filler and no line feeds.
inline std::vector<std::uint8_t> SysExMessage(std::size_t size, std::uint8_t fill = 0x11) {
    std::vector<std::uint8_t> m(size, fill);
    m.front() = 0xF0;
    m.back() = 0xF7;
    return m;
}
