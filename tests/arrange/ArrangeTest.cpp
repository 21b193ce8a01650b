// Drawing a performance: draw order and count per level, the sections and
// arrangements that cannot be played, failures and the document's state.
#include <gtest/gtest.h>

#include <random>
#include <thread>

#include "arrange/Random.h"
#include "arrange/Reference.h"
#include "common/TestSongs.h"
#include "song/SongDocument.h"

using reftest::Advance;
using reftest::Entry;
using reftest::LoadInto;
using testutil::AddArrangement;
using testutil::AddSection;
using testutil::AddTrack;
using testutil::AddVariation;

namespace {
// Arranges with the generator at `state`; checks the document against the reference
// (choice, sequence, total, number of draws) and returns what was drawn.
reftest::Performance ArrangeFrom(CSongDocument& doc, uint32_t state)
{
    reftest::Lcg ref{state};
    const reftest::Performance expected = reftest::Arrange(*doc.GetSong(), ref);
    vantrel::SetRandomState(state);
    const reftest::Performance got = reftest::Observe(doc, doc.Arrange());
    EXPECT_EQ(got.nResult, expected.nResult);
    EXPECT_EQ(got.nArrangement, expected.nArrangement);
    EXPECT_EQ(got.arrEntries, expected.arrEntries);
    EXPECT_EQ(got.nTotalMs, expected.nTotalMs);
    EXPECT_EQ(vantrel::GetRandomState(), ref.x) << "draws differ from the expected " << expected.nDraws;
    reftest::Performance p = got;
    p.nDraws = expected.nDraws;
    return p;
}

// The first state, walking the generator on from 1, whose next draws satisfy `want`
// (given a copy of the generator at that state).
template <class Pred> uint32_t FirstStateWhere(Pred want)
{
    reftest::Lcg g;
    while (!want(g))
        g.Next();
    return g.x;
}
} // namespace

TEST(Arrange, FirstPerformanceOfAFreshThread)
{
    // Two arrangements, the first listing a section of two variations. Nothing sets
    // the generator: a new thread starts where a freshly loaded player does.
    CSong song("first");
    CSection* s = AddSection(song, "S");
    AddVariation(*s, "a", 1000);
    AddVariation(*s, "b", 2000);
    CSection* t = AddSection(song, "T");
    AddVariation(*t, "t", 700);
    AddArrangement(song, "One", {s});
    AddArrangement(song, "Two", {t});
    const std::string path = reftest::WriteSong(song, "first.vn");

    int result = 0, arrangement = -1, total = 0;
    std::vector<Entry> entries;
    uint32_t after = 0;
    std::thread([&] {
        CSongDocument doc;
        if (doc.Load(path) != 1)
            return;
        result = doc.Arrange();
        const auto p = reftest::Observe(doc, result);
        arrangement = p.nArrangement;
        entries = p.arrEntries;
        total = doc.GetTotalLength();
        after = vantrel::GetRandomState();
    }).join();
    // 41 -> 12: the first arrangement (18467 discarded); 6334 discarded, 26500 -> 8087:
    // the second variation.
    EXPECT_EQ(result, 1);
    EXPECT_EQ(arrangement, 0);
    EXPECT_EQ(entries, (std::vector<Entry>{{0, 1}}));
    EXPECT_EQ(total, 2000);
    EXPECT_EQ(after, Advance(1, 4));
}

