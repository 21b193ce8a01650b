#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "FakeClipSource.h"
#include "common/TestSongs.h"
#include "decode/PcmFormat.h"
#include "player/SongPlayer.h"
#include "song/SongWriter.h"

using namespace testutil;

namespace {

constexpr int kBlock = vantrel::pcm::kBlockBytes;

// A song with one arrangement and one variation per section, so every performance
// is the same whatever the generator's state. Events name clips whose data offset
// the fake decoder turns into the sample value.
struct SongSpec
{
    struct Event
    {
        int track;
        int32_t startMs;
        int32_t lengthMs;
        int clip;
    };
    struct Entry
    {
        int32_t lengthMs;
        int tracks;
        std::vector<Event> events;
    };
    std::vector<Entry> entries;
    int clips = 4;
};

std::string WriteSong(const std::string& name, const SongSpec& spec)
{
    CSong song("Timing");
    std::vector<CClip*> clips;
    std::vector<std::string> data;
    for (int c = 0; c < spec.clips; ++c) {
        clips.push_back(AddClip(song, "clip" + std::to_string(c), 2));
        data.push_back(std::string(static_cast<size_t>(8 + c * 3), 'x'));
    }
    std::vector<CSection*> order;
    for (size_t i = 0; i < spec.entries.size(); ++i) {
        const auto& e = spec.entries[i];
        CSection* s = AddSection(song, "S" + std::to_string(i));
        CVariation* v = AddVariation(*s, "V", e.lengthMs);
        std::vector<CTrack*> tracks;
        for (int t = 0; t < e.tracks; ++t)
            tracks.push_back(AddTrack(*v, "T" + std::to_string(t)));
        for (const auto& ev : e.events)
            AddEvent(*tracks[static_cast<size_t>(ev.track)], clips[static_cast<size_t>(ev.clip)],
                     ev.startMs, ev.lengthMs);
        order.push_back(s);
    }
    AddArrangement(song, "Main", order);
    const std::string path = TempPath(name);
    testutil::WriteSong(song, data, path);
    return path;
}

struct Rendered
{
    std::vector<std::vector<int16_t>> blocks;
    bool ended = false;
};

class PlayerFixture : public ::testing::Test
{
protected:
    void Start(const std::string& path)
    {
        ASSERT_TRUE(m_player.Open(path));
        m_player.Prepare();
        ASSERT_TRUE(m_player.HasDecoder());
        auto fake = std::make_unique<CFakeClipSource>();
        m_pFake = fake.get();
        m_player.SetClipSourceForTest(std::move(fake));
    }
    Rendered Render(int maxBlocks)
    {
        Rendered r;
        std::vector<char> buf(kBlock);
        for (int b = 0; b < maxBlocks; ++b) {
            const bool more = m_player.RenderBlock(buf.data(), kBlock);
            std::vector<int16_t> samples(kBlock / 2);
            std::memcpy(samples.data(), buf.data(), kBlock);
            r.blocks.push_back(samples);
            if (!more) {
                r.ended = true;
                break;
            }
        }
        return r;
    }
    // Data offset of clip c in the written song (what the fake plays as sample value).
    int16_t ClipValue(int c) const
    {
        return static_cast<int16_t>(m_player.GetDocument().GetSong()->GetClip(c)->m_nDataOffset);
    }

    CSongPlayer m_player;
    CFakeClipSource* m_pFake = nullptr;
};

// Index of the first non-zero sample of the whole rendering, as a byte position.
int64_t FirstSoundByte(const Rendered& r)
{
    for (size_t b = 0; b < r.blocks.size(); ++b)
        for (size_t s = 0; s < r.blocks[b].size(); ++s)
            if (r.blocks[b][s] != 0)
                return static_cast<int64_t>(b) * kBlock + static_cast<int64_t>(s) * 2;
    return -1;
}

} // namespace

TEST_F(PlayerFixture, EventsLandOnTheirBlockAndByte)
{
    // Each case: an event alone in a one-track entry, at a time whose block number is
    // the product with the blocks-per-ms factor, which lies just below 0.03828125.
    struct Case { int32_t startMs; int64_t expectedByte; };
    const Case cases[] = {
        {0, 0},
        {10, 1764},
        {1280, 48 * kBlock},          // 1280 x F is just below 49
        {26880, 1029LL * kBlock},     // exactly 1029
        {-50, 0},                     // a negative start plays from the entry's start
    };
    for (const Case& c : cases) {
        SongSpec spec;
        spec.entries.push_back({c.startMs + 2000, 1, {{0, c.startMs, 100, 1}}});
        Start(WriteSong("ev.vn", spec));
        Rendered r = Render(1100);
        EXPECT_EQ(FirstSoundByte(r), c.expectedByte) << "start " << c.startMs;
        m_player.Close();
    }
}

