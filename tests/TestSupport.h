#pragma once
// Shared test doubles: a reporter that records every call with its time, a log capture, a port
// that takes everything and never answers, and the program's sentences that tests of every layer
// expect.

#include <cstdint>
#include <string>
#include <vector>

#include "Clock.h"
#include "Log.h"
#include "MidiPort.h"
#include "UpdateProgress.h"

struct ProgressEvent {
    enum Kind { Progress, Indeterminate, Status, Error, Completed, Blocking };
    Kind kind;
    float value = 0.0f;  // Progress only
    std::string text;    // Status, Error, Completed, Blocking
    std::uint64_t atMs = 0;
};

// Records every report in order, stamped with the current clock.
class RecordingProgress : public UpdateProgress {
public:
    std::vector<ProgressEvent> events;

    void Progress(float fraction) override { Add({ProgressEvent::Progress, fraction, {}, 0}); }
    void ProgressIndeterminate() override { Add({ProgressEvent::Indeterminate, 0.0f, {}, 0}); }
    void Status(const std::string& text) override { Add({ProgressEvent::Status, 0.0f, text, 0}); }
    void Error(const std::string& text) override { Add({ProgressEvent::Error, 0.0f, text, 0}); }
    void Completed(const std::string& text) override { Add({ProgressEvent::Completed, 0.0f, text, 0}); }
    void BlockingMessage(const std::string& text) override { Add({ProgressEvent::Blocking, 0.0f, text, 0}); }

    // The texts of all events of one kind, in order.
    std::vector<std::string> Texts(ProgressEvent::Kind kind) const {
        std::vector<std::string> out;
        for (const ProgressEvent& e : events)
            if (e.kind == kind) out.push_back(e.text);
        return out;
    }
    // A compact trace: "P0.5", "I", "S:text", "E:text", "C:text", "B:text".
    std::vector<std::string> Trace() const {
        std::vector<std::string> out;
        for (const ProgressEvent& e : events) {
            switch (e.kind) {
                case ProgressEvent::Progress: out.push_back("P" + FormatString("%g", e.value)); break;
                case ProgressEvent::Indeterminate: out.push_back("I"); break;
                case ProgressEvent::Status: out.push_back("S:" + e.text); break;
                case ProgressEvent::Error: out.push_back("E:" + e.text); break;
                case ProgressEvent::Completed: out.push_back("C:" + e.text); break;
                case ProgressEvent::Blocking: out.push_back("B:" + e.text); break;
            }
        }
        return out;
    }

private:
    void Add(ProgressEvent e) {
        e.atMs = CurrentClock().NowMs();
        events.push_back(std::move(e));
    }
};

// Captures everything LogMessage writes while it lives.
class LogCapture {
public:
    LogCapture() { SetLogSink(&LogCapture::Sink, this); }
    ~LogCapture() { SetLogSink(nullptr, nullptr); }
    LogCapture(const LogCapture&) = delete;
    LogCapture& operator=(const LogCapture&) = delete;

    const std::string& Text() const { return text; }
    bool Contains(const std::string& part) const { return text.find(part) != std::string::npos; }
    std::size_t Count(const std::string& part) const {
        std::size_t n = 0;
        for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
        return n;
    }
    void Clear() { text.clear(); }

private:
    static void Sink(void* context, const char* line, std::size_t length) {
        static_cast<LogCapture*>(context)->text.append(line, length);
    }
    std::string text;
};

// Takes every chunk and never answers; connected after its first `absentChecks` looks. Only the
// pure operations are filled in, so reception behaves exactly as the base class defines it.
class QuietPort : public MidiPort {
public:
    explicit QuietPort(unsigned absentChecks = 0) : absentChecks(absentChecks) {}
    std::int32_t GetIdealChunkSize() override { return 1024; }
    std::int32_t GetMaxChunkSize() override { return 3072; }
    bool IsConnected() override {
        if (absentChecks == 0) return true;
        --absentChecks;
        return false;
    }
    void Disconnect() override {}
    void Send(const std::uint8_t*, std::uint32_t) override {}
    // Bytes as if the device had sent them.
    void Feed(const std::vector<std::uint8_t>& bytes) { assembler.AddBytes(bytes.data(), bytes.size()); }

private:
    unsigned absentChecks;
};

// The program's own sentences, typos included, written once for every test that expects them.
inline const char* const kUpdatedText = "The 'Pad' was updated sucessfully to version 1.05.";
inline const char* const kCheckDeviceText =
    "The update has been sent.\nPlease check your device for update status.\nYou may need to restart "
    "the device for the update process to complete.";
inline const char* const kNotConfirmedText =
    "The update has been sent, but the device has not yet confirmed that the update process was "
    "successful.";
inline const char* const kDeviceErrorText =
    "There was an error sending the update file.\nPlease restart the device and try again.";
inline const char* const kPreparationText =
    "Preparing your update...\n\n1. Please connect your device via USB.\n2. Do not disconnect your "
    "device until the update is complete.";
inline const char* const kBadHeaderText = "Update file was invalid (bad header).";