TEST(Arrange, DrawsPerLevel)
{
    CSongDocument doc;
    // One arrangement, one variation: the one draw before the first attempt only.
    {
        CSong song("single");
        CSection* s = AddSection(song, "S");
        AddVariation(*s, "only", 1500);
        AddArrangement(song, "A", {s});
        ASSERT_TRUE(LoadInto(doc, song, "single.vn"));
        const auto p = ArrangeFrom(doc, 1);
        EXPECT_EQ(p.nDraws, 1);
        EXPECT_EQ(p.arrEntries, (std::vector<Entry>{{0, 0}}));
        EXPECT_EQ(doc.GetTotalLength(), 1500);
        doc.EndPerformance();
    }
    // One arrangement, two variations: 1 + 2 draws; the second of the section's pair
    // decides (6334 -> 1932 -> first variation; 18467 would have given the second).
    {
        CSong song("pair");
        CSection* s = AddSection(song, "S");
        AddVariation(*s, "a", 1000);
        AddVariation(*s, "b", 2000);
        AddArrangement(song, "A", {s});
        ASSERT_TRUE(LoadInto(doc, song, "pair.vn"));
        const auto p = ArrangeFrom(doc, 1);
        EXPECT_EQ(p.nDraws, 3);
        EXPECT_EQ(p.arrEntries, (std::vector<Entry>{{0, 0}}));
        doc.EndPerformance();
    }
    // Two arrangements of one-variation sections: the draw before the attempt and the
    // discarded one; 12 selects the first arrangement, not the second.
    {
        CSong song("two");
        CSection* s = AddSection(song, "S");
        AddVariation(*s, "s", 100);
        CSection* t = AddSection(song, "T");
        AddVariation(*t, "t", 200);
        AddArrangement(song, "A", {s});
        AddArrangement(song, "B", {t});
        ASSERT_TRUE(LoadInto(doc, song, "two.vn"));
        const auto p = ArrangeFrom(doc, 1);
        EXPECT_EQ(p.nDraws, 2);
        EXPECT_EQ(p.nArrangement, 0);
        doc.EndPerformance();
    }
}

TEST(Arrange, ScaledZeroMeansAnotherAttempt)
{
    CSongDocument doc;
    CSong song("zero");
    CSection* s = AddSection(song, "S");
    AddVariation(*s, "a", 1000);
    AddVariation(*s, "b", 2000);
    CSection* t = AddSection(song, "T");
    AddVariation(*t, "t", 300);
    AddArrangement(song, "A", {s});
    AddArrangement(song, "B", {t});
    ASSERT_TRUE(LoadInto(doc, song, "zero.vn"));

    // Arrangement level: the draw before the first attempt scales to 0; the attempt
    // discards one draw and gives nothing, a new value is drawn and a new attempt
    // discards another.
    const uint32_t a0 = FirstStateWhere([](reftest::Lcg g) { return g.Next() <= 3; });
    const auto p = ArrangeFrom(doc, a0);
    EXPECT_EQ(p.nResult, 1);
    EXPECT_GE(p.nDraws, 4);
    doc.EndPerformance();

    // Section level: the first arrangement is chosen and the used section draw (the
    // 4th) scales to 0: a second pair is drawn; index 0 is not taken from the 0.
    const uint32_t state = FirstStateWhere([](reftest::Lcg g) {
        const int v = reftest::Scale(g.Next());
        g.Next();
        g.Next();
        return reftest::Pick(2, v) == 0 && g.Next() <= 3;
    });
    const auto q = ArrangeFrom(doc, state);
    EXPECT_EQ(q.nArrangement, 0);
    EXPECT_EQ(q.nDraws, 6);
}

