// The SysEx reassembly fed an arbitrary byte stream in arbitrary pieces. Whatever the pieces, the
// same messages complete as when the stream arrives whole; every message stored begins with F0,
// ends with F7 and holds no other F7; the message being assembled never grows past the cap.
//
// Input: one byte of options (top bit: a small cap from the low six bits; next bit: the store is
// cleared after every piece), a count of cut points and the cuts, then the stream.

#include <cstdint>
#include <vector>

#include "FuzzSupport.h"
#include "MidiPort.h"
#include "TestSupport.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

// The tests' port that never answers, whose reception is the base class's own, with a cap.
class BarePort : public QuietPort {
public:
    explicit BarePort(std::size_t cap) { assembler.maxSize = cap; }
    void Feed(const std::uint8_t* data, std::size_t length) {
        QuietPort::Feed(Bytes(data, data + length));
        FUZZ_REQUIRE(assembler.buffer.size() <= assembler.maxSize);
    }
};

struct Collector {
    SysExAssembler assembler;
    std::vector<Bytes> messages;
    explicit Collector(std::size_t cap) {
        assembler.maxSize = cap;
        assembler.context = this;
        assembler.onComplete = [](void* context) {
            Collector* self = static_cast<Collector*>(context);
            self->messages.push_back(self->assembler.buffer);
        };
    }
};

void CheckMessage(const Bytes& m, std::size_t cap) {
    FUZZ_REQUIRE(m.size() >= 2 && m.size() <= cap);
    FUZZ_REQUIRE(m.front() == 0xF0 && m.back() == 0xF7);
    for (std::size_t i = 0; i + 1 < m.size(); ++i) FUZZ_REQUIRE(m[i] != 0xF7);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 2) return 0;
    const std::uint8_t options = data[0];
    std::size_t cutCount = data[1] % 16;
    std::size_t at = 2;
    std::vector<std::size_t> pieces;
    for (; cutCount > 0 && at < size; --cutCount) pieces.push_back(data[at++]);
    Bytes stream(data + at, data + size);
    // With the top bit set, a small cap, so that messages longer than it are tried at every length.
    const std::size_t cap = (options & 0x80) ? 2u + (options & 0x3F) : kMaxAssembledSysEx;

    Collector whole(cap);
    whole.assembler.AddBytes(stream.data(), stream.size());
    for (const Bytes& m : whole.messages) CheckMessage(m, cap);

    // The same stream in pieces: the cut lengths repeat until the stream is used up.
    Collector cut(cap);
    BarePort port(cap);
    std::size_t done = 0;
    std::size_t piece = 0;
    while (done < stream.size()) {
        std::size_t length = pieces.empty() ? stream.size() : pieces[piece++ % pieces.size()] + 1;
        if (length > stream.size() - done) length = stream.size() - done;
        const std::size_t completedBefore = cut.messages.size();
        cut.assembler.AddBytes(stream.data() + done, length);
        port.Feed(stream.data() + done, length);
        done += length;
        FUZZ_REQUIRE(cut.assembler.buffer.size() <= cap);
        // The store holds the newest message, or nothing when none completed since it was cleared.
        const Bytes stored = port.GetSysEx();
        const bool cleared = (options & 0x40) != 0;
        if (cut.messages.size() == completedBefore && (cleared || cut.messages.empty())) {
            FUZZ_REQUIRE(stored.empty());
        } else {
            CheckMessage(stored, cap);
            FUZZ_REQUIRE(stored == cut.messages.back());
        }
        if (cleared) port.ClearSysEx();
    }
    FUZZ_REQUIRE(cut.messages == whole.messages);
    return 0;
}
