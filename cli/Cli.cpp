#include "Cli.h"

#include <exception>
#include <ostream>

#include "Clock.h"
#include "Commands.h"
#include "Help.h"
#include "LogRouting.h"
#include "VisibleText.h"

#ifndef MIDIUPDATE_VERSION
#define MIDIUPDATE_VERSION "0.0.0"
#endif

using namespace cli;

int RunCli(const std::vector<std::string>& argv, CliIo& io) {
    // The options that every command takes may stand anywhere.
    Args args;
    std::string command;
    std::string logPath;
    bool verbose = false;
    try {
        for (std::size_t i = 0; i < argv.size(); ++i) {
            if (argv[i] == "--log") {
                if (i + 1 >= argv.size()) Usage("--log needs a file");
                logPath = argv[++i];
            } else if (argv[i] == "--verbose" || argv[i] == "-v") {
                verbose = true;
            } else {
                args.items.push_back(argv[i]);
            }
        }
        if (args.Done()) Usage("no command given");
        command = args.Take();
        if (command == "--help" || command == "-h") {
            io.out << CommandHelp("");
            return kExitOk;
        }
        if (command == "help") {
            const std::string topic = args.Done() ? std::string() : args.Take();
            command = "help";
            if (!args.Done()) Usage("help takes one command name");
            const std::string text = CommandHelp(topic);
            if (text.empty()) Usage("no such command: " + topic);
            io.out << text;
            return kExitOk;
        }
        if (command == "--version" || command == "-V") {
            io.out << "midiupdate " << MIDIUPDATE_VERSION << "\n";
            return kExitOk;
        }
        for (const std::string& a : args.items)
            if (a == "--help" || a == "-h") {
                const std::string text = CommandHelp(command);
                if (text.empty()) break;  // an unknown command is reported below
                io.out << text;
                return kExitOk;
            }
        LogRouting routing(logPath, verbose);
        args.log = &routing;
        try {
            if (command == "info") return Info(args, io);
            if (command == "pack") return Pack(args, io);
            if (command == "unpack") return Unpack(args, io);
            if (command == "send") return Send(args, io);
            if (command == "ports" || command == "list") return Ports(args, io);
            if (command == "simulate") return Simulate(args, io);
        } catch (const RunCancelled&) {
            io.out.flush();
            io.err << "\nmidiupdate: interrupted; the update was stopped and the port closed.\n";
            return kExitCancelled;
        }
        const std::string unknown = command;
        command.clear();  // show every command's usage
        Usage("unknown command: " + unknown);
    } catch (const UsageError& e) {
        // The one thing that was wrong, and where the command's usage is.
        io.err << "midiupdate: " << VisibleText(e.text) << "\n";
        if (!CommandHelp(command).empty() && command != "help")
            io.err << "See 'midiupdate help " << VisibleText(command) << "' for its options.\n";
        else
            io.err << "See 'midiupdate help' for the commands.\n";
        return kExitUsage;
    } catch (const std::exception& e) {
        // Reaching here has unwound the command, closing any port it had open.
        io.err << "midiupdate: " << VisibleText(e.what(), true) << "\n";
        return kExitFailed;
    } catch (...) {
        io.err << "midiupdate: the command failed for an unknown reason\n";
        return kExitFailed;
    }
}

