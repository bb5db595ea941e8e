#pragma once
// Which names an update's device goes by on the platform the program runs on.

#include <set>
#include <string>

#include "Update.h"

enum class HostPlatform { Linux, MacOS, Windows };
HostPlatform CurrentHostPlatform();

// On macOS the names of the update's Mac records when it has any; everywhere else (and on macOS
// without them) its Windows port names.
std::set<std::string> PortNamesFor(const Update& update, HostPlatform platform);
