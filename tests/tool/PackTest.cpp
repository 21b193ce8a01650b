// vantrel pack: manifest -> song -> load gives back the manifest, sounds encoded to
// decodable MP3 of the right length, and the errors an author meets.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <nlohmann/json.hpp>

#include "common/TestSongs.h"
#include "song/SongDocument.h"
#include "tool/ToolRun.h"

using namespace testutil;
using tooltest::ClipData;
using tooltest::Info;
using tooltest::RunTool;
using Json = nlohmann::json;

namespace {

std::string Folder(const std::string& name)
{
    const std::string dir = TempPath(name);
    ::mkdir(dir.c_str(), 0700);
    return dir;
}

template <class T> T Or(const Json& j, const char* key, T def)
{
    return j.contains(key) ? j[key].get<T>() : def;
}

int IndexOf(const Json& list, const std::string& name)
{
    for (size_t i = 0; i < list.size(); ++i)
        if (list[i]["name"] == name)
            return static_cast<int>(i);
    return -1;
}

// Everything the manifest gives, or the default for what it leaves out, is in the
// loaded song. Event and variation lengths that the manifest leaves out depend on
// the sounds and are checked by the callers.
void ExpectSongIsManifest(const Json& m, const Json& song)
{
    EXPECT_EQ(song["title"], Or<std::string>(m, "title", "New Song"));
    for (const char* key : {"author", "publisher", "genre", "copyright"})
        EXPECT_EQ(song[key], Or<std::string>(m, key, "")) << key;
    EXPECT_EQ(song["factor"].get<float>(), Or<float>(m, "factor", 1.0f));
    EXPECT_EQ(song["beatsPerBar"], Or<int>(m, "beatsPerBar", 4));
    EXPECT_EQ(song["beatUnit"], Or<int>(m, "beatUnit", 4));
    EXPECT_EQ(song["volume"], Or<int>(m, "volume", 128));
    EXPECT_EQ(song["pan"], Or<int>(m, "pan", 0));
    EXPECT_EQ(song["mode"], Or<int>(m, "mode", 2));
    EXPECT_EQ(song["option"], Or<int>(m, "option", 0));

    ASSERT_EQ(song["clips"].size(), m["clips"].size());
    for (size_t c = 0; c < m["clips"].size(); ++c) {
        const Json& mc = m["clips"][c];
        const Json& sc = song["clips"][c];
        EXPECT_EQ(sc["name"], mc["name"]);
        EXPECT_EQ(sc["kind"], 2);
        EXPECT_EQ(sc["path"], Or<std::string>(mc, "path", mc["file"].get<std::string>()));
        EXPECT_GT(sc["dataSize"].get<int>(), 0);
    }

    ASSERT_EQ(song["sections"].size(), m["sections"].size());
    for (size_t s = 0; s < m["sections"].size(); ++s) {
        const Json& ms = m["sections"][s];
        const Json& ss = song["sections"][s];
        EXPECT_EQ(ss["name"], ms["name"]);
        EXPECT_EQ(ss["settingA"], Or<int>(ms, "settingA", 0));
        EXPECT_EQ(ss["settingB"], Or<int>(ms, "settingB", 0));
        const Json mvs = Or<Json>(ms, "variations", Json::array());
        ASSERT_EQ(ss["variations"].size(), mvs.size());
        for (size_t v = 0; v < mvs.size(); ++v) {
            const Json& mv = mvs[v];
            const Json& sv = ss["variations"][v];
            EXPECT_EQ(sv["name"], Or<std::string>(mv, "name", ""));
            if (mv.contains("lengthMs")) {
                EXPECT_EQ(sv["lengthMs"], mv["lengthMs"]);
            }
            EXPECT_EQ(sv["factor"].get<float>(), Or<float>(mv, "factor", -1.0f));
            EXPECT_EQ(sv["beatsPerBar"], Or<int>(mv, "beatsPerBar", -1));
            EXPECT_EQ(sv["beatUnit"], Or<int>(mv, "beatUnit", -1));
            const Json mts = Or<Json>(mv, "tracks", Json::array());
            ASSERT_EQ(sv["tracks"].size(), mts.size());
            for (size_t t = 0; t < mts.size(); ++t) {
                const Json& mt = mts[t];
                const Json& st = sv["tracks"][t];
                EXPECT_EQ(st["name"], Or<std::string>(mt, "name", ""));
                EXPECT_EQ(st["volume"], Or<int>(mt, "volume", 128));
                EXPECT_EQ(st["pan"], Or<int>(mt, "pan", 0));
                EXPECT_EQ(st["mode"], Or<int>(mt, "mode", 2));
                EXPECT_EQ(st["settingA"], Or<int>(mt, "settingA", 0));
                const Json mes = Or<Json>(mt, "events", Json::array());
                ASSERT_EQ(st["events"].size(), mes.size());
                for (size_t e = 0; e < mes.size(); ++e) {
                    const Json& me = mes[e];
                    const Json& se = st["events"][e];
                    EXPECT_EQ(se["clip"], IndexOf(m["clips"], me["clip"]));
                    EXPECT_EQ(se["startMs"], me["startMs"]);
                    if (me.contains("lengthMs")) {
                        EXPECT_EQ(se["lengthMs"], me["lengthMs"]);
                    }
                    EXPECT_EQ(se["volume"], Or<int>(me, "volume", 128));
                    EXPECT_EQ(se["pan"], Or<int>(me, "pan", 0));
                    EXPECT_EQ(se["mode"], Or<int>(me, "mode", 2));
                    // "active" may be given as true/false or 1/0.
                    const bool active = !me.contains("active") ||
                                        (me["active"].is_boolean() ? me["active"].get<bool>() : me["active"] == 1);
                    EXPECT_EQ(se["active"], active ? 1 : 0);
                    Json pos = Or<Json>(me, "pos", Json::array());
                    while (pos.size() < 6)
                        pos.push_back(0);
                    EXPECT_EQ(se["pos"], pos);
                }
            }
        }
    }

    if (!m.contains("arrangements")) {
        ASSERT_EQ(song["arrangements"].size(), 1u);
        EXPECT_EQ(song["arrangements"][0]["name"], "Main");
        Json all = Json::array();
        for (size_t s = 0; s < m["sections"].size(); ++s)
            all.push_back(s);
        EXPECT_EQ(song["arrangements"][0]["sections"], all);
        return;
    }
    ASSERT_EQ(song["arrangements"].size(), m["arrangements"].size());
    for (size_t a = 0; a < m["arrangements"].size(); ++a) {
        const Json& ma = m["arrangements"][a];
        const Json& sa = song["arrangements"][a];
        EXPECT_EQ(sa["name"], ma["name"]);
        EXPECT_EQ(sa["settingA"], Or<int>(ma, "settingA", 0));
        EXPECT_EQ(sa["settingB"], Or<int>(ma, "settingB", 0));
        Json refs = Json::array();
        for (const Json& name : ma["sections"])
            refs.push_back(IndexOf(m["sections"], name));
        EXPECT_EQ(sa["sections"], refs);
    }
}

// An MP3 made by pack, for a manifest that embeds an MP3 file.
std::string MakeMp3(const std::string& dir)
{
    tooltest::WriteWav(dir + "/for-mp3.wav", 44100, 2, 11025, 330.0);
    const Json m = {{"clips", {{{"name", "x"}, {"file", "for-mp3.wav"}}}},
                    {"sections", {{{"name", "S"}}}}};
    WriteBytes(dir + "/for-mp3.json", m.dump());
    const auto r = RunTool({"pack", "-q", dir + "/for-mp3.json", "-o", dir + "/for-mp3.vn"});
    EXPECT_EQ(r.nStatus, 0) << r.strErr;
    return ClipData(dir + "/for-mp3.vn", Info(dir + "/for-mp3.vn")["song"]["clips"][0]);
}

const char kFullManifest[] = R"({
  "_note": "fields starting with _ are comments",
  "title": "Caf\u00e9 \u00a9 \u00ff",
  "author": "Author",
  "genre": "\u00e9\u00e9\u00e9\u00e9\u00e9\u00e9\u00e9\u00e9\u00e9\u00e9\u00e9\u00e9\u00e9\u00e9\u00e9\u00e9\u00e9\u00e9\u00e9\u00e9",
  "copyright": "(c) 2024",
  "factor": 0.1, "beatsPerBar": -128, "beatUnit": 127, "volume": 255, "pan": -128, "mode": 0, "option": 255,
  "clips": [
    {"name": "tone", "file": "tone.wav"},
    {"name": "low", "file": "sub/low.wav", "path": "C:\\sounds\\low.wav"},
    {"name": "ready", "file": "ready.mp3"}
  ],
  "sections": [
    {"name": "Intro", "settingA": -5, "settingB": 2147483647, "variations": [
      {"name": "A", "lengthMs": 1200, "factor": 2.5, "beatsPerBar": 3, "beatUnit": 8, "tracks": [
        {"name": "T1", "volume": 0, "pan": 255, "mode": 9, "settingA": -42, "events": [
          {"clip": "tone", "startMs": 0, "lengthMs": 700, "volume": 1, "pan": -128, "mode": 255,
           "active": false, "pos": [0, -2, 3, 4, 5, -2147483648]},
          {"clip": "low", "startMs": 700}
        ]},
        {"events": [{"clip": "ready", "startMs": 100, "active": 1}]}
      ]},
      {"name": "B", "tracks": [{"name": "T", "events": [{"clip": "tone", "startMs": 250}, {"clip": "low", "startMs": 0}]}]}
    ]},
    {"name": "Empty"}
  ],
  "arrangements": [
    {"name": "Main", "settingA": 3, "settingB": 4, "sections": ["Intro", "Empty", "Intro"]},
    {"name": "Other", "sections": ["Empty"]}
  ]
})";

} // namespace

