#include "LogRouting.h"

#include <cerrno>
#include <cstring>

#include "Commands.h"
#include "FileOutput.h"
#include "Log.h"
#include "VisibleText.h"

namespace cli {

namespace {

// Log sinks for --log and --verbose; the program's own output never carries log lines.
// A log line may quote a file's texts or a port's name: its control characters are shown as
// escapes, as on the terminal.
void FileSink(void* context, const char* text, std::size_t length) {
    std::FILE* file = static_cast<std::FILE*>(context);
    const std::string shown = VisibleText(std::string(text, length), true);
    std::fwrite(shown.data(), 1, shown.size(), file);
    std::fflush(file);
}

}  // namespace

void TimedSink::Write(void* context, const char* rawText, std::size_t rawLength) {
    TimedSink& sink = *static_cast<TimedSink*>(context);
    const std::string shown = VisibleText(std::string(rawText, rawLength), true);
    const char* text = shown.data();
    const std::size_t length = shown.size();
    for (std::size_t i = 0; i < length;) {
        if (sink.atLineStart) {
            const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                                std::chrono::steady_clock::now() - sink.start)
                                .count();
            std::fprintf(sink.file, "[%7lld ms] ", static_cast<long long>(ms));
            sink.atLineStart = false;
        }
        const char* newline = static_cast<const char*>(std::memchr(text + i, '\n', length - i));
        const std::size_t end = newline ? static_cast<std::size_t>(newline - text) + 1 : length;
        std::fwrite(text + i, 1, end - i, sink.file);
        if (newline) sink.atLineStart = true;
        i = end;
    }
    std::fflush(sink.file);
}

void LogRouting::Start(const std::vector<std::string>& commandFiles) {
    if (started) return;
    started = true;
    if (!path.empty()) {
        for (const std::string& used : commandFiles)
            if (!used.empty() && SameFile(path, used))
                Usage("--log '" + path + "' names a file the command works on; choose another log file");
        // Binary: the same bytes on every platform (no carriage returns added on Windows). A link
        // at the log's name is replaced by the log, never written through.
        std::string error;
        file = OpenFreshFile(path, error);
        if (!file) Usage("--log: " + error);
        SetLogSink(&FileSink, file);
    } else if (verbose) {
        timed.file = stderr;
        SetLogSink(&TimedSink::Write, &timed);
    }
}

LogRouting::~LogRouting() {
    if (started) SetLogSink(nullptr, nullptr);
    if (file) std::fclose(file);
}

}  // namespace cli
