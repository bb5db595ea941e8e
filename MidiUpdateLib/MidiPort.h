#pragma once
// The abstract MIDI port the update logic talks through, and the reassembly of incoming SysEx.

#include <cstddef>
#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

// The longest message the assembler keeps, F0 and F7 included: far above any reply a device sends
// (13-byte statuses, Identity Replies of a few dozen bytes). A device that streams bytes without
// ever ending its message would otherwise grow the buffer without limit.
constexpr std::size_t kMaxAssembledSysEx = std::size_t{1} << 20;

// Cuts incoming bytes into complete SysEx messages (F0 up to the next F7). Touched only by the
// thread that delivers input. A message that reaches `maxSize` bytes without its F7 is dropped, and
// the bytes after it are ignored up to the next F0.
struct SysExAssembler {
    bool inMessage = false;
    std::vector<std::uint8_t> buffer;  // the message being assembled, from its F0
    void (*onComplete)(void* context) = nullptr;
    void* context = nullptr;
    std::size_t maxSize = kMaxAssembledSysEx;  // longest message kept, F0 and F7 included

    void AddByte(std::uint8_t b);
    void AddBytes(const std::uint8_t* data, std::size_t length);
};

class MidiPort {
public:
    MidiPort();
    virtual ~MidiPort();
    MidiPort(const MidiPort&) = delete;
    MidiPort& operator=(const MidiPort&) = delete;

    virtual std::int32_t GetIdealChunkSize() = 0;
    virtual std::int32_t GetMaxChunkSize() = 0;
    // Whether chunks end only at message ends (the port's `wholeMessages` setting).
    virtual bool SendsWholeMessages() { return false; }
    // True when the port can send now; an implementation may try to connect first.
    virtual bool IsConnected() = 0;
    virtual void AskForPort() {}
    // Closes the port; it can be used again afterwards.
    virtual void Disconnect() = 0;
    // Hands the bytes to the device; a failure is only logged.
    virtual void Send(const std::uint8_t* data, std::uint32_t length) = 0;
    virtual void Reconnect() {}
    // Asks for the reply to `request`, waiting up to `limit` ms where the port can wait. The base
    // returns an empty vector.
    virtual std::vector<std::uint8_t> Query(std::uint32_t limit, const std::uint8_t* request,
                                            std::uint32_t length);
    // A copy of the most recent complete message received, or empty. Reading does not remove it.
    virtual std::vector<std::uint8_t> GetSysEx();
    // Forgets the stored message.
    virtual void ClearSysEx();

    // The names of the output and input ports open now, as the system lists them: "" for a side
    // that is closed, and from a port that does not tell.
    virtual std::string OpenOutputName() const { return {}; }
    virtual std::string OpenInputName() const { return {}; }

    // Called through the assembler when a message is complete: replaces the stored message.
    void GotSysEx();

    // How many chunks this port could not hand over since it was made. Send has no result, so an
    // update run compares this count before and after to learn that data never left. A port that
    // wraps another gives the count of the port inside.
    virtual std::uint32_t SendFailures() const { return sendFailures.load(); }

protected:
    // A port calls this when the operating system refused a chunk, or it had no device to send to.
    void NoteSendFailure() { ++sendFailures; }

    SysExAssembler assembler;

private:
    // Shared between the delivering thread and the caller; held only for a copy or replacement.
    std::mutex receivedLock;
    std::vector<std::uint8_t> received;
    std::atomic<std::uint32_t> sendFailures{0};
};

// "{ 0xf0 0x7e ... }" with at most the first 20 bytes.
std::string FormatSysExPreview(const std::vector<std::uint8_t>& message);
