// vantrel info: the --json object against the loaded model, texts and floats as
// they are printed, and the failures (damaged and missing files).
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <limits>

#include <nlohmann/json.hpp>

#include "common/TestSongs.h"
#include "song/SongDocument.h"
#include "song/SongWriter.h"
#include "tool/ToolRun.h"

using namespace testutil;
using tooltest::RunTool;
using Json = nlohmann::json;

namespace {

constexpr char kBadFile[] = "File is not a VNF or is corrupted.";

std::string Latin1ToUtf8(const std::string& bytes)
{
    std::string out;
    for (unsigned char b : bytes) {
        if (b < 0x80) {
            out.push_back(static_cast<char>(b));
        } else {
            out.push_back(static_cast<char>(0xC0 | (b >> 6)));
            out.push_back(static_cast<char>(0x80 | (b & 0x3F)));
        }
    }
    return out;
}

// The JSON of a float, read back the way a reader of 32-bit floats would: from the
// printed text.
float AsFloat(const Json& j) { return std::strtof(j.dump().c_str(), nullptr); }

Json InfoJson(const std::string& path, int expectStatus = 0)
{
    const auto r = RunTool({"info", path, "--json"});
    EXPECT_EQ(r.nStatus, expectStatus) << r.strErr;
    return Json::parse(r.strOut);
}

// Every field of the "song" object against the model the loader builds.
void ExpectJsonIsSong(const Json& j, const CSong& song)
{
    EXPECT_EQ(j["title"], Latin1ToUtf8(song.m_strTitle));
    EXPECT_EQ(j["author"], Latin1ToUtf8(song.m_strAuthor));
    EXPECT_EQ(j["publisher"], Latin1ToUtf8(song.m_strPublisher));
    EXPECT_EQ(j["genre"], Latin1ToUtf8(song.m_strGenre));
    EXPECT_EQ(j["copyright"], Latin1ToUtf8(song.m_strCopyright));
    EXPECT_EQ(AsFloat(j["factor"]), song.m_fFactor);
    EXPECT_EQ(j["beatsPerBar"], song.m_nBeatsPerBar);
    EXPECT_EQ(j["beatUnit"], song.m_nBeatUnit);
    EXPECT_EQ(j["volume"], song.m_nVolume);
    EXPECT_EQ(j["pan"], song.m_nPan);
    EXPECT_EQ(j["mode"], song.m_nMode);
    EXPECT_EQ(j["option"], song.m_nOption);

    auto clipIndex = [&](const CClip* c) {
        for (size_t i = 0; i < song.m_arrClips.size(); ++i)
            if (song.m_arrClips[i].get() == c)
                return static_cast<int>(i);
        return -1;
    };
    ASSERT_EQ(j["arrangements"].size(), song.m_arrArrangements.size());
    for (size_t a = 0; a < song.m_arrArrangements.size(); ++a) {
        const CArrangement& arr = *song.m_arrArrangements[a];
        const Json& ja = j["arrangements"][a];
        EXPECT_EQ(ja["name"], arr.m_strName);
        EXPECT_EQ(ja["settingA"], arr.m_nSettingA);
        EXPECT_EQ(ja["settingB"], arr.m_nSettingB);
        ASSERT_EQ(ja["sections"].size(), arr.m_arrSections.size());
        for (size_t k = 0; k < arr.m_arrSections.size(); ++k)
            EXPECT_EQ(song.GetSection(ja["sections"][k].get<int>()), arr.m_arrSections[k]);
    }
    ASSERT_EQ(j["sections"].size(), song.m_arrSections.size());
    for (size_t s = 0; s < song.m_arrSections.size(); ++s) {
        const CSection& sec = *song.m_arrSections[s];
        const Json& js = j["sections"][s];
        EXPECT_EQ(js["name"], sec.m_strName);
        EXPECT_EQ(js["settingA"], sec.m_nSettingA);
        EXPECT_EQ(js["settingB"], sec.m_nSettingB);
        ASSERT_EQ(js["variations"].size(), sec.m_arrVariations.size());
        for (size_t v = 0; v < sec.m_arrVariations.size(); ++v) {
            const CVariation& var = *sec.m_arrVariations[v];
            const Json& jv = js["variations"][v];
            EXPECT_EQ(jv["name"], var.m_strName);
            EXPECT_EQ(jv["lengthMs"], var.m_nLengthMs);
            EXPECT_EQ(AsFloat(jv["factor"]), var.m_fFactor);
            EXPECT_EQ(jv["beatsPerBar"], var.m_nBeatsPerBar);
            EXPECT_EQ(jv["beatUnit"], var.m_nBeatUnit);
            ASSERT_EQ(jv["tracks"].size(), var.m_arrTracks.size());
            for (size_t t = 0; t < var.m_arrTracks.size(); ++t) {
                const CTrack& tr = *var.m_arrTracks[t];
                const Json& jt = jv["tracks"][t];
                EXPECT_EQ(jt["name"], tr.m_strName);
                EXPECT_EQ(jt["volume"], tr.m_nVolume);
                EXPECT_EQ(jt["pan"], tr.m_nPan);
                EXPECT_EQ(jt["mode"], tr.m_nMode);
                EXPECT_EQ(jt["settingA"], tr.m_nSettingA);
                ASSERT_EQ(jt["events"].size(), tr.m_arrEvents.size());
                for (size_t e = 0; e < tr.m_arrEvents.size(); ++e) {
                    const CClipEvent& ev = *tr.m_arrEvents[e];
                    const Json& je = jt["events"][e];
                    EXPECT_EQ(je["startMs"], ev.m_nStartMs);
                    EXPECT_EQ(je["lengthMs"], ev.m_nLengthMs);
                    EXPECT_EQ(je["volume"], ev.m_nVolume);
                    EXPECT_EQ(je["pan"], ev.m_nPan);
                    EXPECT_EQ(je["active"], static_cast<int>(ev.m_bActive));
                    EXPECT_EQ(je["mode"], ev.m_nMode);
                    EXPECT_EQ(je["pos"], Json::array({ev.m_nPos1, ev.m_nPos2, ev.m_nPos3,
                                                      ev.m_nPos4, ev.m_nPos5, ev.m_nPos6}));
                    EXPECT_EQ(je["clip"], clipIndex(ev.m_pClip));
                }
            }
        }
    }
    ASSERT_EQ(j["clips"].size(), song.m_arrClips.size());
    for (size_t c = 0; c < song.m_arrClips.size(); ++c) {
        const CClip& clip = *song.m_arrClips[c];
        const Json& jc = j["clips"][c];
        EXPECT_EQ(jc["kind"], clip.m_nKind);
        EXPECT_EQ(jc["name"], Latin1ToUtf8(clip.m_strName));
        EXPECT_EQ(jc["path"], Latin1ToUtf8(clip.m_strPath));
        EXPECT_EQ(jc["dataOffset"], clip.m_nDataOffset);
        EXPECT_EQ(jc["dataSize"], clip.m_nDataSize);
    }
}

std::string WriteSong(const CSong& song, const std::string& name, uint8_t version = 0x61)
{
    const std::string path = TempPath(name);
    testutil::WriteSong(song, SampleClipData(song), path, version);
    return path;
}

} // namespace

