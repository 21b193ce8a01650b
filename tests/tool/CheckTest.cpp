// vantrel check: each finding on a song made to have it, with its level and place;
// nothing on the demo song; every damaged test song gives a clean verdict.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "common/TestSongs.h"
#include "robustness/HostileSongs.h"
#include "song/SongWriter.h"
#include "tool/ToolRun.h"

using namespace testutil;
using tooltest::RunTool;
using Json = nlohmann::json;

namespace {

std::string Clip(const std::string& name) { return ReadBytes(VANTREL_SOURCE_DIR "/tests/data/clips/" + name); }

struct Checked
{
    int nStatus = -1;
    Json j;
};

Checked Check(const std::string& path)
{
    const auto r = RunTool({"check", path, "--json"});
    Checked c;
    c.nStatus = r.nStatus;
    c.j = Json::parse(r.strOut);
    return c;
}

// The finding of `level` at `place` whose message holds `words`.
bool Has(const Json& j, const std::string& level, const std::string& place, const std::string& words)
{
    for (const Json& f : j["findings"])
        if (f["level"] == level && f["place"] == place && f["message"].get<std::string>().find(words) != std::string::npos)
            return true;
    return false;
}

// A playable song of one 44.1 kHz stereo clip: a base that each case spoils once.
struct Base
{
    std::unique_ptr<CSong> song = std::make_unique<CSong>("Check");
    std::vector<std::string> data;
    CClip* clip;
    CSection* section;
    CVariation* variation;
    CTrack* track;

    Base()
    {
        clip = AddClip(*song, "tone", 2);
        data.push_back(Clip("stereo44k.mp3"));
        section = AddSection(*song, "Verse");
        variation = AddVariation(*section, "A", 2000);
        track = AddTrack(*variation, "Keys");
        AddEvent(*track, clip, 0, 1000);
        AddArrangement(*song, "Main", {section});
    }
    Checked Run(const std::string& name) const
    {
        const std::string path = TempPath(name + ".vn");
        testutil::WriteSong(*song, data, path);
        return Check(path);
    }
};

} // namespace

TEST(Check, DemoSongAndTheBaseHaveNoFindings)
{
    const Checked demo = Check(VANTREL_SOURCE_DIR "/examples/demo.vn");
    EXPECT_EQ(demo.nStatus, 0);
    EXPECT_EQ(demo.j["findings"], Json::array()) << demo.j.dump(2);
    const Checked base = Base().Run("check-base");
    EXPECT_EQ(base.nStatus, 0);
    EXPECT_EQ(base.j["findings"], Json::array()) << base.j.dump(2);
}

TEST(Check, ErrorsAreFoundWithTheirPlaceAndGiveStatusOne)
{
    {
        Base b; // a section none of whose variations has a length, in an arrangement of its own
        CSection* empty = AddSection(*b.song, "Bridge");
        AddVariation(*empty, "Z", 0);
        AddArrangement(*b.song, "Never", {empty});
        const Checked c = b.Run("check-unbuildable");
        EXPECT_EQ(c.nStatus, 1);
        EXPECT_TRUE(Has(c.j, "error", "arrangements[1] \"Never\"", "can never be built")) << c.j.dump(2);
        EXPECT_TRUE(Has(c.j, "error", "sections[1] \"Bridge\"", "never played")) << c.j.dump(2);
        EXPECT_EQ(c.j["errors"], 2);
    }
    {
        Base b;
        b.track->m_arrEvents[0]->m_nPos1 = 10; // byte 14 is inside the first frame
        const Checked c = b.Run("check-pos");
        EXPECT_EQ(c.nStatus, 1);
        EXPECT_TRUE(Has(c.j, "error", "sections[0] \"Verse\" > variations[0] \"A\" > tracks[0] \"Keys\" > events[0]",
                        "pos[0] 10"))
            << c.j.dump(2);
    }
    {
        Base b;
        b.data[0] = std::string(3000, 'x');
        const Checked c = b.Run("check-not-audio");
        EXPECT_EQ(c.nStatus, 1);
        EXPECT_TRUE(Has(c.j, "error", "clips[0] \"tone\"", "not MPEG audio")) << c.j.dump(2);
    }
    {
        // A damaged file: where the load failed, not only that it did.
        Base b;
        const std::string whole = CSongWriter::Serialize(*b.song, b.data);
        const std::string path = TempPath("check-cut.vn");
        WriteBytes(path, whole.substr(0, 120));
        const Checked c = Check(path);
        EXPECT_EQ(c.nStatus, 1);
        ASSERT_EQ(c.j["findings"].size(), 1u) << c.j.dump(2);
        const std::string message = c.j["findings"][0]["message"];
        EXPECT_NE(message.find("File is not a VNF or is corrupted."), std::string::npos) << message;
        EXPECT_NE(message.find("reading structure chunk length at offset"), std::string::npos) << message;
    }
    {
        // An event record whose counted block claims more than the file holds: the
        // place names the record.
        Base b;
        std::string bytes = CSongWriter::Serialize(*b.song, b.data);
        const size_t name = bytes.find("Keys");
        ASSERT_NE(name, std::string::npos);
        // The track's name, settings and event count take 68 bytes; the event's
        // counted block begins 28 bytes into its record.
        bytes.replace(name + 68 + 28, 4, std::string("\x7f\xff\xff\xf0", 4));
        const std::string path = TempPath("check-event-block.vn");
        WriteBytes(path, bytes);
        const Checked c = Check(path);
        EXPECT_EQ(c.nStatus, 1);
        ASSERT_EQ(c.j["findings"].size(), 1u) << c.j.dump(2);
        EXPECT_EQ(c.j["findings"][0]["place"], "sections[0] > variations[0] > tracks[0] > events[0]");
        EXPECT_NE(c.j["findings"][0]["message"].get<std::string>().find("reading counted block of the event at offset " + std::to_string(name + 68 + 32)), std::string::npos)
            << c.j.dump(2);
    }
}

