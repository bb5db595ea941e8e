// Simulated winmm MIDI devices. One lock guards all state; callbacks always run without it, input
// callbacks on a thread per open input handle (as the real services call from a thread of their
// own), output callbacks on the calling thread.

#include "WinmmLayerControl.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <thread>

#include "VirtualDeviceModel.h"

namespace winmm_layer {
namespace {

typedef void(CALLBACK* InProc)(HMIDIIN, UINT, DWORD_PTR, DWORD_PTR, DWORD_PTR);
typedef void(CALLBACK* OutProc)(HMIDIOUT, UINT, DWORD_PTR, DWORD_PTR, DWORD_PTR);

struct Device {
    std::string name;
    bool present = true;
    VirtualDeviceModel* model = nullptr;
    std::vector<Bytes> sent;  // outputs only
};

struct OutHandle {
    int id = 0;
    OutProc callback = nullptr;
    DWORD_PTR instance = 0;
    std::map<MIDIHDR*, unsigned> playing;  // sent headers and the still-playing answers left
};

struct InHandle {
    int id = 0;
    InProc callback = nullptr;
    DWORD_PTR instance = 0;
    bool started = false;
    std::deque<MIDIHDR*> queue;
    std::set<MIDIHDR*> prepared;
    MIDIHDR* firstAdded = nullptr;  // the driver may write to it as long as the handle is open
    // The callback thread and its work.
    std::thread thread;
    std::deque<std::pair<UINT, DWORD_PTR>> posts;
    std::uint64_t posted = 0, done = 0;
    bool quit = false;
};

struct Injection {
    MMRESULT error = 0;
    unsigned after = 0, count = 0;
};

struct Attachment {
    VirtualDeviceModel* model;
    int outputId, inputId;
};

struct State {
    std::mutex lock;
    std::condition_variable changed;
    std::vector<Device> outputs, inputs;
    std::set<OutHandle*> outHandles;
    std::set<InHandle*> inHandles;
    std::vector<Attachment> attachments;
    Injection injections[static_cast<int>(Call::Count)];
    std::atomic<unsigned> slowness[static_cast<int>(Call::Count)] = {};
    unsigned stillPlayingPolls = 0;
    std::function<std::uint64_t()> now;
    std::deque<int> answers;
    std::vector<std::string> questions;
    Stats stats;
};

State& S() {
    // Never destroyed: callback threads may outlive static destruction.
    static State* state = new State();
    return *state;
}

using Lock = std::unique_lock<std::mutex>;

std::uint64_t NowMs(State& s) {
    if (s.now) return s.now();
    return static_cast<std::uint64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                          std::chrono::steady_clock::now().time_since_epoch())
                                          .count());
}

// The pause of a call made slow, taken before the call locks the state.
void Linger(State& s, Call call) {
    if (unsigned us = s.slowness[static_cast<int>(call)].load()) std::this_thread::sleep_for(std::chrono::microseconds(us));
}

// Whether the next call of `call` fails, and with what.
MMRESULT Injected(State& s, Call call) {
    Injection& i = s.injections[static_cast<int>(call)];
    if (i.count == 0) return MMSYSERR_NOERROR;
    if (i.after > 0) {
        --i.after;
        return MMSYSERR_NOERROR;
    }
    --i.count;
    return i.error;
}

bool Present(State& s, const Device& d) { return d.present && (!d.model || d.model->Online(NowMs(s))); }

OutHandle* FindOut(State& s, HMIDIOUT h) {
    OutHandle* p = reinterpret_cast<OutHandle*>(h);
    return s.outHandles.count(p) ? p : nullptr;
}

InHandle* FindIn(State& s, HMIDIIN h) {
    InHandle* p = reinterpret_cast<InHandle*>(h);
    return s.inHandles.count(p) ? p : nullptr;
}

InHandle* OpenInputOf(State& s, int id) {
    for (InHandle* h : s.inHandles)
        if (h->id == id) return h;
    return nullptr;
}

void CallbackThread(InHandle* h) {
    State& s = S();
    Lock lock(s.lock);
    for (;;) {
        s.changed.wait(lock, [&] { return !h->posts.empty() || h->quit; });
        if (h->posts.empty()) break;
        const std::pair<UINT, DWORD_PTR> post = h->posts.front();
        h->posts.pop_front();
        InProc callback = h->callback;
        const DWORD_PTR instance = h->instance;
        lock.unlock();
        if (callback) callback(reinterpret_cast<HMIDIIN>(h), post.first, instance, post.second, 0);
        lock.lock();
        ++h->done;
        ++s.stats.callbacksRun;
        s.changed.notify_all();
    }
}