TEST(InfoJson, SampleSongMatchesTheLoadedModelFieldByField)
{
    auto song = MakeSampleSong();
    for (uint8_t version : {0x60, 0x61}) {
        const std::string path = WriteSong(*song, "info-sample.vn", version);
        CSongDocument doc;
        ASSERT_EQ(doc.Load(path), 1);
        const Json j = InfoJson(path);
        EXPECT_EQ(j["path"], path);
        EXPECT_EQ(j["result"], 1);
        EXPECT_EQ(j["error"], "");
        EXPECT_EQ(j["format"], (Json{{"text", "VN1"}, {"flags", 0}, {"version", version}}));
        ExpectJsonIsSong(j["song"], *doc.GetSong());

        // The contract's field order, and the clip without data: kind 0, no path.
        const auto ordered = nlohmann::ordered_json::parse(RunTool({"info", path, "--json"}).strOut);
        std::vector<std::string> keys;
        for (auto it = ordered.begin(); it != ordered.end(); ++it)
            keys.push_back(it.key());
        EXPECT_EQ(keys, (std::vector<std::string>{"path", "result", "error", "format", "song"}));
        EXPECT_EQ(j["song"]["clips"][2],
                  (Json{{"kind", 0}, {"name", "no data"}, {"path", ""}, {"dataOffset", 0}, {"dataSize", 0}}));
        EXPECT_EQ(j["song"]["clips"][0]["path"], path); // empty path: the song's own
    }
}

