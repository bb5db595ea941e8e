#pragma once
// The one place that decides where the winmm MIDI calls come from: the real services on Windows,
// the simulated layer elsewhere. Both give the same names, so the port's source is the same.

#if defined(_WIN32) && !defined(MIDIUPDATE_WINMM_LAYER)
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#include <mmsystem.h>
#else
#include "layer/WinmmLayer.h"
#endif