TEST(Arrange, SectionsLeftOutAndSectionsListedTwice)
{
    CSongDocument doc;
    CSong song("mixed");
    CSection* empty = AddSection(song, "Empty");   // no variations
    CSection* silent = AddSection(song, "Silent"); // none of positive length
    AddVariation(*silent, "zero", 0);
    AddVariation(*silent, "negative", -5);
    CSection* late = AddSection(song, "Late");     // only the third can play
    AddVariation(*late, "z1", 0);
    AddVariation(*late, "z2", 0);
    AddVariation(*late, "five", 5000);
    CSection* twice = AddSection(song, "Twice");
    AddVariation(*twice, "a", 1000);
    AddVariation(*twice, "b", 2000);
    AddArrangement(song, "Main", {empty, twice, silent, twice, late});
    ASSERT_TRUE(LoadInto(doc, song, "mixed.vn"));

    // From state 1: 41 (arrangement); 18467 discarded, 6334 -> 1932 -> a; 26500
    // discarded, 19169 -> 5850 -> b: the same section drawn twice, independently.
    const auto p = ArrangeFrom(doc, 1);
    ASSERT_EQ(p.arrEntries.size(), 3u);
    EXPECT_EQ(p.arrEntries[0], Entry(3, 0));
    EXPECT_EQ(p.arrEntries[1], Entry(3, 1));
    EXPECT_EQ(p.arrEntries[2], Entry(2, 2));
    EXPECT_EQ(doc.GetSequenceLength(), 3);
    EXPECT_EQ(doc.GetTotalLength(), 8000);
    doc.EndPerformance();

    // Over many performances "Late" is always its third variation, and the two
    // entries of "Twice" come out in all four combinations.
    bool seen[2][2] = {};
    for (int i = 0; i < 100; ++i) {
        const auto q = ArrangeFrom(doc, vantrel::GetRandomState());
        ASSERT_EQ(q.arrEntries.size(), 3u);
        EXPECT_EQ(q.arrEntries[2], Entry(2, 2));
        seen[q.arrEntries[0].second][q.arrEntries[1].second] = true;
        doc.EndPerformance();
    }
    EXPECT_TRUE(seen[0][0] && seen[0][1] && seen[1][0] && seen[1][1]);
}

TEST(Arrange, UnplayableArrangementIsDrawnAgain)
{
    CSongDocument doc;
    CSong song("redraw");
    CSection* silent = AddSection(song, "Silent");
    AddVariation(*silent, "zero", 0);
    CSection* s = AddSection(song, "S");
    AddVariation(*s, "s", 1200);
    AddArrangement(song, "Nothing", {silent, silent});
    AddArrangement(song, "Empty", {});
    AddArrangement(song, "Plays", {s});
    ASSERT_TRUE(LoadInto(doc, song, "redraw.vn"));

    // 41 -> 12 picks "Nothing" (no draws in it); 6334 -> 1932 picks it again; 19169 ->
    // 5850 picks "Empty"; then on until the third: at least 7 draws, all per reference.
    const auto p = ArrangeFrom(doc, 1);
    EXPECT_EQ(p.nArrangement, 2);
    EXPECT_GE(p.nDraws, 7);
    doc.EndPerformance();

    for (int i = 0; i < 50; ++i) {
        const auto q = ArrangeFrom(doc, vantrel::GetRandomState());
        EXPECT_EQ(q.nArrangement, 2);
        doc.EndPerformance();
    }
}

TEST(Arrange, AgreesWithTheReferenceOnRandomSongs)
{
    std::mt19937 rng(20240611u);
    auto pick = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
    const int32_t lengths[] = {0, -3, 1, 250, 1000, 4000, 65000};
    int arranged = 0, refused = 0;
    vantrel::SetRandomState(1);
    for (int songNo = 0; songNo < 60; ++songNo) {
        CSong song("random");
        const int sections = pick(1, 6);
        for (int i = 0; i < sections; ++i) {
            CSection* s = AddSection(song, "S" + std::to_string(i));
            const int vars = pick(0, 5);
            for (int k = 0; k < vars; ++k)
                AddVariation(*s, "V" + std::to_string(k), lengths[pick(0, 6)]);
        }
        const int arrangements = pick(1, 5);
        for (int i = 0; i < arrangements; ++i) {
            std::vector<CSection*> refs;
            const int count = pick(0, 6);
            for (int k = 0; k < count; ++k)
                refs.push_back(song.GetSection(pick(0, sections - 1)));
            AddArrangement(song, "A" + std::to_string(i), refs);
        }
        CSongDocument doc;
        ASSERT_TRUE(LoadInto(doc, song, "random.vn"));
        for (int perf = 0; perf < 40; ++perf) {
            const auto p = ArrangeFrom(doc, vantrel::GetRandomState());
            if (::testing::Test::HasFailure())
                FAIL() << "song " << songNo << " performance " << perf;
            (p.nResult == 1 ? arranged : refused)++;
            doc.EndPerformance();
        }
    }
    // Both kinds of song were exercised.
    EXPECT_GT(arranged, 1000);
    EXPECT_GT(refused, 0);
}

