#include "PluginHost.h"

#ifndef _WIN32
#include <sys/stat.h>
#endif

#include <out123.h>

#include <algorithm>
#include <condition_variable>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <filesystem>
#include <random>
#include <mutex>
#include <thread>
#include <vector>

#ifdef _WIN32
#include <windows.h>
#else
#include <dlfcn.h>
#include <fcntl.h>
#include <unistd.h>
#endif

#include "Commands.h"
#include "OutputFile.h"
#include "decode/PcmFormat.h"

namespace vantrel::tool {

// ---- The library ----------------------------------------------------------------------

CPluginLibrary::CPluginLibrary(const std::string& path)
{
#ifdef _WIN32
    m_pHandle = LoadLibraryA(path.c_str());
    if (!m_pHandle)
        throw CommandError("cannot load the plug-in " + path);
    auto get = reinterpret_cast<WinampGetInModule2Fn>(
        reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(m_pHandle), "winampGetInModule2")));
#else
    m_pHandle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!m_pHandle)
        throw CommandError(std::string("cannot load the plug-in: ") + dlerror());
    auto get = reinterpret_cast<WinampGetInModule2Fn>(dlsym(m_pHandle, "winampGetInModule2"));
#endif
    if (!get || !(m_pModule = get()))
        throw CommandError(path + " is not an input plug-in (no winampGetInModule2)");
}

CPluginLibrary::~CPluginLibrary()
{
#ifdef _WIN32
    FreeLibrary(static_cast<HMODULE>(m_pHandle));
#else
    dlclose(m_pHandle);
#endif
}

std::string CPluginLibrary::DefaultPath()
{
    std::string exe;
#ifdef _WIN32
    char buf[4096];
    const DWORD n = GetModuleFileNameA(nullptr, buf, sizeof buf);
    exe.assign(buf, n);
    const char* name = "in_vantrel.dll";
#else
    char buf[4096];
    const ssize_t n = readlink("/proc/self/exe", buf, sizeof buf - 1);
    if (n > 0)
        exe.assign(buf, static_cast<size_t>(n));
    const char* name = "in_vantrel.so";
#endif
    const size_t slash = exe.find_last_of("/\\");
    const std::string dir = slash == std::string::npos ? std::string() : exe.substr(0, slash + 1);
#ifdef _WIN32
    // Installed by the setup program, the tool sits in the player's Vantrel folder and
    // the plug-in in its Plugins folder; one beside the tool (a build tree) wins.
    if (GetFileAttributesA((dir + name).c_str()) == INVALID_FILE_ATTRIBUTES &&
        GetFileAttributesA((dir + "..\\Plugins\\" + name).c_str()) != INVALID_FILE_ATTRIBUTES)
        return dir + "..\\Plugins\\" + name;
#endif
#ifdef VANTREL_INSTALLED_PLUGIN_DIR
    // An installed tool finds the plug-in in its library folder, relative to itself so
    // that the whole installation can move; one beside the tool (a build tree) wins.
    struct stat st;
    if (::stat((dir + name).c_str(), &st) != 0)
        return dir + VANTREL_INSTALLED_PLUGIN_DIR "/" + name;
#endif
    return dir + name;
}

// ---- The output plug-in ---------------------------------------------------------------

namespace {

using vantrel::pcm::kBytesPerMs;
// One second ahead of the device.
constexpr size_t kDeviceBufferBytes = vantrel::pcm::kSampleRate * vantrel::pcm::kBytesPerFrame;

CHostOutput* g_pOutput = nullptr; // the record's functions have no context of their own

} // namespace

struct CHostOutput::Impl
{
    out123_handle* pHandle = nullptr;
    bool bStarted = false;

    // File mode: written bytes since the last Open or Flush. libout123 writes the WAV
    // file into a scratch file of our own, which becomes the output file's content at
    // Finish (so that the output file follows the tool's rules for files).
    long long nWritten = 0;
    int nBaseMs = 0;
    std::string strScratch;
    std::string strWriteError; // the first failed write, reported at Finish
    std::unique_ptr<COutputFile> pOut; // made at the first Open, so a bad name fails at once

    // Device mode: a buffer the feeder thread hands to the device, which blocks at the
    // device's pace; the play clock counts the bytes the device was given.
    std::mutex lock;
    std::condition_variable wake;
    std::deque<char> buffer;
    long long nBuffered = 0; // written since the last Flush
    long long nPlayed = 0;   // handed to the device since the last Flush
    bool bFeeding = false;
    bool bPaused = false;
    bool bQuit = false;
    std::thread feeder;

