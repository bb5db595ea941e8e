#include "WindowsMidiPort.h"

#include <atomic>
#include <cstring>
#include <memory>
#include <mutex>

#include "ChunkFraming.h"
#include "Clock.h"
#include "Log.h"
#include "PortDiscovery.h"

namespace {
// Every header call passes the size of the header record (64 bytes in the 32-bit program).
constexpr UINT kHeaderSize = sizeof(MIDIHDR);
// Between two checks of a long message the driver is still playing.
constexpr std::uint32_t kStillPlayingCheckMs = 1000;
// The timer resolution asked for while a port exists.
constexpr UINT kTimerPeriodMs = 1;

const char* const kSendVerbatim = "WindowsMidiPort::SendVerbatim";

// One long message as the driver gets it.
struct SendBlock {
    MIDIHDR header{};
    std::vector<char> bytes;
};

// Memory the driver never gave back stays allocated for the rest of the process: it may still
// write to it. Rare (a device gone mid-send, an input that would not close), and small.
template <typename Block>
void KeepForGood(std::unique_ptr<Block> block) {
    static std::mutex lock;
    static auto* kept = new std::vector<std::unique_ptr<Block>>();  // never destroyed
    std::lock_guard<std::mutex> hold(lock);
    kept->push_back(std::move(block));
}
}  // namespace

struct WindowsMidiPort::InputSide {
    explicit InputSide(WindowsMidiPort* owner) : port(owner), blocks(kInputBuffers * kInputBufferSize) {
        std::memset(headers, 0, sizeof(headers));
    }
    // The port the arriving bytes go to; none once the port is gone and this block is kept.
    WindowsMidiPort* port;
    std::vector<char> blocks;  // kInputBuffers blocks of kInputBufferSize bytes
    MIDIHDR headers[kInputBuffers];
    // Written by the caller's thread, read by the input callback thread. The callback tests it and
    // queues the buffer again under `lock`, so that once CloseInput has cleared it no buffer goes
    // back to the driver behind the reset. The lock is never held across a winmm call that waits
    // for the callback (midiInReset, midiInClose).
    std::atomic<bool> recycle{false};
    std::mutex lock;
};

WindowsMidiPort::WindowsMidiPort(const PortSettings& settings)
    : names(settings.names),
      ideal(settings.ideal),
      max(settings.max),
      delay(settings.delay),
      unprepDelay(settings.unprepDelay),
      chunks(settings.chunks),
      wholeMessages(settings.wholeMessages),
      pickedByHand(settings.pickedByHand),
      input(std::make_unique<InputSide>(this)) {
    // The pauses between chunks are sleeps: at the system's default timer resolution each may
    // last up to about 16 ms longer than asked. A port lives for one update.
    timerPeriodSet = timeBeginPeriod(kTimerPeriodMs) == TIMERR_NOERROR;
}

WindowsMidiPort::~WindowsMidiPort() {
    WindowsMidiPort::Disconnect();
    if (inHandle) {
        // The driver would not close the input: it may still fill the buffers and call back. They
        // and the callback's block stay for good, cut off from this port.
        {
            std::lock_guard<std::mutex> hold(input->lock);
            input->port = nullptr;
        }
        LogMessage("The MIDI input could not be closed; its buffers stay allocated.\n");
        KeepForGood(std::move(input));
    }
    if (timerPeriodSet) timeEndPeriod(kTimerPeriodMs);
}

std::int32_t WindowsMidiPort::GetIdealChunkSize() { return ideal; }

std::int32_t WindowsMidiPort::GetMaxChunkSize() { return max; }

void WindowsMidiPort::Connect() {
    LogMessage("%s\n", "WindowsMidiPort::Connect");
    ListInterfaces();
    // A side left open by an earlier connect (the input, when the output failed) is closed first:
    // opening again would lose the running handle with its buffers queued.
    if (outHandle) CloseOutput();
    if (inHandle) CloseInput();

    // A side whose close the driver refused stays as it is: opening it again would lose the handle.
    if (outHandle || inHandle) LogMessage("A MIDI handle could not be closed; it stays open.\n");

    if (!outHandle) OpenOutput();
    input->recycle = true;
    if (!inHandle) OpenInput();
    LogMessage("  opened handles are %p:%p\n", static_cast<void*>(outHandle), static_cast<void*>(inHandle));
}

