#include "Log.h"

#include <cstdio>
#include <mutex>

namespace {

struct SinkSlot {
    std::mutex lock;  // serialises the sink calls, so lines from different threads never mix
    LogSink sink = nullptr;
    void* context = nullptr;
};

SinkSlot& Slot() {
    static SinkSlot slot;
    return slot;
}

// vsnprintf cuts and terminates; a negative result (an encoding error) leaves an empty text.
std::size_t FormatInto(char* buffer, std::size_t size, const char* format, va_list args) {
    if (size == 0) return 0;
    int n = std::vsnprintf(buffer, size, format, args);
    if (n < 0) {
        buffer[0] = '\0';
        return 0;
    }
    return static_cast<std::size_t>(n) < size ? static_cast<std::size_t>(n) : size - 1;
}

}  // namespace

void SetLogSink(LogSink sink, void* context) {
    SinkSlot& slot = Slot();
    std::lock_guard<std::mutex> guard(slot.lock);
    slot.sink = sink;
    slot.context = context;
}

ScopedLogMute::ScopedLogMute() {
    SinkSlot& slot = Slot();
    std::lock_guard<std::mutex> guard(slot.lock);
    sink = slot.sink;
    context = slot.context;
    slot.sink = nullptr;
    slot.context = nullptr;
}

ScopedLogMute::~ScopedLogMute() { SetLogSink(sink, context); }

void LogMessage(const char* format, ...) {
    char buffer[kFormatBufferSize];
    va_list args;
    va_start(args, format);
    std::size_t length = FormatInto(buffer, sizeof buffer, format, args);
    va_end(args);

    SinkSlot& slot = Slot();
    std::lock_guard<std::mutex> guard(slot.lock);
    if (slot.sink) slot.sink(slot.context, buffer, length);
}

void ConsoleMessage(const char* format, ...) {
    va_list args;
    va_start(args, format);
    std::vfprintf(stdout, format, args);
    va_end(args);
}

std::string FormatStringV(const char* format, va_list args) {
    char buffer[kFormatBufferSize];
    std::size_t length = FormatInto(buffer, sizeof buffer, format, args);
    return std::string(buffer, length);
}

std::string FormatString(const char* format, ...) {
    va_list args;
    va_start(args, format);
    std::string text = FormatStringV(format, args);
    va_end(args);
    return text;
}

int FormatToBuffer(char* buffer, std::size_t size, const char* format, ...) {
    va_list args;
    va_start(args, format);
    std::size_t length = FormatInto(buffer, size, format, args);
    va_end(args);
    return static_cast<int>(length);
}