void Post(State& s, InHandle* h, UINT message, DWORD_PTR param1) {
    h->posts.emplace_back(message, param1);
    ++h->posted;
    s.changed.notify_all();
}

// Waits until the handle's callback thread has run everything posted so far, or until another
// thread has closed the handle meanwhile (then it is gone and never touched again).
void Drain(State& s, Lock& lock, InHandle* h) {
    s.changed.wait(lock, [&] { return s.inHandles.count(h) == 0 || h->done == h->posted; });
}

void EndThread(State& s, Lock& lock, InHandle* h) {
    h->quit = true;
    s.changed.notify_all();
    lock.unlock();
    if (h->thread.joinable()) h->thread.join();
    lock.lock();
}

void ReturnBuffer(State& s, InHandle* h, MIDIHDR* hdr, DWORD recorded) {
    hdr->dwBytesRecorded = recorded;
    hdr->dwFlags = (hdr->dwFlags & ~MHDR_INQUEUE) | MHDR_DONE;
    Post(s, h, MIM_LONGDATA, reinterpret_cast<DWORD_PTR>(hdr));
}

// Fills the handle's queued buffers with `bytes`; a buffer goes back when full or at a message end.
void Deliver(State& s, Lock& lock, int inputId, const Bytes& bytes) {
    std::size_t at = 0;
    while (at < bytes.size()) {
        InHandle* h = OpenInputOf(s, inputId);
        if (!h || !h->started) break;
        if (h->queue.empty()) Drain(s, lock, h);  // the callback may hand buffers back
        h = OpenInputOf(s, inputId);
        if (!h || h->queue.empty()) break;
        MIDIHDR* hdr = h->queue.front();
        h->queue.pop_front();
        DWORD n = 0;
        while (at < bytes.size() && n < hdr->dwBufferLength) {
            const std::uint8_t b = bytes[at++];
            hdr->lpData[n++] = static_cast<char>(b);
            if (b == 0xF7) break;
        }
        ReturnBuffer(s, h, hdr, n);
    }
    s.stats.droppedInputBytes += static_cast<unsigned>(bytes.size() - at);
    if (InHandle* h = OpenInputOf(s, inputId)) Drain(s, lock, h);
}

template <typename Caps>
void FillCaps(Caps* caps, const std::string& name) {
    std::memset(caps, 0, sizeof(Caps));
    caps->wMid = 0xFF;
    std::strncpy(caps->szPname, name.c_str(), sizeof(caps->szPname) - 1);
}

struct ErrorText {
    MMRESULT code;
    const char* text;
};
const ErrorText kErrorTexts[] = {
    {MMSYSERR_NOERROR, "The specified command was carried out."},
    {MMSYSERR_ERROR, "Undefined external error."},
    {MMSYSERR_BADDEVICEID, "A device ID has been used that is out of range for your system."},
    {MMSYSERR_ALLOCATED, "The specified device is already in use.  Wait until it is free, and then try again."},
    {MMSYSERR_INVALHANDLE, "The specified device handle is invalid."},
    {MMSYSERR_NODRIVER, "There is no driver installed on your system."},
    {MMSYSERR_NOMEM, "There is not enough memory available for this task."},
    {MMSYSERR_INVALFLAG, "An invalid flag was passed to a system function."},
    {MMSYSERR_INVALPARAM, "An invalid parameter was passed to a system function."},
    {MIDIERR_UNPREPARED, "The MIDI header was not prepared."},
    {MIDIERR_STILLPLAYING, "Cannot perform this operation while media data is still playing."},
    {MIDIERR_NOTREADY, "The MIDI device is busy."},
};

}  // namespace

void Reset() {
    State& s = S();
    Lock lock(s.lock);
    while (!s.inHandles.empty()) {
        InHandle* h = *s.inHandles.begin();
        s.inHandles.erase(h);
        EndThread(s, lock, h);
        delete h;
    }
    for (OutHandle* h : s.outHandles) delete h;
    s.outHandles.clear();
    s.outputs.clear();
    s.inputs.clear();
    s.attachments.clear();
    for (Injection& i : s.injections) i = Injection();
    for (std::atomic<unsigned>& slow : s.slowness) slow = 0;
    s.stillPlayingPolls = 0;
    s.answers.clear();
    s.questions.clear();
    s.stats = Stats();
}