void WindowsMidiPort::OpenOutput() {
    const int outId = FindOutputDevice(names);
    outDevice = outId;
    outName = OutputDeviceName(outId);
    if (midiOutOpen(&outHandle, static_cast<UINT>(outId), reinterpret_cast<DWORD_PTR>(&OutputCallback),
                    reinterpret_cast<DWORD_PTR>(this), CALLBACK_FUNCTION) != MMSYSERR_NOERROR) {
        LogMessage("MIDI OUT Port failed to open.\n");
        outHandle = nullptr;
    } else {
        LogMessage("MIDI OUT Port opened OK.\n");
    }
}

void WindowsMidiPort::OpenInput() {
    // AskForPort may have added names since the port was made.
    PortSettings search;
    search.names = names;
    search.pickedByHand = pickedByHand;
    const int inId = FindInputDeviceFor(search, outDevice);
    inName = InputDeviceName(inId);
    if (midiInOpen(&inHandle, static_cast<UINT>(inId), reinterpret_cast<DWORD_PTR>(&MidiInCallback),
                   reinterpret_cast<DWORD_PTR>(input.get()), CALLBACK_FUNCTION | MIDI_IO_STATUS) != MMSYSERR_NOERROR) {
        LogMessage("MIDI IN Port failed to open (%d).\n", inId);
        inHandle = nullptr;
    } else {
        LogMessage("MIDI IN Port opened OK (%d).\n", inId);
        for (unsigned i = 0; i < kInputBuffers; ++i) {
            MIDIHDR& header = input->headers[i];
            header.lpData = &input->blocks[i * kInputBufferSize];
            header.dwBufferLength = kInputBufferSize;
            header.dwFlags = 0;
            header.dwUser = reinterpret_cast<DWORD_PTR>(input.get());
            MMRESULT err = midiInPrepareHeader(inHandle, &header, kHeaderSize);
            if (err != MMSYSERR_NOERROR)
                LogMessage("Failed to prepare input buffer [%u] (%s).\n", i, MidiErrorText(err).c_str());
            err = midiInAddBuffer(inHandle, &header, kHeaderSize);
            if (err != MMSYSERR_NOERROR)
                LogMessage("Failed to add input buffer [%u] (%s).\n", i, MidiErrorText(err).c_str());
        }
        const MMRESULT err = midiInStart(inHandle);
        if (err != MMSYSERR_NOERROR) LogMessage("Failed to start MIDI IN (%s).\n", MidiErrorText(err).c_str());
    }
}

void WindowsMidiPort::CloseOutput() {
    if (!outHandle) return;
    MMRESULT err = midiOutReset(outHandle);
    if (err != MMSYSERR_NOERROR) LogMessage("Failed to reset MIDI OUT (%s).\n", MidiErrorText(err).c_str());
    err = midiOutClose(outHandle);
    if (err == MIDIERR_STILLPLAYING) {
        // A header the driver still holds: the reset hands it back, then the close can go.
        midiOutReset(outHandle);
        err = midiOutClose(outHandle);
    }
    if (err != MMSYSERR_NOERROR) {
        // The handle stays, so that the next connect closes it before opening the device again.
        LogMessage("Failed to close MIDI OUT (%s).\n", MidiErrorText(err).c_str());
        return;
    }
    outHandle = nullptr;
}

void WindowsMidiPort::CloseInput() {
    // Off before the reset: the buffers that reset hands back must stay out of the driver so that
    // they can be unprepared. Taking the lock waits for a callback that is queuing one right now.
    {
        std::lock_guard<std::mutex> hold(input->lock);
        input->recycle = false;
    }
    if (!inHandle) return;
    MMRESULT err = midiInReset(inHandle);
    if (err != MMSYSERR_NOERROR) LogMessage("Failed to reset MIDI IN (%s).\n", MidiErrorText(err).c_str());
    midiInStop(inHandle);
    for (unsigned i = 0; i < kInputBuffers; ++i) {
        err = midiInUnprepareHeader(inHandle, &input->headers[i], kHeaderSize);
        if (err != MMSYSERR_NOERROR) LogMessage("Failed to unprepare MIDIHDR %u (%s).\n", i, MidiErrorText(err).c_str());
    }
    err = midiInClose(inHandle);
    if (err != MMSYSERR_NOERROR) {
        // The buffers belong to the driver until it closes: the handle and the memory stay (past
        // the port's end if need be), and the next connect tries again before opening the device.
        LogMessage("Failed to close MIDI IN (%s).\n", MidiErrorText(err).c_str());
        return;
    }
    inHandle = nullptr;
}

