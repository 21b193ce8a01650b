// The renderer over the real clip decoder: a song made of a real MP3 clip renders to
// the clip's decoded PCM at the byte the event's time gives.
#include <gtest/gtest.h>

#include <mpg123.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <iterator>
#include <vector>

#include "common/TestClips.h"
#include "common/TestSongs.h"
#include "decode/PcmFormat.h"
#include "player/SongPlayer.h"
#include "song/SongWriter.h"

using namespace testutil;

namespace {

constexpr int kBlock = vantrel::pcm::kBlockBytes;

std::string ReadClip(const std::string& name) { return ReadTestClip(name); }

// The whole clip decoded frame by frame with libmpg123 alone, configured as the
// player's decoder is.
std::vector<int16_t> PlainDecode(const std::string& mp3)
{
    mpg123_init();
    int err = 0;
    mpg123_handle* h = mpg123_new("generic", &err);
    EXPECT_NE(h, nullptr);
    mpg123_param(h, MPG123_ADD_FLAGS, MPG123_QUIET | MPG123_IGNORE_INFOFRAME | MPG123_NO_RESYNC, 0);
    mpg123_param(h, MPG123_REMOVE_FLAGS, MPG123_GAPLESS, 0);
    mpg123_format_none(h);
    const long* rates = nullptr;
    size_t count = 0;
    mpg123_rates(&rates, &count);
    for (size_t i = 0; i < count; ++i)
        mpg123_format(h, rates[i], MPG123_MONO | MPG123_STEREO, MPG123_ENC_SIGNED_16);
    mpg123_open_feed(h);
    mpg123_feed(h, reinterpret_cast<const unsigned char*>(mp3.data()), mp3.size());
    std::vector<int16_t> pcm;
    for (;;) {
        off_t num;
        unsigned char* audio;
        size_t bytes;
        const int rc = mpg123_decode_frame(h, &num, &audio, &bytes);
        if (rc == MPG123_OK || rc == MPG123_NEW_FORMAT) {
            if (rc == MPG123_OK) {
                const size_t at = pcm.size();
                pcm.resize(at + bytes / 2);
                std::memcpy(pcm.data() + at, audio, bytes);
            }
            continue;
        }
        break;
    }
    mpg123_delete(h);
    return pcm;
}

struct Event
{
    int track;
    int32_t startMs;
    int32_t lengthMs;
};

std::vector<int16_t> RenderSong(const std::string& name, const std::vector<int32_t>& entryLengths,
                                const std::vector<std::vector<Event>>& events, int tracks,
                                const std::string& clipFile = "stereo44k.mp3")
{
    CSong song("Real");
    CClip* clip = AddClip(song, "tone", 2);
    std::vector<CSection*> order;
    for (size_t i = 0; i < entryLengths.size(); ++i) {
        CSection* s = AddSection(song, "S" + std::to_string(i));
        CVariation* v = AddVariation(*s, "V", entryLengths[i]);
        std::vector<CTrack*> t;
        for (int k = 0; k < tracks; ++k)
            t.push_back(AddTrack(*v, "T"));
        for (const Event& e : events[i])
            AddEvent(*t[static_cast<size_t>(e.track)], clip, e.startMs, e.lengthMs);
        order.push_back(s);
    }
    AddArrangement(song, "Main", order);
    const std::string path = TempPath(name);
    testutil::WriteSong(song, {ReadClip(clipFile)}, path);

    CSongPlayer player("generic");
    EXPECT_TRUE(player.Open(path));
    player.Prepare();
    std::vector<int16_t> out;
    std::vector<char> block(kBlock);
    for (int i = 0; i < 100000; ++i) {
        const bool more = player.RenderBlock(block.data(), kBlock);
        const size_t at = out.size();
        out.resize(at + kBlock / 2);
        std::memcpy(out.data() + at, block.data(), kBlock);
        if (!more)
            break;
    }
    player.Close();
    return out;
}

} // namespace

