#pragma once
// Finding the device's MIDI ports among the system's devices, and listing them.

#include <set>
#include <string>
#include <utility>
#include <vector>

// The device id of a search that found nothing; no open accepts it.
constexpr int NoDevice = -1066;

// The lowest-id output (input) device whose name matches `names` (MatchesPortName), or NoDevice.
// Devices whose capabilities cannot be read are skipped. Nothing is cached.
int FindOutputDevice(const std::set<std::string>& names);
int FindInputDevice(const std::set<std::string>& names);

// Writes every output and input device to the diagnostic log.
void ListInterfaces();

// The names of all output devices whose capabilities can be read, in id order, as the system
// lists them (none excluded, none normalised).
std::vector<std::string> ListOutputPortNames();

// Id and name of every readable output (input) device, in id order.
std::vector<std::pair<int, std::string>> ListOutputDevices();
std::vector<std::pair<int, std::string>> ListInputDevices();

// The system's text for a winmm error code (output and input codes alike).
std::string MidiErrorText(unsigned error);
