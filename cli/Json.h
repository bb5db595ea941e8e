#pragma once
// Small JSON writers for machine-readable output.

#include <string>

struct Update;

// A JSON string literal for an 8-bit text: each byte becomes the character with the same code
// point; bytes below 0x20 and from 0x7F up are written as \u00XX.
std::string JsonText(const std::string& text);
// The shortest decimal text that reads back as the same float.
std::string JsonFloat(float value);
// One object describing a loaded update (the `info --json` output).
std::string UpdateInfoJson(const Update& update);
