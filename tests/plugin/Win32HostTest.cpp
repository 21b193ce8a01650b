// The plug-in's windows as Windows shows them: the song information dialog and the
// configuration and about boxes, each found while it runs modally on the host's
// thread, read back control by control and closed as a user would.
//
// A watcher thread looks among the host thread's windows for the box, waits until it
// is visible (after WM_INITDIALOG), reads it with GetWindowText / GetDlgItemText
// (served by the modal loop on the host's thread) and then closes it. It only
// collects; the test thread checks once the modal call has returned.
#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstdio>
#include <filesystem>
#include <future>
#include <map>
#include <string>
#include <vector>

#include "PluginSongs.h"
#include "TestHost.h"

using namespace plugintest;

namespace {

struct Child
{
    std::string strClass;
    int nId;
    std::string strText;
};

struct SeenBox
{
    bool bFound = false;
    HWND hOwner = nullptr;
    std::string strCaption;
    std::vector<Child> arrChildren;
    std::map<int, std::string> fields; // GetDlgItemText of the song fields
};

std::string WindowText(HWND w)
{
    char buf[4096] = "";
    GetWindowTextA(w, buf, sizeof buf);
    return buf;
}

std::string ClassOf(HWND w)
{
    char buf[256] = "";
    GetClassNameA(w, buf, sizeof buf);
    return buf;
}

// Window enumeration callbacks are stdcall on 32-bit Windows, which a lambda
// cannot be: plain functions.
BOOL CALLBACK TakeVisibleBox(HWND w, LPARAM out)
{
    if (ClassOf(w) == "#32770" && IsWindowVisible(w)) {
        *reinterpret_cast<HWND*>(out) = w;
        return FALSE;
    }
    return TRUE;
}

BOOL CALLBACK AddChild(HWND c, LPARAM out)
{
    reinterpret_cast<std::vector<Child>*>(out)->push_back(
        Child{ClassOf(c), static_cast<int>(static_cast<short>(GetDlgCtrlID(c))), WindowText(c)});
    return TRUE;
}

// The visible dialog-class window (#32770) among `thread`'s top-level windows.
HWND FindBox(DWORD thread)
{
    HWND found = nullptr;
    EnumThreadWindows(thread, TakeVisibleBox, reinterpret_cast<LPARAM>(&found));
    return found;
}

// Starts watching `thread` for a box; once seen and read, `close` is run on it.
std::future<SeenBox> Watch(DWORD thread, std::function<void(HWND)> close)
{
    return std::async(std::launch::async, [thread, close] {
        SeenBox seen;
        HWND box = nullptr;
        for (int i = 0; i < 6000 && !box; ++i) { // up to a minute
            box = FindBox(thread);
            if (!box)
                Sleep(10);
        }
        if (!box)
            return seen;
        seen.bFound = true;
        seen.hOwner = GetWindow(box, GW_OWNER);
        seen.strCaption = WindowText(box);
        EnumChildWindows(box, AddChild, reinterpret_cast<LPARAM>(&seen.arrChildren));
        for (int id : {1014, 1015, 1016, 1018, 1019, 1020, 1021}) {
            char text[4096] = "";
            GetDlgItemTextA(box, id, text, sizeof text);
            seen.fields[id] = text;
        }
        close(box);
        return seen;
    });
}

void PressOk(HWND box)
{
    PostMessageA(box, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), reinterpret_cast<LPARAM>(GetDlgItem(box, IDOK)));
}

class Win32HostTest : public ::testing::Test
{
protected:
    CTestHost host;
    const DWORD thread = GetCurrentThreadId();

    SeenBox ShowInfo(const std::string& path, std::function<void(HWND)> close = PressOk)
    {
        auto watcher = Watch(thread, std::move(close));
        EXPECT_EQ(host.Mod().InfoBox(const_cast<char*>(path.c_str()), HandleOf(host.window)), 0);
        SeenBox seen = watcher.get();
        EXPECT_TRUE(seen.bFound) << "no dialog appeared";
        EXPECT_EQ(seen.hOwner, HandleOf(host.window)) << "owned by the parent the host gave";
        EXPECT_EQ(FindBox(thread), nullptr) << "the dialog is gone once InfoBox returns";
        return seen;
    }
};

