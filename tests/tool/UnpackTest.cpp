// vantrel unpack: unpack then pack gives back the same model and the same clip bytes
// (the demo song, generated songs of many clips, sections and variations, both format
// versions); what a manifest cannot hold is warned about with its place; the folder
// rules.
#include <gtest/gtest.h>

#include <filesystem>
#include <random>
#include <set>

#include <sys/stat.h>

#include <nlohmann/json.hpp>

#include "common/RawSong.h"
#include "common/TestSongs.h"
#include "song/SongWriter.h"
#include "tool/ToolRun.h"

using namespace testutil;
using tooltest::ClipData;
using tooltest::Info;
using tooltest::RunTool;
using Json = nlohmann::json;
namespace fs = std::filesystem;

namespace {

std::string Folder(const std::string& name)
{
    const std::string dir = TempPath(name);
    fs::remove_all(dir);
    fs::create_directories(dir);
    return dir;
}

// Three distinct 44.1 kHz stereo MP3s, made by pack from tones of different lengths.
const std::vector<std::string>& Mp3s()
{
    static std::vector<std::string> mp3s;
    if (!mp3s.empty())
        return mp3s;
    const std::string dir = Folder("unpack-mp3s");
    Json m = {{"sections", {{{"name", "S"}}}}, {"clips", Json::array()}};
    for (int i = 0; i < 3; ++i) {
        const std::string wav = "t" + std::to_string(i) + ".wav";
        tooltest::WriteWav(dir + "/" + wav, 44100, 2, 4410 * (i + 1), 220.0 * (i + 1));
        m["clips"].push_back({{"name", wav}, {"file", wav}});
    }
    WriteBytes(dir + "/m.json", m.dump());
    const auto r = RunTool({"pack", "-q", dir + "/m.json", "-o", dir + "/m.vn"});
    EXPECT_EQ(r.nStatus, 0) << r.strErr;
    const Json info = Info(dir + "/m.vn");
    for (const Json& c : info["song"]["clips"])
        mp3s.push_back(ClipData(dir + "/m.vn", c));
    return mp3s;
}

// Unpacks `song`, packs the folder again (in the same format version) and expects the
// same model: `info --json` equal but for the file's path, the clips' data offsets
// and the paths of clips stored without one (which load as the song's own path).
// The clips' bytes are identical. Returns unpack's standard error.
std::string ExpectRoundTrip(const std::string& song, const std::string& name)
{
    const std::string dir = Folder(name);
    const auto u = RunTool({"unpack", song, "-o", dir + "/parts"});
    EXPECT_EQ(u.nStatus, 0) << u.strErr;
    Json before = Info(song);
    const std::string version = before["format"]["version"] == 0x60 ? "0x60" : "0x61";
    const std::string again = dir + "/again.vn";
    const auto p = RunTool({"pack", "-q", dir + "/parts/manifest.json", "-o", again, "--format-version", version});
    EXPECT_EQ(p.nStatus, 0) << p.strErr;
    Json after = Info(again);
    EXPECT_EQ(after["format"], before["format"]);
    Json& b = before["song"];
    Json& a = after["song"];
    EXPECT_FALSE(b.is_null());
    EXPECT_FALSE(a.is_null());
    if (b.is_null() || a.is_null())
        return u.strErr;
    EXPECT_EQ(a["clips"].size(), b["clips"].size());
    for (size_t c = 0; c < std::min(a["clips"].size(), b["clips"].size()); ++c) {
        EXPECT_EQ(ClipData(again, a["clips"][c]), ClipData(song, b["clips"][c])) << "clip " << c;
        if (b["clips"][c]["path"] == before["path"]) {
            EXPECT_EQ(a["clips"][c]["path"], after["path"]) << "clip " << c;
            a["clips"][c]["path"] = b["clips"][c]["path"];
        }
        a["clips"][c].erase("dataOffset");
        b["clips"][c].erase("dataOffset");
    }
    EXPECT_EQ(a, b);
    return u.strErr;
}

// A song of `clips` clips and `sections` sections with up to five variations of up
// to six tracks each, every field drawn from `seed`; names with characters no file
// system takes, names that clash when case is ignored, texts beyond ASCII.
std::unique_ptr<CSong> MakeBigSong(unsigned seed, int clips, int sections, std::vector<std::string>& data)
{
    std::mt19937 rng(seed);
    auto pick = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
    auto song = std::make_unique<CSong>("Gro\xDF \xA9 " + std::to_string(seed));
    song->SetAuthor("Author \xE9");
    song->SetGenre("Genre");
    song->SetFactor(0.1f * static_cast<float>(pick(1, 50)));
    song->SetMeter(static_cast<int16_t>(pick(-128, 127)), static_cast<int16_t>(pick(-128, 127)));
    song->SetVolume(static_cast<int16_t>(pick(0, 255)));
    song->SetPan(static_cast<int16_t>(pick(-128, 127)));
    song->SetMode(static_cast<int16_t>(pick(0, 255)));
    song->SetOption(static_cast<uint8_t>(pick(0, 255)));
    static const char* kNames[] = {"kick", "Kick", "a/b", "a\\b", "CON", "x:y*z?", ".hidden.", "\xE9t\xE9", "NUL.txt"};
    std::vector<CClip*> table;
    for (int c = 0; c < clips; ++c) {
        CClip* clip = AddClip(*song, std::string(kNames[c % 9]) + (c >= 9 ? std::to_string(c) : ""), 2);
        clip->m_strPath = c % 3 == 0 ? std::string() : "C:\\sounds\\" + std::to_string(c) + ".wav";
        table.push_back(clip);
        data.push_back(Mp3s()[static_cast<size_t>(c) % Mp3s().size()]);
    }
    std::vector<CSection*> all;
    for (int s = 0; s < sections; ++s) {
        CSection* section = AddSection(*song, "Section " + std::to_string(s));
        section->SetSettings(pick(-100000, 100000), pick(-5, 5));
        all.push_back(section);
        const int variations = pick(1, 5);
        for (int v = 0; v < variations; ++v) {
            CVariation* var = AddVariation(*section, v % 2 ? "" : "V" + std::to_string(v), pick(0, 8000));
            var->SetFactor(v % 2 ? -1.0f : 1.5f);
            var->SetMeter(static_cast<int16_t>(pick(-1, 12)), static_cast<int16_t>(pick(-1, 16)));
            const int tracks = pick(0, 6);
            for (int t = 0; t < tracks; ++t) {
                CTrack* track = AddTrack(*var, t % 2 ? "" : "T" + std::to_string(t));
                track->SetVolume(static_cast<uint16_t>(pick(0, 255)));
                track->SetPan(static_cast<uint16_t>(pick(0, 255)));
                track->SetMode(static_cast<uint8_t>(pick(0, 255)));
                track->SetSettingA(pick(-1000, 1000));
                const int events = pick(0, 4);
                for (int e = 0; e < events; ++e) {
                    CClipEvent* ev = AddEvent(*track, table[static_cast<size_t>(pick(0, clips - 1))],
                                              pick(0, 9000), pick(0, 3000));
                    ev->m_nVolume = static_cast<uint16_t>(pick(0, 255));
                    ev->m_nPan = static_cast<int16_t>(pick(-128, 127));
                    ev->m_nMode = static_cast<uint8_t>(pick(0, 255));
                    ev->m_bActive = static_cast<uint8_t>(pick(0, 1));
                    ev->m_nPos2 = pick(-1000, 1000);
                    ev->m_nPos3 = pick(-1000, 1000);
                    ev->m_nPos4 = pick(0, 1000);
                    ev->m_nPos5 = -pick(0, 1000);
                    ev->m_nPos6 = pick(0, 1000);
                }
            }
        }
    }
    for (int a = 0; a < 4; ++a) {
        std::vector<CSection*> order;
        for (int k = pick(1, 8); k > 0; --k)
            order.push_back(all[static_cast<size_t>(pick(0, sections - 1))]);
        CArrangement* arr = AddArrangement(*song, "Arrangement " + std::to_string(a), order);
        arr->SetSettingA(pick(0, 100));
        arr->SetSettingB(pick(0, 100));
    }
    return song;
}

} // namespace

