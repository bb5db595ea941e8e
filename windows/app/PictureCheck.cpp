#include "PictureCheck.h"

#include "Log.h"

namespace {

constexpr std::uint8_t kPngSignature[8] = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
constexpr std::uint32_t kHeaderDataSize = 13;
// Signature, the chunk's length and type, its data and its check value.
constexpr std::size_t kHeaderEnd = 8 + 4 + 4 + kHeaderDataSize + 4;

std::uint32_t BigEndian32(const std::uint8_t* at) {
    return (std::uint32_t{at[0]} << 24) | (std::uint32_t{at[1]} << 16) | (std::uint32_t{at[2]} << 8) |
           std::uint32_t{at[3]};
}

}  // namespace

std::string PictureRefusal(const std::uint8_t* bytes, std::size_t size) {
    if (size < sizeof kPngSignature) return "not a PNG picture";
    for (std::size_t i = 0; i < sizeof kPngSignature; ++i)
        if (bytes[i] != kPngSignature[i]) return "not a PNG picture";
    if (size < kHeaderEnd) return "the PNG picture is cut short";
    const std::uint8_t* chunk = bytes + sizeof kPngSignature;
    if (BigEndian32(chunk) != kHeaderDataSize || chunk[4] != 'I' || chunk[5] != 'H' || chunk[6] != 'D' ||
        chunk[7] != 'R') {
        return "the PNG picture does not begin with its header";
    }
    const std::uint32_t width = BigEndian32(chunk + 8);
    const std::uint32_t height = BigEndian32(chunk + 12);
    if (width == 0 || height == 0 || width > kMaxPictureSide || height > kMaxPictureSide) {
        return FormatString("the PNG picture is %lu x %lu pixels (at most %lu x %lu are shown)",
                            static_cast<unsigned long>(width), static_cast<unsigned long>(height),
                            static_cast<unsigned long>(kMaxPictureSide), static_cast<unsigned long>(kMaxPictureSide));
    }
    return std::string();
}
