#pragma once
// The texts that the window program and the page both show for an update: the status and verdict
// rows, the failure box, the product line, the confirmation question, the file's message and the
// outcomes of the port choice. Each is cut as the window's buffer for it cuts it.

#include <cstddef>
#include <string>
#include <vector>

#include "Update.h"

// Buffer sizes of the texts (characters including the terminator).
constexpr std::size_t kStatusTextSize = 256;
constexpr std::size_t kCompletedTextSize = 512;
constexpr std::size_t kFailureTextSize = 1024;

// Shown instead of the port choice when a raw SysEx file is started and there is no MIDI output.
constexpr const char* kNoOutputPortText =
    "No MIDI output port was found. Connect the device and try again.";

// The status row's texts; their line breaks show as spaces (the boxes keep them).
std::string StatusLineText(const char* status);        // " Updating: %s", 255 characters
std::string CompletedLineText(const char* verdict);    // " Completed: %s", 511 characters
std::string FailureBoxText(const char* reason);         // 1023 characters
std::string ProductLineText(const Update& update);
std::string ConfirmQuestionText(const Update& update);
std::string ImportantMessageText(const std::string& message);

// The output port picked in the port choice, or a ParseError: "Update canceled" for no choice, and
// a plain reason when the list holds no entry at the choice (no output device at all).
std::string PickedPortName(const std::vector<std::string>& names, int choice);
