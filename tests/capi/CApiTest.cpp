// The C interface: against the engine's own player (the tool's way of rendering
// performance N), from paths and from memory, with any render size, both seeks, every
// truncation of a song, and every call with arguments it must refuse.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include <sys/stat.h>

#include "common/TestSongs.h"
#include "player/SongPlayer.h"
#include "song/SongDocument.h"
#include "song/SongWriter.h"
#include "vantrel/vantrel.h"

using namespace testutil;

namespace {

std::string ReadClip(const std::string& name)
{
    return ReadBytes(std::string(VANTREL_SOURCE_DIR) + "/tests/data/clips/" + name);
}

// Two arrangements over three sections with real MPEG clips; clips overlap entry ends
// and start inside blocks, so a seek that skipped rendering would show.
std::string MakeSongImage()
{
    CSong song("C API Song");
    song.SetAuthor("An Author");
    song.SetPublisher("A Publisher");
    song.SetGenre("Test");
    song.SetCopyright("(c) nobody");
    CClip* stereo = AddClip(song, "stereo", 2);
    CClip* mono = AddClip(song, "mono", 2);
    CSection* a = AddSection(song, "A");
    CSection* b = AddSection(song, "B");
    CSection* c = AddSection(song, "C");
    for (int i = 0; i < 3; ++i) {
        CVariation* v = AddVariation(*a, "a" + std::to_string(i), 300 + 97 * i);
        AddEvent(*AddTrack(*v, "t0"), stereo, 13 * i, 400);
        AddEvent(*AddTrack(*v, "t1"), mono, 101, 250);
    }
    for (int i = 0; i < 2; ++i) {
        CVariation* v = AddVariation(*b, "b" + std::to_string(i), 211 + 50 * i);
        CTrack* t = AddTrack(*v, "t0");
        AddEvent(*t, mono, 0, 300);
        AddEvent(*t, stereo, 77, 500);
    }
    CVariation* cv = AddVariation(*c, "c", 503);
    AddEvent(*AddTrack(*cv, "t0"), stereo, 250, 600);
    AddArrangement(song, "Long", {a, b, c, a});
    AddArrangement(song, "Short", {c, b});
    return CSongWriter::Serialize(song, {ReadClip("stereo44k.mp3"), ReadClip("mono44k.mp3")});
}

const std::string& SongImage()
{
    static const std::string image = MakeSongImage();
    return image;
}

const std::string& SongPath()
{
    static const std::string path = [] {
        const std::string p = TempPath("capi.vn");
        WriteBytes(p, SongImage());
        return p;
    }();
    return path;
}

// The player's blocks, as the tool writes them: every block up to and including the
// one whose RenderBlock reports the end, or `limit` blocks.
std::vector<int16_t> RenderBlocks(CSongPlayer& player, int limit = -1)
{
    std::vector<int16_t> pcm;
    std::vector<char> block(CSongPlayer::kBlockBytes);
    for (int calls = 0; calls != limit; ++calls) {
        const bool more = player.RenderBlock(block.data(), CSongPlayer::kBlockBytes);
        const size_t at = pcm.size();
        pcm.resize(at + block.size() / 2);
        std::memcpy(pcm.data() + at, block.data(), block.size());
        if (!more)
            break;
    }
    return pcm;
}

// Performance `number` as the tool renders it: the number-th Open/Prepare/Close of a
// player on a thread that has not drawn yet, every block of it.
std::vector<int16_t> PlayerRender(const std::string& path, int number)
{
    std::vector<int16_t> pcm;
    std::thread([&] {
        CSongPlayer player;
        for (int i = 1; i < number; ++i) {
            player.Open(path);
            player.Prepare();
            player.Close();
        }
        player.Open(path);
        player.Prepare();
        pcm = RenderBlocks(player);
    }).join();
    return pcm;
}

// Everything from the song's position on, in calls of the given frame counts (cycled).
std::vector<int16_t> RenderRest(vantrel_song* song, const std::vector<size_t>& sizes)
{
    std::vector<int16_t> pcm;
    for (size_t i = 0;; ++i) {
        const size_t count = sizes[i % sizes.size()];
        std::vector<int16_t> buf(count * 2 + 2, 0x5555);
        const long n = vantrel_song_render(song, buf.data(), count);
        EXPECT_GE(n, 0) << vantrel_get_last_error();
        if (n < 0)
            break;
        EXPECT_LE(static_cast<size_t>(n), count);
        EXPECT_EQ(buf[count * 2], 0x5555) << "wrote past the frames asked for";
        pcm.insert(pcm.end(), buf.begin(), buf.begin() + n * 2);
        if (static_cast<size_t>(n) < count) {
            EXPECT_EQ(vantrel_song_at_end(song), 1);
            EXPECT_EQ(vantrel_song_render(song, buf.data(), count), 0) << "the end stays the end";
            break;
        }
    }
    return pcm;
}

struct SongHandle
{
    vantrel_song* p = nullptr;
    ~SongHandle() { vantrel_song_close(p); }
};

} // namespace