long long FileSize(const std::string& path)
{
    WIN32_FILE_ATTRIBUTE_DATA a{};
    if (!GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &a))
        return -1;
    return (static_cast<long long>(a.nFileSizeHigh) << 32) | a.nFileSizeLow;
}

} // namespace

TEST_F(Win32HostTest, InfoDialogShowsTheSongsTextsAndFileSize)
{
    const std::string song = WriteClipSong("box.vn");
    const SeenBox seen = ShowInfo(song);
    EXPECT_EQ(seen.strCaption, "Song info");
    EXPECT_EQ(seen.fields.at(1014), song);
    EXPECT_EQ(seen.fields.at(1015), "Test Author");
    EXPECT_EQ(seen.fields.at(1016), "Plug-in Test Song");
    EXPECT_EQ(seen.fields.at(1018), "Test Genre");
    EXPECT_EQ(seen.fields.at(1019), "Test Publisher");
    EXPECT_EQ(seen.fields.at(1020), "First line\r\nSecond line");
    EXPECT_EQ(seen.fields.at(1021), std::to_string(FileSize(song)));

    // The controls of the template, in its order.
    ASSERT_EQ(seen.arrChildren.size(), 16u);
    std::vector<std::string> labels;
    std::vector<int> fieldIds;
    for (const Child& c : seen.arrChildren) {
        if (_stricmp(c.strClass.c_str(), "Static") == 0) {
            EXPECT_EQ(c.nId, -1);
            labels.push_back(c.strText);
        } else if (_stricmp(c.strClass.c_str(), "Edit") == 0) {
            fieldIds.push_back(c.nId);
        } else {
            EXPECT_EQ(_stricmp(c.strClass.c_str(), "Button"), 0) << c.strClass;
            EXPECT_EQ(c.nId, IDOK);
            EXPECT_EQ(c.strText, "OK");
        }
    }
    EXPECT_EQ(labels, (std::vector<std::string>{"Location:", "Author:", "Title:", "Genre:", "Publisher:",
                                                 "Copyright notice:", "Size:", "Bytes"}));
    EXPECT_EQ(fieldIds, (std::vector<int>{1014, 1015, 1016, 1018, 1019, 1020, 1021}));
}

TEST_F(Win32HostTest, InfoDialogForAFileThatIsNotASongAndTwoBoxesInARow)
{
    const std::string song = WriteClipSong("first.vn");
    const std::string notSong = WriteNotASong("second.vn");
    EXPECT_EQ(ShowInfo(song).fields.at(1015), "Test Author");
    const SeenBox seen = ShowInfo(notSong);
    EXPECT_EQ(seen.fields.at(1014), notSong);
    for (int id : {1015, 1016, 1018, 1019, 1020})
        EXPECT_EQ(seen.fields.at(id), "") << id;
    EXPECT_EQ(seen.fields.at(1021), "0");
}

TEST_F(Win32HostTest, EscapeAndTheCloseBoxCloseTheInfoDialogLikeOk)
{
    const std::string song = WriteClipSong("escape.vn");
    bool stillOpen = false;
    ShowInfo(song, [&](HWND box) {
        // A command from a field does not end the dialog.
        SendMessageA(box, WM_COMMAND, MAKEWPARAM(1014, EN_SETFOCUS), 0);
        stillOpen = IsWindow(box) && IsWindowVisible(box);
        PostMessageA(GetDlgItem(box, 1014), WM_KEYDOWN, VK_ESCAPE, 0);
    });
    EXPECT_TRUE(stillOpen);
    ShowInfo(song, [](HWND box) { PostMessageA(box, WM_SYSCOMMAND, SC_CLOSE, 0); });
}

