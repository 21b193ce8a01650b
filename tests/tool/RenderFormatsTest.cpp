// vantrel render's output formats: every one decodes back to the rendered length, the
// lossless ones to the very samples, and the song's texts come back as tags.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>

#include <opusfile.h>
#include <sndfile.h>

#include "ToolRun.h"
#include "common/TestClips.h"
#include "common/TestSongs.h"
#include "song/SongWriter.h"

using tooltest::RunTool;
using namespace testutil;

namespace {

// A short song whose texts fill every tag; the title has a byte above 0x7F, which
// stands for U+00E9 and must reach the tags as such.
std::string WriteTaggedSong(const std::string& name)
{
    CSong song("Caf\xE9 Tune");
    song.SetAuthor("A. Writer");
    song.SetPublisher("Label Ltd");
    song.SetGenre("Ambient");
    song.SetCopyright("(c) 2026 A. Writer");
    CClip* clip = AddClip(song, "tone", 2);
    CSection* section = AddSection(song, "S");
    for (int v = 0; v < 2; ++v) {
        CVariation* var = AddVariation(*section, "V", 700 + 300 * v);
        AddEvent(*AddTrack(*var, "T"), clip, 40 * v, 500);
    }
    AddArrangement(song, "Main", {section});
    const std::string path = TempPath(name);
    testutil::WriteSong(song, {ReadTestClip("stereo44k.mp3")}, path);
    return path;
}

struct SndRead
{
    int nRate = 0;
    int nChannels = 0;
    std::vector<int16_t> arrSamples;
    std::string strTitle, strArtist, strGenre, strCopyright, strComment, strTrack;
};

SndRead ReadWithSndfile(const std::string& path)
{
    SndRead r;
    SF_INFO info{};
    SNDFILE* f = sf_open(path.c_str(), SFM_READ, &info);
    EXPECT_NE(f, nullptr) << path << ": " << sf_strerror(nullptr);
    if (!f)
        return r;
    r.nRate = info.samplerate;
    r.nChannels = info.channels;
    r.arrSamples.resize(static_cast<size_t>(info.frames) * info.channels);
    EXPECT_EQ(sf_readf_short(f, r.arrSamples.data(), info.frames), info.frames);
    auto get = [f](int type) {
        const char* s = sf_get_string(f, type);
        return std::string(s ? s : "");
    };
    r.strTitle = get(SF_STR_TITLE);
    r.strArtist = get(SF_STR_ARTIST);
    r.strGenre = get(SF_STR_GENRE);
    r.strCopyright = get(SF_STR_COPYRIGHT);
    r.strComment = get(SF_STR_COMMENT);
    r.strTrack = get(SF_STR_TRACKNUMBER);
    sf_close(f);
    return r;
}

std::vector<int16_t> PcmSamples(const std::string& pcm)
{
    std::vector<int16_t> s(pcm.size() / 2);
    for (size_t i = 0; i < s.size(); ++i)
        s[i] = static_cast<int16_t>(static_cast<unsigned char>(pcm[2 * i]) |
                                    (static_cast<unsigned char>(pcm[2 * i + 1]) << 8));
    return s;
}

class RenderFormats : public ::testing::Test
{
protected:
    static void SetUpTestSuite()
    {
        s_song = WriteTaggedSong("tagged.vn");
        const std::string raw = TempPath("tagged-2.pcm");
        auto r = RunTool({"render", s_song, "--raw", "-o", raw, "--performance", "2"});
        ASSERT_EQ(r.nStatus, 0) << r.strErr;
        s_pcm = ReadBytes(raw);
        ASSERT_GT(s_pcm.size(), 100000u);
    }
    static std::string Render(const std::string& name)
    {
        const std::string out = TempPath(name);
        auto r = RunTool({"render", s_song, "-o", out, "--performance", "2"});
        EXPECT_EQ(r.nStatus, 0) << r.strErr;
        return out;
    }
    static int64_t Frames() { return static_cast<int64_t>(s_pcm.size() / 4); }

    static std::string s_song;
    static std::string s_pcm;
};

std::string RenderFormats::s_song;
std::string RenderFormats::s_pcm;

} // namespace

