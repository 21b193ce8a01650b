// A song image in memory reads as the same bytes on disk do: positions, short reads at
// the end, seeks before the start refused, and a load through the loader.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "common/TestSongs.h"
#include "platform/File.h"
#include "song/SongDocument.h"
#include "song/SongWriter.h"

using testutil::TempPath;
using testutil::WriteBytes;

namespace {
std::string Bytes()
{
    std::string s;
    for (int i = 0; i < 1000; ++i)
        s += static_cast<char>(i * 7);
    return s;
}
} // namespace

TEST(MemoryFile, ReadsAndSeeksLikeTheFileOnDisk)
{
    const std::string bytes = Bytes();
    const std::string path = TempPath("memory-file.bin");
    WriteBytes(path, bytes);
    CFile disk, memory;
    ASSERT_TRUE(disk.Open(path));
    ASSERT_TRUE(memory.Open(CFileSource(std::make_shared<const std::string>(bytes), "image")));
    EXPECT_EQ(memory.GetFilePath(), "image");
    EXPECT_EQ(memory.GetLength(), disk.GetLength());
    struct Step
    {
        int64_t offset;
        CFile::SeekPosition from;
        uint32_t read;
    };
    const Step steps[] = {{10, CFile::begin, 5},    {-3, CFile::current, 100}, {-1, CFile::end, 8},
                          {200, CFile::end, 4},     {0, CFile::begin, 1000},  {500, CFile::begin, 0},
                          {-500, CFile::current, 600}, {999, CFile::begin, 2}};
    for (const Step& s : steps) {
        EXPECT_EQ(memory.Seek(s.offset, s.from), disk.Seek(s.offset, s.from));
        std::string a(s.read, '\0'), b(s.read, '\0');
        const uint32_t gotMemory = memory.Read(&a[0], s.read);
        const uint32_t gotDisk = disk.Read(&b[0], s.read);
        EXPECT_EQ(gotMemory, gotDisk);
        EXPECT_EQ(a, b);
        EXPECT_EQ(memory.GetPosition(), disk.GetPosition());
    }
    EXPECT_THROW(memory.Seek(-1, CFile::begin), CFileException);
    EXPECT_THROW(memory.Seek(-1001, CFile::end), CFileException);
    memory.Close();
    EXPECT_FALSE(memory.IsOpen());
    EXPECT_THROW(memory.Read(nullptr, 1), CFileException);
}

TEST(MemoryFile, TheLoaderReadsAnImageAsItReadsTheFile)
{
    const std::unique_ptr<CSong> song = testutil::MakeSampleSong();
    const std::string image = CSongWriter::Serialize(*song, testutil::SampleClipData(*song));
    const std::string path = TempPath("memory-song.vn");
    WriteBytes(path, image);
    CSongDocument fromDisk, fromMemory;
    ASSERT_EQ(fromDisk.Load(path), 1);
    ASSERT_EQ(fromMemory.Load(CFileSource(std::make_shared<const std::string>(image), "song")), 1);
    EXPECT_EQ(fromMemory.GetSong()->GetTitle(), fromDisk.GetSong()->GetTitle());
    EXPECT_EQ(fromMemory.GetFormatId(), fromDisk.GetFormatId());
    ASSERT_EQ(fromMemory.GetSong()->GetClipCount(), fromDisk.GetSong()->GetClipCount());
    for (int i = 0; i < fromDisk.GetSong()->GetClipCount(); ++i) {
        const CClip* a = fromDisk.GetSong()->GetClip(i);
        const CClip* b = fromMemory.GetSong()->GetClip(i);
        ASSERT_EQ(a == nullptr, b == nullptr);
        if (a) {
            EXPECT_EQ(b->m_nDataOffset, a->m_nDataOffset);
            EXPECT_EQ(b->m_nDataSize, a->m_nDataSize);
        }
    }
    // Damaged images fail as damaged files do.
    const std::string cut = image.substr(0, image.size() / 2);
    CSongDocument damaged;
    EXPECT_EQ(damaged.Load(CFileSource(std::make_shared<const std::string>(cut), "cut")), ERR_BAD_FILE);
    EXPECT_EQ(damaged.GetLastError(), "File is not a VNF or is corrupted.");
}
