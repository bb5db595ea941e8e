#include "VisibleText.h"

#include <cstdio>

#include "TextEncoding.h"

namespace {

// The length of the well-formed UTF-8 sequence at `at` and its code point; 0 when the bytes there
// are not one (overlong, a surrogate, beyond U+10FFFF, or cut short).
std::size_t Utf8Sequence(const std::string& text, std::size_t at, char32_t& cp) {
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
    const unsigned char lead = byte(at);
    std::size_t length = 0;
    if (lead < 0x80) {
        cp = lead;
        return 1;
    } else if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
        cp = lead & 0x1Fu;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        cp = lead & 0x0Fu;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        cp = lead & 0x07u;
    } else {
        return 0;
    }
    if (at + length > text.size()) return 0;
    for (std::size_t i = 1; i < length; ++i) {
        if ((byte(at + i) & 0xC0) != 0x80) return 0;
        cp = (cp << 6) | (byte(at + i) & 0x3Fu);
    }
    const char32_t smallest[] = {0, 0, 0x80, 0x800, 0x10000};
    if (cp < smallest[length] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return 0;
    return length;
}

// The marks and overrides that turn the direction of what follows them: a name holding one can
// show the rest of its line in another order than it is written.
bool IsBidiControl(char32_t cp) {
    return cp == 0x061C || cp == 0x200E || cp == 0x200F || (cp >= 0x202A && cp <= 0x202E) ||
           (cp >= 0x2066 && cp <= 0x2069);
}

void AppendEscape(std::string& out, const char* format, unsigned value) {
    char escape[8];
    std::snprintf(escape, sizeof escape, format, value);
    out += escape;
}

}  // namespace

std::string VisibleText(const std::string& text, bool keepLineBreaks) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t at = 0; at < text.size();) {
        char32_t cp = 0;
        const std::size_t length = Utf8Sequence(text, at, cp);
        if (length == 0) {
            AppendEscape(out, "\\x%02x", static_cast<unsigned char>(text[at]));
            ++at;
            continue;
        }
        if (keepLineBreaks && (cp == '\n' || (cp == '\r' && at + 1 < text.size() && text[at + 1] == '\n'))) {
            if (cp == '\n') out += '\n';
        } else if (cp < 0x20 || cp == 0x7F) {
            AppendEscape(out, "\\x%02x", static_cast<unsigned>(cp));
        } else if ((cp >= 0x80 && cp < 0xA0) || IsBidiControl(cp)) {
            AppendEscape(out, "\\u%04x", static_cast<unsigned>(cp));
        } else {
            out.append(text, at, length);
        }
        at += length;
    }
    return out;
}

std::string VisibleSystemText(const std::string& text) {
#if defined(_WIN32)
    return VisibleText(Cp1252ToUtf8(text));
#else
    return VisibleText(text);
#endif
}
