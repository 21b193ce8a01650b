// Damaged and lying song files: they load or fail to load cleanly, and whatever loads
// plays within bounds.
#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <vector>

#include "common/TestSongs.h"
#include "player/SongPlayer.h"
#include "robustness/HostileSongs.h"
#include "song/SongDocument.h"

using namespace testutil;
using hostile::EventFields;
using hostile::SongFields;

namespace {

const std::string& Clip()
{
    static const std::string clip = hostile::ReadClip(VANTREL_SOURCE_DIR, "stereo22k.mp3");
    return clip;
}

SongFields WithClip(SongFields f = SongFields())
{
    f.strClipData = Clip();
    return f;
}

std::string Save(const std::string& name, const std::string& bytes)
{
    const std::string path = TempPath(name);
    WriteBytes(path, bytes);
    return path;
}

int LoadBytes(CSongDocument& doc, const std::string& bytes)
{
    return doc.Load(Save("hostile.vn", bytes));
}

struct PlayResult
{
    bool bOpened = false;
    int nLength = 0;
    int nBlocks = 0;
    bool bSound = false;
};

// Plays at most maxBlocks blocks, as the plug-in would, whatever Open says.
PlayResult Play(const std::string& bytes, int maxBlocks)
{
    PlayResult r;
    CSongPlayer player("generic");
    r.bOpened = player.Open(Save("play.vn", bytes));
    player.Prepare();
    r.nLength = player.GetLength();
    std::vector<char> block(CSongPlayer::kBlockBytes);
    bool more = true;
    while (more && r.nBlocks < maxBlocks) {
        more = player.RenderBlock(block.data(), CSongPlayer::kBlockBytes);
        ++r.nBlocks;
        for (char c : block)
            r.bSound = r.bSound || c != 0;
    }
    player.Close();
    return r;
}

} // namespace

TEST(HostileSongTest, TheBuilderWritesAPlayableSong)
{
    CSongDocument doc;
    ASSERT_EQ(LoadBytes(doc, hostile::Build(WithClip())), 1);
    const CSong& song = *doc.GetSong();
    ASSERT_EQ(song.GetClipCount(), 1);
    ASSERT_EQ(song.GetSectionCount(), 1);
    ASSERT_EQ(song.GetArrangements().size(), 1u);
    const PlayResult r = Play(hostile::Build(WithClip()), 200);
    EXPECT_TRUE(r.bOpened);
    EXPECT_EQ(r.nLength, 2000);
    EXPECT_TRUE(r.bSound);
    EXPECT_LT(r.nBlocks, 200);
}

TEST(HostileSongTest, EveryCutOfASongFailsToLoad)
{
    // The clip data comes last, so no proper prefix of the file holds a whole song.
    const std::string bytes = hostile::Build(WithClip());
    for (size_t n = 0; n < bytes.size(); ++n) {
        CSongDocument doc;
        ASSERT_EQ(LoadBytes(doc, bytes.substr(0, n)), ERR_BAD_FILE) << "cut at " << n;
        EXPECT_EQ(doc.GetLastError(), "File is not a VNF or is corrupted.");
        EXPECT_FALSE(doc.HasSong());
    }
}

TEST(HostileSongTest, ClipDataLongerThanTheFileFailsTheLoad)
{
    SongFields f = WithClip();
    f.nDataSize = INT32_MAX;
    CSongDocument doc;
    EXPECT_EQ(LoadBytes(doc, hostile::Build(f)), ERR_BAD_FILE);
}

TEST(HostileSongTest, CountedTextLongerThanTheFileFailsTheLoad)
{
    SongFields f = WithClip();
    f.nNameLength = INT32_MAX;
    CSongDocument doc;
    EXPECT_EQ(LoadBytes(doc, hostile::Build(f)), ERR_BAD_FILE);
    f = WithClip();
    f.nPathLength = INT32_MAX - 3;
    EXPECT_EQ(LoadBytes(doc, hostile::Build(f)), ERR_BAD_FILE);
}

