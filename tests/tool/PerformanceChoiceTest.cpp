// --performance N|random and --arrangement NAME of render and arrange: the number
// reached either way is the same performance, random numbers are printed and give
// the same performance again, and arrangements that no draw chooses are refused.
#include <gtest/gtest.h>

#include <regex>

#include "common/TestSongs.h"
#include "song/SongWriter.h"
#include "tool/ToolRun.h"

using namespace testutil;
using tooltest::RunTool;

namespace {

const std::string kDemo = VANTREL_SOURCE_DIR "/examples/demo.vn";

int PrintedNumber(const std::string& err)
{
    std::smatch m;
    EXPECT_TRUE(std::regex_search(err, m, std::regex("performance ([0-9]+)"))) << err;
    return m.empty() ? -1 : std::stoi(m[1]);
}

} // namespace

TEST(PerformanceChoice, ArrangementGivesTheFirstPerformanceThatPlaysIt)
{
    // The demo's first plays: Short, Short, Long (see arrange -n 3).
    const auto list = RunTool({"arrange", kDemo, "-n", "4"});
    ASSERT_EQ(list.nStatus, 0);
    ASSERT_NE(list.strOut.find("Performance 3: arrangement 1 \"Long\""), std::string::npos) << list.strOut;

    const auto a = RunTool({"arrange", kDemo, "--arrangement", "Long"});
    EXPECT_EQ(a.nStatus, 0) << a.strErr;
    EXPECT_EQ(PrintedNumber(a.strErr), 3);
    EXPECT_NE(a.strOut.find("Performance 3: arrangement 1 \"Long\""), std::string::npos) << a.strOut;
    // From 4 on, the next Long one; it is one that arrange -n lists as Long too.
    const auto later = RunTool({"arrange", kDemo, "--arrangement", "Long", "--performance", "4"});
    EXPECT_EQ(later.nStatus, 0) << later.strErr;
    const int next = PrintedNumber(later.strErr);
    EXPECT_GE(next, 4);
    const auto upTo = RunTool({"arrange", kDemo, "-n", std::to_string(next)});
    EXPECT_NE(upTo.strOut.find("Performance " + std::to_string(next) + ": arrangement 1 \"Long\""), std::string::npos);
    for (int n = 4; n < next; ++n)
        EXPECT_NE(upTo.strOut.find("Performance " + std::to_string(n) + ": arrangement 0 \"Short\""),
                  std::string::npos)
            << n;

    // render reaches the same performance by arrangement and by number.
    const std::string byName = TempPath("choice-long.raw"), byNumber = TempPath("choice-3.raw");
    ASSERT_EQ(RunTool({"render", kDemo, "--raw", "-o", byName, "--arrangement", "Long"}).nStatus, 0);
    ASSERT_EQ(RunTool({"render", kDemo, "--raw", "-o", byNumber, "--performance", "3"}).nStatus, 0);
    const std::string pcm = ReadBytes(byName);
    EXPECT_EQ(pcm, ReadBytes(byNumber));
    EXPECT_GT(pcm.size(), static_cast<size_t>(47 * 176400)); // Long lasts 48 s, Short 24 s
}

TEST(PerformanceChoice, RandomPrintsANumberThatGivesTheSamePerformanceAgain)
{
    const auto r = RunTool({"arrange", kDemo, "--performance", "random"});
    ASSERT_EQ(r.nStatus, 0) << r.strErr;
    const int n = PrintedNumber(r.strErr);
    ASSERT_GE(n, 1);
    const auto again = RunTool({"arrange", kDemo, "--performance", std::to_string(n)});
    EXPECT_EQ(again.strOut, r.strOut);
    EXPECT_NE(r.strOut.find("Performance " + std::to_string(n) + ":"), std::string::npos) << r.strOut;
    // Random and an arrangement: a performance of that arrangement from the number on.
    const auto both = RunTool({"arrange", kDemo, "--performance", "random", "--arrangement", "Short"});
    EXPECT_EQ(both.nStatus, 0) << both.strErr;
    EXPECT_NE(both.strOut.find("arrangement 0 \"Short\""), std::string::npos) << both.strOut;
}

TEST(PerformanceChoice, ArrangementsThatNoDrawChoosesAreRefused)
{
    const auto unknown = RunTool({"render", kDemo, "--arrangement", "long", "-o", TempPath("x.wav")});
    EXPECT_EQ(unknown.nStatus, 1);
    EXPECT_NE(unknown.strErr.find("no arrangement named \"long\""), std::string::npos) << unknown.strErr;
    EXPECT_NE(unknown.strErr.find("\"Short\", \"Long\""), std::string::npos) << unknown.strErr;

    CSong song("Choice");
    CClip* clip = AddClip(song, "c", 2);
    CSection* ok = AddSection(song, "Ok");
    AddEvent(*AddTrack(*AddVariation(*ok, "v", 1000), "t"), clip, 0, 100);
    CSection* never = AddSection(song, "Never");
    AddVariation(*never, "zero", 0);
    AddArrangement(song, "Fine", {ok});
    AddArrangement(song, "Broken", {never});
    const std::string path = TempPath("choice.vn");
    testutil::WriteSong(song, {"x"}, path);
    const auto broken = RunTool({"arrange", path, "--arrangement", "Broken"});
    EXPECT_EQ(broken.nStatus, 1);
    EXPECT_NE(broken.strErr.find("can never be built"), std::string::npos) << broken.strErr;
    EXPECT_EQ(RunTool({"arrange", path, "--arrangement", "Fine"}).nStatus, 0);
    const auto bad = RunTool({"arrange", path, "--performance", "0"});
    EXPECT_EQ(bad.nStatus, 1);
    EXPECT_NE(bad.strErr.find("--performance takes a number"), std::string::npos) << bad.strErr;
}
