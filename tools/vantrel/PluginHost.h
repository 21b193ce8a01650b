// The host side of `vantrel play`: loads the plug-in library, fills in the host's
// members of its module record, and provides the output plug-in (libout123: the
// default audio device, or a WAV file) and the visualisation hooks.
#pragma once

#include <atomic>
#include <memory>
#include <string>

#include "platform/Win32.h"
#include "plugin/InModule.h"

namespace vantrel::tool {

// The plug-in library, loaded at run time.
class CPluginLibrary
{
public:
    // Throws CommandError when the library cannot be loaded or has no module record.
    explicit CPluginLibrary(const std::string& path);
    ~CPluginLibrary();
    CPluginLibrary(const CPluginLibrary&) = delete;
    CPluginLibrary& operator=(const CPluginLibrary&) = delete;

    In_Module& Module() { return *m_pModule; }
    HINSTANCE Instance() const { return reinterpret_cast<HINSTANCE>(m_pHandle); }

    // The plug-in beside the running executable.
    static std::string DefaultPath();

private:
    void* m_pHandle = nullptr;
    In_Module* m_pModule = nullptr;
};

// The output plug-in. File mode writes as fast as the plug-in renders (all songs of a
// run into the one file); device mode plays in real time from a buffer of its own.
class CHostOutput
{
public:
    // An empty path: the default audio device.
    explicit CHostOutput(std::string wavPath);
    ~CHostOutput();

    Out_Module* Record() { return &m_record; }
    // Why the last Open failed.
    const std::string& LastError() const { return m_strError; }
    bool IsFile() const { return !m_strPath.empty(); }
    // Completes the WAV file (file mode: throws when it cannot be written) or stops the
    // device.
    void Finish();
    // Stops the device, or closes the WAV data without completing the output file.
    void Release() noexcept;
    // Device mode: waits until everything written has been played (at the end of a
    // song; Release alone drops what the device still holds, as a stop must).
    void Drain();

private:
    struct Impl;
    std::unique_ptr<Impl> m_pImpl;
    std::string m_strPath;
    std::string m_strError;
    Out_Module m_record{};
};

// What the visualisation hooks saw: the peak level (0..32768) of the latest block.
struct VisState
{
    std::atomic<int> nPeakLeft{0};
    std::atomic<int> nPeakRight{0};
};
VisState& Vis();

// Fills in the host's members of the record: window, instance, hooks and output.
void ConnectHost(In_Module& mod, HWND mainWindow, HINSTANCE instance, CHostOutput& output);

// Lets the plug-in draw `plays` performances of `song` on the calling thread without
// sounding them: each Play meets an output that refuses to open (so no decode thread
// starts), and is stopped. The plug-in draws a performance in Play, from the calling
// thread's generator, so the next Play on this thread is play number `plays` + 1.
void SkipPlays(In_Module& mod, const std::string& song, int plays);

} // namespace vantrel::tool
