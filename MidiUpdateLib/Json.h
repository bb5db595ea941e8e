#pragma once
// Small JSON writers, for the command line's machine-readable output and the page's answers.

#include <string>

struct MidiFileContent;
struct Update;

// A JSON string literal (UTF-8) for a text of an update file, read as code page 1252; control
// characters are written as \uXXXX.
std::string JsonText(const std::string& text);
// A JSON string literal for a text that is already UTF-8 (a path, a sentence of the program's):
// control characters are written as \uXXXX, and bytes that are not UTF-8 as U+FFFD.
std::string JsonUtf8Text(const std::string& text);
// A JSON string literal for a name the MIDI system gave: UTF-8 as it is, where the system speaks
// UTF-8 (Linux, macOS); on Windows the bytes read as code page 1252 (JsonText).
std::string JsonSystemText(const std::string& text);
// The value with at most four decimals, without trailing zeros.
std::string JsonFloat(float value);
// One object describing a loaded update (the `info --json` output). For a Standard MIDI File, given
// its content as read, a "midi_file" object follows: its header, its SysEx, its timing and what of
// it is not sent.
std::string UpdateInfoJson(const Update& update, const MidiFileContent* midiFile = nullptr);
// The object `info --json` prints for a file it refuses: the file as named, and why.
std::string RefusedFileJson(const std::string& path, const std::string& why);
