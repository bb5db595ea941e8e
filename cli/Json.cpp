#include "Json.h"

#include <charconv>
#include <cstdio>

#include "Update.h"

std::string JsonText(const std::string& text) {
    std::string out = "\"";
    for (unsigned char c : text) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c < 0x20 || c >= 0x7F) {
            char escape[8];
            std::snprintf(escape, sizeof escape, "\\u%04X", c);
            out += escape;
        } else {
            out += static_cast<char>(c);
        }
    }
    out += '"';
    return out;
}

std::string JsonFloat(float value) {
    char buffer[32];
    auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
    return std::string(buffer, result.ptr);
}

std::string UpdateInfoJson(const Update& update) {
    const PortSettings& port = update.winPort;
    std::string names;
    for (const std::string& name : port.names) names += (names.empty() ? "" : ", ") + JsonText(name);
    std::string macNames;
    for (const std::string& name : update.macNames)
        macNames += (macNames.empty() ? "" : ", ") + JsonText(name);
    std::string portions;
    for (const SysExPortion& p : update.portions) {
        portions += portions.empty() ? "" : ", ";
        portions += "{\"bytes\": " + std::to_string(p.data.size()) +
                    ", \"delay\": " + std::to_string(p.delay) + "}";
    }
    return std::string("{") +
           "\"kind\": " + (update.isRawSysEx ? "\"sysex\"" : "\"update\"") +
           ", \"product\": " + JsonText(update.productName) +
           ", \"version\": {\"major\": " + std::to_string(update.version.major) +
           ", \"minor\": " + std::to_string(update.version.minor) +
           ", \"text\": " + JsonText(VersionText(update.version)) + "}" +
           ", \"message\": " + JsonText(update.message) +
           ", \"image_bytes\": " + std::to_string(update.image.size()) +
           ", \"port\": {\"names\": [" + names + "]" +
           ", \"ideal\": " + std::to_string(port.ideal) +
           ", \"max\": " + std::to_string(port.max) +
           ", \"delay\": " + std::to_string(port.delay) +
           ", \"unprep_delay\": " + std::to_string(port.unprepDelay) +
           ", \"chunks\": " + (port.chunks ? "true" : "false") + "}" +
           ", \"mac_names\": [" + macNames + "]" +
           ", \"portions\": [" + portions + "]" +
           ", \"total_sysex_bytes\": " + std::to_string(TotalSysExSize(update)) + "}";
}
