#include <gtest/gtest.h>

#include <random>

#include "common/TestSongs.h"
#include "song/SongFileReader.h"

using namespace testutil;

TEST(SongFileReader, BufferedReadsMatchTheFileAtEveryPosition)
{
    std::string bytes(200 * 1024 + 17, '\0');
    std::mt19937 rng(7);
    for (char& c : bytes)
        c = static_cast<char>(rng());
    const std::string path = TempPath("reader.bin");
    WriteBytes(path, bytes);

    CSongFileReader r;
    ASSERT_TRUE(r.Open(path));
    EXPECT_EQ(r.GetLength(), static_cast<int64_t>(bytes.size()));
    std::vector<char> buf(150 * 1024);
    int64_t pos = 0;
    for (int i = 0; i < 2000; ++i) {
        switch (rng() % 4) {
        case 0:
            pos = r.Seek(static_cast<int64_t>(rng() % (bytes.size() + 100)), CFile::begin);
            break;
        case 1: {
            const int64_t back = static_cast<int64_t>(rng() % 5000);
            if (pos >= back)
                pos = r.Seek(-back, CFile::current);
            break;
        }
        default: {
            // Mostly small reads, sometimes one larger than the buffer.
            const uint32_t n = rng() % 10 == 0 ? 70000 + rng() % 80000 : rng() % 300;
            const uint32_t got = r.Read(buf.data(), n);
            const int64_t expect = std::max<int64_t>(0, std::min<int64_t>(n, static_cast<int64_t>(bytes.size()) - pos));
            ASSERT_EQ(got, expect) << "at " << pos;
            ASSERT_EQ(std::string(buf.data(), got), bytes.substr(static_cast<size_t>(std::min<int64_t>(pos, bytes.size())), got));
            pos += got;
        }
        }
        ASSERT_EQ(r.GetPosition(), pos);
    }
    EXPECT_THROW(r.Seek(-1, CFile::begin), CFileException);
    r.Seek(-4, CFile::end);
    EXPECT_EQ(r.Remaining(), 4);
    EXPECT_THROW(r.Skip(5), CFileException);
    r.Close();
    EXPECT_THROW(r.Read(buf.data(), 1), CFileException);
    EXPECT_FALSE(r.Open(TempPath("no-such-file")));
    EXPECT_THROW(r.Seek(0, CFile::begin), CFileException);
}
