#include "Reporters.h"

#include <algorithm>
#include <chrono>
#include <istream>
#include <ostream>

#include "Clock.h"
#include "Json.h"
#include "SysExSender.h"
#include "TextEncoding.h"
#include "VisibleText.h"

void Acknowledger::Wait() const {
    if (!in) return;
    if (prompt) *prompt << "Press Enter to continue..." << std::flush;
    std::string line;
    std::getline(*in, line);
    // A Ctrl-C interrupts the read; it must not count as the user's go-ahead.
    if (CancelRequested()) throw RunCancelled();
    if (!*in) in->clear();  // end of input: nobody to ask, carry on
}

// --- EventsReporter --------------------------------------------------------------------------

EventsReporter::EventsReporter(std::ostream& out, Clock& clock, Acknowledger ack)
    : out(out), clock(clock), startMs(clock.NowMs()), ack(ack) {}

void EventsReporter::Emit(const char* event, const std::string& tail) {
    out << "{\"t\": " << (clock.NowMs() - startMs) << ", \"event\": \"" << event << "\"" << tail
        << "}\n"
        << std::flush;
}

void EventsReporter::Progress(float fraction) { Emit("progress", ", \"value\": " + JsonFloat(fraction)); }
void EventsReporter::ProgressIndeterminate() { Emit("indeterminate", ""); }
void EventsReporter::Status(const std::string& text) { Emit("status", ", \"text\": " + JsonText(text)); }
void EventsReporter::Error(const std::string& text) { Emit("error", ", \"text\": " + JsonText(text)); }
void EventsReporter::Completed(const std::string& text) { Emit("completed", ", \"text\": " + JsonText(text)); }
void EventsReporter::Ports(const std::string& output, const std::string& input) {
    Emit("ports", ", \"output\": " + JsonSystemText(output) + ", \"input\": " + JsonSystemText(input));
}
void EventsReporter::Verdict(const std::string& verdict, int exitStatus) {
    Emit("verdict", ", \"verdict\": " + JsonText(verdict) + ", \"exit\": " + std::to_string(exitStatus));
}
void EventsReporter::BlockingMessage(const std::string& text) {
    Emit("blocking", ", \"text\": " + JsonText(text));
    ack.Wait();
}

// --- TerminalReporter ------------------------------------------------------------------------

namespace {
constexpr std::size_t kMaxBarWidth = 30;
constexpr std::size_t kMinBarWidth = 10;
constexpr std::size_t kDefaultColumns = 80;
}  // namespace

std::string WrapText(const std::string& text, std::size_t width) {
    if (width == 0) return text;
    std::string out;
    std::size_t start = 0;
    while (start <= text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        // One line of the text, broken at its spaces; a space where it breaks is dropped.
        std::size_t column = 0;
        for (std::size_t at = start;;) {
            std::size_t wordEnd = text.find(' ', at);
            if (wordEnd == std::string::npos || wordEnd > end) wordEnd = end;
            const std::size_t length = wordEnd - at;
            if (at > start) {  // a space stood before this word
                if (column > 0 && column + 1 + length > width) {
                    out += '\n';
                    column = 0;
                } else {
                    out += ' ';
                    ++column;
                }
            }
            out.append(text, at, length);
            column += length;
            if (wordEnd >= end) break;
            at = wordEnd + 1;
        }
        if (end == text.size()) break;
        out += '\n';
        start = end + 1;
    }
    return out;
}

std::string TerminalReporter::BarLine(bool indeterminate, float fraction, unsigned tick,
                                      const std::string& status, long long secondsLeft,
                                      std::size_t width) {
    const std::size_t barWidth =
        std::max(kMinBarWidth, std::min(kMaxBarWidth, width > 10 ? (width - 10) / 3 : 0));
    std::string bar(barWidth, '.');
    std::string percent;
    if (indeterminate) {
        // A short block sweeping back and forth: busy, with no fraction to show.
        const std::size_t block = 5, span = barWidth - block;
        std::size_t pos = tick % (2 * span);
        if (pos > span) pos = 2 * span - pos;
        for (std::size_t i = 0; i < block; ++i) bar[pos + i] = '=';
        percent = "    ";
    } else {
        float f = fraction < 0.0f ? 0.0f : (fraction > 1.0f ? 1.0f : fraction);
        std::size_t filled = static_cast<std::size_t>(f * static_cast<float>(barWidth) + 0.5f);
        for (std::size_t i = 0; i < filled; ++i) bar[i] = '#';
        char text[8];
        std::snprintf(text, sizeof text, "%3d%%", static_cast<int>(f * 100.0f + 0.5f));
        percent = text;
    }
    std::string line = "[" + bar + "] " + percent;
    if (secondsLeft >= 0) line += "  " + FormatDuration(static_cast<std::uint64_t>(secondsLeft) * 1000) + " left";
    // The status goes last and is cut to the line, so the line never wraps and \r redraws it.
    // Every character of the 8-bit text takes one column, so the cut is made before the text
    // becomes UTF-8.
    // Its control characters are shown as escapes of plain ASCII, one column each, and every
    // other character stays one byte of the code page.
    std::string flat;
    for (char c : status) flat += (c == '\n' ? ' ' : c);
    std::string shown, unused;
    Utf8ToCp1252(VisibleText(Cp1252ToUtf8(flat)), shown, unused);
    const std::size_t statusAt = line.size() + 2;
    line += "  " + shown;
    return Cp1252ToUtf8(CutAtWord(line, width, statusAt));
}

