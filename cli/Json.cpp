#include "Json.h"

#include <cstdio>

#include "SysExContent.h"
#include "TextEncoding.h"
#include "Update.h"

std::string JsonText(const std::string& text) {
    std::string out = "\"";
    for (unsigned char c : text) {
        const char32_t cp = Cp1252CodePoint(c);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (cp < 0x20 || (cp >= 0x7F && cp < 0xA0)) {
            // Control characters, the undefined bytes of the code page among them, stay visible.
            char escape[8];
            std::snprintf(escape, sizeof escape, "\\u%04X", static_cast<unsigned>(cp));
            out += escape;
        } else {
            out += Cp1252ToUtf8(std::string(1, static_cast<char>(c)));
        }
    }
    out += '"';
    return out;
}

#if !defined(_WIN32)
namespace {
// Whether the bytes are well-formed UTF-8 (lead bytes followed by their continuation bytes).
bool IsUtf8(const std::string& text) {
    for (std::size_t i = 0; i < text.size();) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        const std::size_t length = c < 0x80             ? 1
                                   : (c & 0xE0) == 0xC0 ? 2
                                   : (c & 0xF0) == 0xE0 ? 3
                                   : (c & 0xF8) == 0xF0 ? 4
                                                        : 0;
        if (length == 0 || (length == 2 && c < 0xC2) || i + length > text.size()) return false;
        for (std::size_t k = 1; k < length; ++k)
            if ((static_cast<unsigned char>(text[i + k]) & 0xC0) != 0x80) return false;
        i += length;
    }
    return true;
}
}  // namespace
#endif

std::string JsonSystemText(const std::string& text) {
#if defined(_WIN32)
    return JsonText(text);
#else
    if (!IsUtf8(text)) return JsonText(text);
    std::string out = "\"";
    for (const char c : text) {
        const unsigned char byte = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (byte < 0x20 || byte == 0x7F) {
            char escape[8];
            std::snprintf(escape, sizeof escape, "\\u%04X", static_cast<unsigned>(byte));
            out += escape;
        } else {
            out += c;
        }
    }
    out += '"';
    return out;
#endif
}

std::string JsonFloat(float value) {
    // Four decimals are finer than any bar can show; more would only be single-precision noise.
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%.4f", static_cast<double>(value));
    std::string text = buffer;
    text.erase(text.find_last_not_of('0') + 1);
    if (text.back() == '.') text.pop_back();
    if (text == "-0") text = "0";
    return text;
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
        const SysExContent content = DescribeSysEx(p.data.data(), p.data.size());
        std::string manufacturers, warnings;
        for (const std::string& id : content.manufacturers)
            manufacturers += (manufacturers.empty() ? "" : ", ") + JsonText(id);
        for (const std::string& w : content.warnings) warnings += (warnings.empty() ? "" : ", ") + JsonText(w);
        portions += portions.empty() ? "" : ", ";
        portions += "{\"bytes\": " + std::to_string(p.data.size()) +
                    ", \"delay\": " + std::to_string(p.delay) +
                    ", \"messages\": " + std::to_string(content.messages) +
                    ", \"manufacturers\": [" + manufacturers + "]" +
                    ", \"warnings\": [" + warnings + "]}";
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
