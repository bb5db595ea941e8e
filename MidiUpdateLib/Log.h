#pragma once
// Diagnostic log and printf-style formatting.
//
// Every line is formatted into a fixed buffer local to the call (so logging from a MIDI input
// thread stays cheap) and handed to the sink in one call, so lines written by different threads
// never mix within a line. Which sink receives the lines is the front end's choice: the Windows
// program sends them to the debugger output and standard output, the command-line tool to a file,
// to standard error, or nowhere.

#include <cstdarg>
#include <cstddef>
#include <string>

#if defined(__GNUC__) || defined(__clang__)
#define MIDIUPDATE_PRINTF(fmt, args) __attribute__((format(printf, fmt, args)))
#else
#define MIDIUPDATE_PRINTF(fmt, args)
#endif

// Size of every formatting buffer; a formatted text keeps at most kFormatBufferSize - 1 characters.
constexpr std::size_t kFormatBufferSize = 288;

// Receives one formatted log text (not terminated by the sink's caller beyond `length`).
using LogSink = void (*)(void* context, const char* text, std::size_t length);

// Installs the sink for LogMessage; a null sink discards the lines. Safe to call at any time.
void SetLogSink(LogSink sink, void* context);

// Silences the log while it lives (for work whose lines would only confuse, such as a forecast
// run), then restores the sink that was installed.
class ScopedLogMute {
public:
    ScopedLogMute();
    ~ScopedLogMute();
    ScopedLogMute(const ScopedLogMute&) = delete;
    ScopedLogMute& operator=(const ScopedLogMute&) = delete;

private:
    LogSink sink;
    void* context;
};

// Formats a line (cut after 287 characters) and hands it to the log sink. Adds no line end.
void LogMessage(const char* format, ...) MIDIUPDATE_PRINTF(1, 2);

// Formats straight to standard output, without a length limit, bypassing the log sink.
void ConsoleMessage(const char* format, ...) MIDIUPDATE_PRINTF(1, 2);

// Formats into a string of at most 287 characters.
std::string FormatString(const char* format, ...) MIDIUPDATE_PRINTF(1, 2);
std::string FormatStringV(const char* format, va_list args);

// Formats into the caller's buffer of `size` characters; a text that does not fit is cut to
// size - 1 characters and terminated. Returns the length of the text written.
int FormatToBuffer(char* buffer, std::size_t size, const char* format, ...) MIDIUPDATE_PRINTF(3, 4);
