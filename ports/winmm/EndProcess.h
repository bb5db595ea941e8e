#pragma once
// How a Windows program that has used MIDI ends: Wine's 64-bit ALSA MIDI driver faults while a
// process shuts down once it was loaded (any run that listed or opened a MIDI device), which turns
// a finished run's exit status into a crash. A program that has closed its files and released its
// ports needs nothing of the libraries' shutdown, so it flushes what is buffered and ends itself.

#include <windows.h>

#include <cstdio>
#include <cstdlib>

[[noreturn]] inline void EndProcessAfterMidi(int status) {
    std::fflush(nullptr);
    TerminateProcess(GetCurrentProcess(), static_cast<UINT>(status));
    std::_Exit(status);  // not reached
}
