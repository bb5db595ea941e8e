#pragma once
// The midiupdate command line. Everything it prints goes through CliIo, so tests can run a whole
// command and compare its output byte for byte.

#include <cstddef>
#include <functional>
#include <iosfwd>
#include <memory>
#include <string>
#include <vector>

#include "MidiSystem.h"

struct CliIo {
    CliIo(std::ostream& out_, std::ostream& err_, std::istream& in_, bool outIsTty_ = false)
        : out(out_), err(err_), in(in_), outIsTty(outIsTty_) {}

    std::ostream& out;
    std::ostream& err;
    std::istream& in;
    bool outIsTty = false;  // draw a progress bar instead of plain status lines
    bool inIsTty = false;   // a person can answer questions (the choice of a port, "Update now?")
    // The terminal's width in columns when the progress line is drawn; null means 80.
    std::size_t (*columns)() = nullptr;
    // Where real MIDI ports come from; empty means the platform's own system.
    MidiSystemFactory openMidiSystem;
    // How the MIDI system --api names (empty: the one a send would take) paces what it carries,
    // for forecasts; empty means the platform's own knowledge (PlatformTransportPacing).
    std::function<std::unique_ptr<TransportPacing>(const std::string& api)> transportPacing;
};

// Exit statuses.
constexpr int kExitOk = 0;
constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;
constexpr int kExitUnconfirmed = 3;
constexpr int kExitDeclined = 4;  // the person said no at "Update now?" or chose no port: nothing sent
constexpr int kExitCancelled = 130;

// Runs one command line (without the program name) and returns the exit status.
int RunCli(const std::vector<std::string>& args, CliIo& io);
