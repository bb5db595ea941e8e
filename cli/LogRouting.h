#pragma once
// Where the diagnostic log goes: to the file --log names, or with --verbose to standard error,
// each line after the milliseconds since the start. Nothing is opened before the command line
// was checked.

#include <chrono>
#include <cstdio>
#include <string>
#include <utility>
#include <vector>

namespace cli {

// --verbose: each line begins with the milliseconds since the program started, so that waits and
// pauses can be read off the log. The log calls its sink under its own lock, one call per text.
struct TimedSink {
    std::FILE* file = nullptr;
    std::chrono::steady_clock::time_point start = std::chrono::steady_clock::now();
    bool atLineStart = true;

    static void Write(void* context, const char* text, std::size_t length);
};

// The log file is opened only once a command has checked its command line, so a mistyped command
// never empties it, and never when it is one of the files the command works on: opening it for
// writing would empty that file.
class LogRouting {
public:
    LogRouting(std::string path, bool verbose) : path(std::move(path)), verbose(verbose) {}
    // Opens the log once the command line was checked, refusing a log file that is one of
    // `commandFiles`.
    void Start(const std::vector<std::string>& commandFiles);
    ~LogRouting();
    LogRouting(const LogRouting&) = delete;
    LogRouting& operator=(const LogRouting&) = delete;

private:
    std::string path;
    bool verbose;
    bool started = false;
    std::FILE* file = nullptr;
    TimedSink timed;
};

}  // namespace cli