void SetTimeSource(std::function<std::uint64_t()> nowMs) {
    State& s = S();
    Lock lock(s.lock);
    s.now = std::move(nowMs);
}

int AddOutput(const std::string& name) {
    State& s = S();
    Lock lock(s.lock);
    s.outputs.push_back({name, true, nullptr, {}});
    return static_cast<int>(s.outputs.size() - 1);
}

int AddInput(const std::string& name) {
    State& s = S();
    Lock lock(s.lock);
    s.inputs.push_back({name, true, nullptr, {}});
    return static_cast<int>(s.inputs.size() - 1);
}

void SetOutputPresent(int id, bool present) {
    State& s = S();
    Lock lock(s.lock);
    s.outputs.at(static_cast<std::size_t>(id)).present = present;
}

void SetInputPresent(int id, bool present) {
    State& s = S();
    Lock lock(s.lock);
    s.inputs.at(static_cast<std::size_t>(id)).present = present;
}

void AttachModel(VirtualDeviceModel* model, int outputId, int inputId) {
    State& s = S();
    Lock lock(s.lock);
    s.outputs.at(static_cast<std::size_t>(outputId)).model = model;
    s.inputs.at(static_cast<std::size_t>(inputId)).model = model;
    s.attachments.push_back({model, outputId, inputId});
}

void SetStillPlayingPolls(unsigned polls) {
    State& s = S();
    Lock lock(s.lock);
    s.stillPlayingPolls = polls;
}

void FailCall(Call call, MMRESULT error, unsigned after, unsigned count) {
    State& s = S();
    Lock lock(s.lock);
    s.injections[static_cast<int>(call)] = {error, after, count};
}

void SlowCall(Call call, unsigned microseconds) { S().slowness[static_cast<int>(call)] = microseconds; }

void DeliverDue() {
    State& s = S();
    Lock lock(s.lock);
    const std::uint64_t now = NowMs(s);
    const std::vector<Attachment> attachments = s.attachments;
    for (const Attachment& a : attachments)
        for (const Bytes& message : a.model->TakeDue(now)) Deliver(s, lock, a.inputId, message);
}

void InjectInput(int inputId, const Bytes& bytes) {
    State& s = S();
    Lock lock(s.lock);
    Deliver(s, lock, inputId, bytes);
}

void ReturnEmptyBuffer(int inputId) {
    State& s = S();
    Lock lock(s.lock);
    InHandle* h = OpenInputOf(s, inputId);
    if (!h || h->queue.empty()) return;
    MIDIHDR* hdr = h->queue.front();
    h->queue.pop_front();
    ReturnBuffer(s, h, hdr, 0);
    Drain(s, lock, h);
}

void LateInput(int inputId, const Bytes& bytes) {
    State& s = S();
    Lock lock(s.lock);
    InHandle* h = OpenInputOf(s, inputId);
    if (!h || !h->firstAdded) return;
    MIDIHDR* hdr = h->firstAdded;
    h->queue.erase(std::remove(h->queue.begin(), h->queue.end(), hdr), h->queue.end());
    DWORD n = 0;
    while (n < bytes.size() && n < hdr->dwBufferLength) {
        hdr->lpData[n] = static_cast<char>(bytes[n]);
        ++n;
    }
    ReturnBuffer(s, h, hdr, n);
    Drain(s, lock, h);
}

void InjectMessage(int inputId, UINT message, DWORD_PTR param1) {
    State& s = S();
    Lock lock(s.lock);
    InHandle* h = OpenInputOf(s, inputId);
    if (!h) return;
    Post(s, h, message, param1);
    Drain(s, lock, h);
}

std::vector<Bytes> SentOn(int outputId) {
    State& s = S();
    Lock lock(s.lock);
    return s.outputs.at(static_cast<std::size_t>(outputId)).sent;
}

Stats GetStats() {
    State& s = S();
    Lock lock(s.lock);
    Stats stats = s.stats;
    stats.openOutHandles = static_cast<unsigned>(s.outHandles.size());
    stats.openInHandles = static_cast<unsigned>(s.inHandles.size());
    for (InHandle* h : s.inHandles) {
        stats.queuedInBuffers += static_cast<unsigned>(h->queue.size());
        stats.preparedInHeaders += static_cast<unsigned>(h->prepared.size());
    }
    return stats;
}

