// Playback through the loaded plug-in: the decode thread's writes and hook calls, the
// end message, DSP, seeking, pause and stop, and the failure cases.
#include <gtest/gtest.h>

#include <algorithm>
#include <future>
#include <random>

#ifdef _WIN32
#include "platform/Win32.h"
#include <tlhelp32.h>
#else
#include <dirent.h>
#include <unistd.h>
#endif

#include "PluginSongs.h"
#include "TestHost.h"
#include "player/SongPlayer.h"

using namespace plugintest;

namespace {

constexpr int kBlock = 4608;

#ifdef _WIN32
int ThreadCount()
{
    HANDLE snap = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
    if (snap == INVALID_HANDLE_VALUE)
        return -1;
    int n = 0;
    THREADENTRY32 t{};
    t.dwSize = sizeof t;
    for (BOOL ok = Thread32First(snap, &t); ok; ok = Thread32Next(snap, &t))
        n += t.th32OwnerProcessID == GetCurrentProcessId();
    CloseHandle(snap);
    return n;
}

// Whether this process holds the file at `path` open: 1 when it cannot be opened
// with a sharing mode that denies everything to others, 0 when it can.
int OpenHandlesOn(const std::string& path)
{
    HANDLE h = CreateFileA(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h != INVALID_HANDLE_VALUE) {
        CloseHandle(h);
        return 0;
    }
    return GetLastError() == ERROR_SHARING_VIOLATION ? 1 : -1;
}
#else
int CountEntries(const char* dir)
{
    int n = 0;
    if (DIR* d = opendir(dir)) {
        while (readdir(d))
            ++n;
        closedir(d);
    }
    return n;
}

int ThreadCount() { return CountEntries("/proc/self/task"); }

// Open descriptors of this process on the file at `path`.
int OpenHandlesOn(const std::string& path)
{
    char real[4096];
    if (!realpath(path.c_str(), real))
        return -1;
    int n = 0;
    if (DIR* d = opendir("/proc/self/fd")) {
        while (dirent* e = readdir(d)) {
            char target[4096];
            const std::string link = std::string("/proc/self/fd/") + e->d_name;
            const ssize_t len = readlink(link.c_str(), target, sizeof target - 1);
            if (len > 0 && std::string(target, static_cast<size_t>(len)) == real)
                ++n;
        }
        closedir(d);
    }
    return n;
}
#endif

class PlaybackTest : public ::testing::Test
{
protected:
    CTestHost host;
    In_Module& mod = host.Mod();

    int Play(const std::string& path) { return mod.Play(const_cast<char*>(path.c_str())); }
    // Stops on another thread, so that a Stop that hangs fails the test instead.
    void StopWithin60s()
    {
        auto stop = std::async(std::launch::async, [this] { mod.Stop(); });
        ASSERT_EQ(stop.wait_for(std::chrono::seconds(60)), std::future_status::ready) << "Stop hangs";
    }
    bool WaitEndMessage()
    {
        CHostWindow::Message m{};
        if (!host.window.WaitMessage(m, std::chrono::seconds(60)))
            return false;
        EXPECT_EQ(m.nMessage, WM_WA_MPEG_EOF);
        EXPECT_EQ(m.wParam, 0u);
        EXPECT_EQ(m.lParam, 0);
        return m.nMessage == WM_WA_MPEG_EOF;
    }
};

} // namespace

TEST_F(PlaybackTest, PlaysTheWholeSongThenPostsOneEndMessageAfterTheOutputRanDry)
{
    const std::string song = WriteClipSong("whole.vn");
    const std::vector<char> expected = RenderDirect(song);
    ASSERT_EQ(expected.size() % kBlock, 0u);
    const size_t blocks = expected.size() / kBlock;

    ASSERT_EQ(Play(song), 0);
    EXPECT_EQ(mod.GetLength(), 3500);
    // Everything is written, then the thread waits for the output to run dry.
    ASSERT_TRUE(host.WaitFor([&](HostRecord& r) { return r.pcm.size() >= expected.size(); }));
    ASSERT_TRUE(host.WaitFor([](HostRecord& r) { return r.nIsPlayingCalls >= 5; }));
    EXPECT_EQ(host.window.PendingMessages(), 0u) << "no end message while the output still plays";
    host.With([](HostRecord& r) { r.bDrained = true; });
    ASSERT_TRUE(WaitEndMessage());

    host.With([&](HostRecord& r) {
        EXPECT_EQ(r.pcm, expected);
        EXPECT_EQ(r.arrWriteLens, std::vector<int>(blocks, kBlock));
        ASSERT_EQ(r.arrOpenArgs.size(), 1u);
        EXPECT_EQ(r.arrOpenArgs[0], (std::vector<int>{44100, 2, 16, -1, -1}));
        EXPECT_EQ(r.arrSetInfo, (std::vector<int>{1411, 44, 2, 1}));
        EXPECT_EQ(r.arrSAInit, (std::vector<int>{1000, 44100}));
        EXPECT_EQ(r.arrVSAInfo, (std::vector<int>{44100, 2}));
        EXPECT_EQ(r.arrVolume, std::vector<int>{-666});
        std::vector<int> stamps;
        for (size_t i = 0; i < blocks; ++i)
            stamps.push_back(static_cast<int>(i) * 26);
        EXPECT_EQ(r.arrSATimes, stamps);
        EXPECT_EQ(r.arrVSATimes, stamps);
        EXPECT_EQ(r.nIsPlayingZero, 1) << "the thread ends once the output ran dry";
    });
    EXPECT_EQ(mod.GetOutputTime(), static_cast<int>(blocks) * 26);
    StopWithin60s();
    EXPECT_EQ(host.window.PendingMessages(), 0u) << "exactly one end message";
    host.With([](HostRecord& r) {
        EXPECT_EQ(r.nCloses, 1);
        EXPECT_EQ(r.nSADeInits, 1);
    });
}