TEST(InfoJson, HighBytesInTextsBecomeTheSameCodePoints)
{
    CSong song("T\x80\xA9\xE9\xFF");
    song.SetCopyright(std::string("\x01\x1F\"\\\x7F", 5));
    CSection* s = AddSection(song, "S\xC4");
    AddVariation(*s, "V\x9F", 10);
    AddArrangement(song, "A\xE4", {s});
    AddClip(song, "c\xFE", 2)->m_strPath = "p\xA0";
    const std::string path = WriteSong(song, "info-bytes.vn");

    const auto r = RunTool({"info", path, "--json"});
    ASSERT_EQ(r.nStatus, 0);
    const Json j = Json::parse(r.strOut); // throws on anything but UTF-8
    EXPECT_EQ(j["song"]["title"], "T\u0080\u00A9\u00E9\u00FF");
    EXPECT_EQ(j["song"]["copyright"], "\u0001\u001F\"\\\u007F");
    EXPECT_EQ(j["song"]["sections"][0]["name"], "S\u00C4");
    EXPECT_EQ(j["song"]["sections"][0]["variations"][0]["name"], "V\u009F");
    EXPECT_EQ(j["song"]["arrangements"][0]["name"], "A\u00E4");
    EXPECT_EQ(j["song"]["clips"][0]["name"], "c\u00FE");
    EXPECT_EQ(j["song"]["clips"][0]["path"], "p\u00A0");

    // The readable tree shows them the same way.
    const auto tree = RunTool({"info", path});
    ASSERT_EQ(tree.nStatus, 0);
    EXPECT_NE(tree.strOut.find("\"T\u0080\u00A9\u00E9\u00FF\""), std::string::npos) << tree.strOut;
}

TEST(InfoJson, FloatsPrintShortestAndReadBackExactly)
{
    const float values[] = {1.25f,
                            0.1f,
                            -1.0f,
                            3.4028235e38f,
                            std::numeric_limits<float>::denorm_min(),
                            1.17549435e-38f,
                            -2.5e-42f,
                            16777217.0f,
                            0.0f,
                            -0.0f,
                            1e-7f,
                            123456.789f};
    CSong song("Floats");
    song.SetFactor(0.1f);
    CSection* s = AddSection(song, "S");
    for (float f : values)
        AddVariation(*s, "v", 1)->SetFactor(f);
    AddArrangement(song, "A", {s});
    const std::string path = WriteSong(song, "info-floats.vn");

    const auto r = RunTool({"info", path, "--json"});
    ASSERT_EQ(r.nStatus, 0);
    EXPECT_NE(r.strOut.find("\"factor\": 0.1,"), std::string::npos); // no 0.100000001...
    EXPECT_NE(r.strOut.find("\"factor\": 1.25,"), std::string::npos);
    EXPECT_NE(r.strOut.find("\"factor\": 3.4028235e+38,"), std::string::npos);
    const Json j = Json::parse(r.strOut);
    const Json& vars = j["song"]["sections"][0]["variations"];
    ASSERT_EQ(vars.size(), std::size(values));
    for (size_t i = 0; i < std::size(values); ++i) {
        const std::string text = vars[i]["factor"].dump();
        const float back = std::strtof(text.c_str(), nullptr);
        EXPECT_EQ(back, values[i]) << text;
        EXPECT_EQ(std::signbit(back), std::signbit(values[i])) << text;
        EXPECT_LE(text.size(), 15u) << text; // shortest form, not a double's 17 digits
    }
}

TEST(InfoJson, NonFiniteFactorsArePrintedAsNull)
{
    CSong song("NaN");
    song.SetFactor(std::numeric_limits<float>::quiet_NaN());
    CSection* s = AddSection(song, "S");
    AddVariation(*s, "inf", 1)->SetFactor(std::numeric_limits<float>::infinity());
    AddVariation(*s, "-inf", 1)->SetFactor(-std::numeric_limits<float>::infinity());
    AddArrangement(song, "A", {s});
    const Json j = InfoJson(WriteSong(song, "info-nan.vn"));
    EXPECT_TRUE(j["song"]["factor"].is_null());
    EXPECT_TRUE(j["song"]["sections"][0]["variations"][0]["factor"].is_null());
    EXPECT_TRUE(j["song"]["sections"][0]["variations"][1]["factor"].is_null());
}