TEST_F(RenderFormats, LosslessFormatsHoldTheRenderedSamplesAndTheSongsTexts)
{
    for (const char* name : {"tagged.wav", "tagged.flac", "TAGGED.FLAC"}) {
        const SndRead r = ReadWithSndfile(Render(name));
        EXPECT_EQ(r.nRate, 44100) << name;
        EXPECT_EQ(r.nChannels, 2) << name;
        EXPECT_TRUE(r.arrSamples == PcmSamples(s_pcm)) << name << ": " << r.arrSamples.size() << " samples";
        EXPECT_EQ(r.strTitle, "Caf\xC3\xA9 Tune") << name;
        EXPECT_EQ(r.strArtist, "A. Writer") << name;
        EXPECT_EQ(r.strCopyright, "(c) 2026 A. Writer") << name;
        EXPECT_NE(r.strComment.find("Performance 2"), std::string::npos) << name << ": " << r.strComment;
        EXPECT_NE(r.strComment.find("Label Ltd"), std::string::npos) << name << ": " << r.strComment;
    }
    // Vorbis comments carry the genre and the performance as the track number.
    const SndRead flac = ReadWithSndfile(TempPath("tagged.flac"));
    EXPECT_EQ(flac.strGenre, "Ambient");
    EXPECT_EQ(flac.strTrack, "2");
}

TEST_F(RenderFormats, OggVorbisDecodesToTheRenderedLength)
{
    const SndRead r = ReadWithSndfile(Render("tagged.ogg"));
    EXPECT_EQ(r.nRate, 44100);
    EXPECT_EQ(r.nChannels, 2);
    EXPECT_EQ(static_cast<int64_t>(r.arrSamples.size() / 2), Frames());
    EXPECT_EQ(r.strTitle, "Caf\xC3\xA9 Tune");
    EXPECT_EQ(r.strArtist, "A. Writer");
    EXPECT_EQ(r.strGenre, "Ambient");
    EXPECT_EQ(r.strTrack, "2");
    // Lossy, but the same music: not silence.
    int peak = 0;
    for (int16_t s : r.arrSamples)
        peak = std::max(peak, std::abs(static_cast<int>(s)));
    EXPECT_GT(peak, 1000);
}

TEST_F(RenderFormats, Mp3DecodesToTheRenderedLengthAndCarriesAnId3v2Tag)
{
    const std::string data = ReadBytes(Render("tagged.mp3"));
    ASSERT_GT(data.size(), 10u);
    EXPECT_EQ(data.substr(0, 3), "ID3");
    // ID3v2 texts are ISO 8859-1: the song's byte as it is.
    for (const char* text : {"TIT2", "Caf\xE9 Tune", "TPE1", "TPUB", "Label Ltd", "TCON", "Ambient", "TCOP", "TRCK"})
        EXPECT_NE(data.find(text), std::string::npos) << text;
    const tooltest::Decoded d = tooltest::DecodeMp3(data);
    EXPECT_FALSE(d.bError);
    EXPECT_EQ(d.nRate, 44100);
    EXPECT_EQ(d.nChannels, 2);
    EXPECT_EQ(d.nFrames, Frames());
}

TEST_F(RenderFormats, OpusDecodesToTheRenderedLengthWithItsComments)
{
    const std::string data = ReadBytes(Render("tagged.opus"));
    int error = 0;
    OggOpusFile* f = op_open_memory(reinterpret_cast<const unsigned char*>(data.data()), data.size(), &error);
    ASSERT_NE(f, nullptr) << "opusfile error " << error;
    EXPECT_EQ(op_channel_count(f, -1), 2);
    // Opus runs at 48 kHz: the length is the rendered one at that rate.
    const int64_t expected = (Frames() * 48000 + 22050) / 44100;
    EXPECT_NEAR(static_cast<double>(op_pcm_total(f, -1)), static_cast<double>(expected), 1.0);
    const OpusTags* tags = op_tags(f, -1);
    ASSERT_NE(tags, nullptr);
    auto query = [tags](const char* key) {
        const char* v = opus_tags_query(tags, key, 0);
        return std::string(v ? v : "");
    };
    EXPECT_EQ(query("TITLE"), "Caf\xC3\xA9 Tune");
    EXPECT_EQ(query("ARTIST"), "A. Writer");
    EXPECT_EQ(query("ORGANIZATION"), "Label Ltd");
    EXPECT_EQ(query("GENRE"), "Ambient");
    EXPECT_EQ(query("COPYRIGHT"), "(c) 2026 A. Writer");
    EXPECT_EQ(query("TRACKNUMBER"), "2");
    op_free(f);
}