TEST(CApi, PerformanceNIsTheToolsPerformanceNFromPathOrMemoryInAnyCallSize)
{
    for (int number : {1, 2, 3, 7}) {
        const std::vector<int16_t> expected = PlayerRender(SongPath(), number);
        ASSERT_GT(expected.size(), 4608u);
        ASSERT_TRUE(std::any_of(expected.begin(), expected.end(), [](int16_t v) { return v != 0; }))
            << "the clips should sound";
        SongHandle file, memory;
        ASSERT_EQ(vantrel_song_open_file(SongPath().c_str(), &file.p), VANTREL_OK);
        ASSERT_EQ(vantrel_song_open_memory(SongImage().data(), SongImage().size(), &memory.p), VANTREL_OK);
        // The memory handle decodes every clip start (the file handle keeps the default,
        // the cache).
        ASSERT_EQ(vantrel_song_set_option(memory.p, "clip-source", "direct"), VANTREL_OK);
        ASSERT_EQ(vantrel_song_prepare(file.p, number, nullptr), VANTREL_OK);
        ASSERT_EQ(vantrel_song_prepare(memory.p, number, nullptr), VANTREL_OK);
        EXPECT_EQ(RenderRest(file.p, {1152}), expected) << "performance " << number;
        EXPECT_EQ(RenderRest(memory.p, {1, 7, 1153, 4096, 333}), expected) << "performance " << number;
        // Preparing again starts the same performance afresh.
        ASSERT_EQ(vantrel_song_prepare(memory.p, number, nullptr), VANTREL_OK);
        EXPECT_EQ(RenderRest(memory.p, {100000}), expected) << "performance " << number;
        // The cache again, now filled: it changes nothing in the PCM.
        ASSERT_EQ(vantrel_song_prepare(file.p, number, nullptr), VANTREL_OK);
        EXPECT_EQ(RenderRest(file.p, {4608}), expected) << "performance " << number << " cached";
        ASSERT_EQ(vantrel_song_seek_ms(file.p, 350), VANTREL_OK);
        const std::vector<int16_t> tail = RenderRest(file.p, {999});
        EXPECT_TRUE(tail.size() == expected.size() - 350 * 441 / 10 * 2 &&
                    std::equal(tail.begin(), tail.end(), expected.begin() + 350 * 441 / 10 * 2))
            << "performance " << number << " cached, after an exact seek";
    }
}

