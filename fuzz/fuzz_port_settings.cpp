// ParsePortSettings on arbitrary texts: it never fails, applies nothing to another platform's
// record, applying a record twice is the same as once, every name it adds is a field of the text,
// and numbers read as the C library reads them, clamped to 32 bits.

#include <cstdint>
#include <cstdlib>
#include <limits>
#include <string>

#include "FuzzSupport.h"
#include "PortSettings.h"

namespace {

bool SameSettings(const PortSettings& a, const PortSettings& b) {
    return a.names == b.names && a.ideal == b.ideal && a.max == b.max && a.delay == b.delay &&
           a.unprepDelay == b.unprepDelay && a.chunks == b.chunks;
}

std::int32_t ReferenceDecimal(const std::string& text) {
    // strtoll stops at the first zero byte as the text's own reading stops at any non-digit.
    const long long value = std::strtoll(text.c_str(), nullptr, 10);
    if (value > std::numeric_limits<std::int32_t>::max()) return std::numeric_limits<std::int32_t>::max();
    if (value < std::numeric_limits<std::int32_t>::min()) return std::numeric_limits<std::int32_t>::min();
    return static_cast<std::int32_t>(value);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);

    PortSettings once = DefaultPortSettings;
    ParsePortSettings(once, text);
    PortSettings twice = once;
    ParsePortSettings(twice, text);
    FUZZ_REQUIRE(SameSettings(once, twice));

    if (text.rfind("win:", 0) != 0) FUZZ_REQUIRE(SameSettings(once, DefaultPortSettings));
    for (const std::string& name : once.names) {
        FUZZ_REQUIRE(name.find(':') == std::string::npos && name.find('$') == std::string::npos);
        FUZZ_REQUIRE(text.find(name) != std::string::npos);
    }

    // The number and truth readers on the whole text, and on the text after its first colon.
    for (const std::string& value : {text, text.substr(text.find(':') == std::string::npos ? 0 : text.find(':') + 1)}) {
        FUZZ_REQUIRE(ParseDecimal(value) == ReferenceDecimal(value));
        const bool truth = ParseBool(value);
        if (ParseDecimal(value) != 0) FUZZ_REQUIRE(truth);
    }
    return 0;
}
