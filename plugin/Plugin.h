// The plug-in's state and entry points, shared by its source files. Everything here
// stays inside the library: it exports only winampGetInModule2.
//
// Threads: the host's thread runs every entry point; between Play and Stop one decode
// thread renders with g_player. The values both threads touch are atomic (they are
// plain 32-bit ints to both sides), and g_playerLock keeps a seek from running while a
// block is being rendered.
#pragma once

#include <atomic>
#include <mutex>
#include <string>

#include "decode/PcmFormat.h"
#include "platform/Win32.h"
#include "plugin/InModule.h"
#include "player/SongPlayer.h"

extern In_Module g_module;

extern CSongPlayer g_player;
// The player's Seek (host's thread) and RenderBlock (decode thread) both run under it.
extern std::mutex g_playerLock;
extern char g_currentPath[260];
extern int g_songLengthMs;
extern std::atomic<int> g_paused;
extern std::atomic<int> g_pendingSeekMs;
extern std::atomic<int> g_decodedMs;
extern std::atomic<int> g_stopRequested;
extern HANDLE g_decodeThread;
// One block, with room for the DSP hook to double it.
extern char g_blockBuffer[2 * vantrel::pcm::kBlockBytes];

// What the information box shows; written by InfoBox, read by its dialog procedure.
struct SongInfoTexts
{
    std::string strLocation;
    std::string strAuthor;
    std::string strTitle;
    std::string strGenre;
    std::string strPublisher;
    std::string strCopyright;
    int nSize = 0;
};
extern SongInfoTexts g_infoTexts;

void Config(HWND parent);
void About(HWND parent);
void Init();
void GetFileInfo(char* file, char* title, int* lengthMs);
int InfoBox(char* file, HWND parent);
int IsOurFile(char* file);
int Play(char* file);
void Pause();
void UnPause();
int IsPaused();
void Stop();
int GetLength();
int GetOutputTime();
void SetOutputTime(int ms);
void SetVolume(int volume);
void SetPan(int pan);
DWORD WINAPI DecodeThreadProc(LPVOID stopFlag);
INT_PTR CALLBACK SongInfoDlgProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

// Copies a path into g_currentPath, cut to fit with its terminator.
void StoreCurrentPath(const char* path);
