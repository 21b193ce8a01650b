// vantrel render with several songs and performances: the batch's files are the very
// files single renders write, a damaged song fails alone, and names are checked before
// anything is rendered.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <set>

#include "ToolRun.h"
#include "common/TestSongs.h"

using tooltest::RunTool;
using namespace testutil;
namespace fs = std::filesystem;

namespace {

// A fresh folder holding two copies of the demo song (a.vn, b.vn).
std::string MakeSongFolder(const std::string& name)
{
    const std::string dir = TempPath(name);
    fs::remove_all(dir);
    fs::create_directories(dir);
    const std::string demo = ReadBytes(std::string(VANTREL_SOURCE_DIR) + "/examples/demo.vn");
    WriteBytes(dir + "/a.vn", demo);
    WriteBytes(dir + "/b.vn", demo);
    return dir;
}

std::vector<std::string> FilesIn(const std::string& dir)
{
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(dir))
        names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

} // namespace

TEST(RenderBatch, ParallelFilesEqualSingleRendersByteForByte)
{
    const std::string dir = MakeSongFolder("batch-equal");
    const std::string out = dir + "/out";
    fs::create_directories(out);
    auto r = RunTool({"render", dir + "/a.vn", dir + "/b.vn", "--performances", "1-3,7", "--jobs", "3", "-o", out});
    ASSERT_EQ(r.nStatus, 0) << r.strErr;
    EXPECT_NE(r.strErr.find("rendered 8 of 8 files"), std::string::npos) << r.strErr;
    EXPECT_EQ(FilesIn(out), (std::vector<std::string>{"a-1.wav", "a-2.wav", "a-3.wav", "a-7.wav", "b-1.wav",
                                                       "b-2.wav", "b-3.wav", "b-7.wav"}));
    std::set<std::string> distinct;
    for (int n : {1, 2, 3, 7}) {
        const std::string single = dir + "/single-" + std::to_string(n) + ".wav";
        auto s = RunTool({"render", dir + "/a.vn", "--performance", std::to_string(n), "-o", single});
        ASSERT_EQ(s.nStatus, 0) << s.strErr;
        const std::string expected = ReadBytes(single);
        EXPECT_EQ(ReadBytes(out + "/a-" + std::to_string(n) + ".wav"), expected) << "performance " << n;
        EXPECT_EQ(ReadBytes(out + "/b-" + std::to_string(n) + ".wav"), expected) << "performance " << n;
        distinct.insert(expected);
    }
    // The performances do differ, so the comparison says something about the draws.
    EXPECT_GT(distinct.size(), 1u);
    // Without the cache, on one job: the same files.
    const std::string plain = dir + "/plain";
    fs::create_directories(plain);
    r = RunTool({"render", dir + "/a.vn", "--performances", "7", "--jobs", "1", "--no-cache", "-o", plain});
    ASSERT_EQ(r.nStatus, 0) << r.strErr;
    EXPECT_EQ(ReadBytes(plain + "/a-7.wav"), ReadBytes(dir + "/single-7.wav"));
}

TEST(RenderBatch, ADamagedSongFailsByNameWhileTheOthersAreWritten)
{
    const std::string dir = MakeSongFolder("batch-damaged");
    std::string damaged = ReadBytes(dir + "/a.vn");
    damaged.resize(damaged.size() / 3);
    WriteBytes(dir + "/cut.vn", damaged);
    WriteBytes(dir + "/junk.vn", "not a song at all");
    auto r = RunTool({"render", dir + "/a.vn", dir + "/junk.vn", dir + "/cut.vn", dir + "/b.vn",
                      "--performances", "1-2", "--jobs", "2"});
    EXPECT_EQ(r.nStatus, 1);
    EXPECT_NE(r.strErr.find("junk.vn"), std::string::npos) << r.strErr;
    EXPECT_NE(r.strErr.find("failed"), std::string::npos) << r.strErr;
    for (const char* name : {"a-1.wav", "a-2.wav", "b-1.wav", "b-2.wav"})
        EXPECT_TRUE(fs::is_regular_file(dir + "/" + name)) << name;
    // A failed render leaves no file (nor a temporary one) behind.
    EXPECT_FALSE(fs::exists(dir + "/junk-1.wav"));
    for (const std::string& name : FilesIn(dir))
        EXPECT_EQ(name.find(".part"), std::string::npos) << name;
}