void QueueMessageBoxAnswers(const std::vector<int>& answers) {
    State& s = S();
    Lock lock(s.lock);
    s.answers.insert(s.answers.end(), answers.begin(), answers.end());
}

std::vector<std::string> MessageBoxTexts() {
    State& s = S();
    Lock lock(s.lock);
    return s.questions;
}

}  // namespace winmm_layer

using namespace winmm_layer;

// --- output ------------------------------------------------------------------------------------

UINT WINAPI midiOutGetNumDevs(void) {
    State& s = S();
    Lock lock(s.lock);
    return static_cast<UINT>(s.outputs.size());
}

MMRESULT WINAPI midiOutGetDevCapsA(UINT_PTR uDeviceID, LPMIDIOUTCAPSA pmoc, UINT cbmoc) {
    State& s = S();
    Lock lock(s.lock);
    if (!pmoc || cbmoc < sizeof(MIDIOUTCAPSA)) return MMSYSERR_INVALPARAM;
    // An open handle in place of an id asks about the device behind it.
    if (OutHandle* h = FindOut(s, reinterpret_cast<HMIDIOUT>(uDeviceID))) {
        const Device& d = s.outputs[static_cast<std::size_t>(h->id)];
        if (!Present(s, d)) return MMSYSERR_NODRIVER;
        FillCaps(pmoc, d.name);
        return MMSYSERR_NOERROR;
    }
    if (uDeviceID >= s.outputs.size() || !Present(s, s.outputs[uDeviceID])) return MMSYSERR_BADDEVICEID;
    FillCaps(pmoc, s.outputs[uDeviceID].name);
    return MMSYSERR_NOERROR;
}

MMRESULT WINAPI midiOutOpen(LPHMIDIOUT phmo, UINT uDeviceID, DWORD_PTR dwCallback, DWORD_PTR dwInstance,
                            DWORD fdwOpen) {
    State& s = S();
    Lock lock(s.lock);
    if (!phmo) return MMSYSERR_INVALPARAM;
    *phmo = nullptr;
    if (MMRESULT e = Injected(s, Call::OutOpen)) return e;
    if (uDeviceID >= s.outputs.size() || !Present(s, s.outputs[uDeviceID])) return MMSYSERR_BADDEVICEID;
    for (OutHandle* other : s.outHandles)
        if (other->id == static_cast<int>(uDeviceID)) return MMSYSERR_ALLOCATED;
    OutHandle* h = new OutHandle();
    h->id = static_cast<int>(uDeviceID);
    if ((fdwOpen & CALLBACK_FUNCTION) == CALLBACK_FUNCTION) h->callback = reinterpret_cast<OutProc>(dwCallback);
    h->instance = dwInstance;
    s.outHandles.insert(h);
    ++s.stats.outOpens;
    *phmo = reinterpret_cast<HMIDIOUT>(h);
    const OutProc callback = h->callback;
    lock.unlock();
    if (callback) callback(*phmo, MOM_OPEN, dwInstance, 0, 0);
    return MMSYSERR_NOERROR;
}

MMRESULT WINAPI midiOutPrepareHeader(HMIDIOUT hmo, LPMIDIHDR pmh, UINT cbmh) {
    State& s = S();
    Lock lock(s.lock);
    if (!FindOut(s, hmo)) return MMSYSERR_INVALHANDLE;
    if (!pmh || cbmh < sizeof(MIDIHDR) || !pmh->lpData) return MMSYSERR_INVALPARAM;
    if (MMRESULT e = Injected(s, Call::OutPrepare)) return e;
    pmh->dwFlags |= MHDR_PREPARED;
    return MMSYSERR_NOERROR;
}

