#pragma once
// Small JSON writers for machine-readable output.

#include <string>

struct Update;

// A JSON string literal (UTF-8) for a text of an update file, read as code page 1252; control
// characters are written as \uXXXX.
std::string JsonText(const std::string& text);
// The value with at most four decimals, without trailing zeros.
std::string JsonFloat(float value);
// One object describing a loaded update (the `info --json` output).
std::string UpdateInfoJson(const Update& update);
