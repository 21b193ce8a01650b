// A host for the plug-in in tests: loads the built library the way the media player
// does, fills in the host's members of the module record, and records every call the
// plug-in makes to its output, visualisation, DSP and info hooks. The plug-in calls the
// hooks from its decode thread; the test reads the records from its own thread, so
// everything is kept under one lock and waited for by condition, never by time.
//
// The host's main window is platform/HostWindow.h's: on POSIX systems the stand-in;
// on Windows a real window, created by the thread that constructs the host and whose
// messages that thread pumps while it waits for one.
#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "platform/HostWindow.h"
#include "plugin/InModule.h"

namespace plugintest {

#ifdef _WIN32
inline HWND HandleOf(CHostWindow& w) { return w.Handle(); }
#else
inline HWND HandleOf(CHostWindow& w) { return &w; }
#endif

struct HostRecord
{
    // Output plug-in.
    int nOpenResult = 1000;          // what Open returns (negative: cannot open)
    int nRoom = 1 << 30;             // what CanWrite reports
    int nWritesLeft = -1;            // writes taken before CanWrite reports 0 (-1: no limit)
    bool bDrained = false;           // IsPlaying returns 0 once set
    std::vector<std::vector<int>> arrOpenArgs;
    std::vector<char> pcm;           // everything written since Play (cleared by Flush? no: see flushAt)
    std::vector<int> arrWriteLens;
    std::vector<size_t> arrFlushAt;  // size of pcm when each Flush came
    std::vector<int> arrFlushMs;
    std::vector<int> arrPause;
    std::vector<int> arrVolume;
    std::vector<int> arrPan;
    int nCanWriteCalls = 0;
    int nIsPlayingCalls = 0;
    int nIsPlayingZero = 0;          // IsPlaying calls that returned 0
    int nCloses = 0;
    long long nWrittenBytesSinceFlush = 0;
    int nFlushBaseMs = 0;
    // Visualisation, DSP and info hooks.
    std::vector<int> arrSAInit;
    int nSADeInits = 0;
    std::vector<int> arrSATimes;
    std::vector<int> arrVSATimes;
    std::vector<int> arrVSAInfo;
    std::vector<int> arrSetInfo;
    bool bDspActive = false;
    int nDspFrames = 1152;           // what dsp_dosamples returns
    std::vector<int> arrDspArgs;     // frames, bits, channels, rate of the last call
};

class CTestHost
{
public:
    CTestHost();
    ~CTestHost();

    In_Module& Mod() { return *m_pModule; }
    WinampGetInModule2Fn GetModuleFn() const { return m_pGet; }
    void* Symbol(const char* name) const;
    // The library's record without the host's members.
    In_Module* FreshRecord() { return m_pGet(); }

    CHostWindow window;

    // Runs fn on the record under the lock.
    template <typename Fn> auto With(Fn fn)
    {
        std::lock_guard<std::mutex> guard(Lock());
        return fn(Rec());
    }
    // Waits until pred(record) holds (at most 60 s); false on timeout.
    bool WaitFor(const std::function<bool(HostRecord&)>& pred);
    // Waits until the decode thread has made at least n more passes (polls of CanWrite).
    bool WaitPasses(int n);
    void Reset();

    static std::mutex& Lock();
    static HostRecord& Rec();
    static std::condition_variable& Changed();

private:
    void* m_pLibrary = nullptr;
    WinampGetInModule2Fn m_pGet = nullptr;
    In_Module* m_pModule = nullptr;
    Out_Module m_out{};
};

} // namespace plugintest
