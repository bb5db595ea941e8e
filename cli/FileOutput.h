#pragma once
// Whole-file reads and writes for the command line, without exceptions: a failure comes back as a
// sentence for the user. Nothing is ever written through a symbolic link that stands where a file
// is written: the link is replaced, and its target stays as it was.

#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

// Reads the whole file. On failure returns false and sets `error` ("cannot read 'x': reason").
bool ReadWholeFile(const std::string& path, std::vector<std::uint8_t>& bytes, std::string& error);

// The name ReplaceFile tries for its temporary file at its `attempt`th try (0 first), beside
// `target`. The default is hidden on Unix and unpredictable; tests choose their own.
using TemporaryNamer = std::function<std::string(const std::string& target, unsigned attempt)>;

// Replaces the file at `path` with `data`, or leaves it untouched: the bytes go to a temporary file
// in the same folder, created where nothing stood (never through a link planted at its name), which
// is renamed over `path` only once everything was written and flushed. On failure the temporary
// file is removed, `error` is set and false returned.
bool ReplaceFile(const std::string& path, const std::string& data, std::string& error,
                 const TemporaryNamer& namer = nullptr);

// Writes `data` to a file created anew at `path`: a file or a symbolic link standing there is
// removed first, so a link is never followed. False with `error` set on failure.
bool WriteFreshFile(const std::string& path, const void* data, std::size_t size, std::string& error);

// The same for a file kept open: a stream for writing (binary) at `path`, created anew; null with
// `error` set on failure. A device or pipe standing there (such as /dev/null, or /dev/stderr and
// its link) has no file to replace and is opened as it is.
std::FILE* OpenFreshFile(const std::string& path, std::string& error);

// True when both paths name the same file (through links, or the same path spelt differently).
bool SameFile(const std::string& a, const std::string& b);
