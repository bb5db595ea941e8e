// Texts the program prints but did not write (an update file's texts, the MIDI system's port
// names) never drive the terminal: their control characters arrive as visible escapes.

#include "CliTestSupport.h"

#include <cstdio>

#include "TextEncoding.h"

namespace {

// The first byte of `text` a terminal would act on, described; "" when there is none. Line feeds
// are the program's own line breaks.
std::string FirstControl(const std::string& text) {
    for (std::size_t at = 0; at < text.size(); ++at) {
        const auto byte = static_cast<unsigned char>(text[at]);
        const auto next = at + 1 < text.size() ? static_cast<unsigned char>(text[at + 1]) : 0;
        char hex[4];
        std::snprintf(hex, sizeof hex, "%02X", static_cast<unsigned>(byte));
        const std::string where = std::string("byte ") + hex + " at " + std::to_string(at);
        if ((byte < 0x20 && byte != '\n') || byte == 0x7F) return where;
        if (byte == 0xC2 && next >= 0x80 && next < 0xA0) return std::string("C1 control, ") + where;
        if (byte >= 0x80) {
            // Any other byte above ASCII must be part of a well-formed UTF-8 sequence.
            const std::size_t length = byte >= 0xF0 ? 4 : byte >= 0xE0 ? 3 : byte >= 0xC2 ? 2 : 0;
            if (length == 0 || at + length > text.size()) return std::string("not UTF-8, ") + where;
            for (std::size_t i = 1; i < length; ++i)
                if ((static_cast<unsigned char>(text[at + i]) & 0xC0) != 0x80) return std::string("not UTF-8, ") + where;
            at += length - 1;
        }
    }
    return "";
}

// Hostile texts as an update file can hold them (code page 1252), and the form they are shown in.
const struct HostileText {
    const char* name;
    std::string raw;
    std::string visible;
} kFileTexts[] = {
    {"the terminal's title set (OSC ... BEL)", "\x1b]0;pwned\x07", "\\x1b]0;pwned\\x07"},
    {"what follows concealed (CSI 8 m)", "\x1b[8m", "\\x1b[8m"},
    {"the line erased from its start", "\r\x1b[2K", "\\x0d\\x1b[2K"},
    {"the title set by the C1 OSC of an undefined byte", "\x9d" "0;pwned\x07", "\\u009d0;pwned\\x07"},
    {"a C1 device control string", "\x90" "q", "\\u0090q"},
    {"DEL and backspace", "\x7f\x08", "\\x7f\\x08"},
};

}  // namespace

TEST(HostileText, FromAnUpdateFileIsShownAsEscapes) {
    for (const HostileText& t : kFileTexts) {
        SCOPED_TRACE(t.name);
        TempDir dir;
        UpdateFileContents contents;
        contents.productName = "Pad" + t.raw;
        contents.version = {1, 2};
        contents.message = "Hold " + t.raw + "\nthen power on";
        contents.portSettings = {"win:x:name:Port" + t.raw};
        contents.portions.push_back({SysExMessage(40), 0});
        const std::string path = dir.WriteUpdate("fw.upd", contents);

        const CliRun info = RunMidiUpdate({"info", path});
        EXPECT_EQ(info.status, kExitOk) << info.err;
        EXPECT_NE(info.out.find("Product:     Pad" + t.visible + "\n"), std::string::npos) << info.out;
        // The message's own line break stays one.
        EXPECT_NE(info.out.find("Message:\n    Hold " + t.visible + "\n    then power on\n"), std::string::npos)
            << info.out;
        EXPECT_NE(info.out.find("Port names:  \"Port" + t.visible + "\"\n"), std::string::npos) << info.out;

        // The preview, the status lines and the verdict of a run, the diagnostic log beside them,
        // and the command that rebuilds the file.
        SimulatedClock clock;  // the virtual device's pauses take no real time
        ScopedClock use(clock);
        const CliRun send = RunMidiUpdate({"send", path, "--virtual"});
        EXPECT_EQ(send.status, kExitOk) << send.err;
        EXPECT_NE(send.out.find("Product:     Pad" + t.visible + "\n"), std::string::npos) << send.out;
        EXPECT_NE(send.out.find("Looking for Pad" + t.visible + " to update..."), std::string::npos) << send.out;
        const CliRun events = RunMidiUpdate({"send", path, "--dry-run", "--events", "--verbose"});
        EXPECT_NE(events.err.find("    Hold " + t.visible + "\n"), std::string::npos) << events.err;
        const CliRun unpack = RunMidiUpdate({"unpack", path, "-o", dir.File("parts")});
        EXPECT_EQ(unpack.status, kExitOk) << unpack.err;
        // A file's name (UTF-8 on the command line) is quoted with the same escapes.
        const CliRun missing = RunMidiUpdate({"info", "no-such" + Cp1252ToUtf8(t.raw) + ".upd"});
        EXPECT_NE(missing.err.find("could not open 'no-such" + t.visible + ".upd'"), std::string::npos)
            << missing.err;
        // On a terminal the status goes on the progress line, which the program itself redraws with a
        // carriage return and an erase to the line's end.
        CliRun bar = RunMidiUpdate({"send", path, "--virtual"}, "", true);
        EXPECT_EQ(bar.status, kExitOk) << bar.err;
        for (const std::string own : {"\r", "\x1b[K"})
            for (std::size_t at; (at = bar.out.find(own)) != std::string::npos;) bar.out.erase(at, own.size());

        for (const CliRun* run : std::vector<const CliRun*>{&info, &send, &events, &unpack, &missing, &bar}) {
            EXPECT_EQ(FirstControl(run->out), "") << run->out;
            EXPECT_EQ(FirstControl(run->err), "") << run->err;
        }
    }
}