TEST(RenderRealClip, ClipOnABlockBoundaryDeliversExactlyItsLength)
{
    const std::vector<int16_t> plain = PlainDecode(ReadClip("stereo44k.mp3"));
    ASSERT_GT(plain.size(), 88200u / 2);
    ASSERT_GT(std::count_if(plain.begin(), plain.begin() + 88200 / 2, [](int16_t s) { return s != 0; }), 30000);
    // 1280 ms lands in block 48 at offset 0; 500 ms is 88 200 bytes.
    const auto out = RenderSong("real1.vn", {3000}, {{{0, 1280, 500}}}, 1);
    const size_t start = 48 * kBlock / 2;
    const size_t samples = 88200 / 2;
    ASSERT_GE(out.size(), start + samples + 1);
    EXPECT_TRUE(std::all_of(out.begin(), out.begin() + static_cast<long>(start), [](int16_t s) { return s == 0; }));
    EXPECT_TRUE(std::equal(plain.begin(), plain.begin() + static_cast<long>(samples), out.begin() + static_cast<long>(start)));
    EXPECT_TRUE(std::all_of(out.begin() + static_cast<long>(start + samples), out.end(), [](int16_t s) { return s == 0; }));
}

TEST(RenderRealClip, ClipInsideABlockFollowsTheEntryOffset)
{
    const std::vector<int16_t> plain = PlainDecode(ReadClip("stereo44k.mp3"));
    // Entry 2 begins at byte 176 400 (offset 1296 in block 38); its event at 10 ms
    // starts 1764 bytes later, inside block 38.
    const auto out = RenderSong("real2.vn", {1000, 2000}, {{}, {{0, 10, 500}}}, 1);
    const size_t start = (176400 + 1764) / 2;
    const size_t samples = (88200 - kBlock) / 2;
    EXPECT_TRUE(std::all_of(out.begin(), out.begin() + static_cast<long>(start), [](int16_t s) { return s == 0; }));
    EXPECT_TRUE(std::equal(plain.begin(), plain.begin() + static_cast<long>(samples), out.begin() + static_cast<long>(start)));
    const size_t quietFrom = start + (88200 + kBlock) / 2;
    EXPECT_TRUE(std::all_of(out.begin() + static_cast<long>(quietFrom), out.end(), [](int16_t s) { return s == 0; }));
}

TEST(RenderRealClip, OverlappingEventsOfOneTrackSoundTogether)
{
    const std::vector<int16_t> plain = PlainDecode(ReadClip("stereo44k.mp3"));
    // Both events start at 0 on track 0: the second goes to overflow voice 4, and the
    // single-track mix adds the two unshifted, clamped.
    const auto out = RenderSong("real3.vn", {1000}, {{{0, 0, 400}, {0, 0, 400}}}, 1);
    for (size_t s = 0; s < 400 * 1764 / 20; ++s) {
        const int32_t expected = std::clamp<int32_t>(2 * plain[s], -32768, 32767);
        ASSERT_EQ(out[s], expected) << "sample " << s;
    }
}

// Clips of 2304-byte frames whose 640 ms end exactly with a frame that fills a block:
// the voice plays on into the next block, which gets the final frame's bytes once
// more from the carry (see the clip decoder's test of the same case).
TEST(RenderRealClip, FinalFrameFillingABlockSoundsInTheNextBlockToo)
{
    constexpr size_t kFrameSamples = 2304 / 2;
    for (const char* name : {"mono44k-long.mp3", "stereo22k-long.mp3"}) {
        SCOPED_TRACE(name);
        const std::vector<int16_t> plain = PlainDecode(ReadClip(name));
        ASSERT_GE(plain.size(), 60 * kFrameSamples);
        const auto frames = [&](size_t from, size_t to) {
            return std::vector<int16_t>(plain.begin() + static_cast<long>(from * kFrameSamples),
                                        plain.begin() + static_cast<long>(to * kFrameSamples));
        };
        // At 0 ms, on a block boundary: frames 1-51, then silence.
        // At 640 ms, 2304 bytes into block 24: frames 1-51, frame 51 again, silence.
        for (const int32_t startMs : {0, 640}) {
            SCOPED_TRACE(startMs);
            const auto out = RenderSong("final-frame.vn", {2000}, {{{0, startMs, 640}}}, 1, name);
            std::vector<int16_t> expected(static_cast<size_t>(176.4 * startMs) / 2, 0);
            const auto voice = frames(0, 51);
            expected.insert(expected.end(), voice.begin(), voice.end());
            if (startMs != 0) {
                const auto again = frames(50, 51);
                expected.insert(expected.end(), again.begin(), again.end());
            }
            ASSERT_GT(out.size(), expected.size());
            EXPECT_TRUE(std::equal(expected.begin(), expected.end(), out.begin()));
            EXPECT_TRUE(std::all_of(out.begin() + static_cast<long>(expected.size()), out.end(),
                                    [](int16_t v) { return v == 0; }));
        }
    }
}
