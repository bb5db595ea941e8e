#pragma once
// Silences standard error around a call whose diagnostic lines would flood a fuzzing run, while
// sanitizer reports still reach the real standard error.

#include <fcntl.h>
#include <sanitizer/common_interface_defs.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>

class QuietStderr {
public:
    QuietStderr() {
        if (!Enabled()) return;
        RealFd();  // copied before the first silencing
        std::fflush(stderr);
        dup2(NullFd(), 2);
    }
    ~QuietStderr() {
        if (!Enabled()) return;
        std::fflush(stderr);
        dup2(RealFd(), 2);
    }
    QuietStderr(const QuietStderr&) = delete;
    QuietStderr& operator=(const QuietStderr&) = delete;

private:
    // FUZZ_VERBOSE=1 keeps everything, for reading a crash again by hand.
    static bool Enabled() {
        static const bool enabled = std::getenv("FUZZ_VERBOSE") == nullptr;
        return enabled;
    }
    static int NullFd() {
        static const int fd = open("/dev/null", O_WRONLY);
        return fd;
    }
    static int RealFd() {
        static const int fd = [] {
            const int copy = dup(2);
            __sanitizer_set_report_fd(reinterpret_cast<void*>(static_cast<std::intptr_t>(copy)));
            return copy;
        }();
        return fd;
    }
};
