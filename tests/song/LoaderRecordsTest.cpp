// The loader on hand-made records: what each kind of record leaves in the model, and
// how records that the writer never makes are read past.
#include <gtest/gtest.h>

#include "common/RawSong.h"
#include "common/TestSongs.h"
#include "song/SongDocument.h"
#include "song/SongWriter.h"

using namespace testutil;

namespace {

std::unique_ptr<CSongDocument> LoadRaw(const RawSong& raw, const char* name)
{
    const std::string path = TempPath(name);
    WriteBytes(path, raw.Bytes());
    auto doc = std::make_unique<CSongDocument>();
    EXPECT_EQ(doc->Load(path), 1) << name;
    return doc;
}

} // namespace

TEST(LoaderRecords, TracksEventsAndReferencesThatLeaveNothing)
{
    RawSong raw;
    Texts(raw.info);
    Settings(raw.info, 3, -7, 0); // a negative block length skips nothing
    raw.clips.Int16BE(2);
    Clip(raw.clips, "mp3", "one", 0, "DATA1");
    Clip(raw.clips, "", "two", 0, "DATA22");

    CByteWriter& s = raw.sections;
    s.Int8(1);
    s.Zeros(4);
    s.FixedText("Sec", 50, "n");
    s.Int32BE(-1);
    s.Int32BE(2);
    s.Zeros(6);
    s.Int8(1); // one variation
    s.Zeros(4);
    s.FixedText("Var", 50, "n");
    s.Int32BE(4000);
    s.Zeros(7);
    s.Float32LE(0.75f);
    s.Int8(6);
    s.Int8(8);
    s.Int8(3); // three track records
    s.UInt8('B'); // another kind of track: stepped over by its size
    s.Int32BE(12);
    s.Zeros(12);
    s.UInt8('C'); // a negative size steps over nothing
    s.Int32BE(-5);
    s.UInt8('A');
    s.Int32BE(0);
    s.FixedText("Track", 50, "n");
    s.Int32BE(-9);
    s.Zeros(4);
    s.UInt8(255);
    s.UInt8(200);
    s.UInt8(4);
    s.Zeros(6);
    s.Int8(7);
    Event(s, 0, 0);          // clip number 0: 17 bytes, no event
    Event(s, 10, 1, 0);      // first guard 0: no event
    Event(s, 20, 1, -4);     // first guard negative: no event
    Event(s, 30, 2, 5, 0);   // second guard 0: no event
    Event(s, 40, 3);         // clip outside the table: read whole, no event
    Event(s, 50, 2, 1, 1, 6);// a counted block of 6 bytes
    Event(s, 60, 1, 1, 1, -3);

    CByteWriter& a = raw.arrangements;
    a.Int8(3);
    a.Int8(3);
    a.FixedText("Main", 50, "n");
    a.Int32BE(-5);
    a.Int32BE(9);
    a.Int32BE(0);
    a.Int32BE(7);  // outside the section table: dropped
    a.Int32BE(-1); // likewise
    a.Int8(1);
    a.FixedText("MAIN", 50, "n"); // the same name in other case: refused
    a.Int32BE(0);
    a.Int32BE(0);
    a.Int32BE(0);
    a.Int8(0);
    a.FixedText("Empty", 50, "n");
    a.Int32BE(1);
    a.Int32BE(-2);

    auto doc = LoadRaw(raw, "records.vn");
    const CSong& song = *doc->GetSong();
    EXPECT_EQ(song.m_strTitle, std::string(50, 'T'));
    EXPECT_EQ(song.m_strCopyright, "Line 1\r\nLine 2");
    EXPECT_EQ(song.m_fFactor, 2.5f);
    EXPECT_EQ(song.m_nBeatsPerBar, -3);
    EXPECT_EQ(song.m_nVolume, 250);
    EXPECT_EQ(song.m_nPan, -100);
    EXPECT_EQ(song.m_nMode, 201);
    EXPECT_EQ(song.m_nOption, 7);
    EXPECT_EQ(doc->GetFormatText(), "abc");

    ASSERT_EQ(song.m_arrClips.size(), 2u);
    EXPECT_EQ(song.m_arrClips[0]->m_nKind, 2); // "mp3" upper-cased is "MP3"
    EXPECT_EQ(song.m_arrClips[1]->m_nKind, 1); // the empty text sorts before "MP3"

    ASSERT_EQ(song.m_arrSections.size(), 1u);
    const CVariation& v = *song.m_arrSections[0]->m_arrVariations[0];
    EXPECT_EQ(v.m_fFactor, 0.75f);
    ASSERT_EQ(v.m_arrTracks.size(), 1u);
    const CTrack& t = *v.m_arrTracks[0];
    EXPECT_EQ(t.m_nVolume, 255);
    EXPECT_EQ(t.m_nPan, 200);
    EXPECT_EQ(t.m_nSettingA, -9);
    ASSERT_EQ(t.m_arrEvents.size(), 2u);
    EXPECT_EQ(t.m_arrEvents[0]->m_nStartMs, 50);
    EXPECT_EQ(t.m_arrEvents[0]->m_pClip, song.m_arrClips[1].get());
    EXPECT_EQ(t.m_arrEvents[0]->m_nPan, -20);
    EXPECT_EQ(t.m_arrEvents[0]->m_nPos6, 60);
    EXPECT_EQ(t.m_arrEvents[1]->m_nStartMs, 60);

    ASSERT_EQ(song.m_arrArrangements.size(), 2u);
    EXPECT_EQ(song.m_arrArrangements[0]->m_strName, "Main");
    EXPECT_EQ(song.m_arrArrangements[0]->m_nSettingA, 0);
    ASSERT_EQ(song.m_arrArrangements[0]->m_arrSections.size(), 1u);
    EXPECT_EQ(song.m_arrArrangements[1]->m_strName, "Empty");
    EXPECT_EQ(song.m_arrArrangements[1]->m_nSettingB, 0);
}

