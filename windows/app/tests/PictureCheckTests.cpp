// Which pictures of an update file are handed to the decoder, judged from their first bytes.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "PictureCheck.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

void Append32(Bytes& bytes, std::uint32_t value) {
    for (int shift = 24; shift >= 0; shift -= 8) bytes.push_back(static_cast<std::uint8_t>(value >> shift));
}

// The start of a PNG file: signature and a header chunk (its check value is not looked at).
Bytes PngStart(std::uint32_t width, std::uint32_t height, const char* type = "IHDR", std::uint32_t length = 13) {
    Bytes bytes = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
    Append32(bytes, length);
    bytes.insert(bytes.end(), type, type + 4);
    Append32(bytes, width);
    Append32(bytes, height);
    bytes.insert(bytes.end(), {8, 2, 0, 0, 0});  // 8-bit RGB, no interlace
    Append32(bytes, 0x12345678);                 // check value
    return bytes;
}

TEST(PictureCheck, OnlyAPngOfBoundedSizeIsDecoded) {
    struct Case {
        const char* what;
        Bytes bytes;
        bool decoded;
    };
    Bytes signatureOnly = PngStart(1, 1);
    signatureOnly.resize(8);
    Bytes cutInTheHeader = PngStart(100, 100);
    cutInTheHeader.resize(8 + 8 + 6);
    Bytes noCheckValue = PngStart(100, 100);
    noCheckValue.resize(noCheckValue.size() - 1);
    Bytes wrongSignature = PngStart(100, 100);
    wrongSignature[4] = 0x0A;  // a signature mangled by a text-mode transfer
    Bytes withData = PngStart(500, 200);
    withData.insert(withData.end(), 1000, 0x55);  // what follows the header is not looked at
    const Case cases[] = {
        {"nothing", {}, false},
        {"a bitmap file", {'B', 'M', 0x36, 0x10, 0x0E, 0, 0, 0, 0, 0, 0x36, 0, 0, 0, 0x28, 0}, false},
        {"a mangled signature", wrongSignature, false},
        {"the signature alone", signatureOnly, false},
        {"cut inside the header", cutInTheHeader, false},
        {"cut before the header's check value", noCheckValue, false},
        {"another chunk first", PngStart(100, 100, "IDAT"), false},
        {"a header of the wrong length", PngStart(100, 100, "IHDR", 12), false},
        {"no width", PngStart(0, 100), false},
        {"no height", PngStart(100, 0), false},
        {"one pixel", PngStart(1, 1), true},
        {"the banner's size, with data after the header", withData, true},
        {"4096 x 4096", PngStart(4096, 4096), true},
        {"4097 wide", PngStart(4097, 10), false},
        {"4097 high", PngStart(10, 4097), false},
        {"16000 x 16000", PngStart(16000, 16000), false},
        {"the largest width the format allows", PngStart(0x7FFFFFFF, 1), false},
        {"a width with the top bit set", PngStart(0x80000001, 1), false},
    };
    for (const Case& c : cases) {
        const std::string refusal = PictureRefusal(c.bytes.data(), c.bytes.size());
        EXPECT_EQ(refusal.empty(), c.decoded) << c.what << ": " << refusal;
    }
}

}  // namespace
