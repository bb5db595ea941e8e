#pragma once
// The test side of the simulated winmm: which devices exist, what they do, which calls fail, and
// what reached them. Everything here is shared by the whole process, like the real services.

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "WinmmLayer.h"

class VirtualDeviceModel;

namespace winmm_layer {

using Bytes = std::vector<std::uint8_t>;

// Calls whose failure can be injected.
enum class Call {
    OutOpen, OutPrepare, LongMsg, OutUnprepare,
    InOpen, InPrepare, InAddBuffer, InStart, InUnprepare, InReset, InClose,
    Count
};

// Forgets every device, failure and record. Handles still open are closed first (their callback
// threads end), so one test cannot reach into the next.
void Reset();

// Where the layer reads the time (milliseconds) for its devices; the steady clock by default.
void SetTimeSource(std::function<std::uint64_t()> nowMs);

// Adds a device and returns its id. Ids count from 0 per direction, in order of adding.
int AddOutput(const std::string& name);
int AddInput(const std::string& name);
// A device that is not present cannot report its capabilities, cannot be opened, and an open
// handle to it fails its sends and its presence test, until it is present again.
void SetOutputPresent(int id, bool present);
void SetInputPresent(int id, bool present);

// Puts an instrument behind an output and an input device: what the output sends reaches
// `model` (long messages, and the channel messages of a reset), what the model sends back arrives
// on the input (at DeliverDue), while the model is offline both devices are absent, and closing
// the output after its last status lets it reboot.
void AttachModel(VirtualDeviceModel* model, int outputId, int inputId);

// How many times unpreparing a sent long message answers MIDIERR_STILLPLAYING first.
void SetStillPlayingPolls(unsigned polls);

// The next calls of `call` fail with `error`: after `after` more successful ones, `count` times.
void FailCall(Call call, MMRESULT error, unsigned after = 0, unsigned count = 1);

// Every later call of `call` takes this long before it does anything, as a busy driver may: races
// between the caller and the callback thread show up within a few rounds instead of never.
void SlowCall(Call call, unsigned microseconds);

// Delivers what attached models have sent by now to the open, started input handles, on each
// handle's callback thread, and returns when the callbacks have run.
void DeliverDue();
// Delivers raw bytes on an input device as if the instrument sent them (filling queued buffers,
// each returned when full or when a message ends), and waits for the callbacks.
void InjectInput(int inputId, const Bytes& bytes);
// Hands the first queued buffer of the device's open handle back with no bytes recorded.
void ReturnEmptyBuffer(int inputId);
// As a driver that has refused to close may still do: writes the bytes into the first buffer ever
// added on the device's open handle, whether queued or not, and hands it back through the callback.
void LateInput(int inputId, const Bytes& bytes);
// Sends one bare callback message (such as MIM_DATA or MIM_MOREDATA) to the device's open handle.
void InjectMessage(int inputId, UINT message, DWORD_PTR param1 = 0);

// Every long message that reached an output device, in order.
std::vector<Bytes> SentOn(int outputId);

struct Stats {
    unsigned outOpens = 0, outCloses = 0;
    unsigned inOpens = 0, inCloses = 0;
    unsigned openOutHandles = 0, openInHandles = 0;
    unsigned queuedInBuffers = 0;      // over all open input handles
    unsigned preparedInHeaders = 0;    // prepared on input handles and not unprepared
    unsigned inResets = 0, outResets = 0;
    unsigned longMessages = 0;         // handed over successfully
    unsigned stillPlayingAnswers = 0;
    unsigned closeRefusals = 0;        // input closes refused because buffers were still queued
    unsigned droppedInputBytes = 0;    // arrived with no buffer queued
    unsigned callbacksRun = 0;
    unsigned timerPeriods = 0;         // timeBeginPeriod calls not yet ended
    unsigned finestTimerPeriod = 0;    // the smallest period ever requested (0: none)
};
Stats GetStats();

// Answers for MessageBoxA, used in order; IDNO once they run out. Every question asked is kept.
void QueueMessageBoxAnswers(const std::vector<int>& answers);
std::vector<std::string> MessageBoxTexts();

}  // namespace winmm_layer