TEST(Check, WarningsAreFoundWithTheirPlaceAndLeaveStatusZero)
{
    Base b;
    // Clips: not 44.1 kHz stereo, without data, unused.
    CClip* slow = AddClip(*b.song, "slow", 2);
    b.data.push_back(Clip("stereo22k.mp3"));
    CClip* mono = AddClip(*b.song, "mono", 2);
    b.data.push_back(Clip("mono44k.mp3"));
    CClip* silent = AddClip(*b.song, "silent", 0);
    b.data.emplace_back();
    AddClip(*b.song, "spare", 2);
    b.data.push_back(Clip("stereo44k.mp3"));
    AddEvent(*b.track, slow, 100, 500);
    AddEvent(*b.track, mono, 200, 500);
    AddEvent(*b.track, silent, 300, 500);
    // Events after the end and past it.
    AddEvent(*b.track, b.clip, 2000, 100);
    AddEvent(*b.track, b.clip, 1500, 600);
    // A variation of five tracks.
    CSection* wide = AddSection(*b.song, "Wide");
    CVariation* w = AddVariation(*wide, "Five", 1000);
    for (int t = 0; t < 5; ++t)
        AddEvent(*AddTrack(*w, "T" + std::to_string(t)), b.clip, 0, 500);
    // A section in no arrangement.
    AddVariation(*AddSection(*b.song, "Unused"), "U", 1000);
    // Entries that are shorter than a block together.
    CSection* tick = AddSection(*b.song, "Tick");
    AddVariation(*tick, "t", 5);
    AddArrangement(*b.song, "Ticks", {wide, tick, tick, tick, tick, tick});
    // A title that fills its field.
    b.song->SetTitle(std::string(50, 'T'));

    const Checked c = b.Run("check-warnings");
    EXPECT_EQ(c.nStatus, 0) << c.j.dump(2);
    EXPECT_EQ(c.j["errors"], 0);
    const std::string ev = "sections[0] \"Verse\" > variations[0] \"A\" > tracks[0] \"Keys\" > events[";
    EXPECT_TRUE(Has(c.j, "warning", "clips[1] \"slow\"", "22050 Hz stereo")) << c.j.dump(2);
    EXPECT_TRUE(Has(c.j, "warning", "clips[2] \"mono\"", "44100 Hz mono"));
    EXPECT_TRUE(Has(c.j, "warning", "clips[4] \"spare\"", "no event plays it"));
    EXPECT_TRUE(Has(c.j, "warning", ev + "3]", "which has no data"));
    EXPECT_TRUE(Has(c.j, "warning", ev + "4]", "has ended"));
    EXPECT_TRUE(Has(c.j, "warning", ev + "5]", "past the end"));
    EXPECT_TRUE(Has(c.j, "warning", "sections[1] \"Wide\" > variations[0] \"Five\"", "5 tracks"));
    EXPECT_TRUE(Has(c.j, "warning", "sections[2] \"Unused\"", "no arrangement lists it"));
    EXPECT_TRUE(Has(c.j, "warning", "arrangements[1] \"Ticks\"", "within one block"));
    EXPECT_TRUE(Has(c.j, "warning", "song", "fills its 50-byte field"));
    EXPECT_EQ(c.j["warnings"], 10) << c.j.dump(2);

    // The readable form says the same, one line per finding.
    const auto text = RunTool({"check", TempPath("check-warnings.vn")});
    EXPECT_EQ(text.nStatus, 0);
    EXPECT_NE(text.strOut.find("warning: " + TempPath("check-warnings.vn") + ": clips[1] \"slow\": it is 22050 Hz"),
              std::string::npos)
        << text.strOut;
    EXPECT_NE(text.strOut.find("0 errors, 10 warnings"), std::string::npos) << text.strOut;
}

TEST(Check, EveryDamagedTestSongGetsAVerdict)
{
    const std::string clip = Clip("stereo44k.mp3");
    for (const auto& [name, bytes] : hostile::HostileSet(clip)) {
        const std::string path = TempPath("check-hostile-" + name + ".vn");
        WriteBytes(path, bytes);
        const auto r = RunTool({"check", path, "--json"});
        ASSERT_TRUE(r.nStatus == 0 || r.nStatus == 1) << name << ": " << r.strErr;
        const Json j = Json::parse(r.strOut);
        EXPECT_EQ(r.nStatus == 1, j["errors"].get<int>() > 0) << name;
        for (const Json& f : j["findings"])
            EXPECT_FALSE(f["message"].get<std::string>().empty()) << name;
    }
}
