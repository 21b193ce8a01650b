// Performances by number: the same draws as the player's plays, the search for a
// performance that chose an arrangement, and arrangement names.
#include <gtest/gtest.h>

#include <climits>
#include <memory>
#include <thread>

#include "arrange/Performances.h"
#include "arrange/Random.h"
#include "arrange/Reference.h"
#include "common/TestSongs.h"
#include "player/SongPlayer.h"
#include "song/SongDocument.h"

using testutil::AddArrangement;
using testutil::AddSection;
using testutil::AddVariation;

namespace {
// Three arrangements the draw can choose and a fourth it never can (its one section has
// no variation of positive length); sections of two and three variations.
std::unique_ptr<CSong> MakeSong()
{
    auto pSong = std::make_unique<CSong>("numbers");
    CSong& song = *pSong;
    CSection* a = AddSection(song, "A");
    AddVariation(*a, "a1", 1000);
    AddVariation(*a, "a2", 1500);
    CSection* b = AddSection(song, "B");
    AddVariation(*b, "b1", 700);
    AddVariation(*b, "b2", 0);
    AddVariation(*b, "b3", 900);
    CSection* silent = AddSection(song, "Silent");
    AddVariation(*silent, "none", 0);
    AddArrangement(song, "Intro", {a});
    AddArrangement(song, "Full", {a, b, a});
    AddArrangement(song, "Short", {b});
    AddArrangement(song, "Never", {silent});
    AddArrangement(song, "Full B", {b, b});
    return pSong;
}

// Performances 1..count as the reference arranger draws them from the start state.
std::vector<reftest::Performance> ReferencePerformances(const CSong& song, int count)
{
    reftest::Lcg g;
    std::vector<reftest::Performance> list;
    for (int i = 0; i < count; ++i)
        list.push_back(reftest::Arrange(song, g));
    return list;
}

void ExpectSame(const reftest::Performance& got, const reftest::Performance& want, int number)
{
    EXPECT_EQ(got.nResult, want.nResult) << "performance " << number;
    EXPECT_EQ(got.nArrangement, want.nArrangement) << "performance " << number;
    EXPECT_EQ(got.arrEntries, want.arrEntries) << "performance " << number;
    EXPECT_EQ(got.nTotalMs, want.nTotalMs) << "performance " << number;
}
} // namespace

TEST(Performances, NumberNIsTheNthPlayFromTheStart)
{
    const auto pSong = MakeSong();
    const CSong& song = *pSong;
    const std::string path = reftest::WriteSong(song, "numbers.vn");
    const auto expected = ReferencePerformances(song, 40);
    CSongDocument doc;
    ASSERT_EQ(doc.Load(path), 1);
    // Whatever the generator did before, and in any order of numbers.
    for (int number : {1, 7, 3, 40, 2, 2, 25}) {
        vantrel::SetRandomState(0xDEADBEEF);
        ASSERT_EQ(vantrel::ArrangePerformance(doc, number), 1);
        ExpectSame(reftest::Observe(doc, 1), expected[static_cast<size_t>(number - 1)], number);
    }
}

TEST(Performances, MatchTheDrawsOfAPlayerPlayingOnAFreshThread)
{
    // The tool renders performance N as the N-th Open/Prepare/Close of a player on a
    // thread that has not drawn yet; the number must reach the same performance.
    const auto pSong = MakeSong();
    const CSong& song = *pSong;
    const std::string path = reftest::WriteSong(song, "numbers-player.vn");
    std::vector<reftest::Performance> played;
    uint32_t stateAfterPlays = 0;
    std::thread([&] {
        CSongPlayer player;
        for (int i = 0; i < 12; ++i) {
            player.Open(path);
            player.Prepare();
            played.push_back(reftest::Observe(player.GetDocument(), 1));
            player.Close();
        }
        stateAfterPlays = vantrel::GetRandomState();
    }).join();
    ASSERT_EQ(played.size(), 12u);
    CSongDocument doc;
    ASSERT_EQ(doc.Load(path), 1);
    for (int number = 1; number <= 12; ++number) {
        ASSERT_EQ(vantrel::ArrangePerformance(doc, number), 1);
        ExpectSame(reftest::Observe(doc, 1), played[static_cast<size_t>(number - 1)], number);
    }
    // It restores nothing: the generator stands where twelve plays leave it.
    EXPECT_EQ(vantrel::GetRandomState(), stateAfterPlays);
}

