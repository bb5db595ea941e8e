// PNG data (the banner resource or an update file's picture) to a GDI bitmap, decoded by GDI+.
#include <windows.h>
#include <objidl.h>
#include <gdiplus.h>

#include <cstring>
#include <string>

#include "BackgroundImage.h"
#include "Log.h"
#include "PictureCheck.h"

namespace {

using namespace Gdiplus::DllExports;

// Decodes an image from the stream and turns it into a GDI bitmap, flattened against black.
// `convertFailed` tells a decoded image that could not be converted from an undecodable one.
HBITMAP DecodeStream(IStream* stream, bool& convertFailed) {
    convertFailed = false;
    Gdiplus::GpImage* image = nullptr;
    if (GdipLoadImageFromStream(stream, &image) != Gdiplus::Ok || !image) return nullptr;
    HBITMAP bitmap = nullptr;
    Gdiplus::GpImage* clone = nullptr;
    if (GdipCloneImage(image, &clone) == Gdiplus::Ok && clone) {
        if (GdipCreateHBITMAPFromBitmap(static_cast<Gdiplus::GpBitmap*>(clone), &bitmap, 0) !=
            Gdiplus::Ok) {
            bitmap = nullptr;
        }
        GdipDisposeImage(clone);
    }
    GdipDisposeImage(image);
    convertFailed = bitmap == nullptr;
    return bitmap;
}

// A movable global block holding a copy of the bytes, or none.
HGLOBAL CopyToGlobal(const void* data, std::size_t size) {
    HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE, size);
    if (!block) return nullptr;
    void* target = GlobalLock(block);
    if (!target) {
        GlobalFree(block);
        return nullptr;
    }
    std::memcpy(target, data, size);
    GlobalUnlock(block);
    return block;
}

}  // namespace

HBITMAP LoadPngResource(int id) {
    HMODULE module = GetModuleHandleA(nullptr);
    HRSRC found = FindResourceA(module, MAKEINTRESOURCEA(id), "PNG");
    if (!found) return nullptr;
    DWORD size = SizeofResource(module, found);
    HGLOBAL loaded = LoadResource(module, found);
    if (!size || !loaded) return nullptr;
    const void* bytes = LockResource(loaded);
    if (!bytes) return nullptr;

    HGLOBAL block = CopyToGlobal(bytes, size);
    if (!block) return nullptr;
    IStream* stream = nullptr;
    if (CreateStreamOnHGlobal(block, TRUE, &stream) != S_OK || !stream) {
        GlobalFree(block);
        return nullptr;
    }
    bool convertFailed = false;
    HBITMAP bitmap = DecodeStream(stream, convertFailed);
    stream->Release();  // frees the block as well
    return bitmap;
}

HBITMAP BitmapFromPngBytes(const std::vector<std::uint8_t>& bytes) {
    if (bytes.empty()) return nullptr;
    // The picture comes with the update file: GDI+ gets a PNG of bounded size or nothing, as it
    // decodes any format and allocates whatever size a header declares.
    const std::string refusal = PictureRefusal(bytes.data(), bytes.size());
    if (!refusal.empty()) {
        LogMessage("The update file's picture is not shown: %s\n", refusal.c_str());
        return nullptr;
    }
    HGLOBAL block = CopyToGlobal(bytes.data(), bytes.size());
    if (!block) return nullptr;
    HBITMAP bitmap = nullptr;
    IStream* stream = nullptr;
    if (CreateStreamOnHGlobal(block, FALSE, &stream) == S_OK && stream) {
        bool convertFailed = false;
        bitmap = DecodeStream(stream, convertFailed);
        stream->Release();
        if (convertFailed) LogMessage("Failed to convert PNG\n");
    }
    GlobalFree(block);
    return bitmap;
}