    void Feed()
    {
        std::vector<char> chunk;
        std::unique_lock<std::mutex> guard(lock);
        for (;;) {
            wake.wait(guard, [&] { return bQuit || (!bPaused && !buffer.empty()); });
            if (bQuit)
                return;
            const size_t n = std::min<size_t>(buffer.size(), vantrel::pcm::kBlockBytes);
            chunk.assign(buffer.begin(), buffer.begin() + static_cast<long>(n));
            buffer.erase(buffer.begin(), buffer.begin() + static_cast<long>(n));
            bFeeding = true;
            guard.unlock();
            out123_play(pHandle, chunk.data(), chunk.size());
            guard.lock();
            bFeeding = false;
            nPlayed += static_cast<long long>(n);
            wake.notify_all();
        }
    }
    void StopFeeder()
    {
        {
            std::lock_guard<std::mutex> guard(lock);
            bQuit = true;
        }
        wake.notify_all();
        if (feeder.joinable())
            feeder.join();
    }
};

CHostOutput::CHostOutput(std::string wavPath) : m_pImpl(std::make_unique<Impl>()), m_strPath(std::move(wavPath))
{
    g_pOutput = this;
    m_record.version = 0x10;
    m_record.description = const_cast<char*>(IsFile() ? "vantrel WAV file output" : "vantrel audio output");
    m_record.id = 1;

    m_record.Open = [](int rate, int channels, int bits, int, int) -> int {
        CHostOutput& o = *g_pOutput;
        Impl& d = *o.m_pImpl;
        if (bits != 16)
            return -1;
        if (o.IsFile() && d.bStarted) {
            // Every song of the run goes into the one file.
            d.nWritten = 0;
            d.nBaseMs = 0;
            return 0;
        }
        d.pHandle = out123_new();
        if (!d.pHandle) {
            o.m_strError = "out of memory";
            return -1;
        }
        // Failures are reported by the tool in its own words.
        out123_param2(d.pHandle, OUT123_FLAGS, OUT123_QUIET, 0.0, nullptr);
        int rc;
        if (o.IsFile()) {
            try {
                d.pOut = std::make_unique<COutputFile>(o.m_strPath);
            } catch (const std::exception& e) {
                o.m_strError = e.what();
                out123_del(d.pHandle);
                d.pHandle = nullptr;
                return -1;
            }
            std::random_device rd;
            d.strScratch = (std::filesystem::temp_directory_path() /
                            ("vantrel-play-" + std::to_string(rd()) + std::to_string(rd()) + ".wav"))
                               .string();
            rc = out123_open(d.pHandle, "wav", d.strScratch.c_str());
        } else {
#ifdef _WIN32
            // The one output built into libout123 here: the system's waveOut.
            rc = out123_open(d.pHandle, nullptr, nullptr);
#else
            // The sound libraries tried along the way print their own complaints.
            const int saved = dup(STDERR_FILENO);
            const int null = ::open("/dev/null", O_WRONLY);
            if (saved >= 0 && null >= 0)
                dup2(null, STDERR_FILENO);
            // Real devices only: OpenAL can open without one (and then plays to nothing).
            rc = out123_open(d.pHandle, "pulse,alsa,oss,jack,sndio,portaudio,nas", nullptr);
            if (saved >= 0 && null >= 0)
                dup2(saved, STDERR_FILENO);
            if (null >= 0)
                ::close(null);
            if (saved >= 0)
                ::close(saved);
            // The "dummy" driver takes anything and plays nothing: that is no device.
            char* driver = nullptr;
            if (rc == OUT123_OK && out123_driver_info(d.pHandle, &driver, nullptr) == OUT123_OK && driver &&
                std::string(driver) == "dummy") {
                o.m_strError = "only the dummy output is available";
                out123_del(d.pHandle);
                d.pHandle = nullptr;
                return -1;
            }
#endif
        }
        if (rc != OUT123_OK || out123_start(d.pHandle, rate, channels, MPG123_ENC_SIGNED_16) != OUT123_OK) {
            o.m_strError = out123_strerror(d.pHandle);
            if (o.IsFile()) {
                o.m_strError = "cannot write " + o.m_strPath + ": the temporary file " + d.strScratch + ": " +
                               o.m_strError;
                d.pOut.reset();
            }
            out123_del(d.pHandle);
            d.pHandle = nullptr;
            return -1;
        }
        d.bStarted = true;
        if (o.IsFile())
            return 0;
        d.bQuit = false;
        d.buffer.clear();
        d.nBuffered = d.nPlayed = 0;
        d.nBaseMs = 0;
        d.bPaused = false;
        d.feeder = std::thread([&d] { d.Feed(); });
        return static_cast<int>(kDeviceBufferBytes / kBytesPerMs);
    };
    m_record.Close = [] {
        CHostOutput& o = *g_pOutput;
        if (!o.IsFile())
            o.Release();
    };
    m_record.Write = [](char* data, int bytes) -> int {
        Impl& d = *g_pOutput->m_pImpl;
        if (!d.pHandle || bytes <= 0)
            return 0;
        if (g_pOutput->IsFile()) {
            errno = 0;
            if (out123_play(d.pHandle, data, static_cast<size_t>(bytes)) != static_cast<size_t>(bytes) &&
                d.strWriteError.empty())
                d.strWriteError = std::string("the temporary file ") + d.strScratch + ": " +
                                  (errno != 0 ? std::strerror(errno) : out123_strerror(d.pHandle));
            d.nWritten += bytes;
            return 0;
        }
        {
            std::lock_guard<std::mutex> guard(d.lock);
            d.buffer.insert(d.buffer.end(), data, data + bytes);
            d.nBuffered += bytes;
        }
        d.wake.notify_all();
        return 0;
    };
    m_record.CanWrite = []() -> int {
        Impl& d = *g_pOutput->m_pImpl;
        if (g_pOutput->IsFile())
            return 1 << 20; // a file always has room
        std::lock_guard<std::mutex> guard(d.lock);
        return d.bPaused ? 0 : static_cast<int>(kDeviceBufferBytes - std::min(d.buffer.size(), kDeviceBufferBytes));
    };
    m_record.IsPlaying = []() -> int {
        Impl& d = *g_pOutput->m_pImpl;
        if (g_pOutput->IsFile())
            return 0; // everything written is in the file already
        std::lock_guard<std::mutex> guard(d.lock);
        return !d.buffer.empty() || d.bFeeding;
    };
    m_record.Pause = [](int pause) -> int {
        Impl& d = *g_pOutput->m_pImpl;
        std::lock_guard<std::mutex> guard(d.lock);
        const int was = d.bPaused;
        d.bPaused = pause != 0;
        d.wake.notify_all();
        return was;
    };
    m_record.SetVolume = [](int) {};
    m_record.SetPan = [](int) {};
    m_record.Flush = [](int timeMs) {
        Impl& d = *g_pOutput->m_pImpl;
        std::lock_guard<std::mutex> guard(d.lock);
        d.buffer.clear();
        d.nBuffered = d.nPlayed = 0;
        d.nWritten = 0;
        d.nBaseMs = timeMs;
    };
    m_record.GetWrittenTime = []() -> int {
        Impl& d = *g_pOutput->m_pImpl;
        std::lock_guard<std::mutex> guard(d.lock);
        const long long bytes = g_pOutput->IsFile() ? d.nWritten : d.nBuffered;
        return d.nBaseMs + static_cast<int>(static_cast<double>(bytes) / kBytesPerMs);
    };
    m_record.GetOutputTime = []() -> int {
        Impl& d = *g_pOutput->m_pImpl;
        std::lock_guard<std::mutex> guard(d.lock);
        const long long bytes = g_pOutput->IsFile() ? d.nWritten : d.nPlayed;
        return d.nBaseMs + static_cast<int>(static_cast<double>(bytes) / kBytesPerMs);
    };
}

