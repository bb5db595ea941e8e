#include "MidiPort.h"

#include "Log.h"

void SysExAssembler::AddByte(std::uint8_t b) {
    if (!inMessage) {
        if (b != 0xF0) return;  // outside a message: dropped without a trace
        LogMessage("SOX");
        buffer.clear();
        buffer.push_back(b);
        inMessage = true;
        return;
    }
    // Inside a message every byte is kept as it comes; only F7 ends it.
    buffer.push_back(b);
    if (b == 0xF7) {
        LogMessage("EOX size=%d", static_cast<int>(buffer.size()));
        inMessage = false;
        if (onComplete) onComplete(context);
    } else if (buffer.size() >= maxSize) {
        // No room left for its F7: no reply is this long, so the memory is given back.
        LogMessage("SysEx message over %u bytes dropped\n", static_cast<unsigned>(maxSize));
        std::vector<std::uint8_t>().swap(buffer);
        inMessage = false;
    }
}

void SysExAssembler::AddBytes(const std::uint8_t* data, std::size_t length) {
    for (std::size_t i = 0; i < length; ++i) AddByte(data[i]);
}

namespace {
void DeliverToPort(void* context) { static_cast<MidiPort*>(context)->GotSysEx(); }
}  // namespace

MidiPort::MidiPort() {
    assembler.onComplete = &DeliverToPort;
    assembler.context = this;
}

MidiPort::~MidiPort() = default;

std::vector<std::uint8_t> MidiPort::Query(std::uint32_t, const std::uint8_t*, std::uint32_t) {
    return {};
}

std::vector<std::uint8_t> MidiPort::GetSysEx() {
    std::lock_guard<std::mutex> guard(receivedLock);
    return received;
}

void MidiPort::ClearSysEx() {
    std::lock_guard<std::mutex> guard(receivedLock);
    received.clear();
}

void MidiPort::GotSysEx() {
    std::vector<std::uint8_t> copy = assembler.buffer;
    std::size_t size = copy.size();
    std::string preview = FormatSysExPreview(copy);
    {
        // The lock covers only the replacement, never the logging.
        std::lock_guard<std::mutex> guard(receivedLock);
        received.swap(copy);
    }
    LogMessage("%s: %u bytes %s\n", "MidiPort::GotSysEx", static_cast<unsigned>(size),
               preview.c_str());
}

std::string FormatSysExPreview(const std::vector<std::uint8_t>& message) {
    std::string text = "{";
    std::size_t count = message.size() < 20 ? message.size() : 20;
    for (std::size_t i = 0; i < count; ++i) text += FormatString(" 0x%02x", message[i]);
    text += " }";
    return text;
}
