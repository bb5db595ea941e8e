#pragma once
// The MidiPort over the Windows multimedia MIDI services: one output and one input device, found
// by name when first needed, with paced blocking sends and SysEx input in ten rotating buffers.
// While it exists, the system timer runs at 1 ms resolution.

#include <cstdint>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "MidiPort.h"
#include "PortSettings.h"
#include "WinMidiApi.h"

class WindowsMidiPort : public MidiPort {
public:
    // Opens nothing: the first IsConnected (or send) does.
    explicit WindowsMidiPort(const PortSettings& settings);
    ~WindowsMidiPort() override;

    std::int32_t GetIdealChunkSize() override;
    std::int32_t GetMaxChunkSize() override;
    bool SendsWholeMessages() override { return wholeMessages; }
    // Connects first when no output is open; true when the output device is open and present.
    bool IsConnected() override;
    // Asks about each output device in turn and adds the first one the user accepts to the names.
    void AskForPort() override;
    void Disconnect() override;
    // Frames the bytes (with `chunks` on) and sends them with SendVerbatim.
    void Send(const std::uint8_t* data, std::uint32_t length) override;
    // Closes and opens again, when open.
    void Reconnect() override;
    // Whatever complete message has arrived since the last ClearSysEx; sends nothing, waits for
    // nothing.
    std::vector<std::uint8_t> Query(std::uint32_t limit, const std::uint8_t* request,
                                    std::uint32_t length) override;
    // Hands the bytes to the driver as one long message and returns when it has finished with
    // them and the port's pauses have passed.
    virtual void SendVerbatim(const std::uint8_t* data, std::uint32_t length);

    // Opens the output device that matches the names and the input that goes with it
    // (FindInputDeviceFor). Any side still open is closed first, so that no handle is ever lost.
    void Connect();

    std::string OpenOutputName() const override { return outHandle ? outName : std::string(); }
    std::string OpenInputName() const override { return inHandle ? inName : std::string(); }

    static constexpr unsigned kInputBuffers = 10;
    static constexpr unsigned kInputBufferSize = 256;

private:
    static void CALLBACK MidiInCallback(HMIDIIN handle, UINT message, DWORD_PTR instance, DWORD_PTR param1,
                                        DWORD_PTR param2);
    static void CALLBACK OutputCallback(HMIDIOUT handle, UINT message, DWORD_PTR instance, DWORD_PTR param1,
                                        DWORD_PTR param2);
    void OpenOutput();
    void OpenInput();
    void CloseOutput();
    void CloseInput();
    // Unprepares a header the driver has been given; false when it never let go of it.
    bool ReleaseSent(MIDIHDR& header);

    std::set<std::string> names;
    std::int32_t ideal;
    std::int32_t max;
    std::int32_t delay;
    std::int32_t unprepDelay;
    bool chunks;
    bool wholeMessages;
    bool pickedByHand;
    int outDevice = -1;   // the output device id the last connect looked for, if any
    std::string outName;  // the names of the devices last opened
    std::string inName;
    // What the input callback works on: the buffers and the way back to this port. A block of its
    // own, so that it can outlive the port when the driver refuses to close the input.
    struct InputSide;
    std::unique_ptr<InputSide> input;
    HMIDIOUT outHandle = nullptr;
    HMIDIIN inHandle = nullptr;
    bool timerPeriodSet = false;
};