TEST_F(Win32HostTest, InfoDialogForThePlayingSongLeavesPlaybackGoing)
{
    // The output takes blocks only while the box is open, so the blocks counted there
    // were rendered while it was.
    const std::string song = WriteSilentSong("playing.vn", {600000});
    host.With([](HostRecord& r) { r.nRoom = 0; });
    ASSERT_EQ(host.Mod().Play(const_cast<char*>(song.c_str())), 0);
    bool played = false;
    const SeenBox seen = ShowInfo(song, [&](HWND box) {
        host.With([](HostRecord& r) { r.nRoom = 4608; });
        played = host.WaitFor([](HostRecord& r) { return r.arrWriteLens.size() >= 3; });
        host.With([](HostRecord& r) { r.nRoom = 0; });
        PressOk(box);
    });
    EXPECT_TRUE(played) << "the decode thread wrote while the box was open";
    EXPECT_EQ(seen.fields.at(1021), std::to_string(FileSize(song)));
    EXPECT_EQ(host.Mod().GetLength(), 600000);
    host.Mod().Stop();
}

TEST_F(Win32HostTest, ConfigAndAboutShowMessageBoxesOverTheParent)
{
    struct Case
    {
        void (*fn)(HWND);
        const char* caption;
    };
    for (const Case& c : {Case{host.Mod().Config, "Configuration"}, Case{host.Mod().About, "About Corvela VN Player"}}) {
        auto watcher = Watch(thread, PressOk);
        c.fn(HandleOf(host.window));
        const SeenBox seen = watcher.get();
        ASSERT_TRUE(seen.bFound) << c.caption;
        EXPECT_EQ(seen.strCaption, c.caption);
        EXPECT_EQ(seen.hOwner, HandleOf(host.window));
        std::vector<std::string> texts, buttons;
        for (const Child& ch : seen.arrChildren) {
            if (_stricmp(ch.strClass.c_str(), "Button") == 0)
                buttons.push_back(ch.strText);
            else if (_stricmp(ch.strClass.c_str(), "Static") == 0 && !ch.strText.empty())
                texts.push_back(ch.strText);
        }
        EXPECT_EQ(buttons, std::vector<std::string>{"OK"}) << c.caption;
        ASSERT_EQ(texts.size(), 1u) << c.caption;
        if (c.fn == host.Mod().Config) {
            EXPECT_EQ(texts[0], "No configuration yet");
        } else {
            EXPECT_NE(texts[0].find("Vantrel engine"), std::string::npos) << texts[0];
            EXPECT_EQ(texts[0].find('\n'), std::string::npos) << "one line";
        }
    }
}

#if defined(__i386__)
// A host built by another compiler may call the plug-in with the stack aligned to 4
// bytes only (all that 32-bit Windows promises), where GCC's own code keeps 16. The
// trampoline calls a cdecl function with its arguments copied onto a stack whose
// address at the call is 4, 8 or 12 above a multiple of 16, and restores the stack
// itself afterwards.
extern "C" int VantrelCallMisaligned(const void* fn, const int* args, int count, int offset);
extern "C" int VantrelStackAtCall(); // the stack address at its call
asm(R"(
    .text
    .globl _VantrelCallMisaligned
_VantrelCallMisaligned:
    pushl %ebp
    movl %esp, %ebp
    pushl %esi
    pushl %edi
    movl 12(%ebp), %esi
    movl 16(%ebp), %ecx
    leal 64(,%ecx,4), %eax
    movl %esp, %edx
    subl %eax, %edx
    andl $-16, %edx
    addl 20(%ebp), %edx
    movl %edx, %esp
    xorl %edi, %edi
1:  cmpl %ecx, %edi
    jge 2f
    movl (%esi,%edi,4), %eax
    movl %eax, (%esp,%edi,4)
    incl %edi
    jmp 1b
2:  call *8(%ebp)
    leal -8(%ebp), %esp
    popl %edi
    popl %esi
    popl %ebp
    ret
    .globl _VantrelStackAtCall
_VantrelStackAtCall:
    leal 4(%esp), %eax
    ret
)");

