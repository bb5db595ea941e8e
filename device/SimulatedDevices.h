#pragma once
// The device models that `simulate` plays on virtual ports: the device an update file describes,
// which checks every byte against the file, and a device without a file, which takes any SysEx.

#include <cstdint>
#include <memory>
#include <string>

#include "DeviceBehaviour.h"
#include "HostPlatform.h"
#include "MidiSystem.h"
#include "PortSettings.h"
#include "Update.h"

// The device an update file describes: every byte is checked against the file.
std::unique_ptr<SimulatedDevice> MakeFileDevice(const Update& update, const PortSettings& settings,
                                                const DeviceBehaviour& behaviour);
// A device without a file: it takes any SysEx and reports its status after a quiet second.
std::unique_ptr<SimulatedDevice> MakeAnySysExDevice(const DeviceBehaviour& behaviour);

// The name a simulated device's ports go by, as the updater will look for them: the update's first
// port name on `platform`, else its product, else (a raw SysEx file, or none) "SysEx Device".
std::string SimulatedDeviceName(const Update* update, HostPlatform platform);

// How long after a quiet spell the device without a file reports.
constexpr std::uint32_t kQuietMs = 1000;
