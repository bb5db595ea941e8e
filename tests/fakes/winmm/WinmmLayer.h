#pragma once
// The subset of the Windows multimedia MIDI services (winmm) that the Windows MIDI port uses,
// under the same names, for platforms without them. Behind it are simulated devices (see
// WinmmLayerControl.h), so the port's own source runs and is tested unchanged off Windows.

#include <cstdint>

#if defined(_WIN32)
#define WINMM_LAYER_API extern "C" __declspec(dllexport)
#define WINAPI __stdcall
#define CALLBACK __stdcall
#else
#define WINMM_LAYER_API extern "C"
#define WINAPI
#define CALLBACK
#endif

typedef unsigned int UINT;
typedef std::uint32_t DWORD;
typedef std::uint16_t WORD;
typedef std::uintptr_t DWORD_PTR;
typedef std::uintptr_t UINT_PTR;
typedef UINT MMRESULT;
typedef UINT MMVERSION;
typedef char CHAR;
typedef char* LPSTR;
typedef const char* LPCSTR;
typedef void* HWND;

typedef struct HMIDIOUT__* HMIDIOUT;
typedef struct HMIDIIN__* HMIDIIN;
typedef HMIDIOUT* LPHMIDIOUT;
typedef HMIDIIN* LPHMIDIIN;

typedef struct midihdr_tag {
    LPSTR lpData;
    DWORD dwBufferLength;
    DWORD dwBytesRecorded;
    DWORD_PTR dwUser;
    DWORD dwFlags;
    struct midihdr_tag* lpNext;
    DWORD_PTR reserved;
    DWORD dwOffset;
    DWORD_PTR dwReserved[8];
} MIDIHDR, *LPMIDIHDR;

typedef struct tagMIDIOUTCAPSA {
    WORD wMid;
    WORD wPid;
    MMVERSION vDriverVersion;
    CHAR szPname[32];
    WORD wTechnology;
    WORD wVoices;
    WORD wNotes;
    WORD wChannelMask;
    DWORD dwSupport;
} MIDIOUTCAPSA, *LPMIDIOUTCAPSA;

typedef struct tagMIDIINCAPSA {
    WORD wMid;
    WORD wPid;
    MMVERSION vDriverVersion;
    CHAR szPname[32];
    DWORD dwSupport;
} MIDIINCAPSA, *LPMIDIINCAPSA;

// Results.
constexpr MMRESULT MMSYSERR_NOERROR = 0;
constexpr MMRESULT MMSYSERR_ERROR = 1;
constexpr MMRESULT MMSYSERR_BADDEVICEID = 2;
constexpr MMRESULT MMSYSERR_ALLOCATED = 4;
constexpr MMRESULT MMSYSERR_INVALHANDLE = 5;
constexpr MMRESULT MMSYSERR_NODRIVER = 6;
constexpr MMRESULT MMSYSERR_NOMEM = 7;
constexpr MMRESULT MMSYSERR_BADERRNUM = 9;
constexpr MMRESULT MMSYSERR_INVALFLAG = 10;
constexpr MMRESULT MMSYSERR_INVALPARAM = 11;
constexpr MMRESULT MIDIERR_UNPREPARED = 64;
constexpr MMRESULT MIDIERR_STILLPLAYING = 65;
constexpr MMRESULT MIDIERR_NOTREADY = 67;
constexpr UINT MAXERRORLENGTH = 256;
constexpr MMRESULT TIMERR_NOERROR = 0;
constexpr MMRESULT TIMERR_NOCANDO = 97;

// Open flags.
constexpr DWORD CALLBACK_NULL = 0x00000000;
constexpr DWORD CALLBACK_FUNCTION = 0x00030000;
constexpr DWORD MIDI_IO_STATUS = 0x00000020;

// Callback messages.
constexpr UINT MIM_OPEN = 0x3C1;
constexpr UINT MIM_CLOSE = 0x3C2;
constexpr UINT MIM_DATA = 0x3C3;
constexpr UINT MIM_LONGDATA = 0x3C4;
constexpr UINT MIM_ERROR = 0x3C5;
constexpr UINT MIM_LONGERROR = 0x3C6;
constexpr UINT MOM_OPEN = 0x3C7;
constexpr UINT MOM_CLOSE = 0x3C8;
constexpr UINT MOM_DONE = 0x3C9;
constexpr UINT MIM_MOREDATA = 0x3CC;

