#include <gtest/gtest.h>

#include <cstring>

#include "common/TestSongs.h"
#include "song/SongDocument.h"
#include "song/SongWriter.h"

using namespace testutil;

namespace {

// Field-by-field comparison of two models; clip offsets are compared by the data
// they point at, since only the loaded model knows them.
void ExpectSameSong(const CSong& a, const CSong& b)
{
    EXPECT_EQ(a.m_strTitle, b.m_strTitle);
    EXPECT_EQ(a.m_strAuthor, b.m_strAuthor);
    EXPECT_EQ(a.m_strPublisher, b.m_strPublisher);
    EXPECT_EQ(a.m_strGenre, b.m_strGenre);
    EXPECT_EQ(a.m_strCopyright, b.m_strCopyright);
    EXPECT_EQ(a.m_fFactor, b.m_fFactor);
    EXPECT_EQ(a.m_nBeatsPerBar, b.m_nBeatsPerBar);
    EXPECT_EQ(a.m_nBeatUnit, b.m_nBeatUnit);
    EXPECT_EQ(a.m_nVolume, b.m_nVolume);
    EXPECT_EQ(a.m_nPan, b.m_nPan);
    EXPECT_EQ(a.m_nMode, b.m_nMode);
    EXPECT_EQ(a.m_nOption, b.m_nOption);
    ASSERT_EQ(a.m_arrClips.size(), b.m_arrClips.size());
    for (size_t i = 0; i < a.m_arrClips.size(); ++i) {
        EXPECT_EQ(a.m_arrClips[i]->m_strName, b.m_arrClips[i]->m_strName);
        EXPECT_EQ(a.m_arrClips[i]->m_nKind, b.m_arrClips[i]->m_nKind);
    }
    ASSERT_EQ(a.m_arrSections.size(), b.m_arrSections.size());
    for (size_t s = 0; s < a.m_arrSections.size(); ++s) {
        const CSection& x = *a.m_arrSections[s];
        const CSection& y = *b.m_arrSections[s];
        EXPECT_EQ(x.m_strName, y.m_strName);
        EXPECT_EQ(x.m_nSettingA, y.m_nSettingA);
        EXPECT_EQ(x.m_nSettingB, y.m_nSettingB);
        ASSERT_EQ(x.m_arrVariations.size(), y.m_arrVariations.size());
        for (size_t v = 0; v < x.m_arrVariations.size(); ++v) {
            const CVariation& p = *x.m_arrVariations[v];
            const CVariation& q = *y.m_arrVariations[v];
            EXPECT_EQ(p.m_strName, q.m_strName);
            EXPECT_EQ(p.m_nLengthMs, q.m_nLengthMs);
            EXPECT_EQ(p.m_fFactor, q.m_fFactor);
            EXPECT_EQ(p.m_nBeatsPerBar, q.m_nBeatsPerBar);
            EXPECT_EQ(p.m_nBeatUnit, q.m_nBeatUnit);
            EXPECT_EQ(q.m_pSection, &y);
            ASSERT_EQ(p.m_arrTracks.size(), q.m_arrTracks.size());
            for (size_t t = 0; t < p.m_arrTracks.size(); ++t) {
                const CTrack& r = *p.m_arrTracks[t];
                const CTrack& u = *q.m_arrTracks[t];
                EXPECT_EQ(r.m_strName, u.m_strName);
                EXPECT_EQ(r.m_nVolume, u.m_nVolume);
                EXPECT_EQ(r.m_nPan, u.m_nPan);
                EXPECT_EQ(r.m_nMode, u.m_nMode);
                EXPECT_EQ(r.m_nSettingA, u.m_nSettingA);
                EXPECT_EQ(u.m_pVariation, &q);
                ASSERT_EQ(r.m_arrEvents.size(), u.m_arrEvents.size());
                for (size_t e = 0; e < r.m_arrEvents.size(); ++e) {
                    const CClipEvent& m = *r.m_arrEvents[e];
                    const CClipEvent& n = *u.m_arrEvents[e];
                    EXPECT_EQ(m.m_nStartMs, n.m_nStartMs);
                    EXPECT_EQ(m.m_nLengthMs, n.m_nLengthMs);
                    EXPECT_EQ(m.m_nVolume, n.m_nVolume);
                    EXPECT_EQ(m.m_nPan, n.m_nPan);
                    EXPECT_EQ(m.m_nMode, n.m_nMode);
                    EXPECT_EQ(m.m_bActive, n.m_bActive);
                    EXPECT_EQ(m.m_nPos1, n.m_nPos1);
                    EXPECT_EQ(m.m_nPos2, n.m_nPos2);
                    EXPECT_EQ(m.m_nPos3, n.m_nPos3);
                    EXPECT_EQ(m.m_nPos4, n.m_nPos4);
                    EXPECT_EQ(m.m_nPos5, n.m_nPos5);
                    EXPECT_EQ(m.m_nPos6, n.m_nPos6);
                    EXPECT_EQ(n.m_pTrack, &u);
                    ASSERT_NE(n.m_pClip, nullptr);
                    EXPECT_EQ(m.m_pClip->m_strName, n.m_pClip->m_strName);
                }
            }
        }
    }
    ASSERT_EQ(a.m_arrArrangements.size(), b.m_arrArrangements.size());
    for (size_t i = 0; i < a.m_arrArrangements.size(); ++i) {
        const CArrangement& x = *a.m_arrArrangements[i];
        const CArrangement& y = *b.m_arrArrangements[i];
        EXPECT_EQ(x.m_strName, y.m_strName);
        EXPECT_EQ(x.m_nSettingA, y.m_nSettingA);
        EXPECT_EQ(x.m_nSettingB, y.m_nSettingB);
        ASSERT_EQ(x.m_arrSections.size(), y.m_arrSections.size());
        for (size_t s = 0; s < x.m_arrSections.size(); ++s)
            EXPECT_EQ(x.m_arrSections[s]->m_strName, y.m_arrSections[s]->m_strName);
    }
}

std::string WriteSample(const char* name, uint8_t version)
{
    auto song = MakeSampleSong();
    const std::string path = TempPath(name);
    testutil::WriteSong(*song, SampleClipData(*song), path, version);
    return path;
}

} // namespace