TEST_F(PlaybackTest, DspHookNeedsRoomForTwoBlocksAndItsResultIsClampedToTheBuffer)
{
    const std::string song = WriteSilentSong("dsp.vn", {60000});
    host.With([](HostRecord& r) {
        r.bDspActive = true;
        r.nRoom = 2 * kBlock - 1;
    });
    ASSERT_EQ(Play(song), 0);
    ASSERT_TRUE(host.WaitPasses(10));
    host.With([](HostRecord& r) { EXPECT_TRUE(r.arrWriteLens.empty()) << "room for one block is not enough"; });

    // Each frame count the hook returns, and the bytes the thread then writes. The
    // output takes one write per case, so the song never runs out while the test waits.
    const std::vector<std::pair<int, int>> cases = {
        {1152, 4608}, {2304, 9216}, {500, 2000}, {5000, 9216}, {0, 0}, {-7, 0}};
    for (const auto& [frames, bytes] : cases) {
        host.With([&](HostRecord& r) {
            r.nDspFrames = frames;
            r.arrWriteLens.clear();
            r.nRoom = 2 * kBlock;
            r.nWritesLeft = 1;
        });
        ASSERT_TRUE(host.WaitFor([](HostRecord& r) { return !r.arrWriteLens.empty(); })) << "frames " << frames;
        host.With([&](HostRecord& r) {
            EXPECT_EQ(r.arrWriteLens, std::vector<int>{bytes}) << "frames " << frames;
            EXPECT_EQ(r.arrDspArgs, (std::vector<int>{1152, 16, 2, 44100}));
        });
    }
    StopWithin60s();
}

TEST_F(PlaybackTest, SeekFlushesAtTheWholeSecondBeforeTheEntryStart)
{
    // 1:30.700 falls in the second entry, which starts at 75 300 ms.
    const std::string song = WriteSilentSong("seek.vn", {75300, 24700});
    host.With([](HostRecord& r) { r.nRoom = 0; });
    ASSERT_EQ(Play(song), 0);
    mod.SetOutputTime(90700);
    ASSERT_TRUE(host.WaitFor([](HostRecord& r) { return !r.arrFlushMs.empty(); }));
    host.With([](HostRecord& r) { EXPECT_EQ(r.arrFlushMs, std::vector<int>{75000}); });
    EXPECT_EQ(mod.GetOutputTime(), 75000);

    // Time counts on from there.
    host.With([](HostRecord& r) { r.nRoom = kBlock; });
    ASSERT_TRUE(host.WaitFor([](HostRecord& r) { return r.arrSATimes.size() >= 3; }));
    host.With([](HostRecord& r) {
        r.nRoom = 0;
        EXPECT_EQ(std::vector<int>(r.arrSATimes.begin(), r.arrSATimes.begin() + 3),
                  (std::vector<int>{75000, 75026, 75052}));
    });

    // Out-of-range times: the percentage is clamped to 0..100 before it is narrowed.
    mod.SetOutputTime(2147483647);
    ASSERT_TRUE(host.WaitFor([](HostRecord& r) { return r.arrFlushMs.size() == 2; }));
    mod.SetOutputTime(-5000);
    ASSERT_TRUE(host.WaitFor([](HostRecord& r) { return r.arrFlushMs.size() == 3; }));
    host.With([](HostRecord& r) { EXPECT_EQ(r.arrFlushMs, (std::vector<int>{75000, 75000, 0})); });
    StopWithin60s();
}

TEST_F(PlaybackTest, SeekInASongWithoutLengthDoesNothing)
{
    const std::string notSong = WriteNotASong("noseek.vn");
    host.With([](HostRecord& r) { r.nRoom = 0; });
    ASSERT_EQ(Play(notSong), 0);
    EXPECT_EQ(mod.GetLength(), -1);
    mod.SetOutputTime(1000);
    ASSERT_TRUE(host.WaitPasses(10));
    host.With([](HostRecord& r) { EXPECT_TRUE(r.arrFlushMs.empty()); });
    StopWithin60s();
}

