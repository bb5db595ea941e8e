// What a device sends back, arbitrary bytes: the status classification follows the status byte of
// a well-formed 13-byte message only, and the Identity Reply parser never reads past the reply and
// gives either nothing or well-formed texts.

#include <cctype>
#include <cstdint>
#include <string>
#include <vector>

#include "FuzzSupport.h"
#include "UpdateStatus.h"

namespace {

bool IsHexList(const std::string& text, std::size_t count) {
    if (text.size() != 3 * count) return false;
    for (std::size_t i = 0; i < text.size(); i += 3) {
        if (!std::isxdigit(static_cast<unsigned char>(text[i])) ||
            !std::isxdigit(static_cast<unsigned char>(text[i + 1])) || text[i + 2] != ' ')
            return false;
        if (std::islower(static_cast<unsigned char>(text[i])) || std::islower(static_cast<unsigned char>(text[i + 1])))
            return false;
    }
    return true;
}

bool IsVersionText(const std::string& text) {
    const std::size_t point = text.find('.');
    if (point == std::string::npos || point == 0 || text.size() - point < 3) return false;
    for (std::size_t i = 0; i < text.size(); ++i)
        if (i != point && !std::isdigit(static_cast<unsigned char>(text[i]))) return false;
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // A copy of exactly the input's size, so that any read past the end is caught.
    const std::vector<std::uint8_t> message(data, data + size);

    const UpdateStatus status = CheckSysExUpdateStatus(message);
    const bool wellFormed = size == 13 && data[0] == 0xF0 && data[1] == kManufacturerId[0] &&
                            data[2] == kManufacturerId[1] && data[3] == kManufacturerId[2] && data[4] == 0x73;
    if (!wellFormed) {
        FUZZ_REQUIRE(status == NoReply);
    } else {
        const std::uint8_t b = data[11];
        FUZZ_REQUIRE(status == ((b & 0x0F) ? Failed : (b & 0x20) ? Installing : Accepted));
    }

    const DeviceIdentity identity = ParseDeviceEnquiryResponse(message);
    const std::uint8_t header[5] = {0xF0, 0x7E, 0x00, 0x06, 0x02};
    bool headerOk = size >= 5;
    for (std::size_t i = 0; headerOk && i < 5; ++i) headerOk = data[i] == header[i];
    if (!headerOk) {
        FUZZ_REQUIRE(identity.manufacturerText.empty() && identity.familyText.empty() &&
                     identity.versionText.empty() && identity.deviceName.empty());
        return 0;
    }
    FUZZ_REQUIRE(identity.manufacturerText.empty() || IsHexList(identity.manufacturerText, 1) ||
                 IsHexList(identity.manufacturerText, 3));
    FUZZ_REQUIRE(identity.familyText.empty() || IsHexList(identity.familyText, 1));
    FUZZ_REQUIRE(identity.versionText.empty() || IsVersionText(identity.versionText));
    FUZZ_REQUIRE(identity.deviceName.size() <= 16);
    for (char c : identity.deviceName) {
        const unsigned char u = static_cast<unsigned char>(c);
        FUZZ_REQUIRE(u != 0 && u < 0x7F);
    }
    return 0;
}
