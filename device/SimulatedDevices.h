#pragma once
// The device models that `simulate` plays on virtual ports: the device an update file describes,
// which checks every byte against the file, and a device without a file, which takes any SysEx.

#include <cstdint>
#include <memory>

#include "DeviceBehaviour.h"
#include "MidiSystem.h"
#include "PortSettings.h"
#include "Update.h"

// The device an update file describes: every byte is checked against the file.
std::unique_ptr<SimulatedDevice> MakeFileDevice(const Update& update, const PortSettings& settings,
                                                const DeviceBehaviour& behaviour);
// A device without a file: it takes any SysEx and reports its status after a quiet second.
std::unique_ptr<SimulatedDevice> MakeAnySysExDevice(const DeviceBehaviour& behaviour);

// How long after a quiet spell the device without a file reports.
constexpr std::uint32_t kQuietMs = 1000;