TEST(CApi, DescribesTheSongAndThePreparedPerformance)
{
    SongHandle song;
    ASSERT_EQ(vantrel_song_open_memory(SongImage().data(), SongImage().size(), &song.p), VANTREL_OK);
    char text[64];
    size_t length = 0;
    ASSERT_EQ(vantrel_song_get_text(song.p, VANTREL_TEXT_TITLE, text, sizeof text, &length), VANTREL_OK);
    EXPECT_STREQ(text, "C API Song");
    EXPECT_EQ(length, 10u);
    ASSERT_EQ(vantrel_song_get_text(song.p, VANTREL_TEXT_COPYRIGHT, text, 4, &length), VANTREL_OK);
    EXPECT_STREQ(text, "(c)") << "truncated and terminated";
    EXPECT_EQ(length, 10u);
    EXPECT_EQ(vantrel_song_get_text(song.p, VANTREL_TEXT_GENRE, nullptr, 0, &length), VANTREL_OK);
    EXPECT_EQ(length, 4u);

    uint64_t size = 0;
    ASSERT_EQ(vantrel_song_get_file_size(song.p, &size), VANTREL_OK);
    EXPECT_EQ(size, SongImage().size());
    int arrangements = 0, sections = 0, clips = 0;
    ASSERT_EQ(vantrel_song_get_counts(song.p, &arrangements, &sections, &clips), VANTREL_OK);
    EXPECT_EQ(arrangements, 2);
    EXPECT_EQ(sections, 3);
    EXPECT_EQ(clips, 2);
    int count = 0, section = -1;
    ASSERT_EQ(vantrel_song_get_arrangement(song.p, 1, text, sizeof text, nullptr, &count), VANTREL_OK);
    EXPECT_STREQ(text, "Short");
    EXPECT_EQ(count, 2);
    ASSERT_EQ(vantrel_song_get_arrangement_section(song.p, 1, 1, &section), VANTREL_OK);
    EXPECT_EQ(section, 1);
    ASSERT_EQ(vantrel_song_get_section(song.p, 0, text, sizeof text, nullptr, &count), VANTREL_OK);
    EXPECT_STREQ(text, "A");
    EXPECT_EQ(count, 3);
    int32_t ms = 0;
    int tracks = 0;
    ASSERT_EQ(vantrel_song_get_variation(song.p, 0, 2, text, sizeof text, nullptr, &ms, &tracks), VANTREL_OK);
    EXPECT_STREQ(text, "a2");
    EXPECT_EQ(ms, 300 + 2 * 97);
    EXPECT_EQ(tracks, 2);
    int kind = -1;
    int32_t dataSize = 0;
    ASSERT_EQ(vantrel_song_get_clip(song.p, 1, &kind, &dataSize), VANTREL_OK);
    EXPECT_EQ(kind, VANTREL_CLIP_MP3);
    EXPECT_EQ(dataSize, static_cast<int32_t>(ReadClip("mono44k.mp3").size()));

    // The entries add up to the length, and their starts follow one another.
    for (const char* name : {"Long", "Short"}) {
        ASSERT_EQ(vantrel_song_prepare(song.p, 1, name), VANTREL_OK) << name;
        int number = 0, arrangement = -1, entries = 0;
        int32_t total = 0;
        ASSERT_EQ(vantrel_song_get_performance(song.p, &number, &arrangement, &total, &entries), VANTREL_OK);
        EXPECT_EQ(arrangement, std::strcmp(name, "Long") == 0 ? 0 : 1);
        EXPECT_EQ(entries, std::strcmp(name, "Long") == 0 ? 4 : 2);
        int32_t next = 0;
        for (int e = 0; e < entries; ++e) {
            int s = -1, v = -1;
            int32_t start = -1, len = -1;
            ASSERT_EQ(vantrel_song_get_entry(song.p, e, &s, &v, &start, &len), VANTREL_OK);
            EXPECT_EQ(start, next);
            int32_t variationMs = 0;
            ASSERT_EQ(vantrel_song_get_variation(song.p, s, v, nullptr, 0, nullptr, &variationMs, nullptr), VANTREL_OK);
            EXPECT_EQ(len, variationMs);
            next += len;
        }
        EXPECT_EQ(next, total);
        // The number found is a performance in its own right.
        SongHandle again;
        ASSERT_EQ(vantrel_song_open_file(SongPath().c_str(), &again.p), VANTREL_OK);
        ASSERT_EQ(vantrel_song_prepare(again.p, number, nullptr), VANTREL_OK);
        int againArrangement = -1;
        ASSERT_EQ(vantrel_song_get_performance(again.p, nullptr, &againArrangement, nullptr, nullptr), VANTREL_OK);
        EXPECT_EQ(againArrangement, arrangement);
        EXPECT_EQ(RenderRest(again.p, {4096}), PlayerRender(SongPath(), number));
    }
}

