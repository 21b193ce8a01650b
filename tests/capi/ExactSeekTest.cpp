// The exact seek against unbroken renders. After vantrel_song_seek_frame(f) (or
// vantrel_song_seek_ms) the frames rendered must be those a render from the start has
// from frame f on, through both clip sources, for the demo song, every seed song of the
// fuzzing corpus and a song made to strain the voices: all twelve busy, clips cut by a
// bad frame and by the end of their data, mono and 22 kHz clips, several entry ends in
// one block, silences longer than the seek's checkpoints are apart. The seek targets
// are the moments where the renderer changes state (found by watching the engine's
// player render), in an order that goes back and forth and repeats itself.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "common/SeedSongs.h"
#include "common/TestClips.h"
#include "common/TestSongs.h"
#include "player/SongPlayer.h"
#include "song/SongWriter.h"
#include "vantrel/vantrel.h"

using namespace testutil;

namespace {

constexpr int64_t kBlockFrames = 1152;

struct SongHandle
{
    vantrel_song* p = nullptr;
    ~SongHandle() { vantrel_song_close(p); }
};

std::string StrainSong()
{
    CSong song("Strain");
    const std::string stereo = ReadTestClip("stereo44k.mp3");
    std::vector<std::string> data = {stereo, ReadTestClip("mono44k.mp3"), ReadTestClip("stereo22k.mp3"),
                                      ReadTestClip("mono44k-long.mp3"), ReadTestClip("stereo22k-long.mp3")};
    // Frame 40 of three clips in a row has no header: the clip is cut there.
    std::string broken = stereo + stereo + stereo;
    broken[FrameOffsets(broken)[40]] = 0;
    data.push_back(broken);
    // Last in the file, so that its data runs out after twelve frames.
    data.push_back(stereo.substr(0, FrameOffsets(stereo)[12]));
    std::vector<CClip*> c;
    for (size_t i = 0; i < data.size(); ++i)
        c.push_back(AddClip(song, "clip" + std::to_string(i), 2));

    CSection* dense = AddSection(song, "Dense");
    CVariation* v = AddVariation(*dense, "all voices", 3000);
    for (int t = 0; t < 5; ++t) {
        CTrack* track = AddTrack(*v, "T" + std::to_string(t));
        for (int e = 0; e < 8; ++e)
            AddEvent(*track, c[static_cast<size_t>((t + e) % 3 == 0 ? 0 : 3 + (t + e) % 2)], 150 * e + 7 * t, 2000);
    }
    std::vector<CSection*> tiny;
    for (int i = 0; i < 5; ++i) {
        tiny.push_back(AddSection(song, "Tiny" + std::to_string(i)));
        CVariation* tv = AddVariation(*tiny.back(), "t", 2 + i);
        AddEvent(*AddTrack(*tv, "T"), c[1], 0, 300);
    }
    CSection* ends = AddSection(song, "Ends");
    v = AddVariation(*ends, "ends", 4000);
    AddEvent(*AddTrack(*v, "broken"), c[5], 0, 3000);
    AddEvent(*AddTrack(*v, "short"), c[6], 100, 2000);
    CTrack* mixed = AddTrack(*v, "mixed");
    AddEvent(*mixed, c[2], -50, 800);
    AddEvent(*mixed, c[1], 900, 400)->m_nPos1 = 417;
    CTrack* exact = AddTrack(*v, "exact");
    for (int e = 0; e < 12; ++e)
        AddEvent(*exact, c[static_cast<size_t>(3 + e % 2)], 1000 + 13 * e, 640);
    CSection* sparse = AddSection(song, "Sparse");
    v = AddVariation(*sparse, "sparse", 15000);
    CTrack* lone = AddTrack(*v, "lone");
    AddEvent(*lone, c[0], 0, 1500);
    AddEvent(*lone, c[1], 11000, 500);
    // Still waiting for its first event when the checkpoint at block 512 is taken.
    AddEvent(*AddTrack(*v, "late"), c[2], 8000, 500);

    std::vector<CSection*> order = {dense};
    order.insert(order.end(), tiny.begin(), tiny.end());
    for (CSection* s : {ends, sparse, dense, ends})
        order.push_back(s);
    AddArrangement(song, "Main", order);
    return CSongWriter::Serialize(song, data, 0x61);
}

std::vector<int16_t> RenderRest(vantrel_song* song, size_t chunk, int64_t maxFrames = INT64_MAX)
{
    std::vector<int16_t> out;
    std::vector<int16_t> buffer(chunk * 2);
    while (static_cast<int64_t>(out.size() / 2) < maxFrames) {
        const long n = vantrel_song_render(song, buffer.data(), chunk);
        EXPECT_GE(n, 0);
        if (n <= 0)
            break;
        out.insert(out.end(), buffer.begin(), buffer.begin() + n * 2);
    }
    if (static_cast<int64_t>(out.size() / 2) > maxFrames)
        out.resize(static_cast<size_t>(maxFrames) * 2);
    return out;
}

// Frames around the blocks where the engine's renderer changes what sounds: a clip
// starts or ends, an overflow voice is busy, all twelve are; entry starts; the
// checkpoints of the seek; the end and beyond; and a few anywhere.
std::vector<int64_t> SeekTargets(vantrel_song* handle, const std::string& bytes, int performance,
                                 int64_t frames, unsigned seed)
{
    std::vector<int64_t> blocks, firsts; // any change; the first overflow and full blocks
    bool overflow = false, full = false;
    {
        CSongPlayer player;
        player.Open(CFileSource(std::make_shared<const std::string>(bytes), "(memory)"));
        player.PreparePerformance(performance);
        std::vector<char> block(CSongPlayer::kBlockBytes);
        std::vector<bool> was(CSongPlayer::kVoiceCount, false);
        for (int32_t b = 0; b * kBlockFrames < frames && player.RenderBlock(block.data(), CSongPlayer::kBlockBytes);
             ++b) {
            int busy = 0;
            bool anyOverflow = false;
            for (int v = 0; v < CSongPlayer::kVoiceCount; ++v) {
                const bool on = player.GetVoice(v).pFile != nullptr && !player.GetVoice(v).bFinished;
                busy += on;
                anyOverflow |= on && v >= CSongPlayer::kTrackVoices;
                if (on != was[static_cast<size_t>(v)] && (blocks.empty() || blocks.back() != b))
                    blocks.push_back(b);
                was[static_cast<size_t>(v)] = on;
            }
            if ((anyOverflow && !overflow) || (busy == CSongPlayer::kVoiceCount && !full))
                firsts.push_back(b);
            if (busy == CSongPlayer::kVoiceCount && !full)
                firsts.push_back(b + 1);
            overflow |= anyOverflow;
            full |= busy == CSongPlayer::kVoiceCount;
        }
    }
    // Some 20 changes spread over the whole performance, each also a few blocks later,
    // well into a clip.
    std::vector<int64_t> targets;
    const size_t step = std::max<size_t>(1, blocks.size() / 20);
    for (size_t i = 0; i < blocks.size(); i += step)
        for (int64_t d : {-1, 0, 1, 577, 7 * 1152 + 5})
            targets.push_back(blocks[i] * kBlockFrames + d);
    for (int64_t b : firsts)
        for (int64_t d : {-1, 0, 1, 577})
            targets.push_back(b * kBlockFrames + d);
    int entries = 0;
    vantrel_song_get_performance(handle, nullptr, nullptr, nullptr, &entries);
    for (int e = 0; e < entries; e += 1 + entries / 8) {
        int32_t startMs = 0;
        vantrel_song_get_entry(handle, e, nullptr, nullptr, &startMs, nullptr);
        targets.push_back(startMs * 441LL / 10);
        targets.push_back(startMs * 441LL / 10 + 1);
    }
    // Each checkpoint's stretch: its start, and the first change in it (a seek there
    // restores the checkpoint and steps to the change).
    for (int64_t k = 1; k * 256 * kBlockFrames < frames + 2 * kBlockFrames; ++k) {
        targets.push_back(k * 256 * kBlockFrames - 1);
        targets.push_back(k * 256 * kBlockFrames);
        const auto next = std::upper_bound(blocks.begin(), blocks.end(), k * 256);
        if (next != blocks.end())
            for (int64_t d : {1, 3 * 1152})
                targets.push_back(*next * kBlockFrames + d);
    }
    std::mt19937_64 random(seed);
    for (int i = 0; i < 6; ++i)
        targets.push_back(static_cast<int64_t>(random() % static_cast<uint64_t>(frames + 1)));
    targets.insert(targets.end(), {0, frames - 1, frames, frames + 1, frames + 44100 * 60});
    targets.erase(std::remove_if(targets.begin(), targets.end(), [](int64_t f) { return f < 0; }),
                  targets.end());
    // Forwards, backwards and the same target twice.
    std::shuffle(targets.begin(), targets.end(), random);
    for (size_t i = 0; i + 1 < targets.size(); i += 7)
        targets.insert(targets.begin() + static_cast<std::ptrdiff_t>(i + 1), targets[i]);
    return targets;
}

// Performances longer than this (hostile songs last for hours) are checked within it.
constexpr int64_t kMostFrames = 44100 * 120;

// Returns whether the song has a performance `performance` to seek in.
bool CheckSong(const std::string& name, const std::string& bytes, int performance, bool emptyCache = true)
{
    SongHandle plainSong;
    if (vantrel_song_open_memory(bytes.data(), bytes.size(), &plainSong.p) != VANTREL_OK ||
        vantrel_song_prepare(plainSong.p, performance, nullptr) != VANTREL_OK)
        return false;
    const std::vector<int16_t> plain = RenderRest(plainSong.p, 4608, kMostFrames);
    const bool whole = vantrel_song_at_end(plainSong.p) == 1;
    const int64_t frames = static_cast<int64_t>(plain.size() / 2);
    const std::vector<int64_t> targets =
        SeekTargets(plainSong.p, bytes, performance, frames, static_cast<unsigned>(bytes.size() + performance));

    // The cache also with no room at all: every stretch is dropped and its voices
    // decode themselves.
    for (const char* source : {"direct", "cache", "cache-mb=0"}) {
        if (source[5] == '-' && !emptyCache)
            continue;
        SongHandle song;
        EXPECT_EQ(vantrel_song_open_memory(bytes.data(), bytes.size(), &song.p), VANTREL_OK);
        EXPECT_EQ(vantrel_song_set_option(song.p, "clip-source", source[5] == '-' ? "cache" : source), VANTREL_OK);
        if (source[5] == '-') {
            EXPECT_EQ(vantrel_song_set_option(song.p, "cache-mb", "0"), VANTREL_OK);
        }
        EXPECT_EQ(vantrel_song_prepare(song.p, performance, nullptr), VANTREL_OK);
        for (size_t i = 0; i < targets.size(); ++i) {
            const int64_t target = targets[i];
            if (!whole && target + 2500 > frames)
                continue; // beyond the part rendered
            // Every fifth seek goes by milliseconds (to the frame at or before the target).
            const bool byMs = i % 5 == 4;
            const int rc = byMs ? vantrel_song_seek_ms(song.p, target * 10 / 441)
                                : vantrel_song_seek_frame(song.p, target);
            const int64_t at = std::min(byMs ? target * 10 / 441 * 441 / 10 : target, frames);
            int64_t told = -1;
            vantrel_song_tell(song.p, &told);
            if (rc != VANTREL_OK || told != at) {
                ADD_FAILURE() << name << " performance " << performance << " " << source << ": a seek to frame "
                              << target << " gave " << rc << " and stands at " << told;
                return true;
            }
            // Every 25th seek renders on to the end, the others a little over two blocks.
            const int64_t want = i % 25 == 0 && whole ? INT64_MAX : 2500;
            const std::vector<int16_t> got = RenderRest(song.p, 997, want);
            const size_t expected = static_cast<size_t>(std::min<int64_t>(frames - at, want)) * 2;
            if (got.size() != expected) {
                ADD_FAILURE() << name << " performance " << performance << " " << source << ": after a seek to frame "
                              << target << ", " << got.size() / 2 << " frames instead of " << expected / 2;
                return true;
            }
            const auto first = std::mismatch(got.begin(), got.end(), plain.begin() + at * 2);
            if (first.first != got.end()) {
                ADD_FAILURE() << name << " performance " << performance << ", " << source << ": after a seek to frame "
                              << target << " (block " << target / kBlockFrames << "), frame "
                              << at + (first.first - got.begin()) / 2 << " differs from the unbroken render";
                return true; // the rest of this song and source would only repeat it
            }
            if (want == INT64_MAX) {
                EXPECT_EQ(vantrel_song_at_end(song.p), 1);
            }
        }
    }
    return true;
}

} // namespace

