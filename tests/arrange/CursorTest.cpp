// The sequence cursor, the per-track event cursors and the scheduled-event records.
#include <gtest/gtest.h>

#include <thread>

#include "arrange/Random.h"
#include "arrange/Reference.h"
#include "common/TestSongs.h"
#include "song/SongDocument.h"

using testutil::AddArrangement;
using testutil::AddClip;
using testutil::AddEvent;
using testutil::AddSection;
using testutil::AddTrack;
using testutil::AddVariation;

namespace {
// One arrangement of two one-variation sections, so the sequence is fixed:
// entry 0 "First" (1000 ms) with tracks "three" (3 events), "none" (0 events) and
// "one" (1 event); entry 1 "Second" (2500 ms) with one track of one event.
class CursorTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        CSong song("cursor");
        CClip* drums = AddClip(song, "drums", 2);
        CClip* bass = AddClip(song, "bass", 1);
        CClip* none = AddClip(song, "silent", 0);
        CVariation* first = AddVariation(*AddSection(song, "One"), "First", 1000);
        CTrack* three = AddTrack(*first, "three");
        CClipEvent* e0 = AddEvent(*three, drums, 0, 400);
        e0->m_nVolume = 255;
        e0->m_nPan = -100;
        e0->m_bActive = 0;
        e0->m_nPos1 = 418;
        e0->m_nPos2 = -2;
        e0->m_nPos3 = 3;
        e0->m_nPos4 = -2147483647 - 1;
        e0->m_nPos5 = 5;
        e0->m_nPos6 = 6;
        AddEvent(*three, bass, 300, 250);
        AddEvent(*three, none, -10, 700); // out of time order: handed out as listed
        AddTrack(*first, "none");
        AddEvent(*AddTrack(*first, "one"), bass, 900, 100);
        CVariation* second = AddVariation(*AddSection(song, "Two"), "Second", 2500);
        AddEvent(*AddTrack(*second, "solo"), drums, 50, 2000);
        AddArrangement(song, "Main", {song.GetSection(0), song.GetSection(1)});
        ASSERT_TRUE(reftest::LoadInto(doc, song, "cursor.vn"));
        ASSERT_EQ(doc.Arrange(), 1);
    }

    CSongDocument doc;
};
} // namespace

TEST_F(CursorTest, SelectEntryBoundsAndLengths)
{
    EXPECT_EQ(doc.GetEntryLength(), -1);
    EXPECT_EQ(doc.GetTrackCount(), -1);
    EXPECT_FALSE(doc.SelectEntry(-1));
    EXPECT_FALSE(doc.SelectEntry(2));
    EXPECT_EQ(doc.GetCurrentIndex(), -1);

    ASSERT_TRUE(doc.SelectEntry(1));
    EXPECT_EQ(doc.GetEntryLength(), 2500);
    EXPECT_EQ(doc.GetTrackCount(), 1);
    // A failed selection leaves the cursor where it was.
    EXPECT_FALSE(doc.SelectEntry(2));
    EXPECT_EQ(doc.GetCurrentIndex(), 1);
    EXPECT_EQ(doc.GetEntryLength(), 2500);

    ASSERT_TRUE(doc.SelectEntry(0));
    EXPECT_EQ(doc.GetEntryLength(), 1000);
    EXPECT_EQ(doc.GetTrackCount(), 3);

    doc.ResetCursor();
    EXPECT_EQ(doc.GetCurrentIndex(), -1);
    EXPECT_EQ(doc.GetEntryLength(), -1);
    EXPECT_EQ(doc.GetTrackCount(), -1);
}