TEST(Unpack, DemoSongPacksBackToTheSameModel)
{
    const std::string err = ExpectRoundTrip(VANTREL_SOURCE_DIR "/examples/demo.vn", "unpack-demo");
    EXPECT_EQ(err.find("warning:"), std::string::npos) << err;
}

TEST(Unpack, GeneratedSongsOfManyClipsSectionsAndVariationsPackBack)
{
    struct Case
    {
        unsigned seed;
        int clips, sections;
        uint8_t version;
    };
    for (const Case& c : {Case{1, 40, 12, 0x61}, Case{2, 9, 3, 0x60}, Case{3, 120, 30, 0x61}}) {
        SCOPED_TRACE("seed " + std::to_string(c.seed));
        std::vector<std::string> data;
        auto song = MakeBigSong(c.seed, c.clips, c.sections, data);
        const std::string path = TempPath("big" + std::to_string(c.seed) + ".vn");
        testutil::WriteSong(*song, data, path, c.version);
        const std::string name = "unpack-big" + std::to_string(c.seed);
        const std::string err = ExpectRoundTrip(path, name);
        // Every clip has a file of its own, with a name that every file system takes,
        // also where clip names differ only in case or in characters left out.
        const std::string folder = TempPath(name) + "/parts";
        const Json m = Json::parse(ReadBytes(folder + "/manifest.json"));
        std::set<std::string> files;
        for (const Json& clip : m["clips"]) {
            const std::string file = clip["file"];
            EXPECT_EQ(file.find_first_of(":*?\\\"<>|", 6), std::string::npos) << file;
            EXPECT_EQ(file.find('/', 6), std::string::npos) << file;
            std::string lower = file;
            for (char& ch : lower)
                ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
            EXPECT_TRUE(files.insert(lower).second) << "two clips in one file (ignoring case): " << file;
            EXPECT_TRUE(fs::is_regular_file(folder + "/" + file)) << file;
        }
        EXPECT_EQ(files.size(), static_cast<size_t>(c.clips));
    }
}

