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
static_assert(sizeof(void*) != 4 || (offsetof(In_Module, outMod) == 37 * 4 && sizeof(In_Module) == 152 &&
                                     offsetof(Out_Module, Open) == 9 * 4 &&
                                     offsetof(Out_Module, GetWrittenTime) == 19 * 4),
              "32-bit layout: every member 4 bytes, In_Module 152 bytes");
#undef VANTREL_FOLLOWS
