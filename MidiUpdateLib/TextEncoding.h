#pragma once
// Texts in update files are 8-bit Windows text, shown in the Windows code page 1252. These convert
// between that and UTF-8 without losing a byte: the five bytes 1252 leaves undefined (0x81, 0x8D,
// 0x8F, 0x90, 0x9D) stand for the control characters of the same number, as Windows maps them.

#include <cstddef>
#include <cstdint>
#include <string>

// The Unicode code point of one code page 1252 byte.
char32_t Cp1252CodePoint(std::uint8_t byte);

// The text as UTF-8.
std::string Cp1252ToUtf8(const std::string& text);

// The UTF-8 text in code page 1252. False, with `error` naming the first character that cannot be
// stored (or the malformed byte), when 1252 cannot hold the text; `out` is then unspecified.
bool Utf8ToCp1252(const std::string& utf8, std::string& out, std::string& error);

// The length of the well-formed UTF-8 sequence at `at` of `text` and its code point in `cp`; 0 when
// the bytes there are not one (overlong, a surrogate, beyond U+10FFFF, or cut short).
std::size_t Utf8Sequence(const std::string& text, std::size_t at, char32_t& cp);
