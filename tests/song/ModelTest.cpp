#include <gtest/gtest.h>

#include "song/Song.h"

TEST(SongModel, AddArrangementRefusesNameInOtherCase)
{
    CSong song("x");
    auto a = std::make_unique<CArrangement>("CHORUS");
    EXPECT_TRUE(song.AddArrangement(a));
    auto b = std::make_unique<CArrangement>("Chorus");
    EXPECT_FALSE(song.AddArrangement(b));
    ASSERT_TRUE(b); // still the caller's
    EXPECT_EQ(song.GetArrangements().size(), 1u);
    EXPECT_EQ(song.GetArrangements()[0]->GetName(), "CHORUS");
}
