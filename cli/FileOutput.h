#pragma once
// Whole-file reads and writes for the command line, without exceptions: a failure comes back as a
// sentence for the user.

#include <cstdint>
#include <string>
#include <vector>

// Reads the whole file. On failure returns false and sets `error` ("cannot read 'x': reason").
bool ReadWholeFile(const std::string& path, std::vector<std::uint8_t>& bytes, std::string& error);

// Replaces the file at `path` with `data`, or leaves it untouched: the bytes go to a temporary file
// in the same folder, which is renamed over `path` only once everything was written and flushed.
// On failure the temporary file is removed, `error` is set and false returned.
bool ReplaceFile(const std::string& path, const std::string& data, std::string& error);

// True when both paths name the same file (through links, or the same path spelt differently).
bool SameFile(const std::string& a, const std::string& b);