MMRESULT WINAPI midiOutLongMsg(HMIDIOUT hmo, LPMIDIHDR pmh, UINT cbmh) {
    State& s = S();
    Lock lock(s.lock);
    OutHandle* h = FindOut(s, hmo);
    if (!h) return MMSYSERR_INVALHANDLE;
    if (!pmh || cbmh < sizeof(MIDIHDR)) return MMSYSERR_INVALPARAM;
    if (!(pmh->dwFlags & MHDR_PREPARED)) return MIDIERR_UNPREPARED;
    if (MMRESULT e = Injected(s, Call::LongMsg)) return e;
    Device& d = s.outputs[static_cast<std::size_t>(h->id)];
    if (!Present(s, d)) {
        if (d.model) d.model->SendLost();
        return MMSYSERR_NODRIVER;
    }
    const auto* data = reinterpret_cast<const std::uint8_t*>(pmh->lpData);
    d.sent.emplace_back(data, data + pmh->dwBufferLength);
    if (d.model) d.model->Receive(data, pmh->dwBufferLength, NowMs(s));
    ++s.stats.longMessages;
    h->playing[pmh] = s.stillPlayingPolls;
    pmh->dwFlags = (pmh->dwFlags & ~MHDR_DONE) | MHDR_INQUEUE;
    return MMSYSERR_NOERROR;
}

MMRESULT WINAPI midiOutUnprepareHeader(HMIDIOUT hmo, LPMIDIHDR pmh, UINT cbmh) {
    State& s = S();
    Lock lock(s.lock);
    OutHandle* h = FindOut(s, hmo);
    if (!h) return MMSYSERR_INVALHANDLE;
    if (!pmh || cbmh < sizeof(MIDIHDR)) return MMSYSERR_INVALPARAM;
    if (MMRESULT e = Injected(s, Call::OutUnprepare)) return e;
    auto playing = h->playing.find(pmh);
    if (playing != h->playing.end()) {
        if (playing->second > 0) {
            --playing->second;
            ++s.stats.stillPlayingAnswers;
            return MIDIERR_STILLPLAYING;
        }
        h->playing.erase(playing);
        pmh->dwFlags = (pmh->dwFlags & ~MHDR_INQUEUE) | MHDR_DONE;
        const OutProc callback = h->callback;
        const DWORD_PTR instance = h->instance;
        lock.unlock();
        if (callback) callback(hmo, MOM_DONE, instance, reinterpret_cast<DWORD_PTR>(pmh), 0);
        lock.lock();
    }
    pmh->dwFlags &= ~MHDR_PREPARED;
    return MMSYSERR_NOERROR;
}

MMRESULT WINAPI midiOutReset(HMIDIOUT hmo) {
    State& s = S();
    Lock lock(s.lock);
    OutHandle* h = FindOut(s, hmo);
    if (!h) return MMSYSERR_INVALHANDLE;
    // The headers are not touched: a caller whose unprepare failed may have let go of one already.
    h->playing.clear();
    ++s.stats.outResets;
    // As the system's own reset does, All Sound Off and sustain off go out on every channel, as
    // short messages (not among the long messages the device records): an instrument behind the
    // device receives them.
    Device& d = s.outputs[static_cast<std::size_t>(h->id)];
    if (d.model && Present(s, d)) {
        const std::uint64_t now = NowMs(s);
        for (unsigned channel = 0; channel < 16; ++channel) {
            const std::uint8_t status = static_cast<std::uint8_t>(0xB0 | channel);
            const std::uint8_t allSoundOff[3] = {status, 0x78, 0x00};
            const std::uint8_t sustainOff[3] = {status, 0x40, 0x00};
            d.model->Receive(allSoundOff, sizeof allSoundOff, now);
            d.model->Receive(sustainOff, sizeof sustainOff, now);
        }
    }
    return MMSYSERR_NOERROR;
}

MMRESULT WINAPI midiOutClose(HMIDIOUT hmo) {
    State& s = S();
    Lock lock(s.lock);
    OutHandle* h = FindOut(s, hmo);
    if (!h) return MMSYSERR_INVALHANDLE;
    if (!h->playing.empty()) return MIDIERR_STILLPLAYING;
    // The host has let go of the device after its last status: now it may restart.
    VirtualDeviceModel* model = s.outputs[static_cast<std::size_t>(h->id)].model;
    if (model && model->RebootPending()) model->StartReboot(NowMs(s));
    s.outHandles.erase(h);
    ++s.stats.outCloses;
    const OutProc callback = h->callback;
    const DWORD_PTR instance = h->instance;
    lock.unlock();
    if (callback) callback(hmo, MOM_CLOSE, instance, 0, 0);
    delete h;
    return MMSYSERR_NOERROR;
}

// --- input -------------------------------------------------------------------------------------

