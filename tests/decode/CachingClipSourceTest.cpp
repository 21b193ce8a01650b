// The caching clip source against the clip decoder: the same calls must give the same
// counts and the same bytes, whatever the engine, the memory cap or the calling
// pattern, and whole renders must be equal bit for bit.
#include <gtest/gtest.h>

#include <mpg123.h>

#include <cstring>
#include <fstream>
#include <iterator>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "arrange/Random.h"
#include "common/TestClips.h"
#include "common/TestSongs.h"
#include "decode/CachingClipSource.h"
#include "decode/ClipDecoder.h"
#include "decode/PcmFormat.h"
#include "platform/File.h"
#include "player/SongPlayer.h"
#include "song/SongWriter.h"

using namespace testutil;

namespace {

constexpr int kBlock = vantrel::pcm::kBlockBytes;

std::string ReadClip(const std::string& name) { return ReadTestClip(name); }

std::vector<std::string> Engines()
{
    mpg123_init();
    std::vector<std::string> names;
    for (const char** p = mpg123_decoders(); p != nullptr && *p != nullptr; ++p)
        names.emplace_back(*p);
    return names;
}

// Every test clip once, with bytes that are no MP3 data between them and at the end,
// so that clips run into garbage (errors) and into the end of the file (exhaustion).
struct ClipFile
{
    std::string path;
    std::vector<int> starts;
    int size = 0;
};

const ClipFile& TestClipFile()
{
    static const ClipFile file = [] {
        ClipFile f;
        std::string bytes(64, '\x5A');
        for (const char* name : {"stereo44k.mp3", "mono44k-long.mp3", "stereo22k-long.mp3",
                                 "infoframe44k.mp3", "mono44k.mp3", "stereo22k.mp3"}) {
            f.starts.push_back(static_cast<int>(bytes.size()));
            bytes += ReadClip(name);
            bytes += std::string(700, '\x33');
        }
        f.starts.push_back(static_cast<int>(bytes.size()) - 300); // garbage only
        f.size = static_cast<int>(bytes.size());
        f.path = TempPath("cache-clips.bin");
        WriteBytes(f.path, bytes);
        return f;
    }();
    return file;
}

struct CallTally
{
    long long nCalls = 0;
    long long nMismatches = 0;
};

// Drives both sources with the same random calls and counts the calls whose result or
// bytes differ. The output buffers start with the same pattern, so bytes a source
// leaves alone are compared as well.
CallTally CompareRandomCalls(const std::string& engine, CClipSource& cached, unsigned seed, int steps)
{
    const ClipFile& clips = TestClipFile();
    CFile file;
    file.Open(clips.path);
    CClipDecoder plain(engine.c_str());
    std::mt19937 rng(seed);
    std::vector<char> a(kBlock), b(kBlock);
    CallTally run;
    // Lengths that end on a frame in a block (multiples of 640 and 1280 ms) as well as
    // arbitrary ones.
    const int lengths[] = {0, 1, 300, 640, 1000, 1280, 2560, 5000, 12345, -1};
    for (int step = 0; step < steps; ++step) {
        const int voice = static_cast<int>(rng() % CClipDecoder::kVoiceCount);
        const int start = clips.starts[rng() % clips.starts.size()];
        // Mostly the clip's start; sometimes a position inside it (off a frame header).
        const int positions[] = {0, 0, 0, 0, 417, 1000, 2093};
        const int pos1 = positions[rng() % (sizeof positions / sizeof positions[0])];
        const int length = lengths[rng() % (sizeof lengths / sizeof lengths[0])];
        EXPECT_EQ(plain.StartClip(&file, pos1, 0, start, 0, 0, voice, length),
                  cached.StartClip(&file, pos1, 0, start, 0, 0, voice, length));
        const int calls = 1 + static_cast<int>(rng() % 80);
        for (int k = 0; k < calls; ++k) {
            // The first call after a start has room for part of a block; later ones
            // mostly a whole block, now and then less (the carry then outlasts a call).
            int want = kBlock;
            if (k == 0 || rng() % 16 == 0)
                want = static_cast<int>(rng() % (kBlock + 1));
            const char fill = static_cast<char>(rng());
            std::memset(a.data(), fill, a.size());
            std::memset(b.data(), fill, b.size());
            const int na = plain.Decode(a.data(), want, voice);
            const int nb = cached.Decode(b.data(), want, voice);
            ++run.nCalls;
            if (na != nb || a != b)
                ++run.nMismatches;
        }
    }
    return run;
}

} // namespace

