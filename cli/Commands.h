#pragma once
// What the commands of midiupdate share (their arguments, usage errors, loading a file, the MIDI
// system) and the commands themselves, each in a file of its own; Cli.cpp only dispatches.

#include <cstdint>
#include <iosfwd>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "Cli.h"
#include "MidiSystem.h"
#include "Update.h"

struct MidiFileContent;

namespace cli {

class LogRouting;

// A command line that cannot be run: the one thing wrong with it.
struct UsageError {
    std::string text;
};

[[noreturn]] void Usage(const std::string& text);

// The command line after the command word, with the options every command takes removed.
struct Args {
    std::vector<std::string> items;
    std::size_t next = 0;
    LogRouting* log = nullptr;
    bool Done() const { return next >= items.size(); }
    const std::string& Peek() const { return items[next]; }
    std::string Take() { return items[next++]; }
    std::string Value(const std::string& option) {
        if (Done()) Usage(option + " needs a value");
        return Take();
    }
    // Every command calls this once its command line has been checked, naming the files it reads
    // or writes; only then does the diagnostic log start.
    void Ready(const std::vector<std::string>& commandFiles);
};

// A whole decimal number no larger than `limit`, digits only.
std::optional<unsigned long> ParseUnsigned(const std::string& text, unsigned long limit);
// --version MAJOR.MINOR; a usage error otherwise.
FirmwareVersion ParseVersionOption(const std::string& text);
// The file stores a line break as backslash-n, so that is what a maker types for one.
std::string LineBreaksFromEscapes(const std::string& text);
// The MIDI systems --api may name; a usage error for any other.
std::string CheckedApi(const std::string& api);
// Loads an update file ("-": standard input) as the programs do; on failure tells the user why,
// the loader's own message on the last line, and gives nothing. `why`, when given, then holds
// the reason in one sentence: the loader's own, or why the file could not be opened. `midiFile`,
// when given, receives what a Standard MIDI File holds, read from the same bytes as the update.
std::unique_ptr<Update> LoadUpdate(const std::string& path, CliIo& io, std::string* why = nullptr,
                                   MidiFileContent* midiFile = nullptr);
// The MIDI system of the tests' factory or the platform's; empty with the reason in `error`.
std::unique_ptr<MidiSystem> OpenMidiSystem(CliIo& io, const std::string& api, std::string& error);
// Each line of `text` indented by four spaces.
void PrintIndented(std::ostream& out, const std::string& text);
// The pacing line's text for an update sent with `settings`. A MIDI file's messages go out one at a
// time, each when the file times it: chunk sizes do not apply, the port's pauses do.
std::string PacingText(const Update& update, const PortSettings& settings);
// A list of ports as `ports` prints it, under `title`.
void PrintPorts(const char* title, const std::vector<MidiPortEntry>& ports, std::ostream& out);

// The commands: each checks its own command line (a usage error if it is wrong), calls
// args.Ready, and gives the exit status.
int Info(Args& args, CliIo& io);
int Pack(Args& args, CliIo& io);
int Unpack(Args& args, CliIo& io);
int Send(Args& args, CliIo& io);
int Ports(Args& args, CliIo& io);
int Simulate(Args& args, CliIo& io);

}  // namespace cli
