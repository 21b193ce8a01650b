// The generator, the scaling of draws and the pick among candidates.
#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "arrange/Random.h"
#include "arrange/Reference.h"
#include "song/SongDocument.h"

using vantrel::DrawRandom;
using vantrel::ScaleDraw;

namespace {
std::vector<int> Thresholds(int n)
{
    std::vector<int> t;
    for (int j = 0; j < n; ++j)
        t.push_back(j * (10000 / n));
    return t;
}

// The index PickIndex gives, or -1 when it gives none.
int Pick(int n, int v)
{
    int index = -7;
    if (!CSongDocument::PickIndex(n, Thresholds(n), v, index))
        return -1;
    return index;
}
} // namespace

TEST(Random, EachThreadStartsAtOneAndIsNeverSeeded)
{
    // A thread that has not drawn yet: the known start of the sequence.
    std::vector<int> first;
    std::thread([&] {
        for (int i = 0; i < 5; ++i)
            first.push_back(DrawRandom());
    }).join();
    EXPECT_EQ(first, (std::vector<int>{41, 18467, 6334, 26500, 19169}));

    // Threads do not share a state: drawing here does not move another thread's.
    vantrel::SetRandomState(1);
    DrawRandom();
    DrawRandom();
    int other = -1;
    std::thread([&] { other = DrawRandom(); }).join();
    EXPECT_EQ(other, 41);
    EXPECT_EQ(DrawRandom(), 6334);

    // Long run against the reference, across the 32-bit wrap of the state.
    reftest::Lcg ref{0xFFFFFFF0u};
    vantrel::SetRandomState(ref.x);
    for (int i = 0; i < 100000; ++i)
        ASSERT_EQ(DrawRandom(), ref.Next()) << "draw " << i;
    EXPECT_EQ(vantrel::GetRandomState(), ref.x);
}

TEST(Random, ScaleCoversZeroToTenThousand)
{
    for (int r = 0; r <= 3; ++r)
        EXPECT_EQ(ScaleDraw(r), 0) << r;
    EXPECT_EQ(ScaleDraw(4), 1);
    EXPECT_EQ(ScaleDraw(41), 12);
    EXPECT_EQ(ScaleDraw(26500), 8087);
    EXPECT_EQ(ScaleDraw(32767), 10000);
    for (int r = 0; r <= 32767; ++r)
        ASSERT_EQ(ScaleDraw(r), reftest::Scale(r)) << "draw " << r;
}

TEST(PickIndex, ThresholdBoundariesGoToTheLowerIndex)
{
    EXPECT_EQ(Pick(2, 0), -1);
    EXPECT_EQ(Pick(2, 1), 0);
    EXPECT_EQ(Pick(2, 5000), 0);
    EXPECT_EQ(Pick(2, 5001), 1);
    EXPECT_EQ(Pick(2, 10000), 1);

    EXPECT_EQ(Pick(3, 3333), 0);
    EXPECT_EQ(Pick(3, 3334), 1);
    EXPECT_EQ(Pick(3, 6666), 1);
    EXPECT_EQ(Pick(3, 6667), 2);
    EXPECT_EQ(Pick(3, 10000), 2);

    // One candidate: any positive value takes it, 0 gives nothing.
    EXPECT_EQ(Pick(1, 0), -1);
    EXPECT_EQ(Pick(1, 1), 0);

    // Signed comparison: a negative value gives nothing either.
    EXPECT_EQ(Pick(2, -1), -1);

    // No result leaves the index as it was.
    int index = 42;
    EXPECT_FALSE(CSongDocument::PickIndex(3, Thresholds(3), 0, index));
    EXPECT_EQ(index, 42);

    for (int n = 1; n <= 127; ++n)
        for (int v = 0; v <= 10000; ++v)
            ASSERT_EQ(Pick(n, v), reftest::Pick(n, v)) << "n " << n << " v " << v;
}

TEST(PickIndex, ShareOfAllDraws)
{
    auto shares = [](int n) {
        std::vector<int> count(static_cast<size_t>(n) + 1, 0); // last: no result
        for (int r = 0; r <= 32767; ++r) {
            const int j = Pick(n, ScaleDraw(r));
            ++count[j < 0 ? static_cast<size_t>(n) : static_cast<size_t>(j)];
        }
        return count;
    };
    EXPECT_EQ(shares(2), (std::vector<int>{16383, 16381, 4}));
    EXPECT_EQ(shares(3), (std::vector<int>{10921, 10921, 10922, 4}));
}
