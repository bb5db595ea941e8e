#pragma once
// Text that came from a file, a device, the MIDI system or the command line, made safe to print:
// its control characters are shown as escapes, so that no such text can drive the terminal.

#include <string>

// `text` (UTF-8) with every control character shown as an escape: a C0 control or DEL as \x1b, a
// C1 control (U+0080 to U+009F) or a mark that turns the text's direction (U+202E and its kin) as
// \u009b, and a byte that is not part of UTF-8 as \xff. With
// `keepLineBreaks` a line feed (and a carriage return just before one) stays a line break; every
// other control character is escaped all the same.
std::string VisibleText(const std::string& text, bool keepLineBreaks = false);

// The same for a name the MIDI system gave: UTF-8 on Linux and macOS, code page 1252 on Windows.
std::string VisibleSystemText(const std::string& text);
