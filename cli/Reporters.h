#pragma once
// Reporters that show an update run in a terminal or as JSON events.

#include <condition_variable>
#include <cstdint>
#include <iosfwd>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "UpdateProgress.h"

class Clock;

// How a blocking message is acknowledged.
struct Acknowledger {
    std::istream* in = nullptr;  // read one line from here; null: continue at once
    std::ostream* prompt = nullptr;

    // Waits for Enter. End of input counts as acknowledged; a Ctrl-C throws RunCancelled.
    void Wait() const;
};

// One JSON object per line for every report, stamped with milliseconds since the run started.
class EventsReporter : public UpdateProgress {
public:
    EventsReporter(std::ostream& out, Clock& clock, Acknowledger ack);

    void Progress(float fraction) override;
    void ProgressIndeterminate() override;
    void Status(const std::string& text) override;
    void Error(const std::string& text) override;
    void Completed(const std::string& text) override;
    void BlockingMessage(const std::string& text) override;

    // The device's ports as they open: the output and the input ("" while none is open), as the
    // system lists them.
    void Ports(const std::string& output, const std::string& input);
    // The last line of a run: which verdict it reached and the exit status the process returns.
    void Verdict(const std::string& verdict, int exitStatus);

private:
    void Emit(const char* event, const std::string& tail);
    std::ostream& out;
    Clock& clock;
    std::uint64_t startMs;
    Acknowledger ack;
};

// The terminal view: on a TTY a progress bar with the status text and the time left, redrawn
// in place; otherwise one plain line per status. The verdict is kept for the caller to print
// last.
class TerminalReporter : public UpdateProgress {
public:
    // `columns` tells the terminal's width when the bar is drawn (it may change); null means 80.
    TerminalReporter(std::ostream& out, bool tty, Clock& clock, Acknowledger ack,
                     std::size_t (*columns)() = nullptr);
    ~TerminalReporter() override;

    // Report times of a forecast run of the same update (see ForecastRun), and its length.
    void SetForecast(std::vector<std::uint64_t> times, std::uint64_t totalMs);
    // Ends the bar line; call before printing anything after the run.
    void Finish();
    const std::string& Verdict() const { return verdict; }

    void Progress(float fraction) override;
    void ProgressIndeterminate() override;
    void Status(const std::string& text) override;
    void Error(const std::string& text) override;
    void Completed(const std::string& text) override;
    void BlockingMessage(const std::string& text) override;
    // Text (UTF-8, whole lines) that the run's caller has to say meanwhile; on a terminal the bar
    // comes back below it.
    void Note(const std::string& text);

    // The bar line for the given state (no carriage return), at most `width` characters: a
    // narrow terminal gets a shorter bar and a cut status. Texts are code page 1252; the line is
    // UTF-8. Exposed for tests.
    static std::string BarLine(bool indeterminate, float fraction, unsigned tick,
                               const std::string& status, long long secondsLeft, std::size_t width);

private:
    void Event();  // counts a report and anchors the forecast to it
    void Draw();   // callers hold `lock`
    void StartTicker();
    void StopTicker();
    long long SecondsLeft();

    std::ostream& out;
    bool tty;
    Clock& clock;
    Acknowledger ack;
    std::size_t (*columns)();
    std::uint64_t startMs;

    std::mutex lock;
    bool indeterminate = true;
    float fraction = 0.0f;
    std::string status;
    std::string verdict;
    unsigned tick = 0;
    bool lineOpen = false;

    std::vector<std::uint64_t> forecast;
    std::uint64_t forecastTotalMs = 0;
    std::size_t eventCount = 0;
    std::uint64_t lastEventMs = 0;

    std::thread ticker;
    std::condition_variable tickerWake;
    bool tickerStop = false;
};

// Text broken into lines of at most `width` columns at spaces, one column per byte (code page
// 1252 text, or UTF-8 that is ASCII); its own line breaks stay, and a word longer than a line
// stays whole on a line of its own. A width of 0 leaves the text as it is.
std::string WrapText(const std::string& text, std::size_t width);

// `line` cut to at most `width` columns at the last space past its first `keep` characters, or
// at the width where there is none: a line redrawn with \r never wraps nor ends in half a word.
std::string CutAtWord(std::string line, std::size_t width, std::size_t keep = 0);