TEST(CApi, ExactSeeksGiveTheSamplesOfAPlainRender)
{
    SongHandle song;
    ASSERT_EQ(vantrel_song_open_memory(SongImage().data(), SongImage().size(), &song.p), VANTREL_OK);
    ASSERT_EQ(vantrel_song_prepare(song.p, 2, nullptr), VANTREL_OK);
    const std::vector<int16_t> plain = RenderRest(song.p, {4608});
    const int64_t frames = static_cast<int64_t>(plain.size() / 2);
    std::mt19937 random(12345);
    std::uniform_int_distribution<int64_t> anyMs(0, frames * 10 / 441 + 50);
    std::vector<int64_t> times = {0, 1, 26, 27, frames * 10 / 441, frames * 10 / 441 + 1000};
    for (int i = 0; i < 25; ++i)
        times.push_back(anyMs(random));
    for (int64_t ms : times) {
        // Backwards, forwards, after a host seek, after the end: always the same frames.
        ASSERT_EQ(vantrel_song_seek_ms(song.p, ms), VANTREL_OK) << ms;
        const int64_t at = std::min<int64_t>(ms * 441 / 10, frames);
        int64_t told = -1;
        ASSERT_EQ(vantrel_song_tell(song.p, &told), VANTREL_OK);
        EXPECT_EQ(told, at);
        const std::vector<int16_t> rest = RenderRest(song.p, {997});
        EXPECT_TRUE(std::equal(rest.begin(), rest.end(), plain.begin() + at * 2) &&
                    rest.size() == plain.size() - static_cast<size_t>(at) * 2)
            << "after a seek to " << ms << " ms";
        if (ms % 3 == 0) {
            ASSERT_EQ(vantrel_song_seek_percent(song.p, 50, nullptr), VANTREL_OK);
        }
    }
}

TEST(CApi, HostSeekResumesAtTheEntryAsThePlayerDoes)
{
    // The player's own Seek between blocks, as the tool's render --seek does it.
    std::vector<int16_t> expected;
    int32_t expectedStart = -1;
    std::thread([&] {
        CSongPlayer player;
        player.Open(SongPath());
        player.Prepare();
        expected = RenderBlocks(player, 5);
        expectedStart = player.Seek(60);
        const std::vector<int16_t> rest = RenderBlocks(player);
        expected.insert(expected.end(), rest.begin(), rest.end());
    }).join();
    SongHandle song;
    ASSERT_EQ(vantrel_song_open_file(SongPath().c_str(), &song.p), VANTREL_OK);
    ASSERT_EQ(vantrel_song_prepare(song.p, 1, nullptr), VANTREL_OK);
    std::vector<int16_t> got(5 * 1152 * 2);
    ASSERT_EQ(vantrel_song_render(song.p, got.data(), 5 * 1152), 5 * 1152);
    int32_t start = -1;
    ASSERT_EQ(vantrel_song_seek_percent(song.p, 60, &start), VANTREL_OK);
    EXPECT_EQ(start, expectedStart);
    const std::vector<int16_t> rest = RenderRest(song.p, {500});
    got.insert(got.end(), rest.begin(), rest.end());
    EXPECT_EQ(got, expected);
}

TEST(CApi, EveryTruncationOfASongFromMemoryFailsCleanlyOrPlays)
{
    // Bytes after the last chunk are not the song's (a tag appended by some program,
    // say): a cut among them leaves the whole song, which plays as it does uncut. A cut
    // into the song itself fails cleanly: a song is whole only with all its clip data.
    // (The clip stops playing well before its data ends: a clip that plays up to the
    // end of the file would read on into whatever follows, as the player does.)
    CSong shortClips("Short clips");
    CClip* clip = AddClip(shortClips, "stereo", 2);
    CSection* section = AddSection(shortClips, "S");
    for (int i = 0; i < 2; ++i) {
        CVariation* v = AddVariation(*section, "v" + std::to_string(i), 150 + 40 * i);
        AddEvent(*AddTrack(*v, "t0"), clip, 0, 60);
        AddEvent(*AddTrack(*v, "t1"), clip, 17 * i, 45);
    }
    AddArrangement(shortClips, "Main", {section, section});
    const std::string whole = CSongWriter::Serialize(shortClips, {ReadClip("stereo44k.mp3")});
    const std::string image = whole + std::string(24, 'T');
    SongHandle uncut;
    ASSERT_EQ(vantrel_song_open_memory(whole.data(), whole.size(), &uncut.p), VANTREL_OK);
    ASSERT_EQ(vantrel_song_prepare(uncut.p, 1, nullptr), VANTREL_OK);
    const std::vector<int16_t> expected = RenderRest(uncut.p, {4000});
    ASSERT_TRUE(std::any_of(expected.begin(), expected.end(), [](int16_t v) { return v != 0; }));
    size_t refused = 0, played = 0;
    for (size_t size = 1; size < image.size(); ++size) {
        SongHandle song;
        const int r = vantrel_song_open_memory(image.data(), size, &song.p);
        if (r != VANTREL_OK) {
            ASSERT_EQ(r, VANTREL_ERR_BAD_FILE) << size;
            ASSERT_EQ(song.p, nullptr);
            ASSERT_NE(std::strstr(vantrel_get_last_error(), "File is not a VNF or is corrupted."), nullptr);
            ASSERT_LT(size, whole.size()) << "the whole song with part of what follows it was refused";
            ++refused;
            continue;
        }
        ASSERT_GE(size, whole.size()) << "a song cut at " << size << " bytes loaded";
        ASSERT_EQ(vantrel_song_prepare(song.p, 1, nullptr), VANTREL_OK) << size;
        EXPECT_EQ(RenderRest(song.p, {4000}), expected) << size;
        ++played;
    }
    EXPECT_EQ(refused, whole.size() - 1);
    EXPECT_EQ(played, image.size() - whole.size());
}