namespace {

template <typename... Args> int CallMisaligned(int offset, void (*fn)(Args...), Args... args)
{
    const int list[] = {0, (int)(intptr_t)args...};
    return VantrelCallMisaligned(reinterpret_cast<const void*>(fn), list + 1, sizeof...(Args), offset);
}

template <typename... Args> int CallMisaligned(int offset, int (*fn)(Args...), Args... args)
{
    const int list[] = {0, (int)(intptr_t)args...};
    return VantrelCallMisaligned(reinterpret_cast<const void*>(fn), list + 1, sizeof...(Args), offset);
}

} // namespace

TEST_F(Win32HostTest, TheTrampolineMisalignsTheStack)
{
    for (int offset : {4, 8, 12}) {
        const int sp = VantrelCallMisaligned(reinterpret_cast<const void*>(VantrelStackAtCall), nullptr, 0, offset);
        EXPECT_EQ(sp & 15, offset);
    }
    const int args[] = {-1, 7};
    EXPECT_EQ(VantrelCallMisaligned(reinterpret_cast<const void*>(+[](int a, int b) { return a * 10 + b; }), args,
                                    2, 4),
              -3);
}

TEST_F(Win32HostTest, EveryEntryPointWorksWithAStackAlignedToFourBytes)
{
    const std::string song = WriteClipSong("aligned4.vn");
    const std::string longSong = WriteSilentSong("aligned4-long.vn", {600000});
    char* path = const_cast<char*>(song.c_str());
    char* longPath = const_cast<char*>(longSong.c_str());
    HWND parent = HandleOf(host.window);
    In_Module& m = host.Mod();
    for (int offset : {4, 8, 12}) {
        SCOPED_TRACE(offset);
        auto getModule = reinterpret_cast<int (*)()>(reinterpret_cast<void*>(host.GetModuleFn()));
        // The library fills in its record afresh, the host's members emptied: the
        // host fills them in again.
        const In_Module filled = m;
        EXPECT_EQ(CallMisaligned(offset, getModule), (int)(intptr_t)&m);
        EXPECT_EQ(m.hDllInstance, nullptr);
        m = filled;
        CallMisaligned(offset, m.Init);
        EXPECT_EQ(CallMisaligned(offset, m.IsOurFile, path), 0);
        char title[4096] = "";
        int length = 0;
        CallMisaligned(offset, m.GetFileInfo, const_cast<char*>("C:\\songs\\a.vn"), title, &length);
        EXPECT_STREQ(title, "a.vn");
        EXPECT_EQ(length, -1000);

        // The boxes, closed from a watcher thread.
        auto box = Watch(thread, PressOk);
        EXPECT_EQ(CallMisaligned(offset, m.InfoBox, path, parent), 0);
        SeenBox info = box.get();
        ASSERT_TRUE(info.bFound) << "no information box";
        EXPECT_EQ(info.fields[1015], "Test Author");
        for (void (*fn)(HWND) : {m.Config, m.About}) {
            auto watcher = Watch(thread, PressOk);
            CallMisaligned(offset, fn, parent);
            EXPECT_TRUE(watcher.get().bFound);
        }

        // Playback: every call while the decode thread runs, then the whole song
        // rendered from the misaligned calls is what a player of its own renders.
        host.Reset();
        ASSERT_EQ(CallMisaligned(offset, m.Play, longPath), 0);
        EXPECT_TRUE(host.WaitPasses(3));
        EXPECT_EQ(CallMisaligned(offset, m.GetLength), 600000);
        EXPECT_GE(CallMisaligned(offset, m.GetOutputTime), 0);
        CallMisaligned(offset, m.Pause);
        EXPECT_EQ(CallMisaligned(offset, m.IsPaused), 1);
        CallMisaligned(offset, m.UnPause);
        EXPECT_EQ(CallMisaligned(offset, m.IsPaused), 0);
        CallMisaligned(offset, m.SetVolume, 100);
        CallMisaligned(offset, m.SetPan, -20);
        char bands[10] = {};
        CallMisaligned(offset, m.EQSet, 1, bands, 0);
        CallMisaligned(offset, m.SetOutputTime, 300000);
        EXPECT_TRUE(host.WaitFor([](HostRecord& r) { return !r.arrFlushMs.empty(); }));
        auto infoWhilePlaying = Watch(thread, PressOk);
        EXPECT_EQ(CallMisaligned(offset, m.InfoBox, longPath, parent), 0);
        EXPECT_TRUE(infoWhilePlaying.get().bFound);
        EXPECT_TRUE(host.WaitPasses(3));
        CallMisaligned(offset, m.Stop);

        host.Reset();
        ASSERT_EQ(CallMisaligned(offset, m.Play, path), 0);
        EXPECT_TRUE(host.WaitFor([](HostRecord& r) { return r.nCanWriteCalls > 0; }));
        host.With([](HostRecord& r) { r.bDrained = true; });
        CHostWindow::Message end{};
        EXPECT_TRUE(host.window.WaitMessage(end, std::chrono::seconds(60)));
        EXPECT_EQ(end.nMessage, static_cast<UINT>(WM_WA_MPEG_EOF));
        CallMisaligned(offset, m.Stop);
        EXPECT_EQ(host.With([](HostRecord& r) { return r.pcm; }), RenderDirect(song));
        CallMisaligned(offset, m.Quit);
    }
}
#endif