TEST(InfoFailures, DamagedFileGivesTheObjectWithoutSongAndFails)
{
    auto song = MakeSampleSong();
    const std::string whole = CSongWriter::Serialize(*song, SampleClipData(*song), 0x61);
    const std::string path = TempPath("info-damaged.vn");
    WriteBytes(path, whole.substr(0, whole.size() / 2));

    const auto r = RunTool({"info", path, "--json"});
    EXPECT_NE(r.nStatus, 0);
    const Json j = Json::parse(r.strOut);
    EXPECT_EQ(j["result"], -2101);
    EXPECT_EQ(j["error"], kBadFile);
    EXPECT_EQ(j["format"], (Json{{"text", "VN1"}, {"flags", 0}, {"version", 0x61}}));
    EXPECT_TRUE(j["song"].is_null());
    EXPECT_NE(r.strErr.find(kBadFile), std::string::npos) << r.strErr;

    const auto plain = RunTool({"info", path});
    EXPECT_EQ(plain.nStatus, 1);
    EXPECT_EQ(plain.strOut, "");
    EXPECT_NE(plain.strErr.find(kBadFile), std::string::npos) << plain.strErr;

    // Not a song at all: the header as read is still reported.
    WriteBytes(path, "RIFF....WAVE");
    const Json riff = InfoJson(path, 1);
    EXPECT_EQ(riff["format"], (Json{{"text", "F.."}, {"flags", '.'}, {"version", '.'}}));
    EXPECT_EQ(riff["error"], kBadFile);
}

TEST(InfoFailures, MissingFileSaysItCannotBeOpened)
{
    const std::string path = TempPath("no-such-song.vn");
    const auto r = RunTool({"info", path, "--json"});
    EXPECT_NE(r.nStatus, 0);
    const Json j = Json::parse(r.strOut);
    EXPECT_EQ(j, (Json{{"path", path},
                       {"result", -2101},
                       {"error", ""},
                       {"format", {{"text", ""}, {"flags", 0}, {"version", 0}}},
                       {"song", nullptr}}));
    EXPECT_NE(r.strErr.find("cannot open"), std::string::npos) << r.strErr;
    EXPECT_NE(r.strErr.find("No such file"), std::string::npos) << r.strErr;

    const auto plain = RunTool({"info", path});
    EXPECT_EQ(plain.nStatus, 1);
    EXPECT_NE(plain.strErr.find("cannot open " + path), std::string::npos) << plain.strErr;

    const std::string folder = TempPath("");
    const auto dir = RunTool({"info", folder});
    EXPECT_EQ(dir.nStatus, 1);
    EXPECT_NE(dir.strErr.find("it is a folder"), std::string::npos) << dir.strErr;
}

TEST(InfoTree, ShowsTextsStructureAndClips)
{
    const std::string path = WriteSong(*MakeSampleSong(), "info-tree.vn");
    const auto r = RunTool({"info", path});
    ASSERT_EQ(r.nStatus, 0) << r.strErr;
    for (const char* expected :
         {"title:     \"Sample Song\"", "settings:  factor 1.25, meter 3/-8, volume 200, pan -5",
          "[0] \"Main\" (settings 12, 0): \"Intro\" [0], \"Verse\" [1], \"Verse\" [1], \"Outro\" [2]",
          "variation [0] \"Intro A\": 1000 ms, factor 0.5, meter 6/8, 2 tracks",
          "track [0] \"Drums\": 2 events (volume 255, pan 200, mode 1, setting -42)",
          "[0] \"drums\": kind 2 (MP3), 10 bytes", "[2] \"no data\": kind 0 (no data), 0 bytes"})
        EXPECT_NE(r.strOut.find(expected), std::string::npos) << expected << "\n" << r.strOut;
}

TEST(InfoJson, ClipPathOfPositiveLengthStartingWithNulIsEmpty)
{
    CSong song("Paths");
    AddClip(song, "nul path", 2)->m_strPath = "#marker-path#";
    AddClip(song, "own path", 2);
    std::string bytes = CSongWriter::Serialize(song, SampleClipData(song), 0x61);
    const size_t at = bytes.find("#marker-path#");
    ASSERT_NE(at, std::string::npos);
    bytes[at] = '\0'; // the counted length stays 13
    const std::string path = TempPath("info-nul-path.vn");
    WriteBytes(path, bytes);

    const Json j = InfoJson(path);
    EXPECT_EQ(j["song"]["clips"][0]["path"], "");
    EXPECT_EQ(j["song"]["clips"][1]["path"], path);
}