void CHostOutput::Release() noexcept
{
    Impl& d = *m_pImpl;
    d.StopFeeder();
    if (d.pHandle) {
        if (!IsFile())
            out123_drop(d.pHandle);
        out123_stop(d.pHandle);
        out123_close(d.pHandle);
        out123_del(d.pHandle);
        d.pHandle = nullptr;
    }
    d.bStarted = false;
}

void CHostOutput::Finish()
{
    Impl& d = *m_pImpl;
    const bool bWroteFile = IsFile() && d.pHandle != nullptr;
    Release();
    if (!bWroteFile)
        return;
    struct CScratch
    {
        std::string& path;
        ~CScratch()
        {
            std::remove(path.c_str());
            path.clear();
        }
    } scratch{d.strScratch};
    if (!d.strWriteError.empty())
        throw CommandError("cannot write " + m_strPath + ": " + d.strWriteError);
    FILE* in = std::fopen(d.strScratch.c_str(), "rb");
    if (!in)
        throw CommandError("cannot write " + m_strPath + ": the temporary file " + d.strScratch +
                           " cannot be read: " + std::strerror(errno));
    std::unique_ptr<FILE, int (*)(FILE*)> closer(in, &std::fclose);
    std::unique_ptr<COutputFile> out = std::move(d.pOut);
    std::vector<char> buf(1 << 16);
    size_t n;
    while ((n = std::fread(buf.data(), 1, buf.size(), in)) > 0)
        out->Write(buf.data(), n);
    if (std::ferror(in))
        throw CommandError("cannot write " + m_strPath + ": the temporary file " + d.strScratch +
                           " cannot be read");
    out->Commit();
}

