#include "VisibleText.h"

#include <cstdio>

#include "TextEncoding.h"

namespace {

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
