// Loading an update from arbitrary bytes, both kinds of file. A load either completes with a
// record that matches the bytes exactly (every record whole, nothing invented) or throws one of
// the loader's known messages; a small independent walk over the format says which.

#include <cstdint>
#include <cstring>
#include <sstream>
#include <string>
#include <vector>

#include "FuzzSupport.h"
#include "QuietStderr.h"
#include "Update.h"

namespace {

const char kBadHeader[] = "Update file was invalid (bad header).";
const char kWrongVersion[] =
    "Update file is wrong version. Please check you have the latest version of the updater.";
const char kTruncated[] = "Update file was truncated. Did it download correctly?";
const char kTruncatedSysEx[] = "Trucated sysex";
const char kUnrecognised[] =
    "File contains unrecognised data. Please Please check you have the latest version of the updater.";

struct Expected {
    std::string error;  // empty: the file loads
    bool raw = false;
    std::string product;
    FirmwareVersion version;
    std::vector<SysExPortion> portions;
    std::vector<std::uint8_t> image;
    std::vector<std::string> settings;
};

class Walker {
public:
    Walker(const std::uint8_t* data, std::size_t size) : data(data), size(size) {}
    bool Has(std::size_t n) const { return size - at >= n; }
    std::uint32_t U32() {
        std::uint32_t v = 0;
        for (int i = 0; i < 4; ++i) v |= static_cast<std::uint32_t>(data[at++]) << (8 * i);
        return v;
    }
    std::uint16_t U16() {
        const std::uint16_t v = static_cast<std::uint16_t>(data[at] | (data[at + 1] << 8));
        at += 2;
        return v;
    }
    // A u32 count and that many bytes, or false when the file ends first.
    bool Counted(std::string& out) {
        if (!Has(4)) return false;
        const std::uint32_t n = U32();
        if (!Has(n)) return false;
        out.assign(reinterpret_cast<const char*>(data + at), n);
        at += n;
        return true;
    }
    std::size_t at = 0;

private:
    const std::uint8_t* data;
    std::size_t size;
};

Expected Failure(const char* message) {
    Expected e;
    e.error = message;
    return e;
}

Expected Walk(const std::uint8_t* data, std::size_t size) {
    Expected e;
    if (size > 0 && data[0] == 0xF0 && std::memchr(data + 1, 0xF7, size - 1) != nullptr) {
        e.raw = true;
        e.product = "<SysEx Update Device>";
        e.portions.push_back({std::vector<std::uint8_t>(data, data + size), 0});
        return e;
    }
    Walker w(data, size);
    if (size < 14 || std::memcmp(data, "ZellUpdateFile", 14) != 0) return Failure(kBadHeader);
    w.at = 14;
    if (!w.Has(2) || w.U16() != 4) return Failure(kWrongVersion);
    std::string message;
    if (!w.Counted(e.product) || !w.Has(4)) return Failure(kTruncated);
    e.version.major = w.U16();
    e.version.minor = w.U16();
    if (!w.Counted(message) || !w.Has(6)) return Failure(kTruncated);
    w.at += 6;
    while (w.Has(4)) {
        const std::uint32_t tag = w.U32();
        std::string payload;
        if (tag == 1) {
            if (!w.Counted(payload) || !w.Has(4)) return Failure(kTruncatedSysEx);
            e.portions.push_back({std::vector<std::uint8_t>(payload.begin(), payload.end()), w.U32()});
        } else if (tag == 2 || tag == 3 || tag == 5) {
            if (!w.Counted(payload)) return Failure(kTruncated);
            if (tag == 2) e.image.insert(e.image.end(), payload.begin(), payload.end());
            if (tag == 3) e.settings.push_back(payload);
        } else {
            return Failure(kUnrecognised);
        }
    }
    return e;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const Expected expected = Walk(data, size);
    std::istringstream stream(std::string(reinterpret_cast<const char*>(data), size),
                              std::ios::in | std::ios::binary);
    std::string error;
    Update update;
    {
        QuietStderr quiet;  // the loader names its source line for every unknown record
        try {
            update = Update(stream);
        } catch (const ParseError& e) {
            error = e.what();
        }
    }
    FUZZ_REQUIRE(error == expected.error);
    if (!error.empty()) return 0;

    FUZZ_REQUIRE(update.isRawSysEx == expected.raw);
    FUZZ_REQUIRE(update.productName == expected.product);
    FUZZ_REQUIRE(update.version == expected.version);
    FUZZ_REQUIRE(update.image == expected.image);
    FUZZ_REQUIRE(update.portions.size() == expected.portions.size());
    for (std::size_t i = 0; i < expected.portions.size(); ++i) {
        FUZZ_REQUIRE(update.portions[i].data == expected.portions[i].data);
        FUZZ_REQUIRE(update.portions[i].delay == expected.portions[i].delay);
    }
    // The settings texts apply whole and in order; the product name stands in for missing names. A
    // raw file has none, and goes out as it holds its messages: unframed, in whole messages.
    PortSettings settings = DefaultPortSettings;
    for (const std::string& text : expected.settings) ParsePortSettings(settings, text);
    if (expected.raw) {
        settings.chunks = false;
        settings.wholeMessages = true;
    }
    if (!expected.raw && settings.names.empty()) settings.names.insert(expected.product);
    FUZZ_REQUIRE(update.winPort.names == settings.names);
    FUZZ_REQUIRE(update.winPort.ideal == settings.ideal && update.winPort.max == settings.max);
    FUZZ_REQUIRE(update.winPort.delay == settings.delay && update.winPort.unprepDelay == settings.unprepDelay);
    FUZZ_REQUIRE(update.winPort.chunks == settings.chunks);
    FUZZ_REQUIRE(update.winPort.wholeMessages == settings.wholeMessages);
    FUZZ_REQUIRE(TotalSysExSize(update) <= size);
    return 0;
}