class PackRoundTrip : public ::testing::TestWithParam<int> {};

TEST_P(PackRoundTrip, LoadingThePackedSongGivesBackTheManifest)
{
    const int version = GetParam();
    const std::string dir = Folder("pack-rt-" + std::to_string(version));
    ::mkdir((dir + "/sub").c_str(), 0700);
    tooltest::WriteWav(dir + "/tone.wav", 44100, 2, 44100, 440.0);    // 1 s
    tooltest::WriteWav(dir + "/sub/low.wav", 22050, 1, 11025, 110.0); // 0.5 s, resampled
    const std::string mp3 = MakeMp3(dir);
    WriteBytes(dir + "/ready.mp3", mp3);
    WriteBytes(dir + "/song.json", kFullManifest);

    const std::string out = dir + "/song.vn";
    std::vector<std::string> args = {"pack", dir + "/song.json", "-o", out};
    if (version == 0x60)
        args.insert(args.end(), {"--format-version", "0x60"});
    const auto r = RunTool(args);
    ASSERT_EQ(r.nStatus, 0) << r.strErr;
    // Progress names each sound as it is encoded; the unused section is pointed out.
    EXPECT_NE(r.strErr.find("[1/3] tone.wav: encoding 44100 Hz stereo"), std::string::npos) << r.strErr;
    EXPECT_NE(r.strErr.find("[2/3] sub/low.wav: encoding 22050 Hz mono"), std::string::npos) << r.strErr;
    EXPECT_NE(r.strErr.find("[3/3] ready.mp3: MP3"), std::string::npos) << r.strErr;
    EXPECT_NE(r.strOut.find("wrote " + out), std::string::npos);

    const Json info = Info(out);
    EXPECT_EQ(info["format"]["version"], version);
    const Json& song = info["song"];
    ExpectSongIsManifest(Json::parse(kFullManifest), song);

    // Lengths left out: an event plays its whole clip, a variation lasts until its
    // last event ends.
    const Json& a = song["sections"][0]["variations"][0];
    EXPECT_EQ(a["tracks"][0]["events"][1]["lengthMs"], 500);
    EXPECT_EQ(a["tracks"][1]["events"][0]["lengthMs"], 250);
    const Json& b = song["sections"][0]["variations"][1];
    EXPECT_EQ(b["tracks"][0]["events"][0]["lengthMs"], 1000);
    EXPECT_EQ(b["lengthMs"], 1250);

    // The sounds became MP3 that decodes to 44100 Hz stereo of the sound's length;
    // the MP3 file went in unchanged.
    const tooltest::Decoded tone = tooltest::DecodeMp3(ClipData(out, song["clips"][0]));
    EXPECT_FALSE(tone.bError);
    EXPECT_EQ(tone.nRate, 44100);
    EXPECT_EQ(tone.nChannels, 2);
    EXPECT_EQ(tone.nFrames, 44100);
    const tooltest::Decoded low = tooltest::DecodeMp3(ClipData(out, song["clips"][1]));
    EXPECT_FALSE(low.bError);
    EXPECT_EQ(low.nRate, 44100);
    EXPECT_EQ(low.nChannels, 2);
    EXPECT_NEAR(static_cast<double>(low.nFrames), 22050.0, 44.0);
    EXPECT_EQ(static_cast<unsigned char>(ClipData(out, song["clips"][0])[0]), 0xFF);
    EXPECT_EQ(ClipData(out, song["clips"][2]), mp3);
}