void WindowsMidiPort::Disconnect() {
    LogMessage("%s\n", "WindowsMidiPort::Disconnect");
    input->recycle = false;
    CloseOutput();
    CloseInput();
}

bool WindowsMidiPort::IsConnected() {
    LogMessage("%s:", "WindowsMidiPort::IsConnected");
    if (!outHandle) Connect();
    // With the handle in place of an id, the query tells whether the device is still there.
    MIDIOUTCAPSA caps;
    std::memset(&caps, 0, sizeof(caps));
    const MMRESULT err = midiOutGetDevCapsA(reinterpret_cast<UINT_PTR>(outHandle), &caps, sizeof(caps));
    const bool connected = outHandle != nullptr && err == MMSYSERR_NOERROR;
    LogMessage(" connected=%s (handle=%u, err=%d)\n", connected ? "yes" : "no",
               static_cast<unsigned>(reinterpret_cast<std::uintptr_t>(outHandle)), static_cast<int>(err));
    return connected;
}

void WindowsMidiPort::Send(const std::uint8_t* data, std::uint32_t length) {
    LogMessage("%s(%p,%u)\n", "WindowsMidiPort::Send", static_cast<const void*>(data), length);
    if (length == 0) return;
    const std::vector<std::uint8_t> framed = FrameChunk(data, length, chunks);
    SendVerbatim(framed.data(), static_cast<std::uint32_t>(framed.size()));
}

void WindowsMidiPort::SendVerbatim(const std::uint8_t* data, std::uint32_t length) {
    if (!IsConnected()) {
        LogMessage("Can't send MIDI, not connected\n");
        NoteSendFailure();
        return;
    }
    const ChunkPacing pacing{delay, unprepDelay};
    // The header and a copy of the bytes live on the heap: if the driver never lets go of them,
    // they are kept rather than freed under it.
    auto block = std::make_unique<SendBlock>();
    block->bytes.assign(reinterpret_cast<const char*>(data), reinterpret_cast<const char*>(data) + length);
    MIDIHDR& header = block->header;
    header.lpData = block->bytes.data();
    header.dwBufferLength = length;
    header.dwFlags = 0;

    MMRESULT err = midiOutPrepareHeader(outHandle, &header, kHeaderSize);
    if (err != MMSYSERR_NOERROR) {
        LogMessage("%s: Error preparing (%s)\n", kSendVerbatim, MidiErrorText(err).c_str());
        NoteSendFailure();
        return;
    }
    err = midiOutLongMsg(outHandle, &header, kHeaderSize);
    if (err != MMSYSERR_NOERROR) {
        LogMessage("%s: Error sending (%s)\n", kSendVerbatim, MidiErrorText(err).c_str());
        NoteSendFailure();
    } else {
        pacing.AfterHandOver();
    }
    if (!ReleaseSent(header)) {
        LogMessage("%s: The driver kept the MIDI header; its memory stays allocated\n", kSendVerbatim);
        KeepForGood(std::move(block));
    }
    pacing.AfterRelease();
}

bool WindowsMidiPort::ReleaseSent(MIDIHDR& header) {
    MMRESULT err = midiOutUnprepareHeader(outHandle, &header, kHeaderSize);
    while (err == MIDIERR_STILLPLAYING) {
        LogMessage("%s: Still playing\n", kSendVerbatim);
        SleepMs(kStillPlayingCheckMs);
        err = midiOutUnprepareHeader(outHandle, &header, kHeaderSize);
    }
    if (err == MMSYSERR_NOERROR) return true;
    LogMessage("%s: Error unpreparing (%d:%s)\n", kSendVerbatim, static_cast<int>(err), MidiErrorText(err).c_str());
    // A device that went away mid-send: the reset takes the header back from the driver.
    midiOutReset(outHandle);
    err = midiOutUnprepareHeader(outHandle, &header, kHeaderSize);
    if (err == MMSYSERR_NOERROR) return true;
    LogMessage("%s: Error unpreparing after reset (%d:%s)\n", kSendVerbatim, static_cast<int>(err),
               MidiErrorText(err).c_str());
    return false;
}