// Header flags.
constexpr DWORD MHDR_DONE = 0x00000001;
constexpr DWORD MHDR_PREPARED = 0x00000002;
constexpr DWORD MHDR_INQUEUE = 0x00000004;

// Message boxes.
constexpr UINT MB_YESNO = 0x00000004;
constexpr UINT MB_ICONQUESTION = 0x00000020;
constexpr UINT MB_TASKMODAL = 0x00002000;
constexpr UINT MB_SETFOREGROUND = 0x00010000;
constexpr int IDYES = 6;
constexpr int IDNO = 7;

WINMM_LAYER_API UINT WINAPI midiOutGetNumDevs(void);
WINMM_LAYER_API MMRESULT WINAPI midiOutGetDevCapsA(UINT_PTR uDeviceID, LPMIDIOUTCAPSA pmoc, UINT cbmoc);
WINMM_LAYER_API MMRESULT WINAPI midiOutOpen(LPHMIDIOUT phmo, UINT uDeviceID, DWORD_PTR dwCallback,
                                            DWORD_PTR dwInstance, DWORD fdwOpen);
WINMM_LAYER_API MMRESULT WINAPI midiOutPrepareHeader(HMIDIOUT hmo, LPMIDIHDR pmh, UINT cbmh);
WINMM_LAYER_API MMRESULT WINAPI midiOutLongMsg(HMIDIOUT hmo, LPMIDIHDR pmh, UINT cbmh);
WINMM_LAYER_API MMRESULT WINAPI midiOutUnprepareHeader(HMIDIOUT hmo, LPMIDIHDR pmh, UINT cbmh);
WINMM_LAYER_API MMRESULT WINAPI midiOutReset(HMIDIOUT hmo);
WINMM_LAYER_API MMRESULT WINAPI midiOutClose(HMIDIOUT hmo);

WINMM_LAYER_API UINT WINAPI midiInGetNumDevs(void);
WINMM_LAYER_API MMRESULT WINAPI midiInGetDevCapsA(UINT_PTR uDeviceID, LPMIDIINCAPSA pmic, UINT cbmic);
WINMM_LAYER_API MMRESULT WINAPI midiInOpen(LPHMIDIIN phmi, UINT uDeviceID, DWORD_PTR dwCallback,
                                           DWORD_PTR dwInstance, DWORD fdwOpen);
WINMM_LAYER_API MMRESULT WINAPI midiInPrepareHeader(HMIDIIN hmi, LPMIDIHDR pmh, UINT cbmh);
WINMM_LAYER_API MMRESULT WINAPI midiInUnprepareHeader(HMIDIIN hmi, LPMIDIHDR pmh, UINT cbmh);
WINMM_LAYER_API MMRESULT WINAPI midiInAddBuffer(HMIDIIN hmi, LPMIDIHDR pmh, UINT cbmh);
WINMM_LAYER_API MMRESULT WINAPI midiInStart(HMIDIIN hmi);
WINMM_LAYER_API MMRESULT WINAPI midiInStop(HMIDIIN hmi);
WINMM_LAYER_API MMRESULT WINAPI midiInReset(HMIDIIN hmi);
WINMM_LAYER_API MMRESULT WINAPI midiInClose(HMIDIIN hmi);
WINMM_LAYER_API MMRESULT WINAPI midiInGetErrorTextA(MMRESULT mmrError, LPSTR pszText, UINT cchText);

// The system timer's resolution, requested and released in pairs.
WINMM_LAYER_API MMRESULT WINAPI timeBeginPeriod(UINT uPeriod);
WINMM_LAYER_API MMRESULT WINAPI timeEndPeriod(UINT uPeriod);

// Outside winmm proper, but the port asks its questions with it.
WINMM_LAYER_API int WINAPI MessageBoxA(HWND hWnd, LPCSTR lpText, LPCSTR lpCaption, UINT uType);
