// The records through which the media player and an input plug-in talk: In_Module,
// which the plug-in hands out from winampGetInModule2 and the host completes, and the
// host's Out_Module, which the plug-in writes its PCM to.
//
// Member order and types are the binary interface. Every member has its natural C
// type (int, a pointer, a handle, a function pointer), so on a 32-bit build every
// member is 32 bits wide, and a 64-bit build has the layout a 64-bit host uses.
#pragma once

#include <cstddef>

#include "platform/Win32.h"

// The version of In_Module that this plug-in fills in.
#define IN_VER 0x100
// Posted to the host's main window when a song has played to its end.
#define WM_WA_MPEG_EOF (WM_USER + 2)

extern "C" {

struct Out_Module
{
    int version;
    char* description;
    int id;
    HWND hMainWindow;
    HINSTANCE hDllInstance;
    void (*Config)(HWND parent);
    void (*About)(HWND parent);
    void (*Init)();
    void (*Quit)();
    // What the input plug-in calls.
    int (*Open)(int sampleRate, int channels, int bits, int bufferMs, int prebufferMs);
    void (*Close)();
    int (*Write)(char* data, int bytes);
    int (*CanWrite)();
    int (*IsPlaying)();
    int (*Pause)(int pause);
    void (*SetVolume)(int volume);
    void (*SetPan)(int pan);
    void (*Flush)(int timeMs);
    int (*GetOutputTime)();
    int (*GetWrittenTime)();
};

struct In_Module
{
    int version;
    char* description;
    HWND hMainWindow;
    HINSTANCE hDllInstance;
    char* FileExtensions;
    int is_seekable;
    int UsesOutputPlug;
    void (*Config)(HWND parent);
    void (*About)(HWND parent);
    void (*Init)();
    void (*Quit)();
    void (*GetFileInfo)(char* file, char* title, int* lengthMs);
    int (*InfoBox)(char* file, HWND parent);
    int (*IsOurFile)(char* file);
    int (*Play)(char* file);
    void (*Pause)();
    void (*UnPause)();
    int (*IsPaused)();
    void (*Stop)();
    int (*GetLength)();
    int (*GetOutputTime)();
    void (*SetOutputTime)(int ms);
    void (*SetVolume)(int volume);
    void (*SetPan)(int pan);
    void (*SAVSAInit)(int maxLatencyMs, int sampleRate);
    void (*SAVSADeInit)();
    void (*SAAddPCMData)(void* pcm, int channels, int bits, int timeMs);
    int (*SAGetMode)();
    void (*SAAdd)(void* data, int timeMs, int mode);
    void (*VSAAddPCMData)(void* pcm, int channels, int bits, int timeMs);
    int (*VSAGetMode)(int* specNch, int* waveNch);
    void (*VSAAdd)(void* data, int timeMs);
    void (*VSASetInfo)(int sampleRate, int channels);
    int (*dsp_isactive)();
    int (*dsp_dosamples)(short* samples, int frames, int bits, int channels, int sampleRate);
    void (*EQSet)(int on, char bands[10], int preamp);
    void (*SetInfo)(int bitrateKbps, int sampleRateKhz, int channels, int synched);
    Out_Module* outMod;
};

typedef In_Module* (*WinampGetInModule2Fn)();

} // extern "C"

// The layout, as far as it can be checked on every target: each member directly after
// the one before, with no padding (on 32-bit targets all members are 4 bytes, and the
// exact offsets are checked there).
#define VANTREL_FOLLOWS(T, a, b) (offsetof(T, b) == offsetof(T, a) + sizeof(T::a))
static_assert(offsetof(In_Module, version) == 0, "In_Module starts with version");
static_assert(VANTREL_FOLLOWS(In_Module, hDllInstance, FileExtensions), "In_Module layout");
static_assert(VANTREL_FOLLOWS(In_Module, is_seekable, UsesOutputPlug) && VANTREL_FOLLOWS(In_Module, Config, About) &&
                  VANTREL_FOLLOWS(In_Module, Quit, GetFileInfo) && VANTREL_FOLLOWS(In_Module, SetPan, SAVSAInit) &&
                  VANTREL_FOLLOWS(In_Module, SetInfo, outMod),
              "In_Module layout");
