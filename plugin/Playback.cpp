// Playback: Play, Pause, Stop, seeking, the output time, and the decode thread that
// renders the song block by block into the host's output.
//
// Seek against rendering: SetOutputTime seeks the player and posts the entry's start
// time in g_pendingSeekMs, both under g_playerLock; the decode thread renders under
// the same lock and only when no seek is pending, so every block rendered after a seek
// reaches the output after the flush that the seek asks for.
//
// Stop waits for the thread without a time limit. The thread never blocks: it tests
// the stop flag after every pass, and a pass renders at most one block or sleeps at
// most 20 ms (also while the output is paused), so the wait is short. A forced end of
// the thread would be worse than waiting: it could leave the player half-updated and
// g_playerLock held.
#include <algorithm>

#include "plugin/Plugin.h"

namespace {

using vantrel::pcm::kBitsPerSample;
using vantrel::pcm::kBlockBytes;
using vantrel::pcm::kBlockFrames;
using vantrel::pcm::kBytesPerFrame;
using vantrel::pcm::kChannels;
using vantrel::pcm::kSampleRate;
// What the decoded time advances by per block: its length in whole milliseconds.
constexpr int kBlockMs = static_cast<int>(vantrel::pcm::kBlockMs);

bool IsThread(HANDLE h) { return h != nullptr && h != INVALID_HANDLE_VALUE; }

} // namespace

int Play(char* file)
{
    const std::string path = file ? file : "";
    g_player.Open(path);
    g_player.Prepare();
    g_songLengthMs = g_player.GetLength();
    StoreCurrentPath(file);
    g_paused = 0;
    g_decodedMs = 0;
    g_pendingSeekMs = -1;

    Out_Module* out = g_module.outMod;
    const int maxLatency = out->Open(kSampleRate, kChannels, kBitsPerSample, -1, -1);
    if (maxLatency < 0)
        return 1;
    // The bit rate in kbit/s and the sample rate in kHz, as the host shows them (1411, 44).
    g_module.SetInfo(kSampleRate * kChannels * kBitsPerSample / 1000, kSampleRate / 1000, kChannels, 1);
    g_module.SAVSAInit(maxLatency, kSampleRate);
    g_module.VSASetInfo(kSampleRate, kChannels);
    out->SetVolume(-666);

    g_stopRequested = 0;
    g_decodeThread = CreateThread(nullptr, 0, DecodeThreadProc, &g_stopRequested, 0, nullptr);
    return 0;
}

void Pause()
{
    g_paused = 1;
    g_module.outMod->Pause(1);
}

void UnPause()
{
    g_paused = 0;
    g_module.outMod->Pause(0);
}

int IsPaused() { return g_paused; }

void Stop()
{
    if (IsThread(g_decodeThread)) {
        g_stopRequested = 1;
        WaitForSingleObject(g_decodeThread, INFINITE);
        CloseHandle(g_decodeThread);
        g_decodeThread = INVALID_HANDLE_VALUE;
    }
    g_player.Close();
    g_module.outMod->Close();
    g_module.SAVSADeInit();
}

int GetOutputTime()
{
    Out_Module* out = g_module.outMod;
    const int written = out->GetWrittenTime();
    return g_decodedMs + out->GetOutputTime() - written;
}

void SetOutputTime(int ms)
{
    std::lock_guard<std::mutex> guard(g_playerLock);
    const int length = g_player.GetLength();
    if (length <= 0)
        return; // nothing to seek in
    // Clamped before the narrowing: the player takes a 16-bit percentage.
    const double percent = std::clamp(static_cast<double>(ms) / static_cast<double>(length) * 100.0, 0.0, 100.0);
    g_pendingSeekMs = g_player.Seek(static_cast<int16_t>(percent));
}

namespace {

DWORD DecodeLoop(const std::atomic<int>* stop)
{
    Out_Module* out = g_module.outMod;
    bool done = false;
    while (*stop == 0) {
        const int seekMs = g_pendingSeekMs.exchange(-1);
        if (seekMs != -1) {
            g_decodedMs = seekMs - seekMs % 1000;
            out->Flush(g_decodedMs);
            done = false;
        }
        out->CanWrite();

        if (done) {
            out->CanWrite();
            if (out->IsPlaying() == 0) {
                PostMessageA(g_module.hMainWindow, WM_WA_MPEG_EOF, 0, 0);
                return 0;
            }
            Sleep(10);
            continue;
        }

        const int need = g_module.dsp_isactive() ? 2 * kBlockBytes : kBlockBytes;
        if (out->CanWrite() < need) {
            Sleep(20);
            continue;
        }
        bool more;
        {
            std::lock_guard<std::mutex> guard(g_playerLock);
            if (g_pendingSeekMs != -1)
                continue; // the next pass flushes first
            more = g_player.RenderBlock(g_blockBuffer, kBlockBytes);
        }
        g_module.SAAddPCMData(g_blockBuffer, kChannels, kBitsPerSample, g_decodedMs);
        g_module.VSAAddPCMData(g_blockBuffer, kChannels, kBitsPerSample, g_decodedMs);
        g_decodedMs += kBlockMs;
        int len = kBlockBytes;
        if (g_module.dsp_isactive()) {
            // The hook may at most double the frames: never more than the buffer holds.
            const int frames = g_module.dsp_dosamples(reinterpret_cast<short*>(g_blockBuffer), kBlockFrames,
                                                      kBitsPerSample, kChannels, kSampleRate);
            len = std::clamp(frames, 0, 2 * kBlockFrames) * kBytesPerFrame;
        }
        out->Write(g_blockBuffer, len);
        done = !more;
    }
    return 0;
}

} // namespace

// No exception may leave the thread (that would end the host's process): a failure
// ends the song as if it had played to its end, so that the host moves on.
DWORD WINAPI DecodeThreadProc(LPVOID stopFlag)
{
    try {
        return DecodeLoop(static_cast<const std::atomic<int>*>(stopFlag));
    } catch (...) {
        PostMessageA(g_module.hMainWindow, WM_WA_MPEG_EOF, 0, 0);
        return 1;
    }
}
