// The song information box: the dialog the plug-in shows over the host's window, read
// back control by control and closed the way a user would.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <map>

#include "PluginSongs.h"
#include "TestHost.h"

using namespace plugintest;

namespace {

using Fields = std::map<int, std::string>;

class InfoBoxTest : public ::testing::Test
{
protected:
    CTestHost host;
    int dialogs = 0;

    // Opens the box for `path`, reads the fields, and closes it with `close`.
    Fields Show(const std::string& path, const std::function<void(CStandInDialog&)>& close)
    {
        Fields fields;
        host.window.onDialog = [&](CStandInDialog& dialog) {
            ++dialogs;
            EXPECT_EQ(dialog.GetTemplateId(), 1016);
            EXPECT_EQ(dialog.GetCaption(), "Song info");
            for (int id : {1014, 1015, 1016, 1018, 1019, 1020, 1021}) {
                char text[1024];
                GetDlgItemTextA(&dialog, id, text, sizeof text);
                fields[id] = text;
            }
            close(dialog);
            EXPECT_TRUE(dialog.IsEnded());
        };
        EXPECT_EQ(host.Mod().InfoBox(const_cast<char*>(path.c_str()), &host.window), 0);
        return fields;
    }
    static void PressOk(CStandInDialog& d)
    {
        d.Command(IDOK);
        EXPECT_EQ(d.GetResult(), IDOK);
    }
};

long long FileSize(const std::string& path)
{
    struct stat st{};
    return stat(path.c_str(), &st) == 0 ? st.st_size : -1;
}

} // namespace

TEST_F(InfoBoxTest, ShowsTheSongsTextsAndFileSize)
{
    const std::string song = WriteClipSong("box.vn");
    const Fields f = Show(song, PressOk);
    EXPECT_EQ(dialogs, 1);
    EXPECT_EQ(f.at(1014), song);
    EXPECT_EQ(f.at(1015), "Test Author");
    EXPECT_EQ(f.at(1016), "Plug-in Test Song");
    EXPECT_EQ(f.at(1018), "Test Genre");
    EXPECT_EQ(f.at(1019), "Test Publisher");
    EXPECT_EQ(f.at(1020), "First line\r\nSecond line");
    EXPECT_EQ(f.at(1021), std::to_string(FileSize(song)));
}

TEST_F(InfoBoxTest, FileThatIsNotASongShowsItsPathAndSizeZero)
{
    const std::string notSong = WriteNotASong("box-garbage.vn");
    const Fields f = Show(notSong, PressOk);
    EXPECT_EQ(f.at(1014), notSong);
    for (int id : {1015, 1016, 1018, 1019, 1020})
        EXPECT_EQ(f.at(id), "") << id;
    EXPECT_EQ(f.at(1021), "0");
    EXPECT_EQ(Show("/no/such/file.vn", PressOk).at(1021), "0");
}

TEST_F(InfoBoxTest, SecondBoxShowsOnlyTheSecondFilesValues)
{
    const std::string song = WriteClipSong("first.vn");
    const std::string notSong = WriteNotASong("second.vn");
    Show(song, PressOk);
    const Fields f = Show(notSong, PressOk);
    EXPECT_EQ(dialogs, 2);
    EXPECT_EQ(f.at(1014), notSong);
    EXPECT_EQ(f.at(1015), "");
    EXPECT_EQ(f.at(1016), "");
    EXPECT_EQ(f.at(1020), "");
    EXPECT_EQ(f.at(1021), "0");
}

TEST_F(InfoBoxTest, EscapeAndTheCloseBoxCloseItLikeOk)
{
    const std::string song = WriteClipSong("escape.vn");
    Show(song, [](CStandInDialog& d) {
        d.Command(1014); // a click on a field does not close it
        EXPECT_FALSE(d.IsEnded());
        d.Key(VK_ESCAPE);
        EXPECT_EQ(d.GetResult(), IDCANCEL);
    });
    Show(song, [](CStandInDialog& d) {
        d.Key(VK_RETURN);
        EXPECT_EQ(d.GetResult(), IDOK);
    });
    // A host that leaves the box open: the stand-in closes it as its close box would.
    host.window.onDialog = nullptr;
    EXPECT_EQ(host.Mod().InfoBox(const_cast<char*>(song.c_str()), &host.window), 0);
}

TEST_F(InfoBoxTest, DialogIsBuiltFromTheResourceTemplate)
{
    const std::string song = WriteClipSong("template.vn");
    std::vector<CStandInDialog::Control> controls;
    Show(song, [&](CStandInDialog& d) {
        controls = d.GetControls();
        PressOk(d);
    });
    ASSERT_EQ(controls.size(), 16u);
    const auto& ok = controls[0];
    EXPECT_EQ(ok.strClass, "Button");
    EXPECT_EQ(ok.nId, 1);
    EXPECT_EQ(ok.strText, "OK");
    EXPECT_EQ(std::vector<int>({ok.x, ok.y, ok.cx, ok.cy}), std::vector<int>({163, 121, 50, 14}));
    EXPECT_EQ(ok.dwStyle, 0x50010001u);
    std::vector<std::string> labels;
    for (const auto& c : controls)
        if (c.strClass == "Static")
            labels.push_back(c.strText);
    EXPECT_EQ(labels, (std::vector<std::string>{"Location:", "Author:", "Title:", "Genre:", "Publisher:",
                                                 "Copyright notice:", "Size:", "Bytes"}));
    const auto& copyright = controls[13];
    EXPECT_EQ(copyright.nId, 1020);
    EXPECT_EQ(copyright.dwStyle, 0x50a11844u) << "multi-line, scrolls vertically, read-only";
    EXPECT_EQ(controls[14].nId, 1021);
    EXPECT_EQ(controls[14].dwStyle, 0x50810882u) << "right-aligned number";
}

TEST_F(InfoBoxTest, BoxForThePlayingSongLeavesPlaybackGoing)
{
    const std::string song = WriteSilentSong("playing.vn", {600000});
    ASSERT_EQ(host.Mod().Play(const_cast<char*>(song.c_str())), 0);
    ASSERT_TRUE(host.WaitFor([](HostRecord& r) { return r.arrWriteLens.size() >= 2; }));
    const Fields f = Show(song, PressOk);
    EXPECT_EQ(f.at(1021), std::to_string(FileSize(song)));
    const size_t before = host.With([](HostRecord& r) { return r.arrWriteLens.size(); });
    ASSERT_TRUE(host.WaitFor([&](HostRecord& r) { return r.arrWriteLens.size() >= before + 3; }));
    EXPECT_EQ(host.Mod().GetLength(), 600000);
    host.Mod().Stop();
}