TEST(LoaderRecords, InfoChunkWithoutTextsAndClipRecordVariants)
{
    // With no texts the settings are read from the bytes right after the length,
    // which are also where the next chunk begins: the structure chunk's length and
    // table offset, its two empty tables' counts, then the third chunk, whose length
    // (12) is read as the option byte and whose zeros are the three block lengths.
    RawSong raw;
    raw.bInfoLengthGiven = true;
    raw.third = std::string(12, '\0');
    raw.clips.Int16BE(3);
    Clip(raw.clips, "MP3", "", 0, "abc");           // empty counted name
    Clip(raw.clips, "mp2", "path-nul", 3, "defg");  // a path that begins with NUL
    Clip(raw.clips, "WAV", "nodata", 0, "", false); // no data: name only
    raw.sections.Int8(0);
    raw.arrangements.Int8(0);

    const std::string path = TempPath("noinfo.vn");
    auto doc = LoadRaw(raw, "noinfo.vn");
    const CSong& song = *doc->GetSong();
    EXPECT_EQ(song.m_strTitle, "New Song");
    EXPECT_EQ(song.m_strAuthor, "");
    EXPECT_EQ(song.m_nVolume, 0);
    EXPECT_EQ(song.m_nOption, 12);
    EXPECT_TRUE(song.m_arrSections.empty());
    ASSERT_EQ(song.m_arrClips.size(), 3u);
    EXPECT_EQ(song.m_arrClips[0]->m_strName, "");
    EXPECT_EQ(song.m_arrClips[0]->m_strPath, path);
    EXPECT_EQ(song.m_arrClips[1]->m_nKind, 1); // "MP2" sorts before "MP3"
    EXPECT_EQ(song.m_arrClips[1]->m_strPath, "");
    EXPECT_EQ(song.m_arrClips[1]->m_nDataSize, 4);
    const CClip& none = *song.m_arrClips[2];
    EXPECT_EQ(none.m_strName, "nodata");
    EXPECT_EQ(none.m_nKind, 0);
    EXPECT_EQ(none.m_strPath, "");
    EXPECT_EQ(none.m_nDataOffset, 0);
}

TEST(LoaderRecords, HostileCountsAndOffsetsFailCleanly)
{
    struct Case { const char* name; void (*spoil)(RawSong&); };
    const Case cases[] = {
        {"huge counted block", [](RawSong& r) { Settings(r.info, 0x7FFFFFF0, 0, 0, false); }},
        {"huge clip name", [](RawSong& r) {
             r.clips.Int16BE(1);
             r.clips.Int32BE(0);
             r.clips.Zeros(14);
             r.clips.Int32BE(0x7FFFFFFF);
         }},
        {"clip data past the end", [](RawSong& r) {
             r.clips.Int16BE(1);
             r.clips.Int32BE(1000000);
             r.clips.FixedText("MP3", 10, "f");
             r.clips.Zeros(4);
             r.clips.Int32BE(0);
             r.clips.Int32BE(0);
             r.clips.UInt8(1);
         }},
        {"info length reaching back before the file", [](RawSong& r) {
             r.bInfoLengthGiven = true;
             r.infoLength = -20;
         }},
    };
    for (const Case& c : cases) {
        RawSong raw;
        Texts(raw.info);
        c.spoil(raw);
        if (raw.info.Size() == 273)
            Settings(raw.info, 0, 0, 0);
        if (raw.clips.Size() == 0)
            raw.clips.Int16BE(0);
        raw.sections.Int8(0);
        raw.arrangements.Int8(0);
        const std::string path = TempPath("hostile.vn");
        WriteBytes(path, raw.Bytes());
        CSongDocument doc;
        EXPECT_EQ(doc.Load(path), ERR_BAD_FILE) << c.name;
        EXPECT_FALSE(doc.HasSong()) << c.name;
    }
}