TEST(Performances, SongsThatCannotBeArrangedAndNumbersBelowOne)
{
    CSongDocument empty;
    EXPECT_EQ(vantrel::ArrangePerformance(empty, 3), ERR_NO_SONG);

    CSong song("silent");
    CSection* s = AddSection(song, "S");
    AddVariation(*s, "zero", 0);
    AddArrangement(song, "Only", {s});
    CSongDocument doc;
    ASSERT_TRUE(reftest::LoadInto(doc, song, "numbers-silent.vn"));
    EXPECT_EQ(vantrel::ArrangePerformance(doc, 5), ERR_NOTHING_TO_ARRANGE);
    EXPECT_EQ(vantrel::FindPerformanceWithArrangement(doc, 1, 0), -1);

    CSongDocument fine;
    ASSERT_TRUE(reftest::LoadInto(fine, *MakeSong(), "numbers-zero.vn"));
    vantrel::SetRandomState(77);
    EXPECT_EQ(vantrel::ArrangePerformance(fine, 0), 0);
    EXPECT_EQ(vantrel::GetRandomState(), 1u) << "the generator is at its start, nothing drawn";
    EXPECT_NE(fine.GetState(), STATE_ARRANGED);
}

TEST(Performances, FindsTheFirstNumberThatChoseTheArrangement)
{
    const auto pSong = MakeSong();
    const CSong& song = *pSong;
    const auto expected = ReferencePerformances(song, 200);
    CSongDocument doc;
    ASSERT_TRUE(reftest::LoadInto(doc, song, "numbers-find.vn"));
    for (int arrangement : {0, 1, 2, 4}) {
        for (int from : {1, 2, 9, 50}) {
            int want = -1;
            for (int n = from; n <= 200 && want < 0; ++n)
                if (expected[static_cast<size_t>(n - 1)].nArrangement == arrangement)
                    want = n;
            ASSERT_GT(want, 0) << "the test song should choose arrangement " << arrangement;
            const int got = vantrel::FindPerformanceWithArrangement(doc, from, arrangement);
            EXPECT_EQ(got, want) << "arrangement " << arrangement << " from " << from;
            ExpectSame(reftest::Observe(doc, 1), expected[static_cast<size_t>(want - 1)], want);
            // The window is inclusive at both ends.
            EXPECT_EQ(vantrel::FindPerformanceWithArrangement(doc, from, arrangement, want - from + 1), want);
            if (want > from) {
                EXPECT_EQ(vantrel::FindPerformanceWithArrangement(doc, from, arrangement, want - from), -1);
            }
        }
    }
}

TEST(Performances, ArrangementsNeverChosenAndBadArguments)
{
    CSongDocument doc;
    ASSERT_TRUE(reftest::LoadInto(doc, *MakeSong(), "numbers-never.vn"));
    EXPECT_EQ(vantrel::FindPerformanceWithArrangement(doc, 1, 3, 500), -1);
    EXPECT_EQ(vantrel::FindPerformanceWithArrangement(doc, 1, 5), -1);
    EXPECT_EQ(vantrel::FindPerformanceWithArrangement(doc, 1, -1), -1);
    EXPECT_EQ(vantrel::FindPerformanceWithArrangement(doc, 0, 0), -1);
    EXPECT_EQ(vantrel::FindPerformanceWithArrangement(doc, 1, 0, 0), -1);
    // A window reaching past the largest number ends there instead of wrapping.
    CSongDocument none;
    EXPECT_EQ(vantrel::FindPerformanceWithArrangement(none, INT_MAX, 0, INT_MAX), -1);
}

TEST(Performances, ArrangementNamesAreExact)
{
    const auto pSong = MakeSong();
    const CSong& song = *pSong;
    EXPECT_EQ(vantrel::FindArrangementIndex(song, "Intro"), 0);
    EXPECT_EQ(vantrel::FindArrangementIndex(song, "Full"), 1);
    EXPECT_EQ(vantrel::FindArrangementIndex(song, "Never"), 3);
    EXPECT_EQ(vantrel::FindArrangementIndex(song, "Full B"), 4);
    EXPECT_EQ(vantrel::FindArrangementIndex(song, "full"), -1);
    EXPECT_EQ(vantrel::FindArrangementIndex(song, "Full "), -1);
    EXPECT_EQ(vantrel::FindArrangementIndex(song, ""), -1);
}
