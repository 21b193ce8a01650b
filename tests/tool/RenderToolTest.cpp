// vantrel render: what reaches the user's file, the draws behind --performance, the
// seeks, and refusals that leave nothing behind.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <thread>
#include <fstream>
#include <iterator>

#include "ToolRun.h"
#include "arrange/Random.h"
#include "common/TestClips.h"
#include "common/TestSongs.h"
#include "player/SongPlayer.h"
#include "song/SongWriter.h"

using tooltest::RunTool;
using namespace testutil;

namespace {

// Two sections of two variations each, so that performances differ; every event plays
// the one real clip.
std::string WriteDrawSong(const std::string& name)
{
    CSong song("Draws");
    CClip* clip = AddClip(song, "tone", 2);
    std::vector<CSection*> order;
    for (int s = 0; s < 2; ++s) {
        CSection* section = AddSection(song, "S" + std::to_string(s));
        for (int v = 0; v < 2; ++v) {
            CVariation* var = AddVariation(*section, "V", 600 + 400 * v + 100 * s);
            AddEvent(*AddTrack(*var, "T"), clip, 50 * v, 300);
        }
        order.push_back(section);
    }
    AddArrangement(song, "Main", order);
    const std::string path = TempPath(name);
    testutil::WriteSong(song, {ReadTestClip("stereo44k.mp3")}, path);
    return path;
}

// The PCM of performance n (1-based), rendered in-process with the same seeks.
std::string RenderInProcess(const std::string& song, int n, int seekPercent = -1, int seekBlock = -1)
{
    CSongPlayer player("generic");
    for (int i = 1; i < n; ++i) {
        player.Open(song);
        player.Prepare();
        player.Close();
    }
    EXPECT_TRUE(player.Open(song));
    player.Prepare();
    std::string pcm;
    char block[CSongPlayer::kBlockBytes];
    for (int call = 0;; ++call) {
        if (call == seekBlock)
            player.Seek(static_cast<int16_t>(seekPercent));
        const bool more = player.RenderBlock(block, sizeof block);
        pcm.append(block, sizeof block);
        if (!more)
            break;
    }
    player.Close();
    return pcm;
}

} // namespace

TEST(RenderTool, PerformanceNIsTheNthPlayAndWavHoldsTheSamePcm)
{
    const std::string song = WriteDrawSong("draws.vn");
    std::vector<std::string> renders;
    for (int n : {1, 2, 5}) {
        const std::string raw = TempPath("draws-" + std::to_string(n) + ".pcm");
        auto r = RunTool({"render", song, "--raw", "-o", raw, "--performance", std::to_string(n),
                          "--decoder", "generic"});
        ASSERT_EQ(r.nStatus, 0) << r.strErr;
        // The tool starts its own generator afresh; so does this test's thread only
        // once, so compare with a fresh thread's draws.
        std::string expected;
        std::thread([&] { expected = RenderInProcess(song, n); }).join();
        EXPECT_EQ(ReadBytes(raw), expected) << "performance " << n;
        renders.push_back(expected);
    }
    // The song's draws do differ between these plays.
    EXPECT_TRUE(renders[0] != renders[1] || renders[1] != renders[2]);
    const std::string wav = TempPath("draws.wav");
    auto r = RunTool({"render", song, "-o", wav, "--decoder", "generic"});
    ASSERT_EQ(r.nStatus, 0) << r.strErr;
    const std::string file = ReadBytes(wav);
    std::string expected;
    std::thread([&] { expected = RenderInProcess(song, 1); }).join();
    ASSERT_GE(file.size(), 44u + expected.size());
    EXPECT_EQ(file.substr(0, 4), "RIFF");
    EXPECT_EQ(file.substr(file.size() - expected.size()), expected);
}

TEST(RenderTool, SeeksApplyBeforeTheirBlockAndReportTheEntryStart)
{
    const std::string song = WriteDrawSong("seeks.vn");
    const std::string raw = TempPath("seeks.pcm");
    auto r = RunTool({"render", song, "--raw", "-o", raw, "--seek", "90@3", "--decoder", "generic"});
    ASSERT_EQ(r.nStatus, 0) << r.strErr;
    std::string expected;
    std::thread([&] { expected = RenderInProcess(song, 1, 90, 3); }).join();
    EXPECT_EQ(ReadBytes(raw), expected);
    EXPECT_NE(r.strErr.find("seek 90 -> "), std::string::npos) << r.strErr;

    // A seek due after the end applies at once and rendering goes on.
    auto late = RunTool({"render", song, "--raw", "-o", raw, "--seek", "0@100000", "--decoder", "generic"});
    ASSERT_EQ(late.nStatus, 0) << late.strErr;
    std::string once;
    std::thread([&] { once = RenderInProcess(song, 1); }).join();
    EXPECT_GT(ReadBytes(raw).size(), once.size());
    EXPECT_EQ(ReadBytes(raw).substr(0, once.size()), once);

    auto bad = RunTool({"render", song, "--raw", "-o", raw, "--seek", "fifty"});
    EXPECT_EQ(bad.nStatus, 1);
    EXPECT_NE(bad.strErr.find("PERCENT@BLOCK"), std::string::npos);
}

