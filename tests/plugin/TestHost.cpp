#include "TestHost.h"

#ifndef _WIN32
#include <dlfcn.h>
#endif

#include <cstdio>
#include <stdexcept>

namespace plugintest {

namespace {

std::mutex g_lock;
std::condition_variable g_changed;
HostRecord g_rec;

struct Notify
{
    std::lock_guard<std::mutex> guard{g_lock};
    ~Notify() { g_changed.notify_all(); }
};

int OutOpen(int rate, int channels, int bits, int bufferMs, int prebufferMs)
{
    Notify n;
    g_rec.arrOpenArgs.push_back({rate, channels, bits, bufferMs, prebufferMs});
    return g_rec.nOpenResult;
}
void OutClose()
{
    Notify n;
    ++g_rec.nCloses;
}
int OutWrite(char* data, int bytes)
{
    Notify n;
    g_rec.arrWriteLens.push_back(bytes);
    g_rec.pcm.insert(g_rec.pcm.end(), data, data + bytes);
    g_rec.nWrittenBytesSinceFlush += bytes;
    if (g_rec.nWritesLeft > 0)
        --g_rec.nWritesLeft;
    return 0;
}
int OutCanWrite()
{
    Notify n;
    ++g_rec.nCanWriteCalls;
    return g_rec.nWritesLeft == 0 ? 0 : g_rec.nRoom;
}
int OutIsPlaying()
{
    Notify n;
    ++g_rec.nIsPlayingCalls;
    if (g_rec.bDrained)
        ++g_rec.nIsPlayingZero;
    return g_rec.bDrained ? 0 : 1;
}
int OutPause(int pause)
{
    Notify n;
    g_rec.arrPause.push_back(pause);
    if (pause)
        g_rec.nRoom = 0; // a paused device takes nothing more
    return 0;
}
void OutSetVolume(int v)
{
    Notify n;
    g_rec.arrVolume.push_back(v);
}
void OutSetPan(int p)
{
    Notify n;
    g_rec.arrPan.push_back(p);
}
void OutFlush(int ms)
{
    Notify n;
    g_rec.arrFlushAt.push_back(g_rec.pcm.size());
    g_rec.arrFlushMs.push_back(ms);
    g_rec.nWrittenBytesSinceFlush = 0;
    g_rec.nFlushBaseMs = ms;
}
// The device plays what it is given at once: played time equals written time.
int OutWrittenTime()
{
    Notify n;
    return g_rec.nFlushBaseMs + static_cast<int>(g_rec.nWrittenBytesSinceFlush * 10 / 1764);
}
int OutOutputTime() { return OutWrittenTime(); }

void SAVSAInit(int latency, int rate)
{
    Notify n;
    g_rec.arrSAInit = {latency, rate};
}
void SAVSADeInit()
{
    Notify n;
    ++g_rec.nSADeInits;
}
void SAAddPCMData(void*, int channels, int bits, int t)
{
    Notify n;
    if (channels == 2 && bits == 16)
        g_rec.arrSATimes.push_back(t);
}
void VSAAddPCMData(void*, int channels, int bits, int t)
{
    Notify n;
    if (channels == 2 && bits == 16)
        g_rec.arrVSATimes.push_back(t);
}
void VSASetInfo(int rate, int channels)
{
    Notify n;
    g_rec.arrVSAInfo = {rate, channels};
}
int DspIsActive()
{
    Notify n;
    return g_rec.bDspActive ? 1 : 0;
}
int DspDoSamples(short*, int frames, int bits, int channels, int rate)
{
    Notify n;
    g_rec.arrDspArgs = {frames, bits, channels, rate};
    return g_rec.nDspFrames;
}
void SetInfo(int bitrate, int rate, int channels, int synched)
{
    Notify n;
    g_rec.arrSetInfo = {bitrate, rate, channels, synched};
}

} // namespace

std::mutex& CTestHost::Lock() { return g_lock; }
HostRecord& CTestHost::Rec() { return g_rec; }
std::condition_variable& CTestHost::Changed() { return g_changed; }


CTestHost::CTestHost()
{
#ifdef _WIN32
    m_pLibrary = LoadLibraryA(VANTREL_PLUGIN_PATH);
    if (!m_pLibrary)
        throw std::runtime_error("cannot load the plug-in, error " + std::to_string(GetLastError()));
#else
    m_pLibrary = dlopen(VANTREL_PLUGIN_PATH, RTLD_NOW | RTLD_LOCAL);
    if (!m_pLibrary)
        throw std::runtime_error(std::string("cannot load the plug-in: ") + dlerror());
#endif
    m_pGet = reinterpret_cast<WinampGetInModule2Fn>(Symbol("winampGetInModule2"));
    if (!m_pGet)
        throw std::runtime_error("the plug-in exports no winampGetInModule2");
    Reset();
    m_pModule = m_pGet();
    m_out.version = 0x10;
    m_out.Open = OutOpen;
    m_out.Close = OutClose;
    m_out.Write = OutWrite;
    m_out.CanWrite = OutCanWrite;
    m_out.IsPlaying = OutIsPlaying;
    m_out.Pause = OutPause;
    m_out.SetVolume = OutSetVolume;
    m_out.SetPan = OutSetPan;
    m_out.Flush = OutFlush;
    m_out.GetOutputTime = OutOutputTime;
    m_out.GetWrittenTime = OutWrittenTime;
    In_Module& mod = *m_pModule;
    mod.hMainWindow = HandleOf(window);
    mod.hDllInstance = reinterpret_cast<HINSTANCE>(m_pLibrary);
    mod.SAVSAInit = SAVSAInit;
    mod.SAVSADeInit = SAVSADeInit;
    mod.SAAddPCMData = SAAddPCMData;
    mod.VSAAddPCMData = VSAAddPCMData;
    mod.VSASetInfo = VSASetInfo;
    mod.dsp_isactive = DspIsActive;
    mod.dsp_dosamples = DspDoSamples;
    mod.SetInfo = SetInfo;
    mod.outMod = &m_out;
    mod.Init();
}

CTestHost::~CTestHost()
{
    // The library stays loaded for the process (as a host keeps its plug-ins), so that
    // one test's host leaves nothing half-unloaded for the next.
    m_pModule->Quit();
    m_pModule->hMainWindow = nullptr;
}

void* CTestHost::Symbol(const char* name) const
{
#ifdef _WIN32
    return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(m_pLibrary), name));
#else
    return dlsym(m_pLibrary, name);
#endif
}

bool CTestHost::WaitFor(const std::function<bool(HostRecord&)>& pred)
{
    std::unique_lock<std::mutex> guard(g_lock);
    if (g_changed.wait_for(guard, std::chrono::seconds(60), [&] { return pred(g_rec); }))
        return true;
    // What the decode thread did, to tell a stalled thread from one that ended.
    std::fprintf(stderr, "host wait timed out: CanWrite %d calls (room %d), %d writes, IsPlaying %d calls\n",
                 g_rec.nCanWriteCalls, g_rec.nRoom, static_cast<int>(g_rec.arrWriteLens.size()), g_rec.nIsPlayingCalls);
    return false;
}

bool CTestHost::WaitPasses(int n)
{
    const int from = With([](HostRecord& r) { return r.nCanWriteCalls; });
    return WaitFor([&](HostRecord& r) { return r.nCanWriteCalls >= from + 2 * n; });
}

void CTestHost::Reset()
{
    std::lock_guard<std::mutex> guard(g_lock);
    g_rec = HostRecord();
}

} // namespace plugintest