TEST_F(PlaybackTest, StopWhilePausedEndsTheThread)
{
    const std::string song = WriteSilentSong("pause.vn", {600000});
    ASSERT_EQ(Play(song), 0);
    ASSERT_TRUE(host.WaitFor([](HostRecord& r) { return r.arrWriteLens.size() >= 3; }));
    mod.Pause();
    EXPECT_EQ(mod.IsPaused(), 1);
    ASSERT_TRUE(host.WaitPasses(5)); // the paused output has no room; the thread keeps polling
    mod.UnPause();
    EXPECT_EQ(mod.IsPaused(), 0);
    mod.Pause();
    StopWithin60s();
    host.With([](HostRecord& r) {
        EXPECT_EQ(r.arrPause, (std::vector<int>{1, 0, 1}));
        EXPECT_EQ(r.nCloses, 1);
    });
    EXPECT_EQ(OpenHandlesOn(song), 0) << "the player let go of the song";
}

TEST_F(PlaybackTest, OutputThatCannotOpenStartsNoThreadAndStopStillClosesEverything)
{
    const std::string song = WriteClipSong("noout.vn");
    host.With([](HostRecord& r) { r.nOpenResult = -1; });
    const int threads = ThreadCount();
    ASSERT_EQ(Play(song), 1);
    EXPECT_EQ(ThreadCount(), threads);
    EXPECT_EQ(mod.GetLength(), 3500);
    EXPECT_GE(OpenHandlesOn(song), 1) << "the player keeps the song until Stop";
    host.With([](HostRecord& r) {
        EXPECT_TRUE(r.arrSetInfo.empty());
        EXPECT_TRUE(r.arrSAInit.empty());
    });
    StopWithin60s();
    EXPECT_EQ(OpenHandlesOn(song), 0);
    host.With([](HostRecord& r) {
        EXPECT_EQ(r.nCloses, 1);
        EXPECT_EQ(r.nSADeInits, 1);
        EXPECT_EQ(r.nCanWriteCalls, 0);
    });
}

TEST_F(PlaybackTest, FileThatIsNotASongPlaysOneSilentBlockThenEnds)
{
    const std::string notSong = WriteNotASong("garbage.vn");
    ASSERT_EQ(Play(notSong), 0);
    host.With([](HostRecord& r) { r.bDrained = true; });
    ASSERT_TRUE(WaitEndMessage());
    host.With([](HostRecord& r) {
        EXPECT_EQ(r.arrWriteLens, std::vector<int>{kBlock});
        EXPECT_TRUE(std::all_of(r.pcm.begin(), r.pcm.end(), [](char b) { return b == 0; }));
    });
    StopWithin60s();
    EXPECT_EQ(host.window.PendingMessages(), 0u);
}

// Seeks from the host's thread while the decode thread renders: under ThreadSanitizer
// this finds any overlap of Seek and RenderBlock. Every flush must be followed by the
// first block of the entry the seek went to: a block of the old position never comes
// after the flush.
TEST_F(PlaybackTest, SeeksWhileRenderingNeverOverlapARender)
{
    const std::string song = WriteClipSong("stress.vn");
    // The first block of each entry, as a seek to it renders it.
    std::vector<char> firstA(kBlock), firstB(kBlock);
    {
        CSongPlayer p;
        p.Open(song);
        p.Prepare();
        p.Seek(10);
        p.RenderBlock(firstA.data(), kBlock);
        p.Seek(90);
        p.RenderBlock(firstB.data(), kBlock);
        p.Close();
    }
    ASSERT_NE(firstA, firstB);

    ASSERT_EQ(Play(song), 0);
    std::mt19937 random(12345);
    std::vector<int> targets;
    for (int i = 0; i < 200; ++i) {
        const int ms = static_cast<int>(random() % 3500);
        targets.push_back(ms);
        mod.SetOutputTime(ms);
        if (i % 8 == 0) {
            ASSERT_TRUE(host.WaitPasses(1));
        }
    }
    ASSERT_TRUE(host.WaitFor([](HostRecord& r) { return !r.arrFlushMs.empty(); }));
    host.With([](HostRecord& r) { r.bDrained = true; });
    StopWithin60s();

    host.With([&](HostRecord& r) {
        for (size_t i = 0; i < r.arrFlushMs.size(); ++i) {
            const int ms = r.arrFlushMs[i];
            ASSERT_TRUE(ms == 0 || ms == 2000) << ms;
            const size_t at = r.arrFlushAt[i];
            if (at + kBlock <= r.pcm.size() && (i + 1 == r.arrFlushAt.size() || r.arrFlushAt[i + 1] > at)) {
                const std::vector<char> block(r.pcm.begin() + static_cast<long>(at),
                                              r.pcm.begin() + static_cast<long>(at + kBlock));
                EXPECT_EQ(block, ms == 0 ? firstA : firstB) << "flush " << i;
            }
        }
    });
}