std::string CutAtWord(std::string line, std::size_t width, std::size_t keep) {
    if (line.size() > width) {
        const std::size_t space = line.rfind(' ', width);
        line.resize(space != std::string::npos && space > keep ? space : width);
    }
    return line;
}

TerminalReporter::TerminalReporter(std::ostream& out, bool tty, Clock& clock, Acknowledger ack,
                                   std::size_t (*columns)())
    : out(out), tty(tty), clock(clock), ack(ack), columns(columns), startMs(clock.NowMs()) {
    if (tty) StartTicker();
}

TerminalReporter::~TerminalReporter() {
    StopTicker();
    Finish();
}

void TerminalReporter::SetForecast(std::vector<std::uint64_t> times, std::uint64_t totalMs) {
    std::lock_guard<std::mutex> guard(lock);
    forecast = std::move(times);
    forecastTotalMs = totalMs;
}

void TerminalReporter::Finish() {
    StopTicker();
    std::lock_guard<std::mutex> guard(lock);
    if (lineOpen) {
        out << "\n" << std::flush;
        lineOpen = false;
    }
}

void TerminalReporter::Event() {
    lastEventMs = clock.NowMs() - startMs;
    ++eventCount;
}

long long TerminalReporter::SecondsLeft() {
    // Report k happened at forecast[k-1] in the forecast run; what the forecast still had to go
    // after it, less the time since it happened here, is what is left.
    if (eventCount == 0 || eventCount > forecast.size()) return -1;
    std::uint64_t at = forecast[eventCount - 1];
    std::uint64_t since = clock.NowMs() - startMs - lastEventMs;
    std::uint64_t done = at + since;
    return done >= forecastTotalMs ? 0 : static_cast<long long>((forecastTotalMs - done + 999) / 1000);
}

void TerminalReporter::Draw() {
    if (!tty) return;
    // One column short of the width: a line that fills the last column wraps on some terminals.
    const std::size_t width = columns ? columns() : kDefaultColumns;
    out << "\r" << BarLine(indeterminate, fraction, tick, status, SecondsLeft(), width > 1 ? width - 1 : 1)
        << "\x1b[K" << std::flush;
    lineOpen = true;
}

void TerminalReporter::Progress(float value) {
    std::lock_guard<std::mutex> guard(lock);
    Event();
    indeterminate = false;
    fraction = value;
    Draw();
}

void TerminalReporter::ProgressIndeterminate() {
    std::lock_guard<std::mutex> guard(lock);
    Event();
    indeterminate = true;
    Draw();
}

void TerminalReporter::Status(const std::string& text) {
    std::lock_guard<std::mutex> guard(lock);
    Event();
    status = text;
    if (tty)
        Draw();
    else
        out << VisibleText(Cp1252ToUtf8(text)) << "\n" << std::flush;
}

void TerminalReporter::Error(const std::string& text) {
    std::lock_guard<std::mutex> guard(lock);
    Event();
    if (lineOpen) out << "\n";
    lineOpen = false;
    out << "Error: " << VisibleText(Cp1252ToUtf8(text), true) << "\n" << std::flush;
}

void TerminalReporter::Completed(const std::string& text) {
    std::lock_guard<std::mutex> guard(lock);
    Event();
    verdict = text;
}

void TerminalReporter::BlockingMessage(const std::string& text) {
    {
        std::lock_guard<std::mutex> guard(lock);
        Event();
        if (lineOpen) out << "\n";
        lineOpen = false;
        const std::string shown = tty ? WrapText(text, columns ? columns() : kDefaultColumns) : text;
        out << "\n" << VisibleText(Cp1252ToUtf8(shown), true) << "\n\n" << std::flush;
    }
    ack.Wait();
}

void TerminalReporter::Note(const std::string& text) {
    std::lock_guard<std::mutex> guard(lock);
    if (lineOpen) out << "\n";
    lineOpen = false;
    out << text << std::flush;
    if (tty) Draw();
}

void TerminalReporter::StartTicker() {
    ticker = std::thread([this] {
        std::unique_lock<std::mutex> guard(lock);
        // Redraws a few times a second so the busy animation moves and the time left counts
        // down during long pauses that report nothing.
        while (!tickerWake.wait_for(guard, std::chrono::milliseconds(250), [this] { return tickerStop; })) {
            ++tick;
            if (lineOpen) Draw();
        }
    });
}

void TerminalReporter::StopTicker() {
    {
        std::lock_guard<std::mutex> guard(lock);
        tickerStop = true;
    }
    tickerWake.notify_all();
    if (ticker.joinable()) ticker.join();
}