TEST_F(CursorTest, EventsInListOrderThenNull)
{
    ASSERT_TRUE(doc.SelectEntry(0));
    for (int t = 0; t < 3; ++t)
        EXPECT_EQ(doc.CurrentEvent(t), nullptr) << "track " << t;

    std::vector<int32_t> starts;
    for (int i = 0; i < 10; ++i) // bounded: a cursor that never ends must not hang
        if (auto e = doc.NextEvent(0))
            starts.push_back(e->m_nStartMs);
        else
            break;
    EXPECT_EQ(starts, (std::vector<int32_t>{0, 300, -10}));
    // Past the last event the cursor stays on it.
    EXPECT_EQ(doc.NextEvent(0), nullptr);
    auto last = doc.CurrentEvent(0);
    ASSERT_NE(last, nullptr);
    EXPECT_EQ(last->m_nStartMs, -10);

    EXPECT_EQ(doc.NextEvent(1), nullptr); // a track without events
    EXPECT_EQ(doc.CurrentEvent(1), nullptr);
    auto only = doc.NextEvent(2);
    ASSERT_NE(only, nullptr);
    EXPECT_EQ(only->m_nStartMs, 900);
    EXPECT_EQ(doc.NextEvent(2), nullptr);

    // Track numbers outside the entry.
    EXPECT_EQ(doc.NextEvent(3), nullptr);
    EXPECT_EQ(doc.CurrentEvent(-1), nullptr);
    EXPECT_EQ(doc.MakeScheduledEvent(3, 0), nullptr);
    EXPECT_EQ(doc.MakeScheduledEvent(1, 0), nullptr);
    EXPECT_EQ(doc.MakeScheduledEvent(0, 3), nullptr);
}

TEST_F(CursorTest, SetEventCursorRange)
{
    ASSERT_TRUE(doc.SelectEntry(0));
    EXPECT_TRUE(doc.SetEventCursor(0, 2));
    EXPECT_EQ(doc.CurrentEvent(0)->m_nStartMs, -10);
    EXPECT_TRUE(doc.SetEventCursor(0, 0));
    EXPECT_EQ(doc.NextEvent(0)->m_nStartMs, 300);

    // Refusals change nothing.
    EXPECT_FALSE(doc.SetEventCursor(0, 3));
    EXPECT_FALSE(doc.SetEventCursor(0, -1));
    EXPECT_FALSE(doc.SetEventCursor(1, 0));
    EXPECT_FALSE(doc.SetEventCursor(3, 0));
    EXPECT_FALSE(doc.SetEventCursor(-1, 0));
    EXPECT_EQ(doc.CurrentEvent(0)->m_nStartMs, 300);
}

TEST_F(CursorTest, ReselectingRestartsEveryTrack)
{
    ASSERT_TRUE(doc.SelectEntry(0));
    doc.NextEvent(0);
    doc.NextEvent(0);
    doc.NextEvent(2);
    ASSERT_TRUE(doc.SelectEntry(0)); // the current one again
    EXPECT_EQ(doc.CurrentEvent(0), nullptr);
    EXPECT_EQ(doc.CurrentEvent(2), nullptr);
    EXPECT_EQ(doc.NextEvent(0)->m_nStartMs, 0);
    EXPECT_EQ(doc.NextEvent(2)->m_nStartMs, 900);

    // Another entry and back: the same.
    ASSERT_TRUE(doc.SelectEntry(1));
    EXPECT_EQ(doc.NextEvent(0)->m_nStartMs, 50);
    EXPECT_EQ(doc.NextEvent(1), nullptr); // entry 1 has one track only
    ASSERT_TRUE(doc.SelectEntry(0));
    EXPECT_EQ(doc.NextEvent(0)->m_nStartMs, 0);
}

