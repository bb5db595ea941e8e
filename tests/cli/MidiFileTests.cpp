// A Standard MIDI File on the command line: described by info, taken apart by unpack, refused by
// pack, and sent at the times it gives its SysEx.

#include <algorithm>

#include "CliTestSupport.h"
#include "update/MidiFileBuilder.h"

namespace {

// Two tracks whose SysEx interleave in time, one message split across two events, and a tempo
// change between them: ticks 0, 96 and 240 are 0, 500 and 1125 ms.
MidiBytes TwoTrackFile() {
    TrackBytes tempoMap, sysEx;
    tempoMap.Tempo(0, 500000).Meta(0, 0x01, {'f', 'w'}).SysEx(96, {0x00, 0x20, 0x33, 0x02, 0xF7})
        .Tempo(96, 250000).End(96);
    sysEx.Event(0, {0x90, 0x40, 0x40}).Event(0, {0x40, 0x00}).SysEx(0, {0x43, 0x01}).Escape(10, {0x02, 0xF7})
        .SysEx(230, {0x43, 0x03, 0xF7}).End();
    return Concat({MidiFile(1, 96, {tempoMap, sysEx}), Chunk("XFIH", {1, 2, 3})});
}

// The SysEx of TwoTrackFile in the order it goes out.
const MidiBytes kTwoTrackSysEx = {0xF0, 0x43, 0x01, 0x02, 0xF7, 0xF0, 0x00, 0x20, 0x33,
                                  0x02, 0xF7, 0xF0, 0x43, 0x03, 0xF7};

}  // namespace

TEST(MidiFileInfo, DescribesTheHeaderTheSysExItsTimingAndWhatIsLeftOut) {
    TrackBytes smpte;
    smpte.Tempo(0, 400000).SysEx(0, {0x7D, 0x01, 0xF7}).End(1);
    const struct Case {
        const char* name;
        MidiBytes file;
        std::string kind, portion;
        std::vector<std::string> timing;  // the last lines
        std::string json;                 // the midi_file object
    } cases[] = {
        {"two tracks and a tempo map", TwoTrackFile(),
         "Kind:        Standard MIDI File, format 1, 2 tracks, 96 ticks per quarter note",
         "    #1  15 bytes (15 bytes), pause 0 ms; 3 SysEx messages, manufacturer 43, 00 20 33",
         {"SysEx:       3 messages of 15 bytes, each sent whole at its time in the file",
          "Duration:    1s (1250 ms) by the file's timing",
          "Gaps:        longest 625 ms, shortest 500 ms between consecutive messages",
          "Left out:    2 channel events, 1 other meta event, 2 tempo changes (in the timing above), 1 other chunk"},
         "{\"format\": 1, \"tracks\": 2, \"ticks_per_quarter\": 96, \"smpte_frames\": 0, \"ticks_per_frame\": 0, "
         "\"sysex_messages\": 3, \"sysex_bytes\": 15, \"duration_us\": 1250000, \"longest_gap_us\": 625000, "
         "\"shortest_gap_us\": 500000, \"left_out\": {\"channel_events\": 2, \"meta_events\": 1, "
         "\"tempo_changes\": 2, \"chunks\": 1}}"},
        // A frame of drop-frame time code lasts 1001/30 ms: the file ends part-way through a millisecond.
        {"one message in SMPTE time", MidiFile(0, SmpteDivision(29, 1), {smpte}),
         "Kind:        Standard MIDI File, format 0, 1 track, 29.97 frames a second, 1 tick a frame",
         "    #1  4 bytes (4 bytes), pause 0 ms; 1 SysEx message, manufacturer 7D",
         {"SysEx:       1 message of 4 bytes, each sent whole at its time in the file",
          "Duration:    0s (33.366 ms) by the file's timing", "Gaps:        none (one message)",
          "Left out:    1 tempo change (without effect: SMPTE time)"},
         "{\"format\": 0, \"tracks\": 1, \"ticks_per_quarter\": 0, \"smpte_frames\": 29, \"ticks_per_frame\": 1, "
         "\"sysex_messages\": 1, \"sysex_bytes\": 4, \"duration_us\": 33366, \"longest_gap_us\": 0, "
         "\"shortest_gap_us\": 0, \"left_out\": {\"channel_events\": 0, \"meta_events\": 0, "
         "\"tempo_changes\": 1, \"chunks\": 0}}"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir dir;
        const std::string path = dir.Write("fw.mid", c.file);
        const CliRun text = RunMidiUpdate({"info", path});
        ASSERT_EQ(text.status, kExitOk) << text.err;
        const std::vector<std::string> lines = text.OutLines();
        ASSERT_GT(lines.size(), c.timing.size() + 1);
        EXPECT_EQ(lines[1], c.kind);
        EXPECT_NE(std::find(lines.begin(), lines.end(), c.portion), lines.end()) << text.out;
        EXPECT_EQ(std::vector<std::string>(lines.end() - static_cast<std::ptrdiff_t>(c.timing.size()), lines.end()),
                  c.timing);

        const CliRun json = RunMidiUpdate({"info", "--json", path});
        ASSERT_EQ(json.status, kExitOk) << json.err;
        EXPECT_EQ(json.out.rfind("{\"kind\": \"midi\", ", 0), 0u) << json.out;
        const std::string tail = ", \"midi_file\": " + c.json + "}\n";
        ASSERT_GE(json.out.size(), tail.size());
        EXPECT_EQ(json.out.substr(json.out.size() - tail.size()), tail) << json.out;
        // Standard input is read once, and described all the same.
        const std::string bytes(c.file.begin(), c.file.end());
        EXPECT_EQ(RunMidiUpdate({"info", "--json", "-"}, bytes).out, json.out);
    }
}

// Over an earlier unpack's longer file, replaced whole: nothing of the old one is left behind.
TEST(MidiFileUnpack, WritesTheSysExInSendOrderAndSaysTheTimingIsLost) {
    TempDir dir;
    const std::string path = dir.Write("fw.mid", TwoTrackFile());
    const std::string out = dir.File("parts");
    std::filesystem::create_directories(out);
    const std::string syx = dir.Write("parts/sysex.syx", MidiBytes(100, 0x11));
    const CliRun run = RunMidiUpdate({"unpack", path, "-o", out, "--force"});
    ASSERT_EQ(run.status, kExitOk) << run.err;
    EXPECT_EQ(ReadBytes(syx), kTwoTrackSysEx);
    EXPECT_EQ(run.OutLines(),
              (std::vector<std::string>{
                  "Wrote the 3 SysEx messages of the MIDI file (15 bytes), in the order they are sent, to " +
                      (std::filesystem::path(out) / "sysex.syx").string() + ".",
                  "Their timing is lost: a .syx holds none; send the MIDI file itself to keep it."}));
    EXPECT_EQ(run.err, "");
    // Nothing else: a MIDI file has no port settings or picture to write.
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(out), std::filesystem::directory_iterator()), 1);
}