TEST(CApi, DamagedBytesFromMemoryNeverCrash)
{
    // Even rounds damage the song's structure (everything before the first clip's
    // data): some of those songs are refused, others load and play what is left.
    // Odd rounds damage only clip data, which leaves a song that loads and plays
    // whatever the decoder makes of the damaged frames.
    const std::string& image = SongImage();
    CSongDocument doc;
    ASSERT_EQ(doc.Load(CFileSource(std::make_shared<const std::string>(image), "capi.vn")), 1);
    std::vector<std::pair<size_t, size_t>> clipData; // offset, size
    for (int c = 0; c < doc.GetSong()->GetClipCount(); ++c) {
        const CClip* clip = doc.GetSong()->GetClip(c);
        clipData.emplace_back(static_cast<size_t>(clip->m_nDataOffset), static_cast<size_t>(clip->m_nDataSize));
    }
    ASSERT_EQ(clipData.size(), 2u);
    const size_t structureEnd = std::min(clipData[0].first, clipData[1].first);

    std::mt19937 random(99);
    std::vector<int16_t> buf(4608 * 2);
    int refused = 0, loaded = 0, rendered = 0, dataRounds = 0;
    for (int round = 0; round < 300; ++round) {
        const bool inData = round % 2 == 1;
        std::string damaged = image;
        for (int k = 0; k < 4; ++k) {
            size_t at = random() % structureEnd;
            if (inData) {
                const auto& clip = clipData[random() % clipData.size()];
                at = clip.first + random() % clip.second;
            }
            damaged[at] = static_cast<char>(damaged[at] ^ static_cast<char>(1 + random() % 255));
        }
        dataRounds += inData;
        vantrel_song* song = nullptr;
        const int r = vantrel_song_open_memory(damaged.data(), damaged.size(), &song);
        if (r != VANTREL_OK) {
            ASSERT_FALSE(inData) << "round " << round << ": damaged clip data made the song unreadable";
            ASSERT_EQ(r, VANTREL_ERR_BAD_FILE) << "round " << round;
            ASSERT_EQ(song, nullptr);
            ++refused;
            continue;
        }
        ++loaded;
        const int prepared = vantrel_song_prepare(song, 1 + round % 3, nullptr);
        if (inData) {
            EXPECT_EQ(prepared, VANTREL_OK) << "round " << round << ": " << vantrel_get_last_error();
        }
        if (prepared == VANTREL_OK) {
            long n = 0;
            for (int i = 0; i < 400 && (n = vantrel_song_render(song, buf.data(), 4608)) == 4608; ++i) {
            }
            EXPECT_GE(n, 0) << "round " << round << ": " << vantrel_get_last_error();
            ++rendered;
            EXPECT_EQ(vantrel_song_seek_ms(song, 300), VANTREL_OK) << "round " << round;
            EXPECT_EQ(vantrel_song_seek_percent(song, 40, nullptr), VANTREL_OK) << "round " << round;
            EXPECT_GE(vantrel_song_render(song, buf.data(), 4608), 0) << "round " << round;
        }
        vantrel_song_close(song);
    }
    // Both outcomes occur: refused songs, and songs that loaded and rendered (every
    // round that damaged clip data among them).
    const std::string counts = std::to_string(refused) + " refused, " + std::to_string(loaded) + " loaded, " +
                               std::to_string(rendered) + " rendered";
    EXPECT_GT(refused, 0) << counts;
    EXPECT_EQ(loaded + refused, 300) << counts;
    EXPECT_GT(rendered, dataRounds) << counts;
}

