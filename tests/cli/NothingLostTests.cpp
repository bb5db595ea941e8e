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