TEST(Unpack, WarnsAboutWhatTheManifestCannotHoldWithItsPlace)
{
    const std::string mp3 = Mp3s()[0];
    RawSong raw; // header text "abc", third chunk "xyz"
    Texts(raw.info);
    Settings(raw.info, 3, 0, 0);
    raw.clips.Int16BE(3);
    Clip(raw.clips, "mp3", "tone", 0, mp3);
    Clip(raw.clips, "", "other", 0, mp3);          // kind 1
    Clip(raw.clips, "mp3", "silent", 0, "", false); // no data
    CByteWriter& s = raw.sections;
    s.Int8(1);
    s.Zeros(4);
    s.FixedText("Verse", 50, "n");
    s.Int32BE(0);
    s.Int32BE(0);
    s.Zeros(6);
    s.Int8(1);
    s.Zeros(4);
    s.FixedText("A", 50, "n");
    s.Int32BE(4000);
    s.Zeros(7);
    s.Float32LE(-1.0f);
    s.Int8(-1);
    s.Int8(-1);
    s.Int8(2);
    s.UInt8('B');
    s.Int32BE(3);
    s.Bytes("xyz");
    s.UInt8('A');
    s.Int32BE(0);
    s.FixedText("Drums", 50, "n");
    s.Int32BE(0);
    s.Zeros(4);
    s.UInt8(128);
    s.UInt8(0);
    s.UInt8(2);
    s.Zeros(6);
    s.Int8(3);
    Event(s, 0, 1);
    Event(s, 100, 0); // no clip
    Event(s, 200, 3); // the clip without data
    CByteWriter& a = raw.arrangements;
    a.Int8(2);
    a.Int8(1);
    a.FixedText("Main", 50, "n");
    a.Int32BE(0);
    a.Int32BE(0);
    a.Int32BE(0);
    a.Int8(1);
    a.FixedText("MAIN", 50, "n");
    a.Int32BE(0);
    a.Int32BE(0);
    a.Int32BE(0);
    const std::string song = TempPath("unpack-warn.vn");
    WriteBytes(song, raw.Bytes());
    const std::string dir = Folder("unpack-warn");
    const auto u = RunTool({"unpack", song, "-o", dir + "/parts"});
    ASSERT_EQ(u.nStatus, 0) << u.strErr;
    for (const char* expected :
         {"header text \"abc\"", "third chunk (3 bytes",
          "sections[0] \"Verse\" > variations[0] \"A\" > tracks[0] \"Drums\": offset 593: a track record of tag", "track record of tag \"B\" (3 bytes)",
          "tracks[0] \"Drums\" > events[1]: offset", "clip number 0", "events[0]: pos[0] 10: no MPEG frame", "clips[1] \"other\" has a format text other than MP3",
          "clips[2] \"silent\" has no data", "tracks[0] \"Drums\" > events[1] plays a clip without data",
          "arrangements[1]", "\"MAIN\", whose name is taken"}) {
        EXPECT_NE(u.strErr.find(expected), std::string::npos) << expected << "\n" << u.strErr;
    }
    // What remains packs (once the event starts where a frame begins), and plays the
    // events that have a clip with data.
    Json m = Json::parse(ReadBytes(dir + "/parts/manifest.json"));
    m["sections"][0]["variations"][0]["tracks"][0]["events"][0]["pos"][0] = 0;
    WriteBytes(dir + "/parts/manifest.json", m.dump());
    const auto p = RunTool({"pack", "-q", dir + "/parts/manifest.json", "-o", dir + "/again.vn"});
    ASSERT_EQ(p.nStatus, 0) << p.strErr;
    const Json again = Info(dir + "/again.vn")["song"];
    EXPECT_EQ(again["clips"].size(), 2u);
    EXPECT_EQ(again["sections"][0]["variations"][0]["tracks"][0]["events"].size(), 1u);
    EXPECT_EQ(again["arrangements"].size(), 1u);
}