namespace {

// What a leak would show: the process's open handles and its private committed
// memory. Both are taken by walking rather than asked for, because the system's own
// counters are not kept everywhere (32-bit wine answers 0 for the handle count and
// the private usage).
struct ProcessCounters
{
    DWORD nHandles = 0;
    size_t nPrivateBytes = 0;
};

ProcessCounters Counters()
{
    ProcessCounters c;
    // Handle values are multiples of 4; a process that stays far below 16384 open
    // handles is seen whole.
    for (uintptr_t value = 4; value < 4 * 16384; value += 4) {
        DWORD flags = 0;
        if (GetHandleInformation(reinterpret_cast<HANDLE>(value), &flags))
            ++c.nHandles;
    }
    // Committed pages that belong to this process alone (heaps, stacks, private
    // mappings): what Windows calls private bytes.
    const char* at = nullptr;
    MEMORY_BASIC_INFORMATION info{};
    while (VirtualQuery(at, &info, sizeof info) == sizeof info) {
        if (info.State == MEM_COMMIT && info.Type == MEM_PRIVATE)
            c.nPrivateBytes += info.RegionSize;
        const char* next = static_cast<const char*>(info.BaseAddress) + info.RegionSize;
        if (next <= at)
            break;
        at = next;
    }
    return c;
}

} // namespace

TEST_F(Win32HostTest, TheLeakCountersSeeHandlesAndMemory)
{
    const ProcessCounters before = Counters();
    EXPECT_GT(before.nHandles, 0u);
    std::vector<HANDLE> events;
    for (int i = 0; i < 16; ++i)
        events.push_back(CreateEventA(nullptr, TRUE, FALSE, nullptr));
    const size_t size = 8 << 20;
    void* block = VirtualAlloc(nullptr, size, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE);
    ASSERT_NE(block, nullptr);
    const ProcessCounters during = Counters();
    EXPECT_EQ(during.nHandles, before.nHandles + 16);
    EXPECT_GE(during.nPrivateBytes, before.nPrivateBytes + size);
    for (HANDLE e : events)
        CloseHandle(e);
    VirtualFree(block, 0, MEM_RELEASE);
    const ProcessCounters after = Counters();
    EXPECT_EQ(after.nHandles, before.nHandles);
    EXPECT_LT(after.nPrivateBytes, during.nPrivateBytes);
}

