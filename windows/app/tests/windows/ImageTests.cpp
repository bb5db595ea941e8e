// Picture decoding through GDI+: the embedded banner and an update file's picture bytes.
#include <windows.h>
#include <objidl.h>
#include <gdiplus.h>

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "BackgroundImage.h"
#include "Log.h"

namespace {

class ImageTest : public ::testing::Test {
protected:
    void SetUp() override {
        Gdiplus::GdiplusStartupInput input;
        ASSERT_EQ(Gdiplus::GdiplusStartup(&token, &input, nullptr), Gdiplus::Ok);
        SetLogSink([](void* context, const char* text, std::size_t length) {
            static_cast<std::string*>(context)->append(text, length);
        }, &log);
    }
    void TearDown() override {
        SetLogSink(nullptr, nullptr);
        Gdiplus::GdiplusShutdown(token);
    }

    // The embedded banner's bytes, as an update file would carry a picture.
    static std::vector<std::uint8_t> BannerBytes() {
        HRSRC found = FindResourceA(nullptr, MAKEINTRESOURCEA(40004), "PNG");
        if (!found) return {};
        auto* bytes = static_cast<const std::uint8_t*>(LockResource(LoadResource(nullptr, found)));
        return std::vector<std::uint8_t>(bytes, bytes + SizeofResource(nullptr, found));
    }

    static SIZE BitmapSize(HBITMAP bitmap) {
        BITMAP info = {};
        GetObjectA(bitmap, sizeof info, &info);
        return {info.bmWidth, info.bmHeight};
    }

    // The colour of one pixel as 0xRRGGBB.
    static unsigned PixelAt(HBITMAP bitmap, int x, int y) {
        HDC dc = CreateCompatibleDC(nullptr);
        HGDIOBJ old = SelectObject(dc, bitmap);
        COLORREF c = GetPixel(dc, x, y);
        SelectObject(dc, old);
        DeleteDC(dc);
        return (GetRValue(c) << 16) | (GetGValue(c) << 8) | GetBValue(c);
    }

    ULONG_PTR token = 0;
    std::string log;
};

TEST_F(ImageTest, BannerResourceBecomesA500By200Bitmap) {
    HBITMAP banner = LoadPngResource(40004);
    ASSERT_NE(banner, nullptr);
    SIZE size = BitmapSize(banner);
    EXPECT_EQ(size.cx, 500);
    EXPECT_EQ(size.cy, 200);
    // The lower edge is a row of white keys: the pixels are decoded, not just the size.
    EXPECT_EQ(PixelAt(banner, 5, 195), 0xFFFFFFu);
    DeleteObject(banner);
    EXPECT_EQ(LoadPngResource(40099), nullptr);  // no such resource
}

TEST_F(ImageTest, PictureBytesDecodeLikeTheResource) {
    std::vector<std::uint8_t> bytes = BannerBytes();
    ASSERT_FALSE(bytes.empty());
    HBITMAP picture = BitmapFromPngBytes(bytes);
    ASSERT_NE(picture, nullptr);
    EXPECT_EQ(BitmapSize(picture).cx, 500);
    EXPECT_EQ(PixelAt(picture, 5, 195), 0xFFFFFFu);
    DeleteObject(picture);
    EXPECT_EQ(log, "");
}

TEST_F(ImageTest, NoPictureFromEmptyBytesAndNoLogLine) {
    EXPECT_EQ(BitmapFromPngBytes({}), nullptr);
    EXPECT_EQ(log, "");
}

// Bytes that are no PNG, or a PNG too large to decode, never reach GDI+: no picture, and a line
// in the log that says why. The 16000 x 16000 header would make GDI+ ask for about 1 GB.
TEST_F(ImageTest, NoPictureFromForeignOrOversizedBytesAndALogLine) {
    std::vector<std::uint8_t> huge = BannerBytes();
    ASSERT_GE(huge.size(), 24u);
    for (int i = 16; i < 24; ++i) huge[static_cast<std::size_t>(i)] = 0;  // width and height in IHDR
    huge[18] = huge[22] = 0x3E;                                          // 16000 = 0x3E80
    huge[19] = huge[23] = 0x80;
    const std::vector<std::vector<std::uint8_t>> cases = {
        {'n', 'o', 't', ' ', 'a', 'n', ' ', 'i', 'm', 'a', 'g', 'e'},
        {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A, 0, 0, 0},  // a PNG signature, then nothing
        huge,
    };
    for (const auto& bytes : cases) {
        log.clear();
        EXPECT_EQ(BitmapFromPngBytes(bytes), nullptr) << bytes.size();
        EXPECT_EQ(log.rfind("The update file's picture is not shown: ", 0), 0u) << log;
    }
}

}  // namespace