TEST(Arrange, FailuresDrawNothingAndKeepTheState)
{
    const uint32_t start = 0x12345678u;
    // No song.
    {
        CSongDocument doc;
        vantrel::SetRandomState(start);
        EXPECT_EQ(doc.Arrange(), ERR_NO_SONG);
        EXPECT_EQ(doc.GetState(), 0);
        EXPECT_EQ(doc.GetTotalLength(), -1);
        EXPECT_EQ(doc.GetSequenceLength(), 0);
        EXPECT_FALSE(doc.SelectEntry(0));
        EXPECT_EQ(vantrel::GetRandomState(), start);
    }
    // Every arrangement lists nothing; and no arrangement at all.
    {
        CSong song("empty lists");
        AddVariation(*AddSection(song, "S"), "v", 1000);
        AddArrangement(song, "A", {});
        AddArrangement(song, "B", {});
        CSong none("no arrangements");
        AddVariation(*AddSection(none, "S"), "v", 1000);
        for (const CSong* s : {&song, &none}) {
            CSongDocument doc;
            ASSERT_TRUE(LoadInto(doc, *s, "nothing.vn"));
            vantrel::SetRandomState(start);
            EXPECT_EQ(doc.Arrange(), ERR_NOTHING_TO_ARRANGE);
            EXPECT_EQ(doc.GetState(), 0);
            EXPECT_EQ(doc.GetTotalLength(), -1);
            EXPECT_EQ(vantrel::GetRandomState(), start);
        }
    }
    // Sections listed, but none of them has a variation of positive length: refused
    // before any draw; the state of the ended earlier performance stays.
    {
        CSong good("good");
        AddVariation(*AddSection(good, "S"), "v", 1000);
        AddArrangement(good, "A", {good.GetSection(0)});
        CSong bad("bad");
        CSection* a = AddSection(bad, "A");
        AddVariation(*a, "zero", 0);
        CSection* b = AddSection(bad, "B");
        AddArrangement(bad, "X", {a, b});
        AddArrangement(bad, "Y", {b});

        CSongDocument doc;
        ASSERT_TRUE(LoadInto(doc, good, "good.vn"));
        ASSERT_EQ(doc.Arrange(), 1);
        doc.EndPerformance();
        ASSERT_EQ(doc.GetState(), STATE_CLOSED);
        ASSERT_TRUE(LoadInto(doc, bad, "bad.vn"));
        vantrel::SetRandomState(start);
        EXPECT_EQ(doc.Arrange(), ERR_NOTHING_TO_ARRANGE);
        EXPECT_EQ(vantrel::GetRandomState(), start);
        EXPECT_EQ(doc.GetState(), STATE_CLOSED);
        EXPECT_EQ(doc.GetTotalLength(), -1);
        EXPECT_EQ(doc.GetSequenceLength(), 0);
        EXPECT_FALSE(doc.SelectEntry(0));
    }
}

