// Both clip sources on whole songs: the input is a song file, played through the clip
// decoder and through the caching clip source, with a seek, and every block must be
// equal. The caching source plays the song twice over one cache (the second play
// replays what the first decoded), under a memory cap that the input picks, from none
// at all (every stretch dropped) to ample.
//
// As in fuzz_song, the whole input is the file and its last two bytes also steer the
// run: the blocks rendered before the seek, the seek's percentage and the cap.
#include <fcntl.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "FuzzInput.h"
#include "arrange/Random.h"
#include "decode/CachingClipSource.h"
#include "player/SongPlayer.h"

namespace {

constexpr int kMaxBlocks = 24;
constexpr int kBlock = CSongPlayer::kBlockBytes;

const std::string& SongPath()
{
    static const std::string path = fuzzinput::MakePath("vantrel-fuzz-sources");
    return path;
}

bool WriteSong(const uint8_t* data, size_t size) { return fuzzinput::Write(SongPath(), data, size); }

// One play: blocks before the seek, the seek, blocks after; every block appended.
std::vector<char> Play(CSongPlayer& player, int blocksBeforeSeek, int16_t percent)
{
    std::vector<char> out;
    std::vector<char> block(kBlock);
    vantrel::SetRandomState(1);
    player.Open(SongPath());
    player.Prepare();
    for (int i = 0; i < blocksBeforeSeek; ++i) {
        const bool more = player.RenderBlock(block.data(), kBlock);
        out.insert(out.end(), block.begin(), block.end());
        if (!more)
            break;
    }
    player.Seek(percent);
    for (int i = 0; i < kMaxBlocks; ++i) {
        const bool more = player.RenderBlock(block.data(), kBlock);
        out.insert(out.end(), block.begin(), block.end());
        if (!more)
            break;
    }
    player.Close();
    return out;
}

void Compare(const std::vector<char>& plain, const std::vector<char>& cached, int play)
{
    if (plain.size() != cached.size()) {
        std::fprintf(stderr, "play %d: %zu bytes from the clip decoder, %zu from the cache\n",
                     play, plain.size(), cached.size());
        std::abort();
    }
    for (size_t at = 0; at < plain.size(); at += kBlock) {
        if (std::memcmp(plain.data() + at, cached.data() + at, kBlock) != 0) {
            std::fprintf(stderr, "play %d: block %zu differs between the sources\n", play, at / kBlock);
            std::abort();
        }
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (!WriteSong(data, size))
        std::abort(); // the machine, not the input
    const int blocksBeforeSeek = size >= 2 ? 1 + data[size - 2] % kMaxBlocks : kMaxBlocks;
    const int16_t percent = size >= 1 ? static_cast<int16_t>(data[size - 1] % 101) : 50;
    static const size_t s_caps[] = {0, 20000, 200000, CClipCache::kDefaultCapBytes};
    const size_t cap = s_caps[(size >= 2 ? data[size - 2] / kMaxBlocks : 0) % 4];

    static CSongPlayer plain("generic");
    static CSongPlayer cached("generic");
    // A fresh cache per input: the song file behind the player changes with it.
    auto cache = std::make_shared<CClipCache>(cap, "generic");
    cached.SetClipSourceFactory([cache] { return std::make_unique<CCachingClipSource>(cache); });

    const std::vector<char> expected = Play(plain, blocksBeforeSeek, percent);
    Compare(expected, Play(cached, blocksBeforeSeek, percent), 1);
    Compare(expected, Play(cached, blocksBeforeSeek, percent), 2);
    cached.SetClipSourceFactory(nullptr);
    ::unlink(SongPath().c_str());
    return 0;
}