TEST(ExactSeek, TheStrainSongAndTheDemoSeekToTheSamplesOfAnUnbrokenRender)
{
    EXPECT_TRUE(CheckSong("strain", StrainSong(), 1));
    // Performance 1 plays the "Short" arrangement, 3 the "Long" one.
    const std::string demo = ReadBytes(std::string(VANTREL_SOURCE_DIR) + "/examples/demo.vn");
    for (int performance : {1, 3})
        EXPECT_TRUE(CheckSong("demo", demo, performance, false));
}

TEST(ExactSeek, EverySeedSongSeeksToTheSamplesOfAnUnbrokenRender)
{
    int checked = 0;
    for (const auto& [name, bytes] : SeedSongs(VANTREL_SOURCE_DIR))
        for (int performance = 1; performance <= 2; ++performance)
            checked += CheckSong(name, bytes, performance);
    // Most of the set plays; the rest does not load or has nothing to play.
    EXPECT_GT(checked, 20);
}

TEST(ExactSeek, TheStrainSongReachesEveryStateTheSeekMustRestore)
{
    // The song is only a test if it does what it is made for.
    const std::string bytes = StrainSong();
    CSongPlayer player;
    player.Open(CFileSource(std::make_shared<const std::string>(bytes), "(memory)"));
    ASSERT_EQ(player.PreparePerformance(1), 1);
    std::vector<char> block(CSongPlayer::kBlockBytes);
    int most = 0, blocks = 0;
    while (player.RenderBlock(block.data(), CSongPlayer::kBlockBytes)) {
        int busy = 0;
        for (int v = 0; v < CSongPlayer::kVoiceCount; ++v)
            busy += player.GetVoice(v).pFile != nullptr;
        most = std::max(most, busy);
        ++blocks;
    }
    EXPECT_EQ(most, CSongPlayer::kVoiceCount);
    EXPECT_GT(blocks, 3 * 256); // beyond several checkpoints
}

