#pragma once
// Finding the device's MIDI ports among the system's devices, and listing them.

#include <set>
#include <string>
#include <utility>
#include <vector>

#include "PortSettings.h"

// The device id of a search that found nothing; no open accepts it.
constexpr int NoDevice = -1066;

// The lowest-id output (input) device whose name is exactly one of `names`
// (MatchesPortNameExactly), else the lowest-id one whose name matches them (MatchesPortName), or
// NoDevice. Devices whose capabilities cannot be read are skipped. Nothing is cached.
int FindOutputDevice(const std::set<std::string>& names);
int FindInputDevice(const std::set<std::string>& names);

// The input device that goes with output device `outputId` (any id of no device: none): for the
// file's names the lowest-id input they match exactly; else the input of the same device
// (PairedInput: "MIDIIN2 (Pad)" for "MIDIOUT2 (Pad)"); else the lowest-id input the names match,
// as FindInputDevice. NoDevice when none does.
int FindInputDeviceFor(const PortSettings& settings, int outputId);

// The name the system lists for output (input) device `id`; "" when it cannot be read.
std::string OutputDeviceName(int id);
std::string InputDeviceName(int id);

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
