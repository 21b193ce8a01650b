// The module record as the host sees it after loading the library, and the small
// entry points: file information, configuration and about boxes.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "PluginSongs.h"
#include "TestHost.h"

using namespace plugintest;

namespace {

struct Box
{
    HWND owner;
    std::string text;
    std::string caption;
};

std::string Title(In_Module& mod, const char* file, int* length)
{
    char title[4096];
    std::memset(title, 'X', sizeof title);
    mod.GetFileInfo(const_cast<char*>(file), title, length);
    return title;
}

} // namespace

// Kept first: every test runs in a process of its own under ctest, and so does this
// one when the whole binary runs, before anything was played.
TEST(PluginRecord, CurrentSongInfoBeforeAnyPlayIsEmpty)
{
    CTestHost host;
    int length = 123;
    EXPECT_EQ(Title(host.Mod(), "", &length), "");
    EXPECT_EQ(length, 0);
    length = 123;
    EXPECT_EQ(Title(host.Mod(), nullptr, &length), "");
    EXPECT_EQ(length, 0);
}

TEST(PluginRecord, FieldsAndEntryPoints)
{
    CTestHost host;
    In_Module* rec = host.FreshRecord(); // refills every member, the host's ones too
    EXPECT_EQ(rec, &host.Mod());
    EXPECT_EQ(host.GetModuleFn()(), rec) << "the same record every time";
    EXPECT_EQ(rec->version, 0x100);
    EXPECT_STREQ(rec->description, "Corvela Vantrel for Winamp v1.0 x86");
    EXPECT_EQ(std::string(rec->FileExtensions, 24), std::string("vn\0Vantsong File (*.vn)\0", 24));
    EXPECT_EQ(rec->FileExtensions[24], '\0') << "the list ends with an empty string";
    EXPECT_EQ(rec->is_seekable, 1);
    EXPECT_EQ(rec->UsesOutputPlug, 1);
    EXPECT_EQ(rec->hMainWindow, nullptr);
    EXPECT_EQ(rec->hDllInstance, nullptr);
    EXPECT_EQ(rec->outMod, nullptr);
    EXPECT_EQ(rec->SAVSAInit, nullptr);
    EXPECT_EQ(rec->dsp_dosamples, nullptr);
    EXPECT_EQ(rec->SetInfo, nullptr);
    EXPECT_EQ(rec->Quit, rec->Init);
    EXPECT_EQ(reinterpret_cast<void*>(rec->EQSet), reinterpret_cast<void*>(rec->Init));
    for (auto fn : {reinterpret_cast<void*>(rec->Config), reinterpret_cast<void*>(rec->About),
                    reinterpret_cast<void*>(rec->GetFileInfo), reinterpret_cast<void*>(rec->InfoBox),
                    reinterpret_cast<void*>(rec->IsOurFile), reinterpret_cast<void*>(rec->Play),
                    reinterpret_cast<void*>(rec->Pause), reinterpret_cast<void*>(rec->UnPause),
                    reinterpret_cast<void*>(rec->IsPaused), reinterpret_cast<void*>(rec->Stop),
                    reinterpret_cast<void*>(rec->GetLength), reinterpret_cast<void*>(rec->GetOutputTime),
                    reinterpret_cast<void*>(rec->SetOutputTime), reinterpret_cast<void*>(rec->SetVolume),
                    reinterpret_cast<void*>(rec->SetPan)})
        EXPECT_NE(fn, nullptr);

    // Only the one function is exported.
    for (const char* name : {"Play", "g_player", "g_currentPath", "DecodeThreadProc", "CreateThread",
                             "_Z4Playv", "_Z4PlayPc", "DrawRandom", "_Z10DrawRandomv"})
        EXPECT_EQ(host.Symbol(name), nullptr) << name;

    const std::string song = WriteClipSong("record.vn");
    EXPECT_EQ(rec->IsOurFile(const_cast<char*>(song.c_str())), 0);
    rec->Init();
    rec->EQSet(1, const_cast<char*>("0123456789"), 5);
}

TEST(PluginRecord, FileInfoTakesTheNameAfterTheLastBackslash)
{
    CTestHost host;
    In_Module& mod = host.Mod();
    int length = 0;
    EXPECT_EQ(Title(mod, "music\\songs\\a.vn", &length), "a.vn");
    EXPECT_EQ(length, -1000);
    EXPECT_EQ(Title(mod, "a.vn", &length), "a.vn");
    EXPECT_EQ(Title(mod, "music\\songs\\", &length), "");
    EXPECT_EQ(Title(mod, "dir/sub/b.vn", &length), "dir/sub/b.vn") << "only the backslash separates";
    EXPECT_EQ(length, -1000);

    // Either output may be null.
    length = 7;
    mod.GetFileInfo(const_cast<char*>("x\\y.vn"), nullptr, &length);
    EXPECT_EQ(length, -1000);
    EXPECT_EQ(Title(mod, "x\\y.vn", nullptr), "y.vn");

    // The current song: its length and the name from the path Play was given.
    const std::string song = WriteSilentSong("info.vn", {1000, 500});
    const std::string windowsPath = "C:\\music\\" + song;
    host.With([](HostRecord& r) { r.nOpenResult = -1; }); // no thread needed here
    mod.Play(const_cast<char*>(song.c_str()));
    mod.Stop();
    EXPECT_EQ(Title(mod, "", &length), song) << "a path without backslashes is the title";
    EXPECT_EQ(length, 1500);
    mod.Play(const_cast<char*>(windowsPath.c_str()));
    mod.Stop();
    EXPECT_EQ(Title(mod, nullptr, &length), song);
    EXPECT_EQ(length, -1) << "that path does not exist here: nothing was arranged";
}

TEST(PluginRecord, PathLongerThanTheSystemLimitIsCutWithATerminator)
{
    CTestHost host;
    host.With([](HostRecord& r) { r.nOpenResult = -1; });
    const std::string longPath(1000, 'p');
    host.Mod().Play(const_cast<char*>(longPath.c_str()));
    host.Mod().Stop();
    EXPECT_EQ(Title(host.Mod(), "", nullptr), std::string(259, 'p'));
}

#ifndef _WIN32 // the real boxes: Win32HostTest.cpp
TEST(PluginRecord, ConfigAndAboutShowBoxesOverTheParent)
{
    CTestHost host;
    std::vector<Box> boxes;
    host.window.onMessageBox = [&](const char* text, const char* caption, UINT type) {
        EXPECT_EQ(type, MB_OK);
        boxes.push_back(Box{&host.window, text, caption});
        return IDOK;
    };
    host.Mod().Config(&host.window);
    host.Mod().About(&host.window);
    ASSERT_EQ(boxes.size(), 2u);
    EXPECT_EQ(boxes[0].caption, "Configuration");
    EXPECT_EQ(boxes[0].text, "No configuration yet");
    EXPECT_EQ(boxes[1].caption, "About Corvela VN Player");
    EXPECT_NE(boxes[1].text.find("Vantrel engine"), std::string::npos) << boxes[1].text;
    EXPECT_EQ(boxes[1].text.find('\n'), std::string::npos) << "one line";
}
#endif