TEST(ExactSeek, AFiveHourPerformanceSeeksExactlyWithinBoundedMemory)
{
    // More blocks than the checkpoints may stand for at their first spacing: they are
    // thinned out, and seeks from the thinned ones still land exactly.
    CSong song("Long");
    CClip* clip = AddClip(song, "clip", 2);
    CSection* section = AddSection(song, "S");
    CTrack* track = AddTrack(*AddVariation(*section, "five hours", 5 * 3600 * 1000), "T");
    const std::vector<int64_t> startsMs = {0, 4000000, 9000011, 17990000};
    for (int64_t ms : startsMs)
        AddEvent(*track, clip, ms, 1200);
    AddArrangement(song, "A", {section});
    const auto bytes = std::make_shared<const std::string>(
        CSongWriter::Serialize(song, {ReadTestClip("stereo44k.mp3")}, 0x61));

    // The blocks around each event, each from a player of its own whose seek takes its
    // dry steps from the start (an unbroken render of five hours would be slow under
    // the sanitizers; the tests above compare such seeks with unbroken renders).
    std::vector<int32_t> targets;
    for (int64_t ms : startsMs)
        for (int32_t d : {-1, 0, 3, 20})
            targets.push_back(std::max(0, static_cast<int32_t>(ms * 441 / 10 / kBlockFrames) + d));
    std::vector<char> block(CSongPlayer::kBlockBytes);
    std::vector<std::vector<char>> expected;
    for (int32_t target : targets) {
        CSongPlayer fresh;
        fresh.Open(CFileSource(bytes, "(memory)"));
        ASSERT_EQ(fresh.PreparePerformance(1), 1);
        ASSERT_TRUE(fresh.SeekBlock(target));
        fresh.RenderBlock(block.data(), CSongPlayer::kBlockBytes);
        expected.push_back(block);
    }

    CSongPlayer player;
    player.Open(CFileSource(bytes, "(memory)"));
    ASSERT_EQ(player.PreparePerformance(1), 1);
    int32_t count = -1;
    EXPECT_FALSE(player.SeekBlock(INT32_MAX, &count));
    // 5 hours of blocks of 26.12 ms, and the one in which the end falls.
    EXPECT_EQ(count, static_cast<int32_t>(5 * 3600 * 1000 * 441LL / 10 / kBlockFrames) + 1);
    EXPECT_LT(player.GetSeekMemoryBytes(), size_t(6) << 20);
    for (size_t i = targets.size(); i-- > 0;) {
        ASSERT_TRUE(player.SeekBlock(targets[i])) << targets[i];
        player.RenderBlock(block.data(), CSongPlayer::kBlockBytes);
        EXPECT_EQ(block, expected[i]) << "block " << targets[i];
    }
    EXPECT_NE(expected[1], std::vector<char>(CSongPlayer::kBlockBytes, 0)) << "the first clip sounds";
}
