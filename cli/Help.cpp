#include "Help.h"

#include <cstring>

namespace {

struct CommandText {
    const char* name;
    const char* usage;
    const char* help;
};

const char* const kCommonOptions =
    "options for every command:\n"
    "  --log FILE           write the diagnostic log to FILE (not one of the command's inputs)\n"
    "  --verbose            write the diagnostic log to standard error, each line after the\n"
    "                       milliseconds since the start\n";

const char* const kExitStatuses =
    "exit status:\n"
    "  0    success; for send: the device confirmed the update\n"
    "  1    failure: the file could not be loaded, a chunk could not be sent, the device\n"
    "       reported an error, or its version differs from the file's\n"
    "  2    bad command line, or a send that would have to ask without a terminal\n"
    "  3    sent, but not confirmed by the device\n"
    "  4    nothing sent: the answer to \"Update now?\" was not yes, or no port was chosen\n"
    "  130  interrupted (the port is closed on the way out)\n";

const CommandText kCommands[] = {
    {"info", "midiupdate info [--json] FILE\n",
     "Describes an update file (.upd), a raw SysEx file (.syx) or a Standard MIDI File (.mid);\n"
     "which kind a file is follows from its content, never its name. FILE - reads standard input.\n"
     "\n"
     "Shown: product, version, the file's message, picture size, the port names the update looks\n"
     "for, the pacing values, and for each portion its size, the pause after it, the number of\n"
     "SysEx messages, the manufacturer IDs seen and warnings for bytes outside messages, data\n"
     "bytes of 0x80 or above inside a message, or a message without its F7. Warnings never stop a\n"
     "load: some devices take data that is not SysEx. Texts of update files are code page 1252.\n"
     "\n"
     "A MIDI file is sent as its SysEx alone, at the file's times. For one, info also shows its\n"
     "format, tracks and time division, its SysEx messages and bytes, its duration, the longest\n"
     "and the shortest gap between consecutive messages, and what is not sent: channel events,\n"
     "other meta events, tempo changes (which time the messages) and chunks other than tracks.\n"
     "\n"
     "  --json               one JSON object for machines (portions[i].messages, .manufacturers,\n"
     "                       .warnings; mac_names; midi_file for a MIDI file; texts in Unicode);\n"
     "                       for a file it refuses {\"file\": FILE, \"error\": the reason}, exit\n"
     "                       status 1\n"},
    {"pack",
     "midiupdate pack -o OUT.upd --product NAME --version MAJOR.MINOR [--message TEXT]\n"
     "                [--image FILE] [--port-settings TEXT]... [--mac-names TEXT]\n"
     "                --portion FILE.syx[@DELAY_MS]...\n",
     "Writes an update file from SysEx portion files, in the order given. The output is written to\n"
     "a temporary file beside OUT.upd and renamed into place only when it is complete, so a failure\n"
     "never leaves a fragment, and never over one of its own inputs. Afterwards it prints what it\n"
     "wrote, as info does, and warns (on standard error) about a portion that is empty or not\n"
     "well-formed SysEx and a picture that is not a PNG. A Standard MIDI File is refused as a\n"
     "portion: send it as it is, or unpack it to a .syx first (its timing is then lost).\n"
     "\n"
     "  -o, --output OUT     the update file to write\n"
     "  --product NAME       the product; also the port name looked for when no settings name one\n"
     "  --version MAJOR.MINOR  the firmware version (1.05 is major 1, minor 5)\n"
     "  --message TEXT       instructions shown before the update; backslash-n starts a new line\n"
     "  --image FILE         a picture (PNG) shown while the file is loaded\n"
     "  --portion FILE[@MS]  a portion of SysEx data, and the pause after it in milliseconds\n"
     "  --mac-names TEXT     port names for macOS, separated by $\n"
     "  --port-settings TEXT settings for the device's MIDI port, see below\n"
     "\n"
     "Texts are given in UTF-8 and stored as code page 1252; a text that code page cannot hold\n"
     "is refused, and nothing is written.\n"
     "\n"
     "port settings: PLATFORM:ANY:KEY:VALUE:KEY:VALUE...\n"
     "  Only records whose first field is win apply; the second field is not read. Keys:\n"
     "  name         port names to look for, separated by $ (a device matches when its name,\n"
     "               without a leading number and dash, equals or contains one)\n"
     "  ideal        smallest chunk in bytes (default 1024)\n"
     "  max          a chunk grows up to this many bytes to end at a message end (default 3072)\n"
     "  delay        pause after each chunk in ms (default 200)\n"
     "  unprepdelay  pause after each chunk's buffer is released, in ms (default 100)\n"
     "  chunks       yes or no: frame every chunk as one SysEx message (default yes)\n"
     "  Keys are case-sensitive. The programs ignore keys they do not know; pack refuses them,\n"
     "  and values a key cannot take. Example:\n"
     "    --port-settings 'win:x:name:Pad$Pad MIDI 1:ideal:512:chunks:no'\n"},
    {"unpack", "midiupdate unpack FILE -o DIR [--force]\n",
     "Writes the parts of an update file into DIR: each portion as portion-N.syx, the picture as\n"
     "image.png (image.bin when it is not a PNG) and the port settings as port-settings.txt, and\n"
     "prints the pack command line that rebuilds an equivalent update file from them (the Mac\n"
     "port names are in that command line).\n"
     "\n"
     "Of a Standard MIDI File it writes the SysEx as sysex.syx, every message as sent and in the\n"
     "order sent, and says that the file's timing is lost; no pack command is printed.\n"
     "\n"
     "  -o, --output DIR     the folder to write (made when missing); a folder that holds files\n"
     "                       is refused unless --force is given\n"
     "  -f, --force          write into a folder that is not empty, replacing files of the same\n"
     "                       names\n"},
    {"send",
     "midiupdate send FILE [--port NAME | --virtual[=BEHAVIOUR] | --dry-run] [--yes] [--events]\n"
     "                [--ideal N] [--max N] [--delay MS] [--unprep-delay MS] [--chunks yes|no]\n"
     "                [--api alsa|jack|coremidi]\n",
     "Runs the update. First it shows what is about to happen: product, version, the file's\n"
     "message, the ports it looks for, the portions, the total size and the estimated duration.\n"
     "On a terminal it then asks \"Update now? [y/N]\" unless --yes is given; without a terminal\n"
     "and without --yes it refuses (exit status 2) before anything is sent.\n"
     "\n"
     "For each portion it waits for the port, sends the portion in paced chunks, waits for the\n"
     "device's status and pauses as the file says; at the end it asks the device for its firmware\n"
     "version when the status alone is not conclusive, and prints the verdict.\n"
     "\n"
     "  --port NAME          look for this MIDI port instead of the file's port names (or the\n"
     "                       output of that id as ports lists it: #0 or 0); a raw SysEx file\n"
     "                       names none, so on a terminal a numbered list is offered. The\n"
     "                       device's answers come in on that output's own input, named as the\n"
     "                       system names it (MIDIIN2 (Pad) for MIDIOUT2 (Pad))\n"
     "  --virtual[=B]        send to the built-in virtual device; B is a comma-separated list of\n"
     "                         status=accept|fail|none|install:N   its status after each portion\n"
     "                         identity=MAJOR.MINOR|none           its Identity Reply\n"
     "                         offline=MS                          it reboots after each portion\n"
     "                         answer=garbage|echo|stream|late     it answers oddly (see\n"
     "                                                             docs/misbehaving-devices.md)\n"
     "                         drop=BYTES                          it goes away once, mid-portion\n"
     "                         identity=short|cut|malformed        its Identity Reply is damaged\n"
     "  --dry-run            run against the virtual device on a simulated clock: finishes at\n"
     "                       once and tells how long the real update would take, paced as the\n"
     "                       MIDI system --api names (by default the one a send would take) paces\n"
     "                       it; where that system is not known, the time is a lower bound\n"
     "  --yes, -y            do not ask, and do not wait for Enter at messages that ask for it\n"
     "  --events             one JSON object per line for every report; the last line is\n"
     "                       {\"event\": \"verdict\", \"verdict\": ..., \"exit\": N}; when the\n"
     "                       device's ports open, {\"event\": \"ports\", \"output\": ..., \"input\": ...}\n"
     "  --ideal, --max, --delay, --unprep-delay, --chunks\n"
     "                       replace the file's pacing values for this run (see pack's help)\n"
     "\n"
     "An update file goes out as its settings cut and frame it (info says which messages that\n"
     "cuts). A raw SysEx file goes out exactly as it holds its messages: chunks end only at\n"
     "message ends and nothing is added; --chunks yes sends it by an update file's rules. A\n"
     "Standard MIDI File sends its SysEx alone, each message whole and no earlier than its time\n"
     "in the file (tempo changes included), nor sooner than the rest after the message before;\n"
     "the dry run's time is then at least the file's duration.\n"
     "  --api NAME           the MIDI system: alsa, jack or coremidi; default the first available\n"},
    {"ports", "midiupdate ports [--api alsa|jack|coremidi]\n",
     "Lists the MIDI output and input ports as the port search sees them: id, name, and whether\n"
     "the search would skip it (the system's own synthesizer and mapper, through ports).\n"
     "midiupdate list does the same; send --port takes an output's id (#0 or 0) for its name.\n"},
    {"simulate",
     "midiupdate simulate [FILE] [--name NAME] [--virtual=BEHAVIOUR] [--timeout SECONDS]\n"
     "                    [--api alsa|jack|coremidi]\n",
     "Opens virtual MIDI ports named like a device (by default the update's first port name) that\n"
     "behave as the virtual device of send --virtual, checking every byte received against FILE.\n"
     "Without a file it accepts any SysEx and answers after a quiet second. Channel messages\n"
     "outside SysEx and real-time messages are ignored, as an instrument in update mode ignores\n"
     "them (unless FILE puts them on the wire there), and counted apart. While it runs it shows\n"
     "what has arrived (one line on a terminal, a line per portion otherwise); a new update that\n"
     "begins after an interrupted one is checked from its start. It stops on Ctrl-C or after the\n"
     "time-out and prints what it received and its verdict. Input that the MIDI system reports\n"
     "having lost on the way in (an input buffer overrun of the ALSA sequencer) is counted and\n"
     "makes the transfer not good, even when every byte seemed to arrive; without a file a SysEx\n"
     "message broken off by another status byte does too, and the answer is then a failure.\n"
     "Makers can try an update file with it before they ship it.\n"
     "\n"
     "  --name NAME          the name of its ports; by default the update's first port name, else\n"
     "                       its product, and \"SysEx Device\" without a file\n"
     "  --virtual=B          how it answers, as send --virtual takes it (status=..., identity=...,\n"
     "                       offline=..., answer=..., drop=...; see midiupdate help send)\n"
     "  --timeout SECONDS    stop after this long (by default it runs until Ctrl-C)\n"
     "  --api NAME           the MIDI system: alsa, jack or coremidi; default the first available\n"},
    {"help", "midiupdate help [COMMAND]\n", "Explains a command, or lists them all.\n"},
};

const CommandText* Find(const std::string& command) {
    const std::string name = command == "list" ? "ports" : command;  // as other port lists call it
    for (const CommandText& c : kCommands)
        if (name == c.name) return &c;
    return nullptr;
}

}  // namespace

std::string CommandUsage(const std::string& command) {
    if (const CommandText* c = Find(command)) return std::string("usage: ") + c->usage;
    std::string all = "usage:\n";
    for (const CommandText& c : kCommands) all += std::string("  ") + c.usage;
    all += "  midiupdate --version | -V\n";
    return all;
}

std::string CommandHelp(const std::string& command) {
    if (command.empty()) {
        std::string text =
            "midiupdate: inspect, author and send MIDI firmware update files.\n\n"
            "commands:\n"
            "  info       describe an update file, a raw SysEx file or a MIDI file\n"
            "  pack       write an update file from SysEx portion files\n"
            "  unpack     write an update file's parts as files\n"
            "  send       run the update\n"
            "  ports      list the MIDI ports\n"
            "  simulate   behave as a device on virtual MIDI ports\n"
            "  help       explain a command: midiupdate help COMMAND\n\n";
        return text + CommandUsage("") + "\n" + kCommonOptions + "\n" + kExitStatuses;
    }
    const CommandText* c = Find(command);
    if (!c) return {};
    return CommandUsage(command) + "\n" + c->help + "\n" + kCommonOptions + "\n" + kExitStatuses;
}