TEST(CachingClipSource, SameCallsGiveTheSamePcmWithEveryEngine)
{
    const std::vector<std::string> engines = Engines();
    ASSERT_FALSE(engines.empty());
    for (const std::string& engine : engines) {
        SCOPED_TRACE(engine);
        auto cache = std::make_shared<CClipCache>(CClipCache::kDefaultCapBytes, engine);
        ASSERT_TRUE(cache->CanDecode());
        CCachingClipSource cached(cache);
        const CallTally run = CompareRandomCalls(engine, cached, 1234, 400);
        EXPECT_GT(run.nCalls, 5000);
        EXPECT_EQ(run.nMismatches, 0);
        // The cache did the work: most PCM came from memory, little was decoded.
        EXPECT_GT(cache->GetStats().nServedBytes, 4 * cache->GetStats().nDecodedBytes);
        EXPECT_EQ(cache->GetStats().nDropped, 0);
    }
}

TEST(CachingClipSource, TinyMemoryCapsDropStretchesWithoutChangingThePcm)
{
    for (const size_t cap : {size_t(0), size_t(40000), size_t(300000)}) {
        SCOPED_TRACE(cap);
        auto cache = std::make_shared<CClipCache>(cap, "generic");
        CCachingClipSource cached(cache);
        const CallTally run = CompareRandomCalls("generic", cached, 99, 300);
        EXPECT_EQ(run.nMismatches, 0);
        EXPECT_GT(cache->GetStats().nDropped, 0);
        EXPECT_LE(cache->GetStats().nBytes, cap + 8192);
        if (cap < 100000) {
            EXPECT_GT(cache->GetStats().nReplayedBytes, 0); // voices went on decoding themselves
        }
    }
}

TEST(CachingClipSource, OneCacheServesSeveralSourcesInTurn)
{
    auto cache = std::make_shared<CClipCache>(CClipCache::kDefaultCapBytes, "generic");
    long long decoded = 0;
    for (unsigned seed : {5u, 6u, 7u}) {
        CCachingClipSource cached(cache);
        EXPECT_EQ(CompareRandomCalls("generic", cached, seed, 150).nMismatches, 0);
        // A later source finds what earlier ones decoded.
        if (decoded != 0) {
            EXPECT_LT(cache->GetStats().nDecodedBytes - decoded, decoded);
        }
        decoded = cache->GetStats().nDecodedBytes;
    }
}

TEST(CachingClipSource, UnknownEngineAndMissingDataPlayNothing)
{
    const ClipFile& clips = TestClipFile();
    CFile file;
    file.Open(clips.path);
    auto cache = std::make_shared<CClipCache>(CClipCache::kDefaultCapBytes, "no-such-engine");
    EXPECT_FALSE(cache->CanDecode());
    CCachingClipSource cached(cache);
    std::vector<char> out(kBlock);
    EXPECT_TRUE(cached.StartClip(&file, 0, 0, clips.starts[0], 0, 0, 0, 1000));
    EXPECT_EQ(cached.Decode(out.data(), kBlock, 0), 0);
    EXPECT_FALSE(cached.StartClip(&file, 0, 0, clips.starts[0], 0, 0, 12, 1000));
    EXPECT_EQ(cached.Decode(out.data(), kBlock, -1), 0);

    auto good = std::make_shared<CClipCache>();
    CCachingClipSource source(good);
    EXPECT_TRUE(source.StartClip(&file, 0, 0, 0, 0, 0, 3, 1000)); // no data offset
    EXPECT_EQ(source.Decode(out.data(), kBlock, 3), 0);
    // A closed song file ends a clip at once, as it does for the clip decoder.
    EXPECT_TRUE(source.StartClip(&file, 0, 0, clips.starts[0], 0, 0, 3, 1000));
    EXPECT_EQ(source.Decode(out.data(), kBlock, 3), kBlock);
    file.Close();
    EXPECT_EQ(source.Decode(out.data(), kBlock, 3), 0);
}