TEST(Arrange, StateAndTotalLengthThroughAPerformance)
{
    CSong song("three");
    CSection* a = AddSection(song, "A");
    AddVariation(*a, "a", 1000);
    CSection* b = AddSection(song, "B");
    AddVariation(*b, "b", 2000);
    CSection* c = AddSection(song, "C");
    AddVariation(*c, "c", 500);
    AddArrangement(song, "All", {a, b, c});
    CSongDocument doc;
    EXPECT_EQ(doc.GetState(), 0);
    EXPECT_EQ(doc.GetCurrentIndex(), -1);
    ASSERT_TRUE(LoadInto(doc, song, "three.vn"));
    EXPECT_EQ(doc.GetTotalLength(), -1);

    ASSERT_EQ(doc.Arrange(), 1);
    EXPECT_EQ(doc.GetState(), STATE_ARRANGED);
    EXPECT_EQ(doc.GetTotalLength(), 3500);
    EXPECT_TRUE(doc.SelectEntry(2));
    EXPECT_FALSE(doc.SelectEntry(3));
    EXPECT_EQ(doc.GetCurrentIndex(), 2);

    doc.EndPerformance();
    EXPECT_EQ(doc.GetState(), STATE_CLOSED);
    EXPECT_EQ(doc.GetTotalLength(), -1);
    EXPECT_EQ(doc.GetEntryLength(), -1);
    EXPECT_EQ(doc.GetSequenceLength(), 3); // the sequence outlives the performance

    // A new Arrange moves the cursor off any entry and arranges again.
    ASSERT_TRUE(doc.SelectEntry(1));
    ASSERT_EQ(doc.Arrange(), 1);
    EXPECT_EQ(doc.GetCurrentIndex(), -1);
    EXPECT_EQ(doc.GetTotalLength(), 3500);

    // Arranged and not ended, then the song goes: a failed Arrange keeps the state
    // but reports no length.
    doc.DetachSong();
    EXPECT_EQ(doc.Arrange(), ERR_NO_SONG);
    EXPECT_EQ(doc.GetState(), STATE_ARRANGED);
    EXPECT_EQ(doc.GetTotalLength(), -1);
    EXPECT_EQ(doc.GetSequenceLength(), 0);
}

TEST(Arrange, ReleasingTheSongClearsWhatPointsIntoIt)
{
    CSong first("first");
    AddVariation(*AddSection(first, "S"), "v", 1000);
    AddArrangement(first, "A", {first.GetSection(0)});
    CSong second("second");
    CSection* s = AddSection(second, "S");
    AddVariation(*s, "v", 4000);
    AddTrack(*second.GetSection(0)->GetVariations()[0], "t");
    AddArrangement(second, "B", {s});

    CSongDocument doc;
    ASSERT_TRUE(LoadInto(doc, first, "release1.vn"));
    ASSERT_EQ(doc.Arrange(), 1);
    ASSERT_TRUE(doc.SelectEntry(0));

    // Load replaces the song: nothing of the old performance survives.
    ASSERT_TRUE(LoadInto(doc, second, "release2.vn"));
    EXPECT_EQ(doc.GetArrangement(), nullptr);
    EXPECT_EQ(doc.GetSequence(), nullptr);
    EXPECT_EQ(doc.GetSequenceLength(), 0);
    EXPECT_EQ(doc.GetCurrentIndex(), -1);
    EXPECT_EQ(doc.GetEntryLength(), -1);
    EXPECT_EQ(doc.GetTrackCount(), -1);
    EXPECT_FALSE(doc.SetEventCursor(0, 0));
    EXPECT_FALSE(doc.SelectEntry(0));

    // A failed load of a file that is not a song leaves no song and nothing drawn.
    ASSERT_EQ(doc.Arrange(), 1);
    ASSERT_TRUE(doc.SelectEntry(0));
    const std::string junk = testutil::TempPath("junk.vn");
    testutil::WriteBytes(junk, "not a song at all");
    EXPECT_EQ(doc.Load(junk), ERR_BAD_FILE);
    EXPECT_FALSE(doc.HasSong());
    EXPECT_EQ(doc.GetSequence(), nullptr);
    EXPECT_EQ(doc.GetTrackCount(), -1);
    EXPECT_EQ(doc.Arrange(), ERR_NO_SONG);

    // DetachSong after a performance in which an entry was current.
    ASSERT_TRUE(LoadInto(doc, second, "release3.vn"));
    ASSERT_EQ(doc.Arrange(), 1);
    ASSERT_TRUE(doc.SelectEntry(0));
    doc.EndPerformance();
    doc.DetachSong();
    EXPECT_FALSE(doc.HasSong());
    EXPECT_EQ(doc.GetSequence(), nullptr);
    EXPECT_EQ(doc.GetArrangement(), nullptr);
    EXPECT_FALSE(doc.SelectEntry(0));
    EXPECT_EQ(doc.CurrentEvent(0), nullptr);
}
