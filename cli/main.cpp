#include <csignal>
#include <iostream>
#include <string>
#include <vector>

#include "Cli.h"
#include "Clock.h"
#include "Terminal.h"

#ifdef _WIN32
#include <io.h>

#include "EndProcess.h"
#define MIDIUPDATE_ISATTY(fd) _isatty(fd)
#else
#include <unistd.h>
#define MIDIUPDATE_ISATTY(fd) isatty(fd)
#endif

namespace {
// Ctrl-C asks the run to stop: the next sleep unwinds it, which closes the port on the way.
extern "C" void OnInterrupt(int) { RequestCancel(); }

void InstallInterruptHandler() {
#ifdef _WIN32
    std::signal(SIGINT, OnInterrupt);
#else
    struct sigaction action {};
    action.sa_handler = OnInterrupt;
    sigemptyset(&action.sa_mask);
    action.sa_flags = 0;  // no SA_RESTART: a read waiting for Enter returns at once
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
#endif
}
}  // namespace

int main(int argc, char** argv) {
    InstallInterruptHandler();
    std::vector<std::string> args(argv + 1, argv + argc);
    CliIo io{std::cout, std::cerr, std::cin, MIDIUPDATE_ISATTY(1) != 0};
    io.inIsTty = MIDIUPDATE_ISATTY(0) != 0;
    io.columns = &StandardOutputColumns;
    UseUtf8Console();
    const int status = RunCli(args, io);
#ifdef _WIN32
    // Every file is closed and the port released by now (see EndProcess.h).
    std::cout.flush();
    std::cerr.flush();
    EndProcessAfterMidi(status);
#else
    return status;
#endif
}