// An excerpt is the matching part of the whole render, byte for byte: from the raw
// PCM, from a WAV (whose comment names the excerpt) and in a batch; times that are no
// times, or that lie past the end, are refused and leave the output alone.
TEST(RenderTool, ExcerptsHoldTheWholeRendersSamples)
{
    const std::string song = std::string(VANTREL_SOURCE_DIR) + "/examples/demo.vn";
    const std::string whole = TempPath("whole.pcm");
    ASSERT_EQ(RunTool({"render", song, "--raw", "-o", whole, "--performance", "3"}).nStatus, 0);
    const std::string all = ReadBytes(whole);
    struct Case
    {
        std::vector<std::string> args;
        size_t from, frames;
    };
    const std::vector<Case> cases = {
        {{"--start", "20", "--duration", "0:10"}, 20 * 44100, 10 * 44100},
        {{"--start", "0:31.337"}, 31337 * 441 / 10, std::string::npos},
        {{"--duration", "1.5"}, 0, 66150},
        {{"--start", "0:47.990", "--duration", "30"}, 47990 * 441 / 10, std::string::npos},
    };
    for (const Case& c : cases) {
        const std::string raw = TempPath("excerpt.pcm");
        std::vector<std::string> args = {"render", song, "--raw", "-o", raw, "--performance", "3"};
        args.insert(args.end(), c.args.begin(), c.args.end());
        auto r = RunTool(args);
        ASSERT_EQ(r.nStatus, 0) << r.strErr;
        ASSERT_LT(c.from * 4, all.size());
        EXPECT_TRUE(ReadBytes(raw) == all.substr(c.from * 4, c.frames == std::string::npos ? c.frames : c.frames * 4))
            << c.args[0] << " " << c.args[1];
    }

    const std::string wav = TempPath("excerpt.wav");
    auto w = RunTool({"render", song, "-o", wav, "--performance", "3", "--start", "1:02.5", "--duration", "2"});
    ASSERT_EQ(w.nStatus, 1) << "the demo's performance 3 lasts 48 s: " << w.strErr;
    EXPECT_NE(w.strErr.find("--start 1:02.500 is past the end of performance 3 (0:48.000)"), std::string::npos)
        << w.strErr;
    WriteBytes(wav, "precious");
    for (const std::vector<std::string>& bad :
         {std::vector<std::string>{"--start", "1:60"}, {"--start", "-3"}, {"--start", "2.5s"}, {"--start", "1.2345"},
          {"--duration", "0"}, {"--start", "500"}, {"--start", "5", "--seek", "50@3"}}) {
        std::vector<std::string> args = {"render", song, "-o", wav, "--performance", "3"};
        args.insert(args.end(), bad.begin(), bad.end());
        auto r = RunTool(args);
        EXPECT_EQ(r.nStatus, 1) << bad[0] << " " << bad[1];
        EXPECT_NE(r.strErr.find(bad.back() == "50@3" ? "--seek" : bad[0]), std::string::npos) << r.strErr;
    }
    EXPECT_EQ(ReadBytes(wav), "precious");

    auto ok = RunTool({"render", song, "-o", wav, "--performance", "3", "--start", "12", "--duration", "2"});
    ASSERT_EQ(ok.nStatus, 0) << ok.strErr;
    const std::string bytes = ReadBytes(wav);
    EXPECT_NE(bytes.find("Excerpt from 0:12.000 for 0:02.000"), std::string::npos);
    EXPECT_EQ(bytes.substr(bytes.size() - 2 * 44100 * 4), all.substr(12 * 44100 * 4, 2 * 44100 * 4));

    // A batch of previews: each file is its performance's excerpt.
    const std::string folder = TempPath("previews");
    std::filesystem::create_directories(folder);
    auto batch = RunTool({"render", song, "-o", folder, "--raw", "--performances", "2-3", "--start", "5",
                          "--duration", "1"});
    ASSERT_EQ(batch.nStatus, 0) << batch.strErr;
    EXPECT_EQ(ReadBytes(folder + "/demo-3.pcm"), all.substr(5 * 44100 * 4, 44100 * 4));
}

