#pragma once
// What `midiupdate help` and `--help` print, and the usage shown with a command-line error.

#include <string>

// The synopsis of one command, or of every command for an empty or unknown name.
std::string CommandUsage(const std::string& command);
// The whole explanation of one command (its usage, options, examples and exit statuses); for an
// empty name the overview of all commands. Empty for an unknown command.
std::string CommandHelp(const std::string& command);