TEST(Unpack, RefusesAFolderThatHoldsFilesUnlessForcedAndLeavesNoHalfFolder)
{
    const std::string demo = VANTREL_SOURCE_DIR "/examples/demo.vn";
    const std::string dir = Folder("unpack-folder");
    // An empty folder is used.
    fs::create_directories(dir + "/empty");
    EXPECT_EQ(RunTool({"unpack", demo, "-o", dir + "/empty"}).nStatus, 0);
    EXPECT_TRUE(fs::is_regular_file(dir + "/empty/manifest.json"));

    fs::create_directories(dir + "/full");
    WriteBytes(dir + "/full/notes.txt", "mine");
    WriteBytes(dir + "/full/manifest.json", "old");
    const auto refused = RunTool({"unpack", demo, "-o", dir + "/full"});
    EXPECT_EQ(refused.nStatus, 1);
    EXPECT_NE(refused.strErr.find("is not empty"), std::string::npos) << refused.strErr;
    EXPECT_EQ(ReadBytes(dir + "/full/manifest.json"), "old");

    const auto forced = RunTool({"unpack", demo, "-o", dir + "/full", "--force"});
    EXPECT_EQ(forced.nStatus, 0) << forced.strErr;
    EXPECT_EQ(ReadBytes(dir + "/full/notes.txt"), "mine");
    EXPECT_EQ(ReadBytes(dir + "/full/manifest.json"), ReadBytes(dir + "/empty/manifest.json"));

    // A song that does not load leaves nothing behind, not even a temporary folder.
    WriteBytes(dir + "/bad.vn", "VNFxyz\x01\x61");
    const auto bad = RunTool({"unpack", dir + "/bad.vn", "-o", dir + "/fromBad"});
    EXPECT_EQ(bad.nStatus, 1);
    EXPECT_NE(bad.strErr.find("File is not a VNF or is corrupted."), std::string::npos) << bad.strErr;
    EXPECT_FALSE(fs::exists(dir + "/fromBad"));
    int entries = 0;
    for (const auto& e : fs::directory_iterator(dir))
        entries += e.path().filename().string().find(".unpack-") != std::string::npos;
    EXPECT_EQ(entries, 0);

    // A file where the folder should be is not touched.
    WriteBytes(dir + "/afile", "data");
    EXPECT_EQ(RunTool({"unpack", demo, "-o", dir + "/afile"}).nStatus, 1);
    EXPECT_EQ(ReadBytes(dir + "/afile"), "data");
}