// Known by its content, whatever its name.
TEST(MidiFilePack, RefusesAMidiFileAsAPortionAndWritesNothing) {
    TempDir dir;
    const std::string good = dir.Write("good.syx", SysExMessage(8));
    const std::string midi = dir.Write("renamed.syx", TwoTrackFile());
    const std::string out = dir.File("fw.upd");
    const CliRun run = RunMidiUpdate(
        {"pack", "-o", out, "--product", "Pad", "--version", "1.0", "--portion", good, "--portion", midi});
    EXPECT_EQ(run.status, kExitUsage);
    EXPECT_EQ(CliRun::Lines(run.err).front(),
              "midiupdate: --portion '" + midi +
                  "' is a Standard MIDI File, which an update file cannot hold: send it as it is to keep its "
                  "timing, or unpack it first (midiupdate unpack '" + midi + "' -o DIR) and pack its .syx");
    EXPECT_EQ(run.out, "");
    EXPECT_FALSE(std::filesystem::exists(out));
}

// Gaps far wider than the rest after eight bytes: the run lasts as long as the file says, each
// message leaving at its time, the device's answer coming within the file's last 500 ms.
TEST(MidiFileSend, ADryRunTakesExactlyTheFilesTime) {
    TrackBytes track;
    track.SysEx(0, {0x43, 1, 1, 1, 1, 1, 0xF7}).SysEx(96, {0x43, 2, 2, 2, 2, 2, 0xF7})
        .SysEx(192, {0x43, 3, 3, 3, 3, 3, 0xF7}).End(96);
    TempDir dir;
    const std::string path = dir.Write("fw.mid", MidiFile(0, 96, {track}));
    const CliRun run = RunMidiUpdate({"send", path, "--dry-run", "--events"});
    ASSERT_EQ(run.status, kExitOk) << run.err;
    std::vector<std::string> sent;
    for (const std::string& line : run.OutLines())
        if (line.find("\"text\": \"Sent ") != std::string::npos) sent.push_back(line);
    EXPECT_EQ(sent, (std::vector<std::string>{
                        "{\"t\": 0, \"event\": \"status\", \"text\": \"Sent 8 bytes of 24 bytes\"}",
                        "{\"t\": 500, \"event\": \"status\", \"text\": \"Sent 16 bytes of 24 bytes\"}",
                        "{\"t\": 1500, \"event\": \"status\", \"text\": \"Sent 24 bytes of 24 bytes\"}",
                        "{\"t\": 2000, \"event\": \"status\", \"text\": \"Sent 24 bytes of 24 bytes\"}"}));
    EXPECT_EQ(run.OutLines().back(), "{\"t\": 2000, \"event\": \"verdict\", \"verdict\": \"updated\", \"exit\": 0}");
    EXPECT_NE(run.err.find("Dry run: on a real device this update would take at least 2s (2000 ms)"), std::string::npos)
        << run.err;
}