static_assert(offsetof(In_Module, outMod) + sizeof(Out_Module*) == sizeof(In_Module), "In_Module ends with outMod");
static_assert(offsetof(In_Module, outMod) - offsetof(In_Module, Config) == 30 * sizeof(void*),
              "In_Module: 31 function pointers from Config to outMod");
static_assert(VANTREL_FOLLOWS(Out_Module, Quit, Open) && VANTREL_FOLLOWS(Out_Module, Open, Close) &&
                  VANTREL_FOLLOWS(Out_Module, Flush, GetOutputTime) &&
                  VANTREL_FOLLOWS(Out_Module, GetOutputTime, GetWrittenTime),
              "Out_Module layout");
static_assert(offsetof(Out_Module, GetWrittenTime) - offsetof(Out_Module, Config) == 14 * sizeof(void*),
              "Out_Module: 15 function pointers from Config on");
#undef VANTREL_FOLLOWS

// The 32-bit layout that the host was built with (the product is the i686 DLL):
// member n of In_Module at 4 x (n - 1), 152 bytes in all; the output members of
// Out_Module at theirs.
#if defined(__i386__) || defined(_M_IX86)
static_assert(sizeof(void*) == 4 && sizeof(int) == 4, "a 32-bit target");
#define VANTREL_AT(T, member, n) static_assert(offsetof(T, member) == 4 * ((n) - 1), #T "::" #member " at member " #n)
VANTREL_AT(In_Module, version, 1);
VANTREL_AT(In_Module, description, 2);
VANTREL_AT(In_Module, hMainWindow, 3);
VANTREL_AT(In_Module, hDllInstance, 4);
VANTREL_AT(In_Module, FileExtensions, 5);
VANTREL_AT(In_Module, is_seekable, 6);
VANTREL_AT(In_Module, UsesOutputPlug, 7);
VANTREL_AT(In_Module, Config, 8);
VANTREL_AT(In_Module, About, 9);
VANTREL_AT(In_Module, Init, 10);
VANTREL_AT(In_Module, Quit, 11);
VANTREL_AT(In_Module, GetFileInfo, 12);
VANTREL_AT(In_Module, InfoBox, 13);
VANTREL_AT(In_Module, IsOurFile, 14);
VANTREL_AT(In_Module, Play, 15);
VANTREL_AT(In_Module, Pause, 16);
VANTREL_AT(In_Module, UnPause, 17);
VANTREL_AT(In_Module, IsPaused, 18);
VANTREL_AT(In_Module, Stop, 19);
VANTREL_AT(In_Module, GetLength, 20);
VANTREL_AT(In_Module, GetOutputTime, 21);
VANTREL_AT(In_Module, SetOutputTime, 22);
VANTREL_AT(In_Module, SetVolume, 23);
VANTREL_AT(In_Module, SetPan, 24);
VANTREL_AT(In_Module, SAVSAInit, 25);
VANTREL_AT(In_Module, SAVSADeInit, 26);
VANTREL_AT(In_Module, SAAddPCMData, 27);
VANTREL_AT(In_Module, SAGetMode, 28);
VANTREL_AT(In_Module, SAAdd, 29);
VANTREL_AT(In_Module, VSAAddPCMData, 30);
VANTREL_AT(In_Module, VSAGetMode, 31);
VANTREL_AT(In_Module, VSAAdd, 32);
VANTREL_AT(In_Module, VSASetInfo, 33);
VANTREL_AT(In_Module, dsp_isactive, 34);
VANTREL_AT(In_Module, dsp_dosamples, 35);
VANTREL_AT(In_Module, EQSet, 36);
VANTREL_AT(In_Module, SetInfo, 37);
VANTREL_AT(In_Module, outMod, 38);
static_assert(sizeof(In_Module) == 152, "In_Module is 38 members of 4 bytes");
VANTREL_AT(Out_Module, Open, 10);
VANTREL_AT(Out_Module, Close, 11);
VANTREL_AT(Out_Module, Write, 12);
VANTREL_AT(Out_Module, CanWrite, 13);
VANTREL_AT(Out_Module, IsPlaying, 14);
VANTREL_AT(Out_Module, Pause, 15);
VANTREL_AT(Out_Module, SetVolume, 16);
VANTREL_AT(Out_Module, SetPan, 17);
VANTREL_AT(Out_Module, Flush, 18);
VANTREL_AT(Out_Module, GetOutputTime, 19);
VANTREL_AT(Out_Module, GetWrittenTime, 20);
#undef VANTREL_AT
#endif