TEST(RenderTool, RefusedSongsWriteNothingAndKeepAnExistingFile)
{
    const std::string bad = TempPath("refused.vn");
    WriteBytes(bad, "VNF but not really a song");
    const std::string out = TempPath("refused.wav");
    WriteBytes(out, "precious");
    auto r = RunTool({"render", bad, "-o", out});
    EXPECT_EQ(r.nStatus, 1);
    EXPECT_NE(r.strErr.find("File is not a VNF or is corrupted."), std::string::npos) << r.strErr;
    EXPECT_EQ(ReadBytes(out), "precious");

    // A song that loads but has nothing to play.
    CSong empty("Empty");
    CSection* s = AddSection(empty, "S");
    AddVariation(*s, "silent", 0);
    AddArrangement(empty, "Main", {s});
    const std::string path = TempPath("nothing.vn");
    testutil::WriteSong(empty, {}, path);
    auto n = RunTool({"render", path, "-o", out});
    EXPECT_EQ(n.nStatus, 1);
    EXPECT_NE(n.strErr.find("nothing that can be played"), std::string::npos) << n.strErr;
    EXPECT_EQ(ReadBytes(out), "precious");

    auto missing = RunTool({"render", TempPath("no-such-song.vn"), "-o", out});
    EXPECT_EQ(missing.nStatus, 1);
    EXPECT_NE(missing.strErr.find("cannot open"), std::string::npos) << missing.strErr;
}

// The cache (the default), no cache and a cache that can hold nothing write the same
// PCM; the in-process render uses the clip decoder.
TEST(RenderTool, CacheOptionsChangeNothingInTheOutput)
{
    const std::string song = std::string(VANTREL_SOURCE_DIR) + "/examples/demo.vn";
    vantrel::SetRandomState(1); // as in the tool's fresh process
    const std::string expected = RenderInProcess(song, 2, 60, 30);
    for (const std::vector<std::string>& extra :
         {std::vector<std::string>{}, {"--no-cache"}, {"--cache-mb", "0"}, {"--cache-mb", "1"}}) {
        const std::string raw = TempPath("cache-opt.pcm");
        std::vector<std::string> args = {"render", song, "--raw", "-o", raw, "--performance", "2",
                                         "--seek", "60@30", "--decoder", "generic"};
        args.insert(args.end(), extra.begin(), extra.end());
        auto r = RunTool(args);
        ASSERT_EQ(r.nStatus, 0) << r.strErr;
        EXPECT_TRUE(ReadBytes(raw) == expected) << (extra.empty() ? "default" : extra[0]);
    }
    auto bad = RunTool({"render", song, "-o", TempPath("x.wav"), "--cache-mb", "-5"});
    EXPECT_NE(bad.nStatus, 0);
}

// The output name's extension says the format: an extension that names no format the
// tool writes is refused (a name without one gets WAV), and the file of that name is
// left as it was.
TEST(RenderTool, UnknownOutputExtensionsAreRefusedWithTheKnownOnes)
{
    const std::string song = std::string(VANTREL_SOURCE_DIR) + "/examples/demo.vn";
    for (const char* name : {"out.aiff", "out.m4a", "out.WAVE"}) {
        const std::string out = TempPath(name);
        WriteBytes(out, "precious");
        auto r = RunTool({"render", song, "-o", out});
        EXPECT_EQ(r.nStatus, 1) << name;
        EXPECT_NE(r.strErr.find("known: .wav, .flac, .ogg, .opus, .mp3"), std::string::npos) << r.strErr;
        EXPECT_EQ(ReadBytes(out), "precious");
    }
    const std::string upper = TempPath("LOUD.WAV");
    auto ok = RunTool({"render", song, "-o", upper});
    EXPECT_EQ(ok.nStatus, 0) << ok.strErr;
    EXPECT_EQ(ReadBytes(upper).substr(0, 4), "RIFF");
    // A name without an extension is a WAV file.
    const std::string plain = TempPath("plain");
    ok = RunTool({"render", song, "-o", plain});
    EXPECT_EQ(ok.nStatus, 0) << ok.strErr;
    EXPECT_EQ(ReadBytes(plain).substr(0, 4), "RIFF");
    // Bare PCM goes under any name.
    auto raw = RunTool({"render", song, "--raw", "-o", TempPath("pcm.flac")});
    EXPECT_EQ(raw.nStatus, 0) << raw.strErr;
}
