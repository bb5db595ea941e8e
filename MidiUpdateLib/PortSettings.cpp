#include "PortSettings.h"

#include <cstddef>
#include <cstdint>
#include <limits>
#include <vector>

const PortSettings DefaultPortSettings{};

namespace {

// Splits at `separator`. A leading separator or two adjacent ones give an empty field; a trailing
// separator gives none, and an empty text gives no fields. Fields are kept byte for byte.
std::vector<std::string> SplitFields(const std::string& text, char separator) {
    std::vector<std::string> fields;
    std::size_t start = 0;
    while (start < text.size()) {
        const std::size_t end = text.find(separator, start);
        if (end == std::string::npos) {
            fields.push_back(text.substr(start));
            break;
        }
        fields.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    return fields;
}

// The white space that the C library skips before a number, independent of the locale.
bool IsSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

char ToLowerAscii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

void ApplySetting(PortSettings& settings, const std::string& key, const std::string& value) {
    if (key == "name") {
        ParseNameList(settings.names, value);
    } else if (key == "ideal") {
        settings.ideal = ParseDecimal(value);
    } else if (key == "max") {
        settings.max = ParseDecimal(value);
    } else if (key == "delay") {
        settings.delay = ParseDecimal(value);
    } else if (key == "unprepdelay") {
        settings.unprepDelay = ParseDecimal(value);
    } else if (key == "chunks") {
        settings.chunks = ParseBool(value);
    }
    // Any other key belongs to a newer or different tool and is ignored on purpose.
}

}  // namespace

void ParsePortSettings(PortSettings& settings, const std::string& text) {
    const std::vector<std::string> fields = SplitFields(text, ':');
    // The first field names the platform; the second is free text that nothing interprets.
    if (fields.size() < 2 || fields[0] != "win") return;
    // A key left without a value at the end is ignored.
    for (std::size_t i = 2; i + 1 < fields.size(); i += 2) ApplySetting(settings, fields[i], fields[i + 1]);
}

void ParseNameList(std::set<std::string>& names, const std::string& text) {
    for (const std::string& name : SplitFields(text, '$')) names.insert(name);
}

bool ParseBool(const std::string& value) {
    std::string lower;
    lower.reserve(value.size());
    for (char c : value) lower.push_back(ToLowerAscii(c));
    return lower == "yes" || lower == "true" || ParseDecimal(value) != 0;
}

std::int32_t ParseDecimal(const std::string& value) {
    std::size_t at = 0;
    while (at < value.size() && IsSpace(value[at])) ++at;
    bool negative = false;
    if (at < value.size() && (value[at] == '+' || value[at] == '-')) {
        negative = value[at] == '-';
        ++at;
    }
    // Saturate one past the largest positive value, which is exactly the most negative one, so
    // that any number of digits can be read without overflowing.
    const std::int64_t limit = static_cast<std::int64_t>(std::numeric_limits<std::int32_t>::max()) + 1;
    std::int64_t magnitude = 0;
    for (; at < value.size() && IsDigit(value[at]); ++at) {
        magnitude = magnitude * 10 + (value[at] - '0');
        if (magnitude > limit) magnitude = limit;
    }
    if (negative) return static_cast<std::int32_t>(-magnitude);
    return static_cast<std::int32_t>(magnitude < limit ? magnitude : limit - 1);
}
