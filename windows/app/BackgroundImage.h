#pragma once
// PNG data (the banner resource or an update file's picture) to a GDI bitmap; GDI+ must be running.

#include <windows.h>

#include <cstdint>
#include <vector>

// The PNG resource `id` of the program, or null.
HBITMAP LoadPngResource(int id);
// The picture, or null when it is refused (see PictureCheck.h) or cannot be decoded.
HBITMAP BitmapFromPngBytes(const std::vector<std::uint8_t>& bytes);
