// The plug-in's windows as Windows shows them: the song information dialog and the
// configuration and about boxes, each found while it runs modally on the host's
// thread, read back control by control and closed as a user would.
//
// A watcher thread looks among the host thread's windows for the box, waits until it
// is visible (after WM_INITDIALOG), reads it with GetWindowText / GetDlgItemText
// (served by the modal loop on the host's thread) and then closes it. It only
// collects; the test thread checks once the modal call has returned.
#include <gtest/gtest.h>

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

// The visible dialog-class window (#32770) among `thread`'s top-level windows.
HWND FindBox(DWORD thread)
{
    HWND found = nullptr;
    EnumThreadWindows(
        thread,
        [](HWND w, LPARAM out) -> BOOL {
            if (ClassOf(w) == "#32770" && IsWindowVisible(w)) {
                *reinterpret_cast<HWND*>(out) = w;
                return FALSE;
            }
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&found));
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
        EnumChildWindows(
            box,
            [](HWND c, LPARAM out) -> BOOL {
                reinterpret_cast<std::vector<Child>*>(out)->push_back(
                    Child{ClassOf(c), static_cast<int>(static_cast<short>(GetDlgCtrlID(c))), WindowText(c)});
                return TRUE;
            },
            reinterpret_cast<LPARAM>(&seen.arrChildren));
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
