#pragma once
// A platform's MIDI as the programs see it, in both directions: which ports there are, a MidiPort
// for an update's port settings (the host's side), and virtual ports that play a device model
// (the device's side). Each platform's folder supplies one implementation beside its port, and
// OpenPlatformMidiSystem; the command line never calls a MIDI API itself.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "MidiPort.h"
#include "PortSettings.h"

// One output or input port as the port search sees it.
struct MidiPortEntry {
    int id = 0;            // the system's index of the port, counted per direction
    std::string name;      // exactly as the system lists it
    bool skipped = false;  // the search never takes it (the system's own synthesizer or mapper)
};

// What a MIDI system reported losing on the way in: the times its input buffer overran (what
// came meanwhile is gone) and its other failures to read input.
struct MidiInputErrors {
    std::uint64_t overruns = 0;
    std::uint64_t failures = 0;
    bool Any() const { return overruns != 0 || failures != 0; }
};

// The output and input ports of one device, as the system lists them; "" where there is none.
struct MidiPortPair {
    std::string output;
    std::string input;
};

// A device model that virtual ports serve: what arrives goes in, and what it says comes out when
// due. The transport loop decides when a reboot that the device asks for begins.
class SimulatedDevice {
public:
    virtual ~SimulatedDevice() = default;
    virtual void Receive(const std::uint8_t* data, std::size_t length, std::uint64_t nowMs) = 0;
    // Lets time pass with nothing received (for a device that answers after a quiet spell).
    virtual void Tick(std::uint64_t nowMs) { (void)nowMs; }
    virtual std::vector<std::vector<std::uint8_t>> TakeDue(std::uint64_t nowMs) = 0;
    virtual bool Online(std::uint64_t nowMs) const = 0;
    virtual bool RebootPending() const = 0;
    virtual void StartReboot(std::uint64_t nowMs) = 0;
    // Lines telling what arrived, and the verdict.
    virtual std::string Report() const = 0;
    // While it runs: one line on what has arrived so far, and one that changes only when a step
    // of the update is done (a portion received, or for a device without a file, an answer).
    virtual std::string ArrivedLine() const = 0;
    virtual std::string StepLine() const = 0;
    // The input errors the MIDI system has reported since the ports were first opened, as totals
    // so far. A transfer with any is never good, whatever arrived.
    virtual void NoteInputErrors(const MidiInputErrors& errors) = 0;
    // True when what arrived is what the device expected, and the MIDI system lost none of it.
    virtual bool Satisfied() const = 0;
};

// Virtual ports under a device's name that serve one device model.
class DeviceServer {
public:
    virtual ~DeviceServer() = default;
    // Opens the ports and serves until `timeoutMs` has passed (0: until cancelled), then closes
    // them. A cancellation (Ctrl-C) ends it normally. False when the ports could not be opened.
    virtual bool Run(std::uint64_t timeoutMs) = 0;
    // Called on Run's thread after each look at the input, to show what the device has seen.
    virtual void OnArrival(std::function<void(const SimulatedDevice&)> callback) = 0;
    virtual std::uint64_t MessagesIn() const = 0;
    virtual std::uint64_t MessagesOut() const = 0;
};

class MidiSystem {
public:
    virtual ~MidiSystem() = default;
    // A short name for messages, such as "winmm".
    virtual std::string Name() const = 0;
    // Every port the system lists, in id order.
    virtual std::vector<MidiPortEntry> OutputPorts() = 0;
    virtual std::vector<MidiPortEntry> InputPorts() = 0;
    // A port that opens the devices `settings.names` pick out when it is first asked to connect.
    virtual std::unique_ptr<MidiPort> MakePort(const PortSettings& settings) = 0;
    // The ports such a port would open if it connected now, by the port's own rules. The base
    // cannot tell and names none.
    virtual MidiPortPair PortsFor(const PortSettings& settings);
    // Ports that other programs see under `name`, as the device's own, serving `device` (which
    // must outlive the server); empty with the reason in `error` where the system has none.
    virtual std::unique_ptr<DeviceServer> ServeDevice(const std::string& name, SimulatedDevice& device,
                                                      std::string& error);
};

// What a MIDI system adds to a port's own pacing on the way to the device (pieces, a queue that
// drains at cable speed, a pause after a port opens), to forecast a run on a simulated clock: the
// port tells it what it does, and it waits on the current clock as the system's port would.
class TransportPacing {
public:
    virtual ~TransportPacing() = default;
    // The system, as --api names it.
    virtual std::string Name() const = 0;
    // The port was just opened.
    virtual void Opened() = 0;
    // One framed chunk goes out.
    virtual void Carry(const std::uint8_t* data, std::size_t length) = 0;
    // The port asks the device something or closes: what the system still held goes out now.
    virtual void Flush() = 0;
};

// The pacing of the MIDI system that a send with `api` would use (empty: the one the platform
// takes first), as far as it is known without opening the system; null where it is not.
std::unique_ptr<TransportPacing> PlatformTransportPacing(const std::string& api);

// Opens a MIDI system, or leaves the pointer empty and says why in `error`.
using MidiSystemFactory = std::function<std::unique_ptr<MidiSystem>(std::string& error)>;

// The platform's MIDI system named `api` (--api: "alsa", "jack", "coremidi" where RtMidi is built
// in, "winmm" on Windows; empty takes the first that is available). Where there is none, `error`
// reads "no MIDI system available: <reason>". The build links one platform's definition.
std::unique_ptr<MidiSystem> OpenPlatformMidiSystem(const std::string& api, std::string& error);