class LoaderRoundTrip : public ::testing::TestWithParam<int> {};

TEST_P(LoaderRoundTrip, WrittenSongLoadsBackTheSameModel)
{
    const uint8_t version = static_cast<uint8_t>(GetParam());
    const std::string path = WriteSample(version == 0x60 ? "rt60.vn" : "rt61.vn", version);
    CSongDocument doc;
    ASSERT_EQ(doc.Load(path), 1);
    auto expected = MakeSampleSong();
    ExpectSameSong(*expected, *doc.GetSong());
    EXPECT_EQ(doc.GetFormatVersion(), version);
    EXPECT_EQ(doc.GetFormatId().size(), 5u);
    EXPECT_EQ(static_cast<uint8_t>(doc.GetFormatId()[4]), version);

    // Clip data offsets point at the embedded bytes; the clip without data keeps the
    // defaults, and an empty path becomes the song's own.
    const std::string bytes = ReadBytes(path);
    const auto data = SampleClipData(*expected);
    for (int i = 0; i < 2; ++i) {
        const CClip* c = doc.GetSong()->GetClip(i);
        ASSERT_EQ(c->m_nDataSize, static_cast<int32_t>(data[static_cast<size_t>(i)].size()));
        EXPECT_EQ(bytes.substr(static_cast<size_t>(c->m_nDataOffset), static_cast<size_t>(c->m_nDataSize)),
                  data[static_cast<size_t>(i)]);
        EXPECT_EQ(c->m_strPath, path);
    }
    const CClip* none = doc.GetSong()->GetClip(2);
    EXPECT_EQ(none->m_nKind, 0);
    EXPECT_EQ(none->m_strPath, "");
    EXPECT_EQ(none->m_nDataOffset, 0);
    EXPECT_EQ(none->m_strName, "no data");
}

INSTANTIATE_TEST_SUITE_P(Versions, LoaderRoundTrip, ::testing::Values(0x60, 0x61));

TEST(Loader, EveryTruncationFailsCleanly)
{
    const std::string full = ReadBytes(WriteSample("trunc-src.vn", 0x61));
    const std::string path = TempPath("trunc.vn");
    for (size_t cut = 0; cut < full.size(); ++cut) {
        WriteBytes(path, full.substr(0, cut));
        CSongDocument doc;
        ASSERT_EQ(doc.Load(path), ERR_BAD_FILE) << "cut at " << cut;
        EXPECT_FALSE(doc.HasSong());
        EXPECT_EQ(doc.GetLastError(), "File is not a VNF or is corrupted.");
    }
    WriteBytes(path, full);
    CSongDocument doc;
    EXPECT_EQ(doc.Load(path), 1);
}

TEST(Loader, HeaderChecks)
{
    const std::string good = ReadBytes(WriteSample("hdr-src.vn", 0x60));
    const std::string path = TempPath("hdr.vn");
    struct Case { size_t at; char value; };
    for (Case c : {Case{0, 'X'}, Case{2, 'f'}, Case{6, 1}, Case{7, 0x62}, Case{7, 0x5F}}) {
        std::string bad = good;
        bad[c.at] = c.value;
        WriteBytes(path, bad);
        CSongDocument doc;
        EXPECT_EQ(doc.Load(path), ERR_BAD_FILE) << "byte " << c.at;
    }
    // The loader keeps the header of the last file it looked at.
    std::string v = good;
    v[7] = 0x62;
    WriteBytes(path, v);
    CSongDocument doc;
    doc.Load(path);
    EXPECT_EQ(doc.GetFormatVersion(), 0x62);
    EXPECT_EQ(doc.GetFormatText(), "VN1");
    EXPECT_EQ(doc.GetFormatId(), ""); // no song
}

TEST(Loader, MissingFileKeepsThePreviousSong)
{
    CSongDocument doc;
    ASSERT_EQ(doc.Load(WriteSample("keep.vn", 0x61)), 1);
    EXPECT_EQ(doc.Load(TempPath("does-not-exist.vn")), ERR_BAD_FILE);
    ASSERT_TRUE(doc.HasSong());
    EXPECT_EQ(doc.GetSong()->GetTitle(), "Sample Song");
    EXPECT_EQ(doc.GetLastError(), "");
    EXPECT_EQ(doc.GetFormatVersion(), 0x61);
}
