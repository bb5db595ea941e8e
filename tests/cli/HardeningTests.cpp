// Damaged or surprising command lines: the log never empties a file the command works on, pack
// never leaves a fragment, and every failure ends in a message and an exit status.

#include "CliTestSupport.h"

#include <algorithm>
#include <streambuf>

#ifdef __unix__
#include <csignal>
#include <sys/resource.h>
#endif

namespace fs = std::filesystem;

namespace {

UpdateFileContents TwoPortions() {
    UpdateFileContents c;
    c.productName = "Pad";
    c.version = {1, 5};
    c.portions.push_back({SysExMessage(40), 0});
    c.portions.push_back({SysExMessage(60), 0});
    return c;
}

std::vector<std::string> Listing(const fs::path& dir) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(dir)) names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

std::string Text(const std::string& path) {
    std::vector<std::uint8_t> bytes = ReadBytes(path);
    return std::string(bytes.begin(), bytes.end());
}

}  // namespace

// Every way of naming one of the command's own files as the log, and a command line that is
// wrong: the file keeps its bytes, the command is refused as a bad command line.
TEST(LogFile, NeverEmptiesAFileTheCommandWorksOnNorOpensBeforeTheCommandLineIsGood) {
    TempDir dir;
    const std::string upd = dir.WriteUpdate("fw.upd", TwoPortions());
    const std::string syx = dir.Write("p.syx", SysExMessage(16));
    const std::string out = dir.WriteUpdate("out.upd", TwoPortions());
    const std::string keep = dir.Write("keep.log", {'o', 'l', 'd'});
    fs::create_hard_link(upd, dir.File("link.upd"));
    const std::string spelledOtherwise = (fs::path(upd).parent_path() / "." / "fw.upd").string();

    const struct {
        const char* name;
        std::vector<std::string> args;
        std::string guarded;  // the file that must keep its bytes
    } cases[] = {
        {"info reading its log", {"info", upd, "--log", upd}, upd},
        {"info, log spelt otherwise", {"info", "--json", upd, "--log", spelledOtherwise}, upd},
        {"info, log a hard link", {"info", upd, "--log", dir.File("link.upd")}, upd},
        {"send reading its log", {"send", upd, "--dry-run", "--log", upd}, upd},
        {"pack reading a portion", {"pack", "-o", dir.File("new.upd"), "--product", "P", "--version", "1.0",
                                    "--portion", syx + "@10", "--log", syx}, syx},
        {"pack writing its log", {"pack", "-o", out, "--product", "P", "--version", "1.0", "--portion", syx,
                                  "--log", out}, out},
        {"unknown option", {"info", "--bogus", upd, "--log", keep}, keep},
        {"unknown command", {"frobnicate", "--log", keep}, keep},
        {"send with a bad device behaviour", {"send", upd, "--dry-run", "--virtual=status=bogus", "--log", keep}, keep},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::vector<std::uint8_t> before = ReadBytes(c.guarded);
        CliRun run = RunMidiUpdate(c.args);
        EXPECT_EQ(run.status, kExitUsage) << run.err;
        EXPECT_NE(run.err.find("See 'midiupdate help"), std::string::npos) << run.err;
        EXPECT_EQ(ReadBytes(c.guarded), before);
    }
    EXPECT_FALSE(fs::exists(dir.File("new.upd")));
}

TEST(LogFile, StartsOnceTheCommandLineIsGood) {
    TempDir dir;
    const std::string upd = dir.WriteUpdate("fw.upd", TwoPortions());
    const std::string log = dir.Write("run.log", {'o', 'l', 'd'});
    CliRun run = RunMidiUpdate({"info", upd, "--log", log});
    ASSERT_EQ(run.status, 0) << run.err;
    CliRun send = RunMidiUpdate({"send", upd, "--dry-run", "--log", log});
    ASSERT_EQ(send.status, 0) << send.err;
    const std::string text = Text(log);
    EXPECT_EQ(text.find("old"), std::string::npos);
    EXPECT_NE(text.find("SysExSender::Send(update,sender,progress)"), std::string::npos) << text;
}

TEST(Pack, ReplacesTheOutputWholeAndLeavesNoTemporaryFile) {
    TempDir dir;
    const std::string syx = dir.Write("p.syx", SysExMessage(16));
    const std::string out = dir.WriteUpdate("out.upd", TwoPortions());
    CliRun run = RunMidiUpdate({"pack", "-o", out, "--product", "New", "--version", "2.0", "--portion", syx});
    ASSERT_EQ(run.status, 0) << run.err;
    std::ifstream file(out, std::ios::binary);
    EXPECT_EQ(Update(file).productName, "New");
    EXPECT_EQ(Listing(fs::path(out).parent_path()), (std::vector<std::string>{"out.upd", "p.syx"}));
}

