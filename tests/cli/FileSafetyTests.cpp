// What the command line does with files it did not expect: one larger than an update can describe
// is refused before it is read, and a symbolic link where it writes is replaced, never followed.

#include "CliTestSupport.h"
#include "FileOutput.h"

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
    // A portion to pack is measured before it is read too.
    const std::string big = SparseFile(dir, "portion.syx", "\xF0\x01\xF7", kFourGiB + 100);
    const CliRun pack = RunMidiUpdate({"pack", "-o", dir.File("out.upd"), "--product", "Pad", "--version", "1.0", "--portion", big});
    EXPECT_EQ(pack.status, kExitFailed);
    EXPECT_NE(pack.err.find("more than the 4294967295 bytes"), std::string::npos) << pack.err;
    EXPECT_FALSE(fs::exists(dir.File("out.upd")));
}

namespace {

std::string FileText(const std::string& path) {
    const std::vector<std::uint8_t> bytes = ReadBytes(path);
    return std::string(bytes.begin(), bytes.end());
}

// Plants a symbolic link at `link` to `target`; false where the system lets no test make one.
bool PlantLink(const std::string& target, const std::string& link) {
    std::error_code ec;
    fs::create_symlink(target, link, ec);
    return !ec;
}

}  // namespace

// A link planted where a command writes, to a file of someone else's (or to a name where none is
// yet): the command's file takes the link's place, and what the link pointed at stays as it was.
TEST(LinkWhereACommandWrites, IsReplacedAndNeverWrittenThrough) {
    TempDir dir;
    UpdateFileContents contents;
    contents.productName = "Pad";
    contents.version = {1, 2};
    contents.portions.push_back({SysExMessage(16), 0});
    const std::string upd = dir.WriteUpdate("fw.upd", contents);
    const std::string syx = dir.Write("p.syx", SysExMessage(16));
    const std::string out = dir.File("out");
    const std::vector<std::string> pack = {"pack", "-o", dir.File("new.upd"), "--product", "P", "--version",
                                           "1.0", "--portion", syx};
    const struct {
        const char* name;
        std::string link;  // where the link stands: a name the command writes
        bool toNowhere;    // the link's target does not exist yet
        std::vector<std::string> args;
    } cases[] = {
        {"unpack --force, a portion", out + "/portion-1.syx", false, {"unpack", upd, "-o", out, "--force"}},
        {"unpack --force, the port settings", out + "/port-settings.txt", false, {"unpack", upd, "-o", out, "-f"}},
        {"unpack --force, a link to nowhere", out + "/portion-1.syx", true, {"unpack", upd, "-o", out, "--force"}},
        {"pack, its output", dir.File("new.upd"), false, pack},
        {"info --log", dir.File("info.log"), false, {"info", upd, "--log", dir.File("info.log")}},
        {"pack --log, a link to nowhere", dir.File("pack.log"), true,
         {"pack", "-o", dir.File("other.upd"), "--product", "P", "--version", "1.0", "--portion", syx, "--log",
          dir.File("pack.log")}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::error_code ignored;
        fs::remove_all(out, ignored);
        fs::create_directories(out);
        fs::remove(c.link, ignored);
        const std::string victim = dir.File("victim.txt");
        fs::remove(victim, ignored);
        if (!c.toNowhere) {
            std::ofstream(victim, std::ios::binary) << "someone else's file";
        }
        if (!PlantLink(victim, c.link)) GTEST_SKIP() << "no symbolic links here";

        const CliRun run = RunMidiUpdate(c.args);
        EXPECT_EQ(run.status, kExitOk) << run.err;
        if (c.toNowhere)
            EXPECT_FALSE(fs::exists(victim));
        else
            EXPECT_EQ(FileText(victim), "someone else's file");
        EXPECT_FALSE(fs::is_symlink(c.link));
        EXPECT_TRUE(fs::is_regular_file(c.link));
    }
}

// pack writes beside its output first: a name taken there, by a link or a file, is passed over for
// a fresh one, and the output holds the data.
TEST(LinkWhereACommandWrites, PacksTemporaryFileIsNeverOneThatStoodThere) {
    TempDir dir;
    const std::string victim = dir.File("victim.txt");
    std::ofstream(victim, std::ios::binary) << "someone else's file";
    const std::string planted = dir.File(".out.upd.planted.tmp");
    if (!PlantLink(victim, planted)) GTEST_SKIP() << "no symbolic links here";
    std::vector<std::string> tried;
    const auto namer = [&](const std::string&, unsigned attempt) {
        tried.push_back(attempt == 0 ? planted : dir.File(".out.upd.fresh.tmp"));
        return tried.back();
    };
    std::string error;
    ASSERT_TRUE(ReplaceFile(dir.File("out.upd"), "new bytes", error, namer)) << error;
    EXPECT_EQ(tried.size(), 2u);
    EXPECT_EQ(FileText(victim), "someone else's file");
    EXPECT_TRUE(fs::is_symlink(planted));
    EXPECT_EQ(FileText(dir.File("out.upd")), "new bytes");
    EXPECT_FALSE(fs::exists(dir.File(".out.upd.fresh.tmp")));
}

#ifndef _WIN32
// A log sent to a device through a link (as /dev/stderr is one) goes there; the link stays.
TEST(LinkWhereACommandWrites, ALinkToADeviceIsWrittenToAndKept) {
    TempDir dir;
    const std::string upd = dir.Write("p.syx", SysExMessage(16));
    const std::string log = dir.File("log");
    if (!PlantLink("/dev/null", log)) GTEST_SKIP() << "no symbolic links here";
    const CliRun run = RunMidiUpdate({"info", upd, "--log", log});
    EXPECT_EQ(run.status, kExitOk) << run.err;
    EXPECT_TRUE(fs::is_symlink(log));
}
#endif
