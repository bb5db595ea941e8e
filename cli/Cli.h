#pragma once
// The midiupdate command line. Everything it prints goes through CliIo, so tests can run a whole
// command and compare its output byte for byte.

#include <iosfwd>
#include <string>
#include <vector>

struct CliIo {
    std::ostream& out;
    std::ostream& err;
    std::istream& in;
    bool outIsTty = false;  // draw a progress bar instead of plain status lines
};

// Exit statuses.
constexpr int kExitOk = 0;
constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;
constexpr int kExitUnconfirmed = 3;
constexpr int kExitCancelled = 130;

// Runs one command line (without the program name) and returns the exit status.
int RunCli(const std::vector<std::string>& args, CliIo& io);
