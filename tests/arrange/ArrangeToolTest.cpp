// `vantrel arrange`: its JSON contract against the reference arranger, its readable
// list, and songs that do not load. Runs the built tool.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>

#include "arrange/Reference.h"
#include "common/TestSongs.h"

using testutil::AddArrangement;
using testutil::AddSection;
using testutil::AddVariation;

namespace {
struct ToolRun
{
    int nStatus = -1;
    std::string strOut;
    std::string strErr;
};

class ArrangeTool : public ::testing::Test
{
protected:
    void SetUp() override
    {
        struct stat st;
        if (::stat(m_strTool.c_str(), &st) != 0)
            GTEST_SKIP() << "the tool is not built: " << m_strTool;
    }

    ToolRun RunTool(const std::string& args)
    {
        const std::string out = testutil::TempPath("tool.out");
        const std::string err = testutil::TempPath("tool.err");
        const std::string cmd = "'" + m_strTool + "' arrange " + args + " >'" + out + "' 2>'" + err + "'";
        ToolRun r;
        const int status = std::system(cmd.c_str());
        r.nStatus = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        r.strOut = testutil::ReadBytes(out);
        r.strErr = testutil::ReadBytes(err);
        return r;
    }

    std::string m_strTool = std::string(VANTREL_BINARY_DIR) + "/vantrel";
};

std::string Json(const reftest::Performance& p)
{
    std::string s = "{\"result\":" + std::to_string(p.nResult) + ",\"arrangement\":" +
                    (p.nResult == 1 ? std::to_string(p.nArrangement) : "null") + ",\"sequence\":[";
    for (size_t i = 0; i < p.arrEntries.size(); ++i)
        s += (i ? ",[" : "[") + std::to_string(p.arrEntries[i].first) + "," +
             std::to_string(p.arrEntries[i].second) + "]";
    return s + "],\"totalMs\":" + std::to_string(p.nTotalMs) + "}";
}

std::string JsonArray(const std::vector<reftest::Performance>& ps)
{
    std::string s = "[";
    for (size_t i = 0; i < ps.size(); ++i)
        s += (i ? ",\n " : "") + Json(ps[i]);
    return s + "]\n";
}
} // namespace

TEST_F(ArrangeTool, JsonMatchesTheReferenceFromTheFirstDraw)
{
    const auto song = testutil::MakeSampleSong();
    const std::string path = reftest::WriteSong(*song, "tool-sample.vn");
    reftest::Lcg g; // a fresh player's generator
    std::vector<reftest::Performance> expected;
    for (int i = 0; i < 40; ++i)
        expected.push_back(reftest::Arrange(*song, g));

    const ToolRun r = RunTool("'" + path + "' --json --performances 40");
    EXPECT_EQ(r.nStatus, 0) << r.strErr;
    EXPECT_EQ(r.strOut, JsonArray(expected));

    // The default is one performance: the first of the same list.
    const ToolRun one = RunTool("'" + path + "' --json");
    EXPECT_EQ(one.strOut, JsonArray({expected[0]}));
}

TEST_F(ArrangeTool, ReadableList)
{
    CSong song("Readable \xE9t\xE9");
    CSection* intro = AddSection(song, "Intro");
    AddVariation(*intro, "In \xA7", 61234);
    CSection* verse = AddSection(song, "Verse");
    AddVariation(*verse, "Only", 500);
    AddArrangement(song, "Main", {intro, verse, intro});
    const std::string path = reftest::WriteSong(song, "tool-readable.vn");

    const ToolRun r = RunTool("'" + path + "'");
    EXPECT_EQ(r.nStatus, 0) << r.strErr;
    // Names byte for byte; start times and lengths in m:ss.mmm; total 122968 ms.
    EXPECT_NE(r.strOut.find("Readable \xE9t\xE9"), std::string::npos) << r.strOut;
    EXPECT_NE(r.strOut.find("arrangement 0 \"Main\", 3 entries, total 2:02.968"), std::string::npos)
        << r.strOut;
    EXPECT_NE(r.strOut.find("at 0:00.000  section 0 \"Intro\"  variation 0 \"In \xA7\"  length 1:01.234"),
              std::string::npos)
        << r.strOut;
    EXPECT_NE(r.strOut.find("at 1:01.234  section 1 \"Verse\""), std::string::npos) << r.strOut;
    EXPECT_NE(r.strOut.find("at 1:01.734  section 0"), std::string::npos) << r.strOut;
}

TEST_F(ArrangeTool, SongsThatDoNotLoadOrCannotBeArranged)
{
    const std::string missing = testutil::TempPath("tool-missing.vn");
    const std::string junk = testutil::TempPath("tool-junk.vn");
    testutil::WriteBytes(junk, "VNX and nothing else");

    // Readable: the error only, status 1.
    ToolRun r = RunTool("'" + junk + "'");
    EXPECT_EQ(r.nStatus, 1);
    EXPECT_EQ(r.strOut, "");
    EXPECT_NE(r.strErr.find("File is not a VNF or is corrupted."), std::string::npos) << r.strErr;
    r = RunTool("'" + missing + "'");
    EXPECT_EQ(r.nStatus, 1);
    EXPECT_NE(r.strErr.find("cannot open"), std::string::npos) << r.strErr;

    // JSON: one -1111 entry per performance, the error, status 1.
    reftest::Performance noSong;
    noSong.nResult = ERR_NO_SONG;
    r = RunTool("'" + missing + "' --json -n 2");
    EXPECT_EQ(r.nStatus, 1);
    EXPECT_EQ(r.strOut, JsonArray({noSong, noSong}));
    EXPECT_NE(r.strErr.find("cannot open"), std::string::npos) << r.strErr;

    // A song with nothing to arrange loads: -1201 entries and status 0.
    CSong song("nothing");
    AddVariation(*AddSection(song, "S"), "zero", 0);
    AddArrangement(song, "A", {song.GetSection(0)});
    const std::string path = reftest::WriteSong(song, "tool-nothing.vn");
    reftest::Performance nothing;
    nothing.nResult = ERR_NOTHING_TO_ARRANGE;
    r = RunTool("'" + path + "' --json");
    EXPECT_EQ(r.nStatus, 0);
    EXPECT_EQ(r.strOut, JsonArray({nothing}));
    r = RunTool("'" + path + "'");
    EXPECT_EQ(r.nStatus, 0);
    EXPECT_NE(r.strOut.find("result -1201"), std::string::npos) << r.strOut;
}