INSTANTIATE_TEST_SUITE_P(Versions, PackRoundTrip, ::testing::Values(0x60, 0x61));

TEST(Pack, ManifestMistakesAreRefusedNamingThePlace)
{
    const std::string dir = Folder("pack-errors");
    tooltest::WriteWav(dir + "/a.wav", 44100, 2, 4410, 440.0);
    WriteBytes(dir + "/broken.wav", "RIFF, but not really a sound file");
    const std::string clip = R"("clips": [{"name": "a", "file": "a.wav"}])";
    auto withEvents = [&](const std::string& events) {
        return "{" + clip + R"(, "sections": [{"name": "S", "variations": [{"name": "V", "tracks": [{"name": "T", "events": [)" +
               events + "]}]}]}]}";
    };
    std::string manyEvents;
    for (int i = 0; i < 128; ++i)
        manyEvents += std::string(i ? "," : "") + R"({"clip": "a", "startMs": 0})";

    struct Case
    {
        std::string manifest;
        std::vector<std::string> expected; // in the message on standard error
    };
    const Case cases[] = {
        {withEvents(R"({"clip": "A", "startMs": 0})"),
         {"sections[0] \"S\" > variations[0] \"V\" > tracks[0] \"T\" > events[0]", "\"A\"", "did you mean \"a\""}},
        {withEvents(manyEvents), {"tracks[0] \"T\"", "\"events\" has 128 entries; at most 127"}},
        {withEvents(R"({"clip": "a"})"), {"events[0]", "needs a \"startMs\""}},
        {withEvents(R"({"clip": "a", "startMs": 0, "volume": 256})"), {"events[0]", "\"volume\" 256 is outside 0..255"}},
        {withEvents(R"({"clip": "a", "startMs": 0, "pos": [8]})"), {"events[0]", "pos[0] 8", "MP3 frame"}},
        {withEvents(R"({"clip": "a", "startMs": 0, "volumee": 1})"), {"events[0]", "unknown field \"volumee\""}},
        {"{" + clip + R"(, "title": "012345678901234567890123456789012345678901234567890", "sections": [{"name": "S"}]})",
         {"\"title\"", "51 characters long; at most 50"}},
        {"{" + clip + R"(, "genre": "\u00e9\u00e9\u00e9\u00e9\u00e9\u00e9\u00e9\u00e9\u00e9\u00e9\u00e9\u00e9\u00e9\u00e9\u00e9\u00e9\u00e9\u00e9\u00e9\u00e9\u00e9", "sections": [{"name": "S"}]})",
         {"\"genre\"", "21 characters long; at most 20"}},
        {"{" + clip + R"(, "sections": [{"name": "S\u0100"}]})", {"sections[0]", "U+0100"}},
        {"{" + clip + R"(, "sections": [{"name": "012345678901234567890123456789012345678901234567890"}]})",
         {"sections[0]", "\"name\"", "at most 50"}},
        {"{" + clip + R"(, "sections": [{"name": "S"}], "arrangements": [{"name": "Main", "sections": ["S"]}, {"name": "MAIN", "sections": ["S"]}]})",
         {"arrangements[1] \"MAIN\"", "matches arrangements[0] \"Main\""}},
        {"{" + clip + R"(, "sections": [{"name": "S"}], "arrangements": [{"name": "Main", "sections": ["S", "Chorus"]}]})",
         {"arrangements[0] \"Main\"", "\"sections[1]\" names no section: \"Chorus\""}},
        {"{" + clip + R"(, "sections": [{"name": "S"}, {"name": "S"}]})", {"sections[1] \"S\"", "is used by sections[0]"}},
        {R"({"clips": [{"name": "a", "file": "a.wav"}, {"name": "a", "file": "a.wav"}], "sections": [{"name": "S"}]})",
         {"clips[1] \"a\"", "is used by clips[0]"}},
        {R"({"clips": [{"name": "gone", "file": "sounds/gone.wav"}], "sections": [{"name": "S"}]})",
         {"clips[0] \"gone\"", "\"sounds/gone.wav\" does not exist"}},
        {R"({"clips": [{"name": "b", "file": "broken.wav"}], "sections": [{"name": "S"}]})",
         {"clips[0] \"b\"", "broken.wav", "cannot read it as a sound file"}},
        {R"({"sections": []})", {"needs \"sections\""}},
        {R"({"sections": [{"name": "S"}], })", {"not valid JSON", "line 1"}},
    };
    const std::string manifest = dir + "/m.json";
    const std::string out = dir + "/out.vn";
    for (const Case& c : cases) {
        WriteBytes(manifest, c.manifest);
        const auto r = RunTool({"pack", manifest, "-o", out});
        EXPECT_EQ(r.nStatus, 1) << c.manifest;
        for (const std::string& e : c.expected)
            EXPECT_NE(r.strErr.find(e), std::string::npos) << "expected: " << e << "\ngot: " << r.strErr;
        struct stat st;
        EXPECT_NE(::stat(out.c_str(), &st), 0) << "an output was written for " << c.manifest;
    }
}

