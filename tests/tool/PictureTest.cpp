// Pictures: the performance timeline and the song's structure, as PNG and SVG; the
// image's size, one bar per event of the performance, the texts in the SVG.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <regex>

#include <nlohmann/json.hpp>

#include "common/TestSongs.h"
#include "tool/ToolRun.h"

using namespace testutil;
using tooltest::RunTool;
using Json = nlohmann::json;

namespace {

const std::string kDemo = VANTREL_SOURCE_DIR "/examples/demo.vn";

// Width and height from a PNG's header chunk.
std::pair<int, int> PngSize(const std::string& png)
{
    EXPECT_GE(png.size(), 24u);
    EXPECT_EQ(png.substr(0, 8), std::string("\x89PNG\r\n\x1a\n", 8));
    EXPECT_EQ(png.substr(12, 4), "IHDR");
    auto be32 = [&](size_t at) {
        return (static_cast<unsigned char>(png[at]) << 24) | (static_cast<unsigned char>(png[at + 1]) << 16) |
               (static_cast<unsigned char>(png[at + 2]) << 8) | static_cast<unsigned char>(png[at + 3]);
    };
    return {static_cast<int>(be32(16)), static_cast<int>(be32(20))};
}

// The number of events in performance `n` of the demo: those of every track of the
// variations its sequence chose.
size_t EventsOfPerformance(int n)
{
    const Json song = Json::parse(RunTool({"info", kDemo, "--json"}).strOut)["song"];
    const Json list = Json::parse(RunTool({"arrange", kDemo, "-n", std::to_string(n), "--json"}).strOut);
    size_t events = 0;
    for (const Json& entry : list[static_cast<size_t>(n - 1)]["sequence"])
        for (const Json& track : song["sections"][entry[0].get<size_t>()]["variations"][entry[1].get<size_t>()]["tracks"])
            events += track["events"].size();
    return events;
}

} // namespace

TEST(Picture, PerformanceTimelineHasOneBarPerEvent)
{
    for (int n : {1, 3}) {
        const std::string png = TempPath("perf" + std::to_string(n) + ".png");
        const auto r = RunTool({"arrange", kDemo, "--performance", std::to_string(n), "--picture", png});
        ASSERT_EQ(r.nStatus, 0) << r.strErr;
        std::smatch m;
        ASSERT_TRUE(std::regex_search(r.strErr, m, std::regex("\\((\\d+)x(\\d+), (\\d+) event bars\\)"))) << r.strErr;
        const auto size = PngSize(ReadBytes(png));
        EXPECT_EQ(size.first, std::stoi(m[1]));
        EXPECT_EQ(size.second, std::stoi(m[2]));
        EXPECT_EQ(size.first, 1400);
        EXPECT_GT(size.second, 200);
        EXPECT_EQ(static_cast<size_t>(std::stoi(m[3])), EventsOfPerformance(n)) << "performance " << n;
    }
}

TEST(Picture, SvgCarriesTheTextsAndTheSongPictureItsSections)
{
    const std::string svg = TempPath("perf.svg");
    ASSERT_EQ(RunTool({"arrange", kDemo, "--arrangement", "Long", "--picture", svg}).nStatus, 0);
    const std::string text = ReadBytes(svg);
    EXPECT_NE(text.find("<svg"), std::string::npos);
    EXPECT_NE(text.find("<title>Vantrel Demo: performance 3, arrangement &quot;Long&quot; [1], 0:48</title>"),
              std::string::npos);
    EXPECT_NE(text.find("entry 1: Verse / Groove with arpeggio"), std::string::npos);
    EXPECT_NE(text.find("on voice"), std::string::npos);

    const std::string song = TempPath("song.png");
    const auto r = RunTool({"info", kDemo, "--picture", song});
    ASSERT_EQ(r.nStatus, 0) << r.strErr;
    const auto size = PngSize(ReadBytes(song));
    EXPECT_EQ(size.first, 1200);
    EXPECT_GT(size.second, 100);
    const std::string songSvg = TempPath("song.svg");
    ASSERT_EQ(RunTool({"info", kDemo, "--picture", songSvg}).nStatus, 0);
    const std::string s = ReadBytes(songSvg);
    for (const char* name : {"arrangement Short", "arrangement Long", "Intro", "Chorus", "Groove with arpeggio  8.0 s, 4 tracks"})
        EXPECT_NE(s.find(name), std::string::npos) << name;

    const auto bad = RunTool({"info", kDemo, "--picture", TempPath("song.gif")});
    EXPECT_EQ(bad.nStatus, 1);
    EXPECT_NE(bad.strErr.find("must end in .png or .svg"), std::string::npos) << bad.strErr;
}

// The thumbnail: the song picture fitted into N x N (longer side N, proportions
// kept), a PNG whatever the name; a damaged song writes nothing and fails.
TEST(Picture, ThumbnailFitsTheSongPictureIntoTheSizeAsked)
{
    const std::string full = TempPath("thumb-full.png");
    ASSERT_EQ(RunTool({"info", kDemo, "--picture", full}).nStatus, 0);
    const auto whole = PngSize(ReadBytes(full));
    ASSERT_GT(whole.first, whole.second);
    for (int n : {128, 1024}) {
        const std::string out = TempPath("thumb-" + std::to_string(n)); // no extension, as file managers may name it
        const auto r = RunTool({"thumbnail", kDemo, out, "--size", std::to_string(n)});
        ASSERT_EQ(r.nStatus, 0) << r.strErr;
        const auto size = PngSize(ReadBytes(out));
        EXPECT_EQ(size.first, n);
        EXPECT_NEAR(size.second, whole.second * n / static_cast<double>(whole.first), 0.5 + 1e-9) << n;
    }

    const std::string damaged = TempPath("thumb-damaged.vn");
    WriteBytes(damaged, ReadBytes(kDemo).substr(0, 3000));
    for (const std::string& song : {damaged, TempPath("thumb-missing.vn")}) {
        const std::string out = TempPath("thumb-refused.png");
        std::remove(out.c_str());
        const auto r = RunTool({"thumbnail", song, out, "--size", "256"});
        EXPECT_EQ(r.nStatus, 1) << song;
        EXPECT_NE(r.strErr.find(song), std::string::npos) << r.strErr;
        EXPECT_FALSE(std::ifstream(out).good()) << "a thumbnail was written for " << song;
    }
}