void WindowsMidiPort::Reconnect() {
    if (!outHandle) return;
    Disconnect();
    Connect();
}

std::vector<std::uint8_t> WindowsMidiPort::Query(std::uint32_t, const std::uint8_t*, std::uint32_t) {
    return MidiPort::GetSysEx();
}

void WindowsMidiPort::AskForPort() {
    const UINT count = midiOutGetNumDevs();
    for (UINT id = 0; id < count; ++id) {
        MIDIOUTCAPSA caps;
        std::memset(&caps, 0, sizeof(caps));
        if (midiOutGetDevCapsA(id, &caps, sizeof(caps)) != MMSYSERR_NOERROR) continue;
        caps.szPname[sizeof(caps.szPname) - 1] = '\0';
        const std::string question = FormatString("Do you wish to update '%s'.\n\n", caps.szPname);
        const int answer = MessageBoxA(nullptr, question.c_str(), "MIDI Updater",
                                       MB_YESNO | MB_ICONQUESTION | MB_TASKMODAL | MB_SETFOREGROUND);
        if (answer == IDYES) {
            names.insert(caps.szPname);
            return;
        }
    }
}

void CALLBACK WindowsMidiPort::MidiInCallback(HMIDIIN handle, UINT message, DWORD_PTR instance, DWORD_PTR param1,
                                              DWORD_PTR) {
    InputSide* side = reinterpret_cast<InputSide*>(instance);
    switch (message) {
        case MIM_OPEN: LogMessage("MIM open message\n"); break;
        case MIM_CLOSE: LogMessage("MIM close message\n"); break;
        case MIM_DATA: LogMessage("MIM data message\n"); break;
        case MIM_LONGDATA:
        case MIM_LONGERROR: {
            MIDIHDR* header = reinterpret_cast<MIDIHDR*>(param1);
            if (message == MIM_LONGDATA)
                LogMessage("MIM longdata message(%u)\n", static_cast<unsigned>(header->dwBytesRecorded));
            else
                LogMessage("MIM_LONGERROR message\n");
            // Under the lock: the port does not end while its bytes are added, and once CloseInput
            // has stopped the recycling no buffer goes back to the driver.
            std::lock_guard<std::mutex> hold(side->lock);
            if (message == MIM_LONGDATA && side->port) {
                side->port->assembler.AddBytes(reinterpret_cast<const std::uint8_t*>(header->lpData),
                                               header->dwBytesRecorded);
            }
            // An empty buffer is one the driver gave up (a reset): it stays out of the rotation.
            if (header->dwBytesRecorded > 0 && side->recycle) {
                // The callback's own handle: the port's field belongs to the caller's thread.
                midiInPrepareHeader(handle, header, kHeaderSize);
                if (midiInAddBuffer(handle, header, kHeaderSize) != MMSYSERR_NOERROR)
                    LogMessage("%s: Error recycling buffer\n", "WindowsMidiPort::MidiInCallback");
            }
            break;
        }
        case MIM_ERROR: LogMessage("MIM_ERROR message\n"); break;
        case MOM_OPEN:
        case MOM_CLOSE:
        case MOM_DONE: LogMessage("MOM message (ERROR)\n"); break;
        default: LogMessage("Unknown MIDI IN callback message\n"); break;
    }
}

void CALLBACK WindowsMidiPort::OutputCallback(HMIDIOUT, UINT message, DWORD_PTR, DWORD_PTR, DWORD_PTR) {
    switch (message) {
        case MIM_OPEN:
        case MIM_CLOSE:
        case MIM_DATA:
        case MIM_LONGDATA:
        case MIM_ERROR:
        case MIM_LONGERROR: LogMessage("MIM message\n"); break;
        case MOM_OPEN: LogMessage("MOM open message\n"); break;
        case MOM_CLOSE: LogMessage("MOM close message\n"); break;
        case MOM_DONE: LogMessage("MOM done message (NOT pausing)\n"); break;
        default: LogMessage("Unknown MIDI OUT callback message\n"); break;
    }
}