TEST(Pack, ReplacesSongsButNotOtherFiles)
{
    const std::string dir = Folder("pack-output");
    tooltest::WriteWav(dir + "/a.wav", 44100, 2, 4410, 440.0);
    WriteBytes(dir + "/m.json", R"({"clips": [{"name": "a", "file": "a.wav"}],
        "sections": [{"name": "S", "variations": [{"tracks": [{"events": [{"clip": "a", "startMs": 0}]}]}]}]})");
    const std::string notes = dir + "/notes.txt";
    WriteBytes(notes, "keep me");

    auto r = RunTool({"pack", dir + "/m.json", "-o", notes});
    EXPECT_EQ(r.nStatus, 1);
    EXPECT_NE(r.strErr.find("is not a VNF song; not replacing it"), std::string::npos) << r.strErr;
    EXPECT_EQ(ReadBytes(notes), "keep me");

    r = RunTool({"pack", dir + "/m.json", "-o", dir + "/no-folder/s.vn"});
    EXPECT_EQ(r.nStatus, 1);
    EXPECT_NE(r.strErr.find("the folder " + dir + "/no-folder does not exist"), std::string::npos) << r.strErr;
    EXPECT_EQ(r.strErr.find("encoding"), std::string::npos) << "checked before the sounds: " << r.strErr;

    const std::string song = dir + "/s.vn";
    ASSERT_EQ(RunTool({"pack", "-q", dir + "/m.json", "-o", song}).nStatus, 0);
    r = RunTool({"pack", "-q", dir + "/m.json", "-o", song, "--format-version", "0x60"});
    ASSERT_EQ(r.nStatus, 0) << r.strErr;
    EXPECT_EQ(Info(song)["format"]["version"], 0x60);
    EXPECT_EQ(r.strErr, ""); // -q: nothing but warnings and errors

    ASSERT_EQ(RunTool({"pack", "-q", "--force", dir + "/m.json", "-o", notes}).nStatus, 0);
    EXPECT_EQ(Info(notes)["result"], 1);
}