// Inputs that are folders, and outputs that cannot be written: a message, status 1, no exception
// escaping, the old output untouched and nothing left behind.
TEST(Pack, EveryFailureLeavesTheOldOutputAndNoFragment) {
    TempDir dir;
    const std::string syx = dir.Write("p.syx", SysExMessage(16));
    const std::string out = dir.WriteUpdate("out.upd", TwoPortions());
    fs::create_directory(dir.File("folder"));
    const std::string folder = dir.File("folder");
    const std::vector<std::string> base = {"pack", "--product", "P", "--version", "1.0"};
    const struct {
        const char* name;
        std::vector<std::string> extra;
        std::string message;
    } cases[] = {
        {"portion is a folder", {"-o", out, "--portion", folder}, "it is a folder"},
        {"image is a folder", {"-o", out, "--image", folder, "--portion", syx}, "it is a folder"},
        {"portion missing", {"-o", out, "--portion", dir.File("absent.syx")}, "cannot open"},
        {"output is a folder", {"-o", folder, "--portion", syx}, "cannot write"},
        {"output in a missing folder", {"-o", dir.File("absent/out.upd"), "--portion", syx}, "cannot write"},
    };
    const std::vector<std::uint8_t> before = ReadBytes(out);
    const std::vector<std::string> listing = Listing(fs::path(out).parent_path());
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<std::string> args = base;
        args.insert(args.end(), c.extra.begin(), c.extra.end());
        CliRun run = RunMidiUpdate(args);
        EXPECT_EQ(run.status, kExitFailed);
        EXPECT_NE(run.err.find(c.message), std::string::npos) << run.err;
        EXPECT_EQ(ReadBytes(out), before);
        EXPECT_EQ(Listing(fs::path(out).parent_path()), listing);
        EXPECT_TRUE(fs::is_empty(folder));
    }
}

#ifdef __unix__
// A disk that fills up part-way through the write (here a file-size limit): the file written so
// far would load as a valid update with fewer portions, so it must never replace the old one.
TEST(Pack, AWriteThatFailsPartWayLeavesTheOldOutput) {
    TempDir dir;
    const std::string big = dir.Write("big.syx", SysExMessage(64 * 1024));
    const std::string out = dir.WriteUpdate("out.upd", TwoPortions());
    const std::vector<std::uint8_t> before = ReadBytes(out);

    rlimit old{};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old), 0);
    rlimit limited = old;
    limited.rlim_cur = 100 * 1024;  // room for one portion and a half
    auto previous = std::signal(SIGXFSZ, SIG_IGN);
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &limited), 0);
    CliRun run = RunMidiUpdate({"pack", "-o", out, "--product", "P", "--version", "1.0", "--portion", big,
                                "--portion", big});
    setrlimit(RLIMIT_FSIZE, &old);
    std::signal(SIGXFSZ, previous);

    EXPECT_EQ(run.status, kExitFailed);
    EXPECT_NE(run.err.find("cannot write '" + out + "'"), std::string::npos) << run.err;
    EXPECT_EQ(ReadBytes(out), before);
    EXPECT_EQ(Listing(fs::path(out).parent_path()), (std::vector<std::string>{"big.syx", "out.upd"}));
}
#endif

TEST(CommandLine, AFolderGivenAsTheUpdateFileIsAClearFailure) {
    TempDir dir;
    fs::create_directory(dir.File("folder"));
    for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
             {"info", dir.File("folder")}, {"send", dir.File("folder"), "--dry-run"}}) {
        CliRun run = RunMidiUpdate(args);
        EXPECT_EQ(run.status, kExitFailed);
        EXPECT_EQ(run.err, "midiupdate: could not open '" + dir.File("folder") + "': Is a directory\n");
    }
}

namespace {
// An output that stops taking text after `room` bytes, as a closed pipe or a full disk would.
class FailingBuf : public std::streambuf {
public:
    explicit FailingBuf(std::size_t room) : room(room) {}
    std::string text;

protected:
    int_type overflow(int_type c) override {
        if (traits_type::eq_int_type(c, traits_type::eof())) return traits_type::not_eof(c);
        if (text.size() >= room) return traits_type::eof();
        text.push_back(traits_type::to_char_type(c));
        return c;
    }

private:
    std::size_t room;
};
}  // namespace

// A failure that escapes the run (here the output throwing part-way) ends as a message and status
// 1, and unwinds the run so that the device's port is closed.
TEST(CommandLine, AnExceptionDuringARunIsReportedAndThePortClosed) {
    TempDir dir;
    const std::string upd = dir.WriteUpdate("fw.upd", TwoPortions());
    const std::string log = dir.File("run.log");
    FailingBuf outBuf(500);
    std::ostream out(&outBuf);
    out.exceptions(std::ios::badbit);
    std::ostringstream err;
    std::istringstream in;
    CliIo io{out, err, in, false};
    const int status = RunCli({"send", upd, "--dry-run", "--events", "--log", log}, io);

    EXPECT_EQ(status, kExitFailed);
    const std::size_t lastLine = err.str().rfind('\n', err.str().size() - 2);
    EXPECT_EQ(err.str().substr(lastLine + 1).rfind("midiupdate: ", 0), 0u) << err.str();
    EXPECT_EQ(outBuf.text.size(), 500u);
    const std::string text = Text(log);
    const std::size_t opened = text.rfind("VirtualDevice: port opened");
    ASSERT_NE(opened, std::string::npos) << text;
    EXPECT_NE(text.find("VirtualDevice: port closed", opened), std::string::npos) << text;
}