UINT WINAPI midiInGetNumDevs(void) {
    State& s = S();
    Lock lock(s.lock);
    return static_cast<UINT>(s.inputs.size());
}

MMRESULT WINAPI midiInGetDevCapsA(UINT_PTR uDeviceID, LPMIDIINCAPSA pmic, UINT cbmic) {
    State& s = S();
    Lock lock(s.lock);
    if (!pmic || cbmic < sizeof(MIDIINCAPSA)) return MMSYSERR_INVALPARAM;
    if (InHandle* h = FindIn(s, reinterpret_cast<HMIDIIN>(uDeviceID))) {
        const Device& d = s.inputs[static_cast<std::size_t>(h->id)];
        if (!Present(s, d)) return MMSYSERR_NODRIVER;
        FillCaps(pmic, d.name);
        return MMSYSERR_NOERROR;
    }
    if (uDeviceID >= s.inputs.size() || !Present(s, s.inputs[uDeviceID])) return MMSYSERR_BADDEVICEID;
    FillCaps(pmic, s.inputs[uDeviceID].name);
    return MMSYSERR_NOERROR;
}

MMRESULT WINAPI midiInOpen(LPHMIDIIN phmi, UINT uDeviceID, DWORD_PTR dwCallback, DWORD_PTR dwInstance,
                           DWORD fdwOpen) {
    State& s = S();
    Lock lock(s.lock);
    if (!phmi) return MMSYSERR_INVALPARAM;
    *phmi = nullptr;
    if (MMRESULT e = Injected(s, Call::InOpen)) return e;
    if (uDeviceID >= s.inputs.size() || !Present(s, s.inputs[uDeviceID])) return MMSYSERR_BADDEVICEID;
    if (OpenInputOf(s, static_cast<int>(uDeviceID))) return MMSYSERR_ALLOCATED;
    InHandle* h = new InHandle();
    h->id = static_cast<int>(uDeviceID);
    if ((fdwOpen & CALLBACK_FUNCTION) == CALLBACK_FUNCTION) h->callback = reinterpret_cast<InProc>(dwCallback);
    h->instance = dwInstance;
    s.inHandles.insert(h);
    ++s.stats.inOpens;
    h->thread = std::thread(CallbackThread, h);
    *phmi = reinterpret_cast<HMIDIIN>(h);
    Post(s, h, MIM_OPEN, 0);
    Drain(s, lock, h);
    return MMSYSERR_NOERROR;
}

MMRESULT WINAPI midiInPrepareHeader(HMIDIIN hmi, LPMIDIHDR pmh, UINT cbmh) {
    State& s = S();
    Linger(s, Call::InPrepare);
    Lock lock(s.lock);
    InHandle* h = FindIn(s, hmi);
    if (!h) return MMSYSERR_INVALHANDLE;
    if (!pmh || cbmh < sizeof(MIDIHDR) || !pmh->lpData) return MMSYSERR_INVALPARAM;
    if (MMRESULT e = Injected(s, Call::InPrepare)) return e;
    pmh->dwFlags |= MHDR_PREPARED;
    h->prepared.insert(pmh);
    return MMSYSERR_NOERROR;
}

MMRESULT WINAPI midiInUnprepareHeader(HMIDIIN hmi, LPMIDIHDR pmh, UINT cbmh) {
    State& s = S();
    Lock lock(s.lock);
    InHandle* h = FindIn(s, hmi);
    if (!h) return MMSYSERR_INVALHANDLE;
    if (!pmh || cbmh < sizeof(MIDIHDR)) return MMSYSERR_INVALPARAM;
    if (MMRESULT e = Injected(s, Call::InUnprepare)) return e;
    if (pmh->dwFlags & MHDR_INQUEUE) return MIDIERR_STILLPLAYING;
    pmh->dwFlags &= ~MHDR_PREPARED;
    h->prepared.erase(pmh);
    return MMSYSERR_NOERROR;
}

