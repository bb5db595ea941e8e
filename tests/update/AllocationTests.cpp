// Byte counts in a file are untrusted: a few bytes that claim gigabytes must not make the loader
// reserve gigabytes. This program replaces the global allocation functions so that a test can
// refuse, and report, any single allocation above a limit.

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <new>

#include "UpdateFileBuilder.h"

namespace {

std::atomic<std::size_t> allocationLimit{0};  // 0: no limit
std::atomic<std::size_t> largestRefused{0};

// While it lives, allocations above `limit` bytes fail with std::bad_alloc and are remembered.
class AllocationLimit {
public:
    explicit AllocationLimit(std::size_t limit) {
        largestRefused = 0;
        allocationLimit = limit;
    }
    ~AllocationLimit() { allocationLimit = 0; }
    AllocationLimit(const AllocationLimit&) = delete;
    AllocationLimit& operator=(const AllocationLimit&) = delete;

    std::size_t LargestRefused() const { return largestRefused; }
};

constexpr std::size_t kLimit = 1024 * 1024;

}  // namespace

void* operator new(std::size_t size) {
    const std::size_t limit = allocationLimit.load();
    if (limit != 0 && size > limit) {
        largestRefused = size;
        throw std::bad_alloc();
    }
    if (void* memory = std::malloc(size == 0 ? 1 : size)) return memory;
    throw std::bad_alloc();
}

// The library's temporary buffers (std::stable_sort's among them) come from the nothrow form; it
// must allocate where the replaced delete frees, or every such buffer is a mismatch.
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
    try {
        return ::operator new(size);
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}

// GCC, inlining these with optimisation, takes the malloc above for a mismatch with this free.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
#endif
void operator delete(void* memory) noexcept { std::free(memory); }
void operator delete(void* memory, std::size_t) noexcept { std::free(memory); }
void operator delete(void* memory, const std::nothrow_t&) noexcept { std::free(memory); }
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic pop
#endif

namespace {

constexpr std::uint32_t kFourGigabytes = 0xFFFFFFFF;

TEST(LoaderAllocation, SixtyByteFileClaimingFourGigabytePortionIsTruncatedAtOnce) {
    FileBytes file = Header();
    file.U32(1).U32(kFourGigabytes);
    while (file.Size() < 60) file.Raw("\xF0");
    ASSERT_EQ(file.Size(), 60u);

    AllocationLimit guard(kLimit);
    EXPECT_EQ(LoadError(file.Str()), "Trucated sysex");
    EXPECT_EQ(guard.LargestRefused(), 0u);
}

// Every other record with a count beyond the end of the file is refused as truncated, without
// reserving what the count claims.
TEST(LoaderAllocation, HugeRecordCountsAreRefusedAtOnce) {
    const std::string before = FileBytes(Header()).Portion({0xF7}, 3).Str();
    const std::string files[] = {
        FileBytes().U32(2).U32(kFourGigabytes).Raw("IMAGE").Str(),
        FileBytes().U32(3).U32(kFourGigabytes).Raw("win:x:ideal:512:name:P").Str(),
        FileBytes().U32(5).U32(kFourGigabytes).Raw("A$B").Str(),
    };
    for (const std::string& record : files) {
        AllocationLimit guard(kLimit);
        EXPECT_EQ(LoadError(before + record), "Update file was truncated. Did it download correctly?");
        EXPECT_EQ(guard.LargestRefused(), 0u);
    }
}

TEST(LoaderAllocation, ImageCutShortIsNotTakenFromTheRecordsAfterIt) {
    // The bytes after the cut-short image would make up its declared length with records that
    // are not image data.
    const std::string portion = FileBytes().Portion({0xF7}, 0).Str();
    EXPECT_EQ(LoadError(FileBytes(Header()).U32(2).U32(1000).Raw(portion).Str()),
              "Update file was truncated. Did it download correctly?");
}

TEST(LoaderAllocation, HugeHeaderTextCountsAreTruncated) {
    const std::string hugeName = FileBytes().Raw("ZellUpdateFile").U16(4).U32(kFourGigabytes).Raw("ABC").Str();
    const std::string hugeMessage =
        FileBytes().Raw("ZellUpdateFile").U16(4).String("A").U16(1).U16(0).U32(kFourGigabytes).Raw("Hi").Str();

    AllocationLimit guard(kLimit);
    EXPECT_EQ(LoadError(hugeName), "Update file was truncated. Did it download correctly?");
    EXPECT_EQ(LoadError(hugeMessage), "Update file was truncated. Did it download correctly?");
    EXPECT_EQ(guard.LargestRefused(), 0u);
}

// A stream that cannot tell its size is read in bounded blocks, with the same outcomes.
TEST(LoaderAllocation, UnseekableStreamIsReadInBoundedBlocks) {
    struct Case {
        std::string file;
        std::string expected;
    };
    const Case cases[] = {
        {FileBytes(Header()).U32(1).U32(kFourGigabytes).Raw("\xF0\x01").Str(), "Trucated sysex"},
        {FileBytes().Raw("ZellUpdateFile").U16(4).U32(kFourGigabytes).Str(),
         "Update file was truncated. Did it download correctly?"},
        {FileBytes(Header()).Image({1, 2}).U32(2).U32(kFourGigabytes).Raw("\x03").Str(),
         "Update file was truncated. Did it download correctly?"},
        {FileBytes(Header()).Image({1, 2}).Image({3}).Raw("\x01").Str(), "<loaded>"},
    };
    for (const Case& c : cases) {
        ScriptedStreamBuf buffer(c.file, /*seekable=*/false);
        std::istream stream(&buffer);
        Update update;
        std::string outcome = "<loaded>";
        AllocationLimit guard(kLimit);
        try {
            ReadUpdateFile(stream, update);
        } catch (const ParseError& error) {
            outcome = error.what();
        }
        EXPECT_EQ(outcome, c.expected);
        EXPECT_EQ(guard.LargestRefused(), 0u);
        if (c.expected == "<loaded>") {
            EXPECT_EQ(update.image, (ByteVector{1, 2, 3}));
        }
    }
}

TEST(LoaderAllocation, UnseekableStreamLoadsLargeDataCompletely) {
    // More than one block, so the block loop must join the pieces correctly.
    ByteVector data(200 * 1024 + 17);
    for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<std::uint8_t>(i * 7);
    ScriptedStreamBuf buffer(FileBytes(Header()).Portion(data, 42).Image(data).Str(), /*seekable=*/false);
    std::istream stream(&buffer);
    Update update;
    ReadUpdateFile(stream, update);
    ASSERT_EQ(update.portions.size(), 1u);
    EXPECT_EQ(update.portions[0].data, data);
    EXPECT_EQ(update.portions[0].delay, 42u);
    EXPECT_EQ(update.image, data);
}

}  // namespace
