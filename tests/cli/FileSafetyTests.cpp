// What the command line does with files it did not expect: one larger than an update can describe
// is refused before it is read, and a symbolic link where it writes is replaced, never followed.

#include "CliTestSupport.h"

namespace fs = std::filesystem;

namespace {

// A file of `size` bytes that takes no disk space beyond `head`: the rest reads as zeros.
std::string SparseFile(const TempDir& dir, const std::string& name, const std::string& head, std::uint64_t size) {
    const std::string path = dir.File(name);
    {
        std::ofstream file(path, std::ios::binary);
        file << head;
    }
    fs::resize_file(path, size);
    return path;
}

}  // namespace

// A 4 GiB + 100 byte file was described as holding 100 bytes, and would have been sent as such.
TEST(TooLargeFile, IsRefusedBeforeItIsRead) {
    TempDir dir;
    constexpr std::uint64_t kFourGiB = 0x100000000ull;
    std::ostringstream update(std::ios::binary);
    UpdateFileContents contents;
    contents.productName = "Pad";
    contents.portions.push_back({SysExMessage(16), 0});
    WriteUpdateFile(update, contents);
    const struct {
        const char* name;
        std::string path;
    } cases[] = {
        {"raw SysEx, 4 GiB + 100", SparseFile(dir, "big.syx", "\xF0\x01\xF7\xF0", kFourGiB + 100)},
        {"raw SysEx, exactly 4 GiB", SparseFile(dir, "four.syx", "\xF0\x01\xF7\xF0", kFourGiB)},
        {"update file, 4 GiB + 100", SparseFile(dir, "big.upd", update.str(), kFourGiB + 100)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const CliRun run = RunMidiUpdate({"info", c.path});
        EXPECT_EQ(run.status, kExitFailed);
        EXPECT_EQ(run.out, "");
        EXPECT_EQ(run.err, "midiupdate: could not load '" + c.path +
                               "':\nThe file is too large: an update file or SysEx file holds at most 4294967295 "
                               "bytes (4 GiB less one byte).\n");
    }
}