TEST(CApi, OpeningPathsThatAreNoSongs)
{
    vantrel_song* song = reinterpret_cast<vantrel_song*>(1);
    EXPECT_EQ(vantrel_song_open_file("/nonexistent/dir/song.vn", &song), VANTREL_ERR_CANNOT_OPEN);
    EXPECT_EQ(song, nullptr);
    EXPECT_NE(std::string(vantrel_get_last_error()).find("No such file or directory"), std::string::npos)
        << vantrel_get_last_error();
    EXPECT_EQ(vantrel_song_open_file(VANTREL_SOURCE_DIR, &song), VANTREL_ERR_CANNOT_OPEN);
    EXPECT_NE(std::string(vantrel_get_last_error()).find("directory"), std::string::npos);
    // A FIFO would block an open until someone writes to it.
    const std::string fifo = TempPath("capi-fifo.vn");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    EXPECT_EQ(vantrel_song_open_file(fifo.c_str(), &song), VANTREL_ERR_CANNOT_OPEN);
    EXPECT_NE(std::string(vantrel_get_last_error()).find("not a regular file"), std::string::npos);
    const std::string junk = TempPath("capi-junk.vn");
    WriteBytes(junk, "this is not a song at all");
    EXPECT_EQ(vantrel_song_open_file(junk.c_str(), &song), VANTREL_ERR_BAD_FILE);
    EXPECT_EQ(std::string(vantrel_get_last_error()), junk + ": File is not a VNF or is corrupted.");
    EXPECT_STREQ(vantrel_strerror(VANTREL_ERR_BAD_FILE), "File is not a VNF or is corrupted.");
}