TEST(HostileSongTest, ReferencesOutsideTheTablesAreDropped)
{
    SongFields f = WithClip();
    f.nRefCount = 4;
    f.arrRefs = {-1, 1, INT32_MAX, 0};
    EventFields bad;
    bad.nClipNumber = 2;
    EventFields negative;
    negative.nClipNumber = INT32_MIN;
    f.arrEvents = {bad, negative, EventFields()};
    CSongDocument doc;
    ASSERT_EQ(LoadBytes(doc, hostile::Build(f)), 1);
    const CSong& song = *doc.GetSong();
    ASSERT_EQ(song.GetArrangements().size(), 1u);
    ASSERT_EQ(song.GetArrangements()[0]->GetSections().size(), 1u);
    EXPECT_EQ(song.GetArrangements()[0]->GetSections()[0], song.GetSection(0));
    const CTrack* track = song.GetSection(0)->GetVariations()[0]->GetTrack(0);
    ASSERT_EQ(track->GetEventCount(), 1);
    EXPECT_EQ(track->GetEvent(0)->m_pClip, song.GetClip(0));
}

TEST(HostileSongTest, CountsBeyondTheRecordsFailTheLoad)
{
    // (An arrangement's reference count is left out: its extra references are read
    // from the section table that follows, which is there.)
    for (int which = 0; which < 5; ++which) {
        SongFields f = WithClip();
        switch (which) {
        case 0: f.nClipCount = 32767; break;
        case 1: f.nSectionCount = 127; break;
        case 2: f.nVariationCount = 127; break;
        case 3: f.nTrackCount = 127; break;
        default: f.nEventCount = 127; break;
        }
        CSongDocument doc;
        EXPECT_EQ(LoadBytes(doc, hostile::Build(f)), ERR_BAD_FILE) << "count " << which;
    }
}

TEST(HostileSongTest, AbsurdTimesPlayWithinBounds)
{
    const int32_t values[] = {INT32_MIN, -1, INT32_MAX};
    for (int32_t v : values) {
        for (int field = 0; field < 3; ++field) {
            SongFields f = WithClip();
            EventFields e;
            if (field == 0)
                e.nStartMs = v;
            else if (field == 1)
                e.nLengthMs = v;
            else
                e.nPos1 = v;
            f.arrEvents = {e, EventFields()};
            const PlayResult r = Play(hostile::Build(f), 200);
            EXPECT_TRUE(r.bOpened);
            EXPECT_EQ(r.nLength, 2000);
            // 2000 ms is 77 blocks; the last one reports the end.
            EXPECT_EQ(r.nBlocks, 77) << "field " << field << " value " << v;
        }
    }
}

TEST(HostileSongTest, AnHoursLongEntryRendersBlockByBlock)
{
    SongFields f = WithClip();
    f.nVariationLengthMs = INT32_MAX;
    const PlayResult r = Play(hostile::Build(f), 64);
    EXPECT_EQ(r.nLength, INT32_MAX);
    EXPECT_EQ(r.nBlocks, 64);
    EXPECT_TRUE(r.bSound);
}

TEST(HostileSongTest, WrongClipDataPlaysSilence)
{
    SongFields f = WithClip();
    f.strClipData = std::string(3000, '\xFF');
    PlayResult r = Play(hostile::Build(f), 200);
    EXPECT_TRUE(r.bOpened);
    EXPECT_FALSE(r.bSound);
    f = WithClip();
    f.nEmbedded = 0;
    r = Play(hostile::Build(f), 200);
    EXPECT_TRUE(r.bOpened);
    EXPECT_FALSE(r.bSound);
}

TEST(HostileSongTest, EveryFileOfTheHostileSetLoadsOrFailsCleanly)
{
    for (const auto& [name, bytes] : hostile::HostileSet(Clip())) {
        CSongDocument doc;
        const int result = LoadBytes(doc, bytes);
        EXPECT_TRUE(result == 1 || result == ERR_BAD_FILE) << name;
        EXPECT_EQ(result == 1, doc.HasSong()) << name;
        const PlayResult r = Play(bytes, 100);
        EXPECT_EQ(r.bOpened, result == 1) << name;
        if (!r.bOpened) {
            // A player without a song renders one silent block and ends.
            EXPECT_EQ(r.nBlocks, 1) << name;
            EXPECT_FALSE(r.bSound) << name;
        }
    }
}