namespace {

// Renders a performance of `path` with a seek plan (percent before block) through the
// clip decoder or a caching source over `cache`.
std::vector<char> Render(const std::string& path, const std::string& engine,
                         const std::shared_ptr<CClipCache>& cache,
                         const std::vector<std::pair<int, int>>& seeks)
{
    vantrel::SetRandomState(1); // the same performance every time
    CSongPlayer player(engine);
    if (cache)
        player.SetClipSourceFactory([cache] { return std::make_unique<CCachingClipSource>(cache); });
    EXPECT_TRUE(player.Open(path));
    player.Prepare();
    std::vector<char> out;
    std::vector<char> block(kBlock);
    size_t next = 0;
    for (int calls = 0; calls < 200000; ++calls) {
        if (next < seeks.size() && seeks[next].second == calls)
            player.Seek(static_cast<int16_t>(seeks[next++].first));
        const bool more = player.RenderBlock(block.data(), kBlock);
        out.insert(out.end(), block.begin(), block.end());
        if (!more) {
            if (next < seeks.size()) {
                player.Seek(static_cast<int16_t>(seeks[next++].first));
                continue;
            }
            break;
        }
    }
    player.Close();
    return out;
}

// A song over every test clip: overlapping events, events on and off block
// boundaries, lengths that end on a frame in a block, start positions inside clips.
std::string MakeClipSong()
{
    CSong song("Cache");
    std::vector<std::string> data;
    std::vector<CClip*> clips;
    for (const char* name : {"stereo44k.mp3", "mono44k-long.mp3", "stereo22k-long.mp3",
                             "infoframe44k.mp3", "mono44k.mp3", "stereo22k.mp3"}) {
        clips.push_back(AddClip(song, name, 2));
        data.push_back(ReadClip(name));
    }
    std::vector<CSection*> order;
    std::mt19937 rng(42);
    for (int s = 0; s < 4; ++s) {
        CSection* section = AddSection(song, "S" + std::to_string(s));
        CVariation* v = AddVariation(*section, "V", 2560 + 1000 * s);
        for (int t = 0; t < 4; ++t) {
            CTrack* track = AddTrack(*v, "T");
            for (int e = 0; e < 6; ++e) {
                const int64_t startMs = e % 2 == 0 ? 640 * (rng() % 4) : rng() % 2500;
                const int64_t lengthMs = e % 3 == 0 ? 640 * (1 + rng() % 3) : 50 + rng() % 1500;
                CClipEvent* ev = AddEvent(*track, clips[rng() % clips.size()], startMs, lengthMs);
                if (e == 5)
                    ev->m_nPos1 = static_cast<int32_t>(rng() % 2000);
            }
        }
        order.push_back(section);
        order.push_back(section);
    }
    AddArrangement(song, "Main", order);
    const std::string path = TempPath("cache-song.vn");
    testutil::WriteSong(song, data, path);
    return path;
}

} // namespace

TEST(CachingClipSource, RendersOfTheTestSongsAreEqualBitForBit)
{
    const std::string demo = std::string(VANTREL_SOURCE_DIR) + "/examples/demo.vn";
    const std::vector<std::vector<std::pair<int, int>>> plans = {
        {}, {{50, 40}, {10, 100}, {90, 130}}, {{0, 3}, {100, 10}}};
    for (const std::string& song : {MakeClipSong(), demo}) {
        for (const std::string& engine : Engines()) {
            SCOPED_TRACE(song + " " + engine);
            auto cache = std::make_shared<CClipCache>(CClipCache::kDefaultCapBytes, engine);
            for (const auto& plan : plans) {
                const std::vector<char> plain = Render(song, engine, nullptr, plan);
                ASSERT_GT(plain.size(), 100u * kBlock);
                EXPECT_TRUE(plain == Render(song, engine, cache, plan));
            }
            EXPECT_GT(cache->GetStats().nServedBytes, 0);
        }
    }
}