// A long session as a user has one: many plays over several songs and a damaged
// file, each with blocks, a seek, a pause, the information box on the playing song
// and a stop. After the first 20 cycles (the process's caches filled) neither the
// handle count nor the private bytes may grow; no cycle may hang or show a box.
TEST_F(Win32HostTest, ThreeHundredPlayCyclesLeakNoHandlesAndNoMemory)
{
    const std::string damaged = WriteClipSong("soak-damaged.vn");
    std::filesystem::resize_file(damaged, std::filesystem::file_size(damaged) / 2);
    const std::vector<std::string> songs = {WriteClipSong("soak-clip.vn"), WriteVaryingSong("soak-varying.vn"),
                                            WriteSilentSong("soak-long.vn", {600000}), damaged,
                                            WriteNotASong("soak-not-a-song.vn")};
    In_Module& m = host.Mod();
    // VANTREL_SOAK_CYCLES shortens the run while working on it (at least 21 cycles).
    const char* wanted = std::getenv("VANTREL_SOAK_CYCLES");
    const int cycles = wanted ? std::max(21, std::atoi(wanted)) : 300;
    ProcessCounters after20;
    // Where the time goes, summed over the cycles and printed at the end.
    using Clock = std::chrono::steady_clock;
    Clock::duration spent[4] = {};
    for (int cycle = 1; cycle <= cycles; ++cycle) {
        const auto t0 = Clock::now();
        char* path = const_cast<char*>(songs[cycle % songs.size()].c_str());
        SCOPED_TRACE(std::string("cycle ") + std::to_string(cycle) + ": " + path);
        host.Reset();
        host.With([](HostRecord& r) { r.nWritesLeft = 4; });
        ASSERT_EQ(m.Play(path), 0);
        // A few blocks, or (a damaged file plays nothing) the wait for the end.
        ASSERT_TRUE(host.WaitFor([](HostRecord& r) { return r.nCanWriteCalls >= 3 || r.nIsPlayingCalls > 0; }));
        const auto t1 = Clock::now();
        m.SetOutputTime(1000);
        m.Pause();
        m.UnPause();
        auto box = Watch(thread, PressOk);
        EXPECT_EQ(m.InfoBox(path, HandleOf(host.window)), 0);
        EXPECT_TRUE(box.get().bFound);
        const auto t2 = Clock::now();
        m.Stop();
        const auto t3 = Clock::now();
        EXPECT_EQ(FindBox(thread), nullptr) << "no box left open";
        while (host.window.PendingMessages() > 0) {
            CHostWindow::Message end{};
            host.window.WaitMessage(end, std::chrono::seconds(1));
        }
        const auto t4 = Clock::now();
        spent[0] += t1 - t0;
        spent[1] += t2 - t1;
        spent[2] += t3 - t2;
        spent[3] += t4 - t3;
        EXPECT_LT(t4 - t0, std::chrono::seconds(60)) << "a cycle that hangs";
        if (HasFatalFailure())
            return;
        if (cycle == 20)
            after20 = Counters();
        if (cycle % 50 == 0) {
            std::printf("soak: %d cycles\n", cycle);
            std::fflush(stdout);
        }
    }
    const ProcessCounters last = Counters();
    EXPECT_LE(last.nHandles, after20.nHandles) << "handles after cycle 20 and " << cycles;
    EXPECT_LE(last.nPrivateBytes, after20.nPrivateBytes + 512 * 1024) << "private bytes after cycle 20 and " << cycles;
    std::printf("soak: after cycles 20 and %d: handles %lu -> %lu, private bytes %zu -> %zu\n", cycles,
                static_cast<unsigned long>(after20.nHandles), static_cast<unsigned long>(last.nHandles),
                after20.nPrivateBytes, last.nPrivateBytes);
    const auto ms = [](Clock::duration d) {
        return static_cast<long long>(std::chrono::duration_cast<std::chrono::milliseconds>(d).count());
    };
    std::printf("soak: ms spent in play and first blocks %lld, seek, pause and information box %lld, stop %lld, "
                "end messages %lld\n",
                ms(spent[0]), ms(spent[1]), ms(spent[2]), ms(spent[3]));
}