TEST_F(PlayerFixture, EntryOffsetCarriesIntoEventPlacement)
{
    // The first entry ends at 1000 ms = byte 176400 = block 38 + 1296. The second
    // entry's event at 10 ms lands 1764 bytes later.
    SongSpec spec;
    spec.entries.push_back({1000, 1, {}});
    spec.entries.push_back({1000, 1, {{0, 10, 100, 1}}});
    Start(WriteSong("offset.vn", spec));
    Rendered r = Render(100);
    EXPECT_EQ(FirstSoundByte(r), 176400 + 1764);
}

TEST_F(PlayerFixture, InBlockOffsetSumsAtAndAboveTheBlockSize)
{
    struct Case { int32_t firstEntryMs; int32_t eventMs; int64_t expectedByte; int64_t expectedOffset; };
    const Case cases[] = {
        // Entry 2 begins at byte 176400 (offset 1296); 20 ms is 3528 bytes: the sum
        // 4824 passes the block, so the event starts one block later at 216.
        {1000, 20, 176400 + 3528, 216},
        // Entry 2 begins at byte 191394 (offset 2466); 195 ms is 34398 bytes (offset
        // 2142): the sum is exactly 4608, so the clip gets nothing in its block and
        // its first sample opens the next one.
        {1085, 195, 191394 + 34398, 0},
    };
    for (const Case& c : cases) {
        SongSpec spec;
        spec.entries.push_back({c.firstEntryMs, 1, {}});
        spec.entries.push_back({1000, 1, {{0, c.eventMs, 100, 1}}});
        Start(WriteSong("sum.vn", spec));
        Rendered r = Render(100);
        EXPECT_EQ(FirstSoundByte(r), c.expectedByte);
        EXPECT_EQ(FirstSoundByte(r) % kBlock, c.expectedOffset);
        m_player.Close();
    }
}

TEST_F(PlayerFixture, BusyTrackVoicesOverflowToVoicesFourAndUp)
{
    SongSpec spec;
    // Track 0: two events in block 0 and a third while both still sound.
    spec.entries.push_back({3000, 1, {{0, 0, 1000, 0}, {0, 5, 1000, 1}, {0, 100, 1000, 2}}});
    Start(WriteSong("overflow.vn", spec));
    Render(10);
    ASSERT_EQ(m_pFake->m_arrStarts.size(), 3u);
    EXPECT_EQ(m_pFake->m_arrStarts[0].voice, 0);
    EXPECT_EQ(m_pFake->m_arrStarts[1].voice, 4);
    EXPECT_EQ(m_pFake->m_arrStarts[2].voice, 5);
}

TEST_F(PlayerFixture, AllOverflowVoicesBusyTakesOverTheLastCandidate)
{
    SongSpec spec;
    SongSpec::Entry e{3000, 1, {}};
    for (int i = 0; i < 11; ++i)
        e.events.push_back({0, 0, 2000, i % 4});
    spec.entries.push_back(e);
    Start(WriteSong("busy.vn", spec));
    Render(2);
    ASSERT_EQ(m_pFake->m_arrStarts.size(), 11u);
    const int expected[] = {0, 4, 5, 6, 7, 8, 9, 10, 11, 11, 11};
    for (int i = 0; i < 11; ++i)
        EXPECT_EQ(m_pFake->m_arrStarts[static_cast<size_t>(i)].voice, expected[i]) << i;
}

TEST_F(PlayerFixture, MixShiftFollowsTheTrackCountAndSaturates)
{
    for (int tracks : {1, 2, 3, 4, 5}) {
        SongSpec spec;
        SongSpec::Entry e{500, tracks, {}};
        for (int t = 0; t < tracks; ++t)
            e.events.push_back({t, 0, 400, t % 4});
        spec.entries.push_back(e);
        Start(WriteSong("shift.vn", spec));
        Rendered r = Render(2);
        const int shift = tracks >= 4 ? 2 : tracks >= 2 ? 1 : 0;
        EXPECT_EQ(m_player.GetMixShift(), shift);
        int32_t expected = 0;
        for (int t = 0; t < tracks && t < 4; ++t)
            expected += ClipValue(t % 4) >> shift;
        EXPECT_EQ(r.blocks[1][100], expected) << tracks << " tracks";
        m_player.Close();
    }
}

TEST_F(PlayerFixture, LoudVoicesClampInsteadOfWrapping)
{
    // A real clip's samples: use a scripted source whose voices play full scale.
    class CLoud : public CFakeClipSource
    {
    public:
        int Decode(char* out, int bytes, int voice) override
        {
            (void)voice;
            const int16_t v = m_nSign > 0 ? 32767 : -32768;
            for (int i = 0; i + 1 < bytes; i += 2)
                std::memcpy(out + i, &v, 2);
            return bytes;
        }
        int m_nSign = 1;
    };
    for (int sign : {1, -1}) {
        SongSpec spec;
        spec.entries.push_back({500, 1, {{0, 0, 400, 0}, {0, 0, 400, 1}}});
        ASSERT_TRUE(m_player.Open(WriteSong("loud.vn", spec)));
        m_player.Prepare();
        auto loud = std::make_unique<CLoud>();
        loud->m_nSign = sign;
        m_player.SetClipSourceForTest(std::move(loud));
        Rendered r = Render(2);
        EXPECT_EQ(r.blocks[1][7], sign > 0 ? 32767 : -32768);
        m_player.Close();
    }
}