MMRESULT WINAPI midiInAddBuffer(HMIDIIN hmi, LPMIDIHDR pmh, UINT cbmh) {
    State& s = S();
    Lock lock(s.lock);
    InHandle* h = FindIn(s, hmi);
    if (!h) return MMSYSERR_INVALHANDLE;
    if (!pmh || cbmh < sizeof(MIDIHDR)) return MMSYSERR_INVALPARAM;
    if (MMRESULT e = Injected(s, Call::InAddBuffer)) return e;
    if (!(pmh->dwFlags & MHDR_PREPARED)) return MIDIERR_UNPREPARED;
    if (pmh->dwFlags & MHDR_INQUEUE) return MIDIERR_STILLPLAYING;
    pmh->dwFlags = (pmh->dwFlags & ~MHDR_DONE) | MHDR_INQUEUE;
    pmh->dwBytesRecorded = 0;
    h->queue.push_back(pmh);
    if (!h->firstAdded) h->firstAdded = pmh;
    return MMSYSERR_NOERROR;
}

MMRESULT WINAPI midiInStart(HMIDIIN hmi) {
    State& s = S();
    Lock lock(s.lock);
    InHandle* h = FindIn(s, hmi);
    if (!h) return MMSYSERR_INVALHANDLE;
    if (MMRESULT e = Injected(s, Call::InStart)) return e;
    h->started = true;
    return MMSYSERR_NOERROR;
}

MMRESULT WINAPI midiInStop(HMIDIIN hmi) {
    State& s = S();
    Lock lock(s.lock);
    InHandle* h = FindIn(s, hmi);
    if (!h) return MMSYSERR_INVALHANDLE;
    h->started = false;
    return MMSYSERR_NOERROR;
}

MMRESULT WINAPI midiInReset(HMIDIIN hmi) {
    State& s = S();
    Lock lock(s.lock);
    InHandle* h = FindIn(s, hmi);
    if (!h) return MMSYSERR_INVALHANDLE;
    if (MMRESULT e = Injected(s, Call::InReset)) return e;
    h->started = false;
    ++s.stats.inResets;
    // Every queued buffer comes back through the callback before reset returns.
    while (!h->queue.empty()) {
        MIDIHDR* hdr = h->queue.front();
        h->queue.pop_front();
        ReturnBuffer(s, h, hdr, 0);
    }
    Drain(s, lock, h);
    return MMSYSERR_NOERROR;
}

MMRESULT WINAPI midiInClose(HMIDIIN hmi) {
    State& s = S();
    Lock lock(s.lock);
    InHandle* h = FindIn(s, hmi);
    if (!h) return MMSYSERR_INVALHANDLE;
    if (MMRESULT e = Injected(s, Call::InClose)) return e;
    if (!h->queue.empty()) {
        ++s.stats.closeRefusals;
        return MIDIERR_STILLPLAYING;
    }
    Post(s, h, MIM_CLOSE, 0);
    Drain(s, lock, h);
    s.inHandles.erase(h);
    ++s.stats.inCloses;
    EndThread(s, lock, h);
    delete h;
    return MMSYSERR_NOERROR;
}

MMRESULT WINAPI midiInGetErrorTextA(MMRESULT mmrError, LPSTR pszText, UINT cchText) {
    if (!pszText || cchText == 0) return MMSYSERR_INVALPARAM;
    for (const ErrorText& e : kErrorTexts) {
        if (e.code != mmrError) continue;
        std::strncpy(pszText, e.text, cchText - 1);
        pszText[cchText - 1] = '\0';
        return MMSYSERR_NOERROR;
    }
    return MMSYSERR_BADERRNUM;
}

MMRESULT WINAPI timeBeginPeriod(UINT uPeriod) {
    State& s = S();
    Lock lock(s.lock);
    if (uPeriod == 0) return TIMERR_NOCANDO;
    ++s.stats.timerPeriods;
    if (s.stats.finestTimerPeriod == 0 || uPeriod < s.stats.finestTimerPeriod) s.stats.finestTimerPeriod = uPeriod;
    return TIMERR_NOERROR;
}

MMRESULT WINAPI timeEndPeriod(UINT uPeriod) {
    State& s = S();
    Lock lock(s.lock);
    if (uPeriod == 0 || s.stats.timerPeriods == 0) return TIMERR_NOCANDO;
    --s.stats.timerPeriods;
    return TIMERR_NOERROR;
}

int WINAPI MessageBoxA(HWND, LPCSTR lpText, LPCSTR, UINT) {
    State& s = S();
    Lock lock(s.lock);
    s.questions.emplace_back(lpText ? lpText : "");
    if (s.answers.empty()) return IDNO;
    const int answer = s.answers.front();
    s.answers.pop_front();
    return answer;
}