TEST(CApi, EveryCallRefusesBadArgumentsAndCallsOutOfOrder)
{
    char text[8];
    size_t length = 0;
    int n = 0;
    int32_t ms = 0;
    int64_t frame = 0;
    uint64_t size = 0;
    int16_t frames[8];
    vantrel_song* out = nullptr;
    const int bad = VANTREL_ERR_INVALID_ARGUMENT;
    EXPECT_EQ(vantrel_song_open_file(nullptr, &out), bad);
    EXPECT_EQ(vantrel_song_open_file(SongPath().c_str(), nullptr), bad);
    EXPECT_EQ(vantrel_song_open_memory(nullptr, 10, &out), bad);
    EXPECT_EQ(vantrel_song_open_memory(SongImage().data(), 0, &out), bad);
    EXPECT_EQ(vantrel_song_open_memory(SongImage().data(), static_cast<size_t>(-1), &out), bad);
    EXPECT_EQ(vantrel_song_open_memory(SongImage().data(), SongImage().size(), nullptr), bad);
    vantrel_song_close(nullptr);
    EXPECT_EQ(vantrel_song_set_option(nullptr, "decoder", ""), bad);
    EXPECT_EQ(vantrel_song_get_text(nullptr, VANTREL_TEXT_TITLE, text, sizeof text, &length), bad);
    EXPECT_EQ(vantrel_song_get_file_size(nullptr, &size), bad);
    EXPECT_EQ(vantrel_song_get_counts(nullptr, &n, &n, &n), bad);
    EXPECT_EQ(vantrel_song_get_arrangement(nullptr, 0, text, sizeof text, &length, &n), bad);
    EXPECT_EQ(vantrel_song_get_arrangement_section(nullptr, 0, 0, &n), bad);
    EXPECT_EQ(vantrel_song_get_section(nullptr, 0, text, sizeof text, &length, &n), bad);
    EXPECT_EQ(vantrel_song_get_variation(nullptr, 0, 0, text, sizeof text, &length, &ms, &n), bad);
    EXPECT_EQ(vantrel_song_get_clip(nullptr, 0, &n, &ms), bad);
    EXPECT_EQ(vantrel_song_prepare(nullptr, 1, nullptr), bad);
    EXPECT_EQ(vantrel_song_prepare_index(nullptr, 1, -1), bad);
    EXPECT_EQ(vantrel_song_get_performance(nullptr, &n, &n, &ms, &n), bad);
    EXPECT_EQ(vantrel_song_get_entry(nullptr, 0, &n, &n, &ms, &ms), bad);
    EXPECT_EQ(vantrel_song_render(nullptr, frames, 2), bad);
    EXPECT_EQ(vantrel_song_render_bytes(nullptr, frames, 8), bad);
    EXPECT_EQ(vantrel_song_at_end(nullptr), bad);
    EXPECT_EQ(vantrel_song_seek_percent(nullptr, 10, &ms), bad);
    EXPECT_EQ(vantrel_song_seek_ms(nullptr, 10), bad);
    EXPECT_EQ(vantrel_song_tell(nullptr, &frame), bad);

    SongHandle song;
    ASSERT_EQ(vantrel_song_open_memory(SongImage().data(), SongImage().size(), &song.p), VANTREL_OK);
    // Before a performance is prepared.
    const int order = VANTREL_ERR_NOT_PREPARED;
    EXPECT_EQ(vantrel_song_render(song.p, frames, 2), order);
    EXPECT_EQ(vantrel_song_seek_ms(song.p, 0), order);
    EXPECT_EQ(vantrel_song_seek_percent(song.p, 0, nullptr), order);
    EXPECT_EQ(vantrel_song_get_performance(song.p, &n, nullptr, nullptr, nullptr), order);
    EXPECT_EQ(vantrel_song_at_end(song.p), order);
    // Indices and sizes.
    EXPECT_EQ(vantrel_song_get_text(song.p, 5, text, sizeof text, &length), bad);
    EXPECT_EQ(vantrel_song_get_text(song.p, -1, text, sizeof text, &length), bad);
    EXPECT_EQ(vantrel_song_get_text(song.p, VANTREL_TEXT_TITLE, nullptr, 4, &length), bad);
    EXPECT_EQ(vantrel_song_get_arrangement(song.p, 2, text, sizeof text, &length, &n), bad);
    EXPECT_EQ(vantrel_song_get_arrangement_section(song.p, 0, 4, &n), bad);
    EXPECT_EQ(vantrel_song_get_arrangement_section(song.p, -1, 0, &n), bad);
    EXPECT_EQ(vantrel_song_get_section(song.p, 3, text, sizeof text, &length, &n), bad);
    EXPECT_EQ(vantrel_song_get_variation(song.p, 0, 3, text, sizeof text, &length, &ms, &n), bad);
    EXPECT_EQ(vantrel_song_get_clip(song.p, 2, &n, &ms), bad);
    EXPECT_EQ(vantrel_song_get_file_size(song.p, nullptr), bad);
    EXPECT_EQ(vantrel_song_prepare(song.p, 0, nullptr), bad);
    EXPECT_EQ(vantrel_song_prepare(song.p, -3, nullptr), bad);
    EXPECT_EQ(vantrel_song_prepare(song.p, 1, "No such"), VANTREL_ERR_NO_SUCH_ARRANGEMENT);
    EXPECT_EQ(vantrel_song_prepare_index(song.p, 1, 2), VANTREL_ERR_NO_SUCH_ARRANGEMENT);
    EXPECT_EQ(vantrel_song_prepare_index(song.p, 1, -2), VANTREL_ERR_NO_SUCH_ARRANGEMENT);
    // Options.
    EXPECT_EQ(vantrel_song_set_option(song.p, "speed", "2"), VANTREL_ERR_UNKNOWN_OPTION);
    EXPECT_EQ(vantrel_song_set_option(song.p, "decoder", "no-such-engine"), VANTREL_ERR_BAD_OPTION_VALUE);
    EXPECT_EQ(vantrel_song_set_option(song.p, "clip-source", "elsewhere"), VANTREL_ERR_BAD_OPTION_VALUE);
    for (const char* size : {"", "-1", "+5", "12x", "65537", "99999999999999999999"})
        EXPECT_EQ(vantrel_song_set_option(song.p, "cache-mb", size), VANTREL_ERR_BAD_OPTION_VALUE) << size;
    EXPECT_EQ(vantrel_song_set_option(song.p, "cache-mb", "0"), VANTREL_OK);
    EXPECT_EQ(vantrel_song_set_option(song.p, nullptr, "x"), bad);
    EXPECT_EQ(vantrel_song_set_option(song.p, "decoder", nullptr), bad);
    EXPECT_EQ(vantrel_song_set_option(song.p, "clip-source", "direct"), VANTREL_OK);
    EXPECT_EQ(vantrel_song_set_option(song.p, "decoder", "generic"), VANTREL_OK);

    ASSERT_EQ(vantrel_song_prepare(song.p, 1, nullptr), VANTREL_OK);
    EXPECT_EQ(vantrel_song_render(song.p, nullptr, 2), bad);
    EXPECT_EQ(vantrel_song_render(song.p, frames, static_cast<size_t>(-1)), bad);
    EXPECT_EQ(vantrel_song_render(song.p, frames, 0), 0);
    EXPECT_EQ(vantrel_song_render_bytes(song.p, frames, 6), bad);
    EXPECT_EQ(vantrel_song_render_bytes(song.p, frames, 8), 8);
    EXPECT_EQ(vantrel_song_seek_percent(song.p, 101, nullptr), bad);
    EXPECT_EQ(vantrel_song_seek_percent(song.p, -1, nullptr), bad);
    EXPECT_EQ(vantrel_song_seek_ms(song.p, -1), bad);
    EXPECT_EQ(vantrel_song_get_entry(song.p, 99, &n, &n, &ms, &ms), bad);
    EXPECT_EQ(vantrel_song_tell(song.p, nullptr), bad);
    // The refused calls changed nothing: the position is still two frames in.
    ASSERT_EQ(vantrel_song_tell(song.p, &frame), VANTREL_OK);
    EXPECT_EQ(frame, 2);
    // A name the song lacks is refused before anything changes.
    EXPECT_EQ(vantrel_song_prepare(song.p, 1, "No such"), VANTREL_ERR_NO_SUCH_ARRANGEMENT);
    EXPECT_EQ(vantrel_song_render(song.p, frames, 2), 2);
}