void CHostOutput::Drain()
{
    Impl& d = *m_pImpl;
    if (IsFile() || !d.pHandle)
        return;
    {
        std::unique_lock<std::mutex> guard(d.lock);
        d.wake.wait(guard, [&] { return d.bPaused || (d.buffer.empty() && !d.bFeeding); });
        if (d.bPaused)
            return;
    }
    // The feeder waits for more; the device plays out what it was given.
    out123_drain(d.pHandle);
}

CHostOutput::~CHostOutput()
{
    Release();
    m_pImpl->pOut.reset();
    if (!m_pImpl->strScratch.empty())
        std::remove(m_pImpl->strScratch.c_str());
    if (g_pOutput == this)
        g_pOutput = nullptr;
}

// ---- Visualisation, DSP and info hooks ------------------------------------------------

VisState& Vis()
{
    static VisState state;
    return state;
}

namespace {

void AddPcm(void* pcm, int channels, int bits, int)
{
    if (channels != 2 || bits != 16)
        return;
    const auto* s = static_cast<const int16_t*>(pcm);
    int left = 0, right = 0;
    for (int i = 0; i < vantrel::pcm::kBlockFrames; ++i) {
        left = std::max(left, std::abs(static_cast<int>(s[2 * i])));
        right = std::max(right, std::abs(static_cast<int>(s[2 * i + 1])));
    }
    Vis().nPeakLeft = left;
    Vis().nPeakRight = right;
}

} // namespace

void ConnectHost(In_Module& mod, HWND mainWindow, HINSTANCE instance, CHostOutput& output)
{
    mod.hMainWindow = mainWindow;
    mod.hDllInstance = instance;
    mod.SAVSAInit = [](int, int) {};
    mod.SAVSADeInit = [] {
        Vis().nPeakLeft = 0;
        Vis().nPeakRight = 0;
    };
    mod.SAAddPCMData = [](void*, int, int, int) {};
    mod.SAGetMode = []() -> int { return 0; };
    mod.SAAdd = [](void*, int, int) {};
    mod.VSAAddPCMData = AddPcm;
    mod.VSAGetMode = [](int* spec, int* wave) -> int {
        if (spec)
            *spec = 0;
        if (wave)
            *wave = 2;
        return 0;
    };
    mod.VSAAdd = [](void*, int) {};
    mod.VSASetInfo = [](int, int) {};
    mod.dsp_isactive = []() -> int { return 0; };
    mod.dsp_dosamples = [](short*, int frames, int, int, int) -> int { return frames; };
    mod.SetInfo = [](int, int, int, int) {};
    mod.outMod = output.Record();
}

void SkipPlays(In_Module& mod, const std::string& song, int plays)
{
    static Out_Module refusing = [] {
        Out_Module o{};
        o.version = 0x10;
        o.description = const_cast<char*>("vantrel skipped plays");
        o.Config = [](HWND) {};
        o.About = [](HWND) {};
        o.Init = [] {};
        o.Quit = [] {};
        o.Open = [](int, int, int, int, int) -> int { return -1; };
        o.Close = [] {};
        o.Write = [](char*, int) -> int { return 0; };
        o.CanWrite = []() -> int { return 0; };
        o.IsPlaying = []() -> int { return 0; };
        o.Pause = [](int) -> int { return 0; };
        o.SetVolume = [](int) {};
        o.SetPan = [](int) {};
        o.Flush = [](int) {};
        o.GetOutputTime = []() -> int { return 0; };
        o.GetWrittenTime = []() -> int { return 0; };
        return o;
    }();
    Out_Module* saved = mod.outMod;
    mod.outMod = &refusing;
    for (int i = 0; i < plays; ++i) {
        mod.Play(const_cast<char*>(song.c_str()));
        mod.Stop();
    }
    mod.outMod = saved;
}

} // namespace vantrel::tool