TEST(Pack, DemoSongIsItsManifestAndPlaysAsIntended)
{
    const std::string demo = VANTREL_SOURCE_DIR "/examples/demo.vn";
    const Json manifest = Json::parse(ReadBytes(VANTREL_SOURCE_DIR "/examples/demo/manifest.json"));
    const Json info = Info(demo);
    ASSERT_EQ(info["result"], 1);
    const Json& song = info["song"];
    ExpectSongIsManifest(manifest, song);

    EXPECT_LT(ReadBytes(demo).size(), 1024u * 1024u);
    EXPECT_GE(song["arrangements"].size(), 2u);
    // One-bar clips at 120 bpm: every event starts on a beat and plays a whole bar of
    // 44100 Hz stereo sound; at most 4 tracks sound together.
    for (const Json& clip : song["clips"]) {
        const tooltest::Decoded d = tooltest::DecodeMp3(ClipData(demo, clip));
        EXPECT_FALSE(d.bError) << clip["name"];
        EXPECT_EQ(d.nRate, 44100) << clip["name"];
        EXPECT_EQ(d.nChannels, 2) << clip["name"];
        EXPECT_EQ(d.nFrames, 88200) << clip["name"];
    }
    for (const Json& section : song["sections"]) {
        EXPECT_GE(section["variations"].size(), 2u) << section["name"];
        for (const Json& v : section["variations"]) {
            EXPECT_LE(v["tracks"].size(), 4u);
            EXPECT_EQ(v["lengthMs"].get<int>() % 2000, 0);
            for (const Json& t : v["tracks"])
                for (const Json& e : t["events"]) {
                    EXPECT_EQ(e["startMs"].get<int>() % 500, 0);
                    EXPECT_EQ(e["lengthMs"], 2000);
                    EXPECT_LE(e["startMs"].get<int>() + 2000, v["lengthMs"].get<int>());
                }
        }
    }
}
