// Render throughput of a demanding song against plain libmpg123 decoding of the same
// clip frames, measured in one run, with the heap allocations made per block; then,
// for the same song and for the demo song's longest performance, the render through
// the caching clip source against the same plain decoding and against a plain memory
// copy of the PCM the voices delivered, with the cache's peak memory.
//
// The song keeps all twelve voices busy: four tracks start a clip in every block,
// each clip sounding for 300 ms, so the track voices and all overflow voices sound
// and are taken over again and again. Plain decoding repeats exactly the work the
// clip decoder was asked for: for every clip started, a fresh handle with the same
// configuration decodes the same number of PCM bytes from the same data.
#include <mpg123.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <limits>
#include <new>
#include <string>
#include <vector>

#include <sys/resource.h>

#include <functional>
#include <memory>

#include "arrange/Random.h"
#include "decode/CachingClipSource.h"
#include "decode/ClipStart.h"
#include "decode/ClipDecoder.h"
#include "decode/PcmFormat.h"
#include "player/SongPlayer.h"
#include "song/Song.h"
#include "song/SongWriter.h"

// Every C++ allocation in the process is counted; libmpg123 allocates with malloc and
// is not counted.
static std::atomic<long> g_allocations{0};
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"

void* operator new(std::size_t n)
{
    ++g_allocations;
    if (void* p = std::malloc(n ? n : 1))
        return p;
    throw std::bad_alloc();
}
void operator delete(void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void* operator new[](std::size_t n) { return operator new(n); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }

namespace {

using Clock = std::chrono::steady_clock;
constexpr int kBlock = vantrel::pcm::kBlockBytes;
constexpr double kBytesPerSecond = vantrel::pcm::kSampleRate * vantrel::pcm::kBytesPerFrame;

// Wraps the real decoder to learn what it was asked to do.
class CCountingSource : public CClipSource
{
public:
    explicit CCountingSource(const char* engine) : m_decoder(engine) {}
    int Decode(char* out, int bytes, int voice) override
    {
        const int n = m_decoder.Decode(out, bytes, voice);
        m_nBytes += n > 0 ? n : 0;
        return n;
    }
    bool StartClip(CFile* f, int p1, int p3, int off, int p2, int p4, int voice, int ms) override
    {
        ++m_nStarts;
        return m_decoder.StartClip(f, p1, p3, off, p2, p4, voice, ms);
    }
    CClipDecoder m_decoder;
    long m_nStarts = 0;
    long long m_nBytes = 0;
};

std::string ReadFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

double Seconds(Clock::duration d) { return std::chrono::duration<double>(d).count(); }

// Decodes with a fresh handle from byte `from` of `data`, fed in chunks of 16 KiB as a
// voice is fed, until `frames` frames or `bytes` PCM bytes have come out (or the data
// ends or fails); returns the PCM bytes.
__attribute__((noinline)) long long DecodeFrom(const std::string& data, size_t from, const char* engine,
                                               long long frames, long long bytes)
{
    mpg123_handle* h = CClipDecoder::NewConfiguredHandle(engine);
    if (!h)
        return 0;
    size_t fed = from;
    long long got = 0;
    long long decoded = 0;
    while (decoded < frames && got < bytes) {
        off_t num;
        unsigned char* audio;
        size_t n;
        const int rc = mpg123_decode_frame(h, &num, &audio, &n);
        if (rc == MPG123_OK) {
            got += static_cast<long long>(n);
            ++decoded;
        } else if (rc == MPG123_NEED_MORE) {
            if (fed >= data.size())
                break;
            const size_t chunk = std::min<size_t>(16384, data.size() - fed);
            mpg123_feed(h, reinterpret_cast<const unsigned char*>(data.data()) + fed, chunk);
            fed += chunk;
        } else if (rc != MPG123_NEW_FORMAT) {
            break;
        }
    }
    mpg123_delete(h);
    return got;
}

// Decodes `frames` frames from the start of `mp3`.
__attribute__((noinline)) long long PlainDecode(const std::string& mp3, const char* engine, long long frames)
{
    return DecodeFrom(mp3, 0, engine, frames, std::numeric_limits<long long>::max());
}


// What the voices of one render were asked to decode: per clip start, the read
// position and the PCM bytes its voice decoded.
struct DecodeWork
{
    std::vector<std::pair<int64_t, long long>> arrStarts;
    long long nDelivered = 0;
};

class CRecordingSource : public CClipSource
{
public:
    CRecordingSource(const char* engine, DecodeWork& work)
        : m_decoder(engine), m_arrStarts(work.arrStarts), m_nDelivered(work.nDelivered)
    {
    }
    int Decode(char* out, int bytes, int voice) override
    {
        const long long before = m_decoder.GetDecodedBytes();
        const int n = m_decoder.Decode(out, bytes, voice);
        if (voice >= 0 && voice < 12 && m_arrCurrent[voice] >= 0)
            m_arrStarts[static_cast<size_t>(m_arrCurrent[voice])].second += m_decoder.GetDecodedBytes() - before;
        m_nDelivered += n > 0 ? n : 0;
        return n;
    }
    bool StartClip(CFile* f, int p1, int p3, int off, int p2, int p4, int voice, int ms) override
    {
        if (voice >= 0 && voice < 12 && f != nullptr && off > 0) {
            m_arrCurrent[voice] = static_cast<int>(m_arrStarts.size());
            m_arrStarts.emplace_back(vantrel::ClipStartInFile(off, p1), 0);
        }
        return m_decoder.StartClip(f, p1, p3, off, p2, p4, voice, ms);
    }
    CClipDecoder m_decoder;
    std::vector<std::pair<int64_t, long long>>& m_arrStarts;
    long long& m_nDelivered;
    int m_arrCurrent[12] = {-1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1};
};

struct RenderRun
{
    double fSeconds = 0;
    long nBlocks = 0;
    long nSteadyAllocs = 0;
    long nSteadyBlocks = 0;
};

// Renders performance `performance` of the song `repeats` times; `source` makes the
// clip source of each play (null: the clip decoder).
RenderRun RenderSong(const std::string& path, const char* engine, int performance, int repeats,
                     const std::function<std::unique_ptr<CClipSource>()>& source)
{
    RenderRun run;
    std::vector<char> block(kBlock);
    for (int r = 0; r < repeats; ++r) {
        CSongPlayer player(engine);
        vantrel::SetRandomState(1);
        for (int i = 1; i < performance; ++i) {
            player.Open(path);
            player.Prepare();
            player.Close();
        }
        player.Open(path);
        player.Prepare();
        if (source)
            player.SetClipSourceForTest(source());
        const auto t0 = Clock::now();
        long blocks = 0;
        long allocsAt = 0;
        for (;;) {
            if (blocks == 200)
                allocsAt = g_allocations.load();
            const bool more = player.RenderBlock(block.data(), kBlock);
            ++blocks;
            if (!more)
                break;
        }
        run.fSeconds += Seconds(Clock::now() - t0);
        run.nBlocks += blocks;
        if (blocks > 200) {
            run.nSteadyAllocs += g_allocations.load() - allocsAt;
            run.nSteadyBlocks += blocks - 200;
        }
        player.Close();
    }
    return run;
}

// Plain libmpg123 decoding of the recorded work: per clip start a fresh handle, fed
// the song file's bytes from the start's position in 16 KiB chunks, until it has
// decoded as many PCM bytes as the voice did.
__attribute__((noinline)) double DecodeRecordedWork(const std::string& file, const char* engine,
                       const std::vector<std::pair<int64_t, long long>>& starts, int repeats)
{
    const auto t0 = Clock::now();
    for (int r = 0; r < repeats; ++r) {
        for (const auto& start : starts)
            DecodeFrom(file, static_cast<size_t>(start.first), engine,
                       std::numeric_limits<long long>::max(), start.second);
    }
    return Seconds(Clock::now() - t0);
}

// Copies `bytes` bytes block by block out of a 64 MiB buffer (larger than the caches
// of the processor), as the cached voices copy their PCM.
double MemoryCopy(long long bytes, int repeats)
{
    static std::vector<char> from(size_t(64) << 20, 1);
    std::vector<char> to(kBlock);
    size_t at = 0;
    const auto t0 = Clock::now();
    for (int r = 0; r < repeats; ++r) {
        for (long long done = 0; done < bytes; done += kBlock) {
            if (at + kBlock > from.size())
                at = 0;
            std::memcpy(to.data(), from.data() + at, kBlock);
            at += kBlock;
            asm volatile("" : : "r"(to.data()) : "memory");
        }
    }
    return Seconds(Clock::now() - t0);
}

void MeasureCache(const char* title, const std::string& path, const char* engine, int performance,
                  int repeats)
{
    const std::string file = ReadFile(path);
    DecodeWork work;
    const RenderRun plainRender = RenderSong(path, engine, performance, 1, [&] {
        return std::unique_ptr<CClipSource>(std::make_unique<CRecordingSource>(engine, work));
    });
    const auto& starts = work.arrStarts;
    const long long delivered = work.nDelivered;
    const RenderRun noCache = RenderSong(path, engine, performance, repeats, nullptr);
    const double plain = DecodeRecordedWork(file, engine, starts, repeats);
    size_t peak = 0;
    const RenderRun cold = RenderSong(path, engine, performance, repeats, [&] {
        // A fresh cache for every play, as `vantrel render` has.
        static std::shared_ptr<CClipCache> s_cache;
        if (s_cache)
            peak = std::max(peak, s_cache->GetStats().nPeakBytes);
        s_cache = std::make_shared<CClipCache>(CClipCache::kDefaultCapBytes, engine);
        return std::make_unique<CCachingClipSource>(s_cache);
    });
    auto shared = std::make_shared<CClipCache>(CClipCache::kDefaultCapBytes, engine);
    RenderSong(path, engine, performance, 1, [&] { return std::make_unique<CCachingClipSource>(shared); });
    const RenderRun warm = RenderSong(path, engine, performance, repeats,
                                      [&] { return std::make_unique<CCachingClipSource>(shared); });
    peak = std::max(peak, shared->GetStats().nPeakBytes);
    const double copy = MemoryCopy(delivered, repeats);
    const double audioSec = plainRender.nBlocks * kBlock / kBytesPerSecond * repeats;
    std::printf("\n%s: %.1f s of audio per play, %zu clip starts, %d play(s) per measure\n", title,
                audioSec / repeats, starts.size(), repeats);
    std::printf("  plain decode of the same frames: %.3f s\n", plain);
    std::printf("  render without cache:  %.3f s = %.0f x realtime, ratio to plain decode %.3f\n",
                noCache.fSeconds, audioSec / noCache.fSeconds, noCache.fSeconds / plain);
    std::printf("  render with cache:     %.3f s = %.0f x realtime, %.1f x faster than plain decode\n",
                cold.fSeconds, audioSec / cold.fSeconds, plain / cold.fSeconds);
    std::printf("  render, cache warm:    %.3f s = %.0f x realtime, %.1f x faster than plain decode\n",
                warm.fSeconds, audioSec / warm.fSeconds, plain / warm.fSeconds);
    std::printf("  memory copy of the %lld PCM bytes the voices delivered: %.3f s (%.0f %% of the cached render)\n",
                delivered, copy, 100.0 * copy / cold.fSeconds);
    std::printf("  cache peak memory: %zu bytes = %.2f MiB\n", peak, peak / 1048576.0);
    std::printf("  heap allocations per block in the steady state, cache warm: %ld in %ld blocks\n",
                warm.nSteadyAllocs, warm.nSteadyBlocks);
}

// The performance among the first `count` whose length is the largest.
int LongestPerformance(const std::string& path, int count)
{
    CSongPlayer player;
    vantrel::SetRandomState(1);
    int best = 1;
    int bestLength = -1;
    for (int i = 1; i <= count; ++i) {
        player.Open(path);
        player.Prepare();
        if (player.GetLength() > bestLength) {
            bestLength = player.GetLength();
            best = i;
        }
        player.Close();
    }
    return best;
}

} // namespace

int main(int argc, char** argv)
{
    const std::string clipPath = argc > 1 ? argv[1] : VANTREL_SOURCE_DIR "/tests/data/clips/stereo44k.mp3";
    const int seconds = argc > 2 ? std::atoi(argv[2]) : 60;
    const char* engine = argc > 3 ? argv[3] : "generic";
    // "plain" as the fourth argument leaves out the measures of the caching source.
    const bool cacheMeasures = !(argc > 4 && std::string(argv[4]) == "plain");
    const std::string clip = ReadFile(clipPath);
    if (clip.empty()) {
        std::fprintf(stderr, "cannot read %s\n", clipPath.c_str());
        return 1;
    }

    // The demanding song: one entry of `seconds`, four tracks, a 300 ms clip starting
    // on every track in every block.
    CSong song("Bench");
    auto c = std::make_unique<CClip>(2, "", 0, 0);
    c->m_strName = "tone";
    CClip* pClip = song.AddClip(std::move(c));
    CSection* section = song.AddSection(std::make_unique<CSection>("Only"));
    auto variation = std::make_unique<CVariation>("Busy");
    variation->SetLengthMs(seconds * 1000);
    for (int t = 0; t < 4; ++t) {
        auto track = std::make_unique<CTrack>("T" + std::to_string(t));
        for (int ms = t * 5; ms < seconds * 1000 && track->GetEventCount() < 127; ms += 27) {
            auto e = std::make_unique<CClipEvent>();
            e->m_pClip = pClip;
            e->m_nStartMs = ms;
            e->m_nLengthMs = 300;
            e->m_bActive = 1;
            track->AddEvent(std::move(e));
        }
        variation->AddTrack(std::move(track));
    }
    section->AddVariation(std::move(variation));
    // A track holds at most 127 events (3.4 s at one per block); the entry is repeated
    // to fill the time.
    auto arrangement = std::make_unique<CArrangement>("Main");
    const int repeats = std::max(1, seconds * 1000 / (127 * 27));
    for (int i = 0; i < repeats && i < 127; ++i)
        arrangement->AddSection(section);
    song.AddArrangement(arrangement);
    song.m_arrSections[0]->m_arrVariations[0]->SetLengthMs(127 * 27);
    const std::string songPath = "render_bench_song.vn";
    {
        std::ofstream out(songPath, std::ios::binary | std::ios::trunc);
        CSongWriter::Write(song, {clip}, out);
    }

    CSongPlayer player(engine);
    if (!player.Open(songPath)) {
        std::fprintf(stderr, "cannot open the bench song\n");
        return 1;
    }
    player.Prepare();
    auto source = std::make_unique<CCountingSource>(engine);
    CCountingSource* counting = source.get();
    player.SetClipSourceForTest(std::move(source));

    std::vector<char> block(kBlock);
    long blocks = 0;
    int maxSounding = 0;
    long warmAllocs = 0;
    const long warmBlocks = 200;
    const auto t0 = Clock::now();
    for (;;) {
        if (blocks == warmBlocks)
            warmAllocs = g_allocations.load();
        const bool more = player.RenderBlock(block.data(), kBlock);
        ++blocks;
        int sounding = 0;
        for (int v = 0; v < CSongPlayer::kVoiceCount; ++v)
            sounding += player.GetVoice(v).pFile != nullptr;
        maxSounding = std::max(maxSounding, sounding);
        if (!more)
            break;
    }
    const double renderSec = Seconds(Clock::now() - t0);
    const long steadyAllocs = g_allocations.load() - warmAllocs;
    const long steadyBlocks = blocks - warmBlocks;
    const long starts = counting->m_nStarts;
    const long long deliveredBytes = counting->m_nBytes;
    const long long decodedBytes = counting->m_decoder.GetDecodedBytes();
    player.Close();

    // Plain decoding of the same work: as many frames as the voices decoded, spread
    // over as many fresh handles as clips were started.
    const long long totalFrames = decodedBytes / kBlock;
    const auto t1 = Clock::now();
    long long plainBytes = 0;
    for (long i = 0; i < starts; ++i)
        plainBytes += PlainDecode(clip, engine, totalFrames * (i + 1) / starts - totalFrames * i / starts);
    const double plainSec = Seconds(Clock::now() - t1);

    const double audioSec = blocks * kBlock / kBytesPerSecond;
    const size_t playerBytes = sizeof(CSongPlayer) + CSongPlayer::kVoiceCount * sizeof(VoiceSlot) +
                               CSongPlayer::kVoiceCount * kBlock + kBlock * 2 + sizeof(CClipDecoder);
    std::printf("song: %.1f s of audio, %ld blocks, %ld clip starts, up to %d voices sounding\n",
                audioSec, blocks, starts, maxSounding);
    std::printf("render:        %.3f s  = %.1f x realtime (%lld PCM bytes decoded, %lld delivered)\n",
                renderSec, audioSec / renderSec, decodedBytes, deliveredBytes);
    std::printf("plain decode:  %.3f s  (%lld PCM bytes)\n", plainSec, plainBytes);
    std::printf("ratio render / plain decode: %.3f (overhead %+.1f %%)\n", renderSec / plainSec,
                (renderSec / plainSec - 1.0) * 100.0);
    std::printf("heap allocations (operator new) in the steady state: %ld in %ld blocks = %.2f per block\n",
                steadyAllocs, steadyBlocks, steadyBlocks ? double(steadyAllocs) / steadyBlocks : 0.0);
    std::printf("player memory (player, voices, buffers, clip decoder): %zu bytes = %.2f MiB\n",
                playerBytes, playerBytes / 1048576.0);

    if (!cacheMeasures) {
        std::remove(songPath.c_str());
        return 0;
    }
    MeasureCache("benchmark song", songPath, engine, 1, 1);
    const std::string demo = VANTREL_SOURCE_DIR "/examples/demo.vn";
    const int longest = LongestPerformance(demo, 40);
    const std::string demoTitle = "demo song, performance " + std::to_string(longest) +
                                  " (the longest of the first 40)";
    MeasureCache(demoTitle.c_str(), demo, engine, longest, 10);
    struct rusage usage {};
    getrusage(RUSAGE_SELF, &usage);
    std::printf("\npeak resident size of the benchmark process: %.1f MiB\n", usage.ru_maxrss / 1024.0);
    std::remove(songPath.c_str());
    return 0;
}