TEST_F(CursorTest, RecordCopiesTheEventAndItsClip)
{
    ASSERT_TRUE(doc.SelectEntry(0));
    auto e = doc.NextEvent(0);
    ASSERT_NE(e, nullptr);
    const CClip* drums = doc.GetSong()->GetClip(0);
    EXPECT_EQ(e->m_strClipName, "drums");
    EXPECT_EQ(e->m_strClipPath, drums->m_strPath);
    EXPECT_FALSE(e->m_strClipPath.empty());
    EXPECT_EQ(e->m_nStartMs, 0);
    EXPECT_EQ(e->m_nLengthMs, 400);
    EXPECT_EQ(e->m_nVolume, 255);
    EXPECT_EQ(e->m_nPan, -100);
    EXPECT_EQ(e->m_bActive, 0);
    EXPECT_EQ(e->m_nDataOffset, drums->m_nDataOffset);
    EXPECT_GT(e->m_nDataOffset, 0);
    EXPECT_EQ(e->m_nDataSize, drums->m_nDataSize);
    EXPECT_EQ(e->m_nPos1, 418);
    EXPECT_EQ(e->m_nPos2, -2);
    EXPECT_EQ(e->m_nPos3, 3);
    EXPECT_EQ(e->m_nPos4, -2147483647 - 1);
    EXPECT_EQ(e->m_nClipInfo2, 0);
    EXPECT_EQ(e->m_nClipInfo3, 0);

    // Kind codes: 2 -> 200, 1 -> 100, anything else -> 0.
    EXPECT_EQ(e->m_nKindCode, 200);
    auto bass = doc.NextEvent(0);
    EXPECT_EQ(bass->m_nKindCode, 100);
    EXPECT_EQ(bass->m_bActive, 1);
    EXPECT_EQ(bass->m_nVolume, 128);
    EXPECT_EQ(doc.NextEvent(0)->m_nKindCode, 0);

    // Two requests, two records with the same values.
    auto a = doc.CurrentEvent(0);
    auto b = doc.CurrentEvent(0);
    ASSERT_NE(a, nullptr);
    ASSERT_NE(b, nullptr);
    EXPECT_NE(a.get(), b.get());
    EXPECT_EQ(a->m_strClipName, b->m_strClipName);
    EXPECT_EQ(a->m_nStartMs, b->m_nStartMs);
    EXPECT_EQ(a->m_nPos1, b->m_nPos1);
}

TEST_F(CursorTest, RecordsOutliveTheDocumentsState)
{
    ASSERT_TRUE(doc.SelectEntry(0));
    auto kept = doc.NextEvent(0);
    ASSERT_NE(kept, nullptr);
    const std::string path = kept->m_strClipPath;

    ASSERT_TRUE(doc.SelectEntry(1));
    doc.EndPerformance();
    doc.DetachSong();
    EXPECT_EQ(kept->m_strClipName, "drums");
    EXPECT_EQ(kept->m_strClipPath, path);
    EXPECT_EQ(kept->m_nPos1, 418);

    // Even past the document's life.
    CScheduledEventPtr orphan;
    {
        CSongDocument other;
        ASSERT_TRUE(other.Load(path) == 1);
        ASSERT_EQ(other.Arrange(), 1);
        ASSERT_TRUE(other.SelectEntry(1));
        orphan = other.NextEvent(0);
    }
    ASSERT_NE(orphan, nullptr);
    EXPECT_EQ(orphan->m_strClipName, "drums");
    EXPECT_EQ(orphan->m_nLengthMs, 2000);
}

// Released records go back to one list for the whole process: a record let go on the
// decode thread serves the host's thread and outlives the thread that released it. (A
// list per thread needs a thread-exit destructor, which can hang a host's exit.)
TEST_F(CursorTest, ReleasedRecordsAreReusedAcrossThreads)
{
    ASSERT_TRUE(doc.SelectEntry(0));
    const CScheduledEvent* released = nullptr;
    std::thread worker([&] {
        CScheduledEventPtr rec = doc.NextEvent(0);
        ASSERT_NE(rec, nullptr);
        released = rec.get();
    });
    worker.join();
    ASSERT_NE(released, nullptr);
    CScheduledEventPtr again = doc.NextEvent(0);
    ASSERT_NE(again, nullptr);
    EXPECT_EQ(again.get(), released);
    EXPECT_EQ(again->m_strClipName, "bass"); // filled anew for the cursor's next event
}

TEST_F(CursorTest, EndPerformanceWithAndWithoutSong)
{
    ASSERT_TRUE(doc.SelectEntry(1));
    doc.NextEvent(0);
    doc.EndPerformance();
    EXPECT_EQ(doc.GetCurrentIndex(), -1);
    EXPECT_EQ(doc.GetState(), STATE_CLOSED);
    // No current entry: its tracks are out of reach.
    EXPECT_EQ(doc.CurrentEvent(0), nullptr);
    EXPECT_FALSE(doc.SetEventCursor(0, 0));

    // Without a song the state still becomes closed.
    CSongDocument empty;
    empty.EndPerformance();
    EXPECT_EQ(empty.GetState(), STATE_CLOSED);
}
