// The log's way out of a windowed program: the debugger output, where a debugger or a debug-output
// viewer shows it, and standard output, which reaches a console only when one was opened.
#include <windows.h>

#include <cstdio>
#include <cstring>

#include "DiagnosticLog.h"
#include "Log.h"

namespace {

void DebuggerAndStdoutSink(void*, const char* text, std::size_t length) {
    char line[kFormatBufferSize];
    if (length >= sizeof line) length = sizeof line - 1;
    std::memcpy(line, text, length);
    line[length] = '\0';
    OutputDebugStringA(line);
    std::fwrite(line, 1, length, stdout);
}

}  // namespace

void InstallDebuggerLogSink() { SetLogSink(DebuggerAndStdoutSink, nullptr); }

void OpenConsole() {
    if (!AllocConsole()) return;
    // Standard output of a windowed program leads nowhere until it is tied to the new console.
    FILE* stream = nullptr;
    if (freopen_s(&stream, "CONOUT$", "w", stdout) != 0) return;
}
