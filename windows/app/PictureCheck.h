#pragma once
// Which update file pictures the program decodes: a PNG of bounded size, judged from its header
// before any decoder sees it.

#include <cstddef>
#include <cstdint>
#include <string>

// The largest width and height a picture may declare. A decoder allocates what the header
// declares: a small file may ask for gigabytes.
constexpr std::uint32_t kMaxPictureSide = 4096;

// Why the bytes are not decoded, or "" when they may be: a PNG signature, then the IHDR chunk
// whole (length 13, type, data and check value) declaring a width and a height each from 1 to
// kMaxPictureSide. Nothing past that chunk is looked at.
std::string PictureRefusal(const std::uint8_t* bytes, std::size_t size);