TEST(RenderBatch, PatternsExpandAndPickTheFormat)
{
    const std::string dir = MakeSongFolder("batch-pattern");
    fs::create_directories(dir + "/mp3");
    auto r = RunTool({"render", dir + "/a.vn", "--performances", "2-3", "--output-pattern",
                      "mp3/{performance}_{name}.{ext}", "--format", "mp3", "-o", dir});
    ASSERT_EQ(r.nStatus, 0) << r.strErr;
    EXPECT_EQ(FilesIn(dir + "/mp3"), (std::vector<std::string>{"2_a.mp3", "3_a.mp3"}));
    EXPECT_EQ(ReadBytes(dir + "/mp3/2_a.mp3").substr(0, 3), "ID3");
    // The pattern's own extension picks the format too; --raw makes {ext} pcm.
    r = RunTool({"render", dir + "/b.vn", "--performances", "1", "--output-pattern", "{name}.flac"});
    ASSERT_EQ(r.nStatus, 0) << r.strErr;
    EXPECT_EQ(ReadBytes(dir + "/b.flac").substr(0, 4), "fLaC");
    r = RunTool({"render", dir + "/b.vn", "--performances", "1", "--raw"});
    ASSERT_EQ(r.nStatus, 0) << r.strErr;
    EXPECT_EQ(ReadBytes(dir + "/b-1.pcm").size() % 4608, 0u);
    // A field the pattern does not know, an unknown --format and an unknown extension
    // are refused with what is known.
    r = RunTool({"render", dir + "/a.vn", "--performances", "1", "--output-pattern", "{title}.wav"});
    EXPECT_EQ(r.nStatus, 1);
    EXPECT_NE(r.strErr.find("{name}, {performance}, {ext}"), std::string::npos) << r.strErr;
    r = RunTool({"render", dir + "/a.vn", "--performances", "1", "--format", "aac"});
    EXPECT_EQ(r.nStatus, 1);
    EXPECT_NE(r.strErr.find("known: .wav"), std::string::npos) << r.strErr;
    EXPECT_FALSE(fs::exists(dir + "/a-1.aac"));
}

TEST(RenderBatch, ClashingNamesAndBadListsAreRefusedBeforeAnythingIsWritten)
{
    const std::string dir = MakeSongFolder("batch-clash");
    const std::string song = ReadBytes(dir + "/a.vn");
    // Two performances into one name.
    auto r = RunTool({"render", dir + "/a.vn", "--performances", "1-2", "--output-pattern", "{name}.wav"});
    EXPECT_EQ(r.nStatus, 1);
    EXPECT_NE(r.strErr.find("clash"), std::string::npos) << r.strErr;
    // Two songs of one name from different folders into one folder.
    fs::create_directories(dir + "/other");
    WriteBytes(dir + "/other/a.vn", song);
    fs::create_directories(dir + "/out");
    r = RunTool({"render", dir + "/a.vn", dir + "/other/a.vn", "-o", dir + "/out"});
    EXPECT_EQ(r.nStatus, 1);
    EXPECT_NE(r.strErr.find("clash"), std::string::npos) << r.strErr;
    EXPECT_TRUE(FilesIn(dir + "/out").empty());
    // An output over a song itself.
    r = RunTool({"render", dir + "/a.vn", dir + "/b.vn", "--output-pattern", "{name}.vn", "--raw"});
    EXPECT_EQ(r.nStatus, 1);
    EXPECT_NE(r.strErr.find("clash"), std::string::npos) << r.strErr;
    EXPECT_EQ(ReadBytes(dir + "/a.vn"), song);
    // Performance lists that name nothing sensible, a batch's -o that is no folder, and
    // a seek in a batch.
    for (const char* list : {"0-3", "3-1", "x", "1-", "2,,3"}) {
        r = RunTool({"render", dir + "/a.vn", "--performances", list});
        EXPECT_EQ(r.nStatus, 1) << list;
        EXPECT_NE(r.strErr.find("--performances"), std::string::npos) << r.strErr;
    }
    r = RunTool({"render", dir + "/a.vn", dir + "/b.vn", "-o", dir + "/x.wav"});
    EXPECT_EQ(r.nStatus, 1);
    EXPECT_NE(r.strErr.find("folder"), std::string::npos) << r.strErr;
    r = RunTool({"render", dir + "/a.vn", "--performances", "1-2", "--seek", "50@3"});
    EXPECT_EQ(r.nStatus, 1);
    for (const std::string& name : FilesIn(dir))
        EXPECT_EQ(name.find(".wav"), std::string::npos) << name;
    // A repeated number renders once.
    r = RunTool({"render", dir + "/a.vn", "--performances", "2,1-2", "--raw", "--jobs", "2"});
    ASSERT_EQ(r.nStatus, 0) << r.strErr;
    EXPECT_NE(r.strErr.find("rendered 2 of 2 files"), std::string::npos) << r.strErr;
}
