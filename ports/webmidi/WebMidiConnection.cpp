#include "WebMidiConnection.h"

#include <emscripten.h>

#include <algorithm>

#include "TextEncoding.h"

// The page's side is `Module.webMidi`, an object of page/webmidi.js; without it (no MIDI access)
// there are no ports. Each name goes as its UTF-8 length (4 bytes, little-endian) and its bytes,
// whole: a name may hold zero bytes or line breaks. Returns the bytes the list needs; it is
// written only when they fit in `capacity`.
EM_JS(int, web_midi_names, (int outputs, unsigned char* buffer, int capacity), {
    const midi = Module.webMidi;
    const names = midi ? (outputs ? midi.outputNames() : midi.inputNames()) : [];
    const encoded = names.map((name) => new TextEncoder().encode(name));
    const needed = encoded.reduce((sum, bytes) => sum + 4 + bytes.length, 0);
    if (needed > capacity) return needed;
    let at = buffer;
    for (const bytes of encoded) {
        for (let k = 0; k < 4; k++) HEAPU8[at + k] = (bytes.length >>> (8 * k)) & 0xFF;
        HEAPU8.set(bytes, at + 4);
        at += 4 + bytes.length;
    }
    return needed;
});
EM_JS(int, web_midi_open, (int output, int index), {
    return Module.webMidi && Module.webMidi.open(!!output, index) ? 1 : 0;
});
EM_JS(void, web_midi_close, (int output), {
    if (Module.webMidi) Module.webMidi.close(!!output);
});
EM_JS(int, web_midi_send, (const unsigned char* data, int length), {
    return Module.webMidi && Module.webMidi.send(HEAPU8.slice(data, data + length)) ? 1 : 0;
});
// Copies up to `capacity` bytes of the oldest message that arrived (the rest of a longer one comes
// at the next call); 0 when nothing waits.
EM_JS(int, web_midi_take, (unsigned char* buffer, int capacity), {
    const bytes = Module.webMidi ? Module.webMidi.take(capacity) : null;
    if (!bytes) return 0;
    HEAPU8.set(bytes, buffer);
    return bytes.length;
});

namespace {

std::vector<std::string> Names(bool outputs) {
    std::vector<unsigned char> buffer(1024);
    int needed = web_midi_names(outputs ? 1 : 0, buffer.data(), static_cast<int>(buffer.size()));
    if (needed > static_cast<int>(buffer.size())) {
        buffer.resize(static_cast<std::size_t>(needed));
        needed = web_midi_names(outputs ? 1 : 0, buffer.data(), needed);
    }
    std::vector<std::string> names;
    const std::size_t end = std::min(buffer.size(), static_cast<std::size_t>(std::max(needed, 0)));
    for (std::size_t at = 0; at + 4 <= end;) {
        const std::size_t length = buffer[at] | buffer[at + 1] << 8 | buffer[at + 2] << 16 |
                                   static_cast<std::size_t>(buffer[at + 3]) << 24;
        at += 4;
        if (length > end - at) break;
        const std::string utf8(reinterpret_cast<const char*>(buffer.data() + at), length);
        at += length;
        std::string cp1252, error;
        names.push_back(Utf8ToCp1252(utf8, cp1252, error) ? cp1252 : utf8);
    }
    return names;
}

}  // namespace

WebMidiConnection::~WebMidiConnection() {
    CloseInput();
    CloseOutput();
}

std::vector<std::string> WebMidiConnection::OutputNames() { return Names(true); }
std::vector<std::string> WebMidiConnection::InputNames() { return Names(false); }

bool WebMidiConnection::OpenOutput(unsigned index) {
    CloseOutput();
    outputOpen = web_midi_open(1, static_cast<int>(index)) != 0;
    return outputOpen;
}

bool WebMidiConnection::OpenInput(unsigned index, MidiInputHandler& inputHandler) {
    CloseInput();
    if (web_midi_open(0, static_cast<int>(index)) == 0) return false;
    handler = &inputHandler;
    return true;
}

void WebMidiConnection::CloseOutput() {
    if (outputOpen) web_midi_close(1);
    outputOpen = false;
}

void WebMidiConnection::CloseInput() {
    if (handler) web_midi_close(0);
    handler = nullptr;
}

bool WebMidiConnection::SendMessage(const std::uint8_t* data, std::size_t length) {
    if (!outputOpen || web_midi_send(data, static_cast<int>(length)) == 0) return false;
    if (onSent) onSent();
    return true;
}

TransportLimits WebMidiConnection::Limits() const {
    TransportLimits limits;
    // The browser takes a whole message in one call and queues it itself, so the only pauses are
    // those the update prescribes. It refuses a part of a message and running status: the port
    // hands over whole messages, never cut, and the end of a chunk inside a message waits for the
    // rest of it.
    limits.maxPieceBytes = 0;
    limits.queueBytes = 0;
    limits.drainBytesPerMs = 0;
    limits.wholeMessages = true;
    return limits;
}

void WebMidiConnection::DeliverInput() {
    std::uint8_t buffer[4096];
    for (;;) {
        const int length = web_midi_take(buffer, static_cast<int>(sizeof buffer));
        if (length <= 0) return;
        // A message longer than the buffer arrives in pieces: only its first starts with F0.
        if (handler) handler->OnMidiInput(buffer, static_cast<std::size_t>(length));
    }
}