TEST(CApi, SongsThatCannotPlayAndArrangementsNeverDrawn)
{
    CSong song("Quiet");
    CSection* s = AddSection(song, "S");
    AddVariation(*s, "zero", 0);
    CSection* t = AddSection(song, "T");
    AddVariation(*t, "t", 100);
    AddArrangement(song, "Never", {s});
    AddArrangement(song, "Plays", {t});
    const std::string image = CSongWriter::Serialize(song, {});
    SongHandle h;
    ASSERT_EQ(vantrel_song_open_memory(image.data(), image.size(), &h.p), VANTREL_OK);
    EXPECT_EQ(vantrel_song_prepare(h.p, 1, "Never"), VANTREL_ERR_ARRANGEMENT_NOT_DRAWN);
    int16_t frames[4];
    EXPECT_EQ(vantrel_song_render(h.p, frames, 2), VANTREL_ERR_NOT_PREPARED);
    EXPECT_EQ(vantrel_song_prepare(h.p, 1, "Plays"), VANTREL_OK);

    CSong silent("Silent");
    CSection* z = AddSection(silent, "Z");
    AddVariation(*z, "zero", 0);
    AddArrangement(silent, "Only", {z});
    const std::string image2 = CSongWriter::Serialize(silent, {});
    SongHandle h2;
    ASSERT_EQ(vantrel_song_open_memory(image2.data(), image2.size(), &h2.p), VANTREL_OK);
    EXPECT_EQ(vantrel_song_prepare(h2.p, 1, nullptr), VANTREL_ERR_NOTHING_TO_PLAY);
    EXPECT_EQ(vantrel_song_prepare(h2.p, 1, "Only"), VANTREL_ERR_NOTHING_TO_PLAY);
}

TEST(CApi, VersionAndErrorTexts)
{
    EXPECT_STREQ(vantrel_get_version(), "1.0.0.1");
    EXPECT_EQ(vantrel_get_api_version(), VANTREL_API_VERSION);
    for (int code = VANTREL_ERR_INTERNAL; code <= VANTREL_OK; ++code)
        EXPECT_STRNE(vantrel_strerror(code), "unknown error") << code;
    EXPECT_STREQ(vantrel_strerror(-1000), "unknown error");
}
