#pragma once
// The one place that decides where the winmm MIDI calls come from: the real services in the
// programs, the tests' simulated winmm (tests/fakes/winmm) in the tests. Both give the same names,
// so the port's source is the same.

#if !defined(MIDIUPDATE_WINMM_LAYER)
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#include <mmsystem.h>
#else
#include "WinmmLayer.h"
#endif