#ifndef _WIN32
// The same for port names the MIDI system lists, over the simulated winmm with an instrument
// behind the port: the port listing, and the preview of a send in both of its forms.
#include "DeviceBehaviour.h"
#include "Json.h"
#include "VirtualDeviceModel.h"
#include "WinmmMidiSystem.h"
#include "winmidi/LayerTestSupport.h"

namespace {

struct HostilePortName {
    const char* name;
    std::string raw;
    std::string visible;
};
void PrintTo(const HostilePortName& c, std::ostream* os) { *os << c.name; }

class HostilePortNames : public LayerTest, public ::testing::WithParamInterface<HostilePortName> {};

CliRun RunOverWinmm(const std::vector<std::string>& args) {
    return RunMidiUpdateWith(args, [](CliIo& io) {
        io.openMidiSystem = [](std::string&) { return std::make_unique<WinmmMidiSystem>(); };
    });
}

}  // namespace

// A send names the ports it will use and the ports it opened, and no port's name hides the rest.
TEST_P(HostilePortNames, AreShownAsEscapesAndNamedBeforeAndAsTheyOpen) {
    const HostilePortName& c = GetParam();
    TempDir dir;
    const std::string path = dir.Write("fw.syx", SysExMessage(600));
    std::ifstream file(path, std::ios::binary);
    const Update update(file);
    // Each run updates an instrument of its own, just put into update mode.
    std::unique_ptr<VirtualDeviceModel> model;
    const auto freshInstrument = [&] {
        winmm_layer::Reset();
        winmm_layer::SetTimeSource([this] { return clock.NowMs(); });
        model = std::make_unique<VirtualDeviceModel>(update, update.winPort, ParseDeviceBehaviour("status=accept"));
        const int out = winmm_layer::AddOutput(c.raw);
        const int in = winmm_layer::AddInput(c.raw);
        winmm_layer::AttachModel(model.get(), out, in);
    };
    freshInstrument();

    const CliRun ports = RunOverWinmm({"ports"});
    EXPECT_NE(ports.out.find("  #0  '" + c.visible + "'\n"), std::string::npos) << ports.out;

    const std::string preview = "Send to:     a MIDI port named \"" + c.visible + "\" (winmm)\n"
                                "Output:      the output port \"" + c.visible + "\"\n"
                                "Answers on:  the input port \"" + c.visible + "\"\n";
    const CliRun text = RunOverWinmm({"send", path, "--port", "#0", "--yes"});
    EXPECT_EQ(text.status, kExitOk) << text.err;
    EXPECT_NE(text.out.find(preview), std::string::npos) << text.out;

    freshInstrument();
    const CliRun events = RunOverWinmm({"send", path, "--port", "#0", "--yes", "--events"});
    EXPECT_EQ(events.status, kExitOk) << events.out;
    EXPECT_NE(events.err.find(preview), std::string::npos) << events.err;
    EXPECT_NE(events.out.find("\"event\": \"ports\", \"output\": " + JsonSystemText(c.raw) +
                              ", \"input\": " + JsonSystemText(c.raw) + "}"),
              std::string::npos)
        << events.out;

    for (const CliRun* run : {&ports, &text, &events}) {
        EXPECT_EQ(FirstControl(run->out), "") << run->out;
        EXPECT_EQ(FirstControl(run->err), "") << run->err;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Names, HostilePortNames,
    ::testing::Values(HostilePortName{"Conceal", "Pad\x1b[8m", "Pad\\x1b[8m"},
                      HostilePortName{"Title", "Pad\x1b]0;pwned\x07", "Pad\\x1b]0;pwned\\x07"},
                      HostilePortName{"C1ControlSequenceIntroducer", "Pad\xc2\x9b" "8m", "Pad\\u009b8m"},
                      HostilePortName{"ByteThatIsNotUtf8", "Pad\x9b" "8m", "Pad\\x9b8m"},
                      HostilePortName{"EscapeAtTheEndOfTheName", "Pad\x1b", "Pad\\x1b"},
                      HostilePortName{"RightToLeftOverride", "Pad\xe2\x80\xae" "1v", "Pad\\u202e1v"}),
    [](const ::testing::TestParamInfo<HostilePortName>& info) { return std::string(info.param.name); });
#endif
