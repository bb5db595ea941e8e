// The program writes nowhere it was not asked to: loading, inspecting and sending an update leave
// the file's bytes and modification time as they were, and no file appears beside it or in the
// working folder.

#include "CliTestSupport.h"

#include <algorithm>
#include <chrono>

namespace fs = std::filesystem;

namespace {

struct Snapshot {
    std::vector<std::string> names;
    std::vector<std::vector<std::uint8_t>> contents;
    std::vector<fs::file_time_type> times;
};

Snapshot Take(const fs::path& dir) {
    Snapshot s;
    std::vector<fs::path> paths;
    for (const auto& entry : fs::recursive_directory_iterator(dir)) paths.push_back(entry.path());
    std::sort(paths.begin(), paths.end());
    for (const fs::path& p : paths) {
        s.names.push_back(fs::relative(p, dir).string());
        s.contents.push_back(fs::is_regular_file(p) ? ReadBytes(p.string()) : std::vector<std::uint8_t>());
        s.times.push_back(fs::last_write_time(p));
    }
    return s;
}

// Runs with the working folder set to `dir`, so that a stray relative write would land there.
class WorkingFolder {
public:
    explicit WorkingFolder(const fs::path& dir) : previous(fs::current_path()) { fs::current_path(dir); }
    ~WorkingFolder() { fs::current_path(previous); }

private:
    fs::path previous;
};

}  // namespace

TEST(NothingLost, LoadingInspectingAndSendingChangeNoFileAndCreateNone) {
    TempDir files;
    TempDir work;
    UpdateFileContents c;
    c.productName = "Pad";
    c.version = {1, 5};
    c.message = "Read me";
    c.image = {1, 2, 3};
    c.portSettings = {"win:x:ideal:64"};
    c.portions.push_back({SysExMessage(300), 0});
    c.portions.push_back({SysExMessage(90), 500});
    const std::string upd = files.WriteUpdate("fw.upd", c);
    const std::string syx = files.Write("fw.syx", SysExMessage(200));
    // An old time, so that any write, even of the same bytes, would show.
    const auto old = fs::file_time_type::clock::now() - std::chrono::hours(24 * 30);
    for (const std::string& path : {upd, syx}) fs::last_write_time(path, old);

    const fs::path filesDir = fs::path(upd).parent_path();
    const fs::path workDir = fs::path(work.File("x")).parent_path();
    const Snapshot filesBefore = Take(filesDir);
    ASSERT_EQ(filesBefore.names, (std::vector<std::string>{"fw.syx", "fw.upd"}));
    {
        WorkingFolder cwd(workDir);
        for (const std::string& path : {upd, syx, std::string("../") + fs::path(upd).parent_path().filename().string() + "/fw.upd"}) {
            SCOPED_TRACE(path);
            EXPECT_EQ(RunMidiUpdate({"info", path}).status, kExitOk);
            EXPECT_EQ(RunMidiUpdate({"info", "--json", path}).status, kExitOk);
            EXPECT_EQ(RunMidiUpdate({"send", path, "--dry-run", "--yes"}).status, kExitOk);
            EXPECT_EQ(RunMidiUpdate({"send", path, "--dry-run", "--events"}).status, kExitOk);
            std::ifstream stream(path, std::ios::binary);
            EXPECT_FALSE(Update(stream).portions.empty());
        }
    }
    const Snapshot filesAfter = Take(filesDir);
    EXPECT_EQ(filesAfter.names, filesBefore.names);
    EXPECT_EQ(filesAfter.contents, filesBefore.contents);
    EXPECT_EQ(filesAfter.times, filesBefore.times);
    EXPECT_TRUE(fs::is_empty(workDir));
}

// What would overwrite an input or a folder's files is refused with the reason, before anything
// is written: the folder is as it was.
TEST(NothingLost, WritesThatWouldReplaceAnInputOrAFolderAreRefused) {
    TempDir dir;
    const std::string syx = dir.Write("p1.syx", SysExMessage(40));
    dir.Write("pic.png", {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A, 7});
    UpdateFileContents c;
    c.productName = "Pad";
    c.portions.push_back({SysExMessage(30), 0});
    const std::string upd = dir.WriteUpdate("fw.upd", c);
    fs::create_directories(dir.File("parts"));
    dir.Write("parts/notes.txt", {'k', 'e', 'e', 'p'});
    std::error_code noLinks;
    fs::create_symlink(syx, dir.File("link.syx"), noLinks);

    const std::vector<std::string> pack = {"pack", "--product", "P", "--version", "1.0"};
    const auto with = [&](std::vector<std::string> extra) {
        std::vector<std::string> args = pack;
        args.insert(args.end(), extra.begin(), extra.end());
        return args;
    };
    const struct {
        const char* what;
        std::vector<std::string> args;
        const char* reason;
    } cases[] = {
        {"output is a portion", with({"-o", syx, "--portion", syx}), "is a portion given with --portion"},
        {"the same portion spelt otherwise", with({"-o", dir.File("./parts/../p1.syx"), "--portion", syx + "@10"}),
         "is a portion given with --portion"},
        {"output is the picture", with({"-o", dir.File("pic.png"), "--image", dir.File("pic.png"), "--portion", syx}),
         "is the picture given with --image"},
        {"unpack into a folder with files", {"unpack", upd, "-o", dir.File("parts")}, "is not empty"},
    };
    const Snapshot before = Take(fs::path(upd).parent_path());
    for (const auto& row : cases) {
        SCOPED_TRACE(row.what);
        const CliRun run = RunMidiUpdate(row.args);
        EXPECT_EQ(run.status, kExitUsage);
        EXPECT_NE(run.err.find(row.reason), std::string::npos) << run.err;
    }
    if (!noLinks) {
        const CliRun run = RunMidiUpdate(with({"-o", dir.File("link.syx"), "--portion", syx}));
        EXPECT_EQ(run.status, kExitUsage) << "through a link";
    }
    const Snapshot after = Take(fs::path(upd).parent_path());
    EXPECT_EQ(after.names, before.names);
    EXPECT_EQ(after.contents, before.contents);
    EXPECT_EQ(after.times, before.times);

    // Asked for, unpack writes into the folder and keeps the files it does not write.
    ASSERT_EQ(RunMidiUpdate({"unpack", upd, "-o", dir.File("parts"), "--force"}).status, kExitOk);
    EXPECT_EQ(ReadBytes(dir.File("parts/notes.txt")), (std::vector<std::uint8_t>{'k', 'e', 'e', 'p'}));
    EXPECT_TRUE(fs::exists(dir.File("parts/portion-1.syx")));
}
