#include "PortSettings.h"

#include <cstddef>
#include <cstdint>
#include <limits>
#include <vector>

const PortSettings DefaultPortSettings{};

PortSettings RawSysExPortSettings() {
    PortSettings settings = DefaultPortSettings;
    settings.chunks = false;
    settings.wholeMessages = true;
    return settings;
}


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

std::string SettingsRecord(const PortSettings& settings, const std::string& fallbackName) {
    std::string names;
    const bool fallback = settings.names.size() == 1 && *settings.names.begin() == fallbackName;
    if (!fallback)
        for (const std::string& n : settings.names)
            if (n.find(':') == std::string::npos && n.find('$') == std::string::npos)
                names += (names.empty() ? "" : "$") + n;
    std::string text = "win:unpacked";
    if (!names.empty()) text += ":name:" + names;
    text += ":ideal:" + std::to_string(settings.ideal) + ":max:" + std::to_string(settings.max) +
            ":delay:" + std::to_string(settings.delay) + ":unprepdelay:" + std::to_string(settings.unprepDelay) +
            ":chunks:" + (settings.chunks ? "yes" : "no");
    return text;
}

void ParsePortSettings(PortSettings& settings, const std::string& text) {
    const std::vector<std::string> fields = SplitFields(text, ':');
    // The first field names the platform; the second is free text that nothing interprets.
    if (fields.size() < 2 || fields[0] != "win") return;
    // A key left without a value at the end is ignored.
    for (std::size_t i = 2; i + 1 < fields.size(); i += 2) ApplySetting(settings, fields[i], fields[i + 1]);
}

std::string PortSettingsRecordFault(const std::string& text) {
    const std::vector<std::string> fields = SplitFields(text, ':');
    if (fields.size() < 2 || fields[0] != "win")
        return "'" + text + "' is not a settings record for Windows ports: it must begin with win: "
               "and a free field, such as win:x:ideal:512";
    for (std::size_t i = 2; i < fields.size(); i += 2) {
        const std::string& key = fields[i];
        if (key != "name" && key != "ideal" && key != "max" && key != "delay" && key != "unprepdelay" &&
            key != "chunks")
            return "the key '" + key + "' is not one of name, ideal, max, delay, unprepdelay, chunks "
                   "(keys are case-sensitive)";
        if (i + 1 >= fields.size()) return "the key '" + key + "' has no value";
        const std::string& value = fields[i + 1];
        if (key == "name") continue;
        if (key == "chunks") {
            if (value != "yes" && value != "no") return "chunks takes yes or no, not '" + value + "'";
            continue;
        }
        // A whole number of the signed 32-bit range. Files carry negative values too, which the
        // programs read by the file's rules; only an ideal chunk of no bytes means nothing.
        const bool negative = !value.empty() && value[0] == '-';
        const std::string digits = negative ? value.substr(1) : value;
        bool number = !digits.empty() && digits.size() <= 10;
        for (char c : digits) number = number && IsDigit(c);
        const bool fits = number && std::stoll(digits) <= std::numeric_limits<std::int32_t>::max();
        if (key == "ideal" && fits && ParseDecimal(value) == 0)
            return "ideal must not be 0: a chunk holds at least one byte";
        if (!fits)
            return key + " takes a whole number from -2147483647 to 2147483647, not '" + value + "'";
    }
    return {};
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