TEST_F(PlayerFixture, PerformanceEndsInTheBlockOfItsLastEntryEnd)
{
    SongSpec spec;
    spec.entries.push_back({1000, 1, {{0, 900, 5000, 1}}});
    Start(WriteSong("end.vn", spec));
    Rendered r = Render(200);
    ASSERT_TRUE(r.ended);
    // 1000 ms ends in block trunc(1000 x F) = 38: that call returns false, with the
    // clip that was still sounding mixed into the full block.
    EXPECT_EQ(r.blocks.size(), 39u);
    EXPECT_EQ(r.blocks.back()[2000], ClipValue(1));
    EXPECT_FALSE(m_player.GetFile().IsOpen());
}

TEST_F(PlayerFixture, ManyShortEntriesInOneBlockStillEnd)
{
    // Ten 1 ms entries: more entry ends in the first block than there are tracks.
    SongSpec spec;
    for (int i = 0; i < 10; ++i)
        spec.entries.push_back({1, 1, {}});
    Start(WriteSong("short.vn", spec));
    Rendered r = Render(50);
    EXPECT_TRUE(r.ended);
    EXPECT_LE(r.blocks.size(), 4u);
}

TEST_F(PlayerFixture, SeekFindsTheEntryHoldingThePercentage)
{
    SongSpec spec;
    spec.entries.push_back({10000, 1, {{0, 0, 100, 0}}});
    spec.entries.push_back({10000, 1, {{0, 0, 100, 1}}});
    Start(WriteSong("seek.vn", spec));
    ASSERT_EQ(m_player.GetLength(), 20000);
    Render(3);
    EXPECT_EQ(m_player.Seek(0), 0);
    EXPECT_EQ(m_player.Seek(50), 0);      // the first entry ends exactly at 50 %
    EXPECT_EQ(m_player.Seek(51), 10000);
    EXPECT_EQ(m_player.Seek(99), 10000);  // 19 999 ms of 20 000 is 99 %
    EXPECT_EQ(m_player.Seek(100), 10000);
    EXPECT_EQ(m_player.Seek(250), 10000); // past the end: the last entry
    EXPECT_EQ(m_player.Seek(-7), 0);

    // After a seek the next block starts the found entry from its beginning.
    m_pFake->m_arrStarts.clear();
    m_player.Seek(51);
    Rendered r = Render(1);
    ASSERT_EQ(m_pFake->m_arrStarts.size(), 1u);
    EXPECT_EQ(m_pFake->m_arrStarts[0].dataOffset, ClipValue(1));
    EXPECT_EQ(r.blocks[0][0], ClipValue(1));
}

TEST_F(PlayerFixture, SeekAfterTheEndPlaysAgainFromTheSongFile)
{
    SongSpec spec;
    spec.entries.push_back({500, 1, {{0, 0, 100, 0}}});
    spec.entries.push_back({500, 1, {{0, 0, 100, 1}}});
    Start(WriteSong("seekend.vn", spec));
    Rendered r = Render(1000);
    ASSERT_TRUE(r.ended);
    ASSERT_FALSE(m_player.GetFile().IsOpen());
    EXPECT_EQ(m_player.Seek(60), 500);
    EXPECT_TRUE(m_player.GetFile().IsOpen());
    Rendered again = Render(1000);
    EXPECT_TRUE(again.ended);
    EXPECT_EQ(again.blocks[0][0], ClipValue(1));
}

TEST_F(PlayerFixture, FailedOpenPlaysOneSilentBlock)
{
    SongSpec spec;
    spec.entries.push_back({500, 1, {{0, 0, 100, 0}}});
    // A song played before must not survive into the next performance.
    ASSERT_TRUE(m_player.Open(WriteSong("before.vn", spec)));
    m_player.Prepare();
    m_player.Close();
    const std::string bad = TempPath("bad.vn");
    WriteBytes(bad, "not a song at all");
    EXPECT_FALSE(m_player.Open(bad));
    m_player.Prepare();
    EXPECT_EQ(m_player.GetLength(), -1);
    EXPECT_FALSE(m_player.HasDecoder());
    Rendered r = Render(5);
    EXPECT_TRUE(r.ended);
    ASSERT_EQ(r.blocks.size(), 1u);
    EXPECT_EQ(FirstSoundByte(r), -1);
    EXPECT_EQ(m_player.Seek(50), 0);
    m_player.Close();
    m_player.Close();
}
