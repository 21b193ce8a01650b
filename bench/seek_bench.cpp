// The exact seek's cost against where it lands, through the C library: a long song
// made of the demo song's material (its "Long" arrangement twelve times over, about
// ten minutes), exact seeks to 10 %, 50 % and 90 % of it (medians of repeated seeks,
// each from another place), against rendering one second of audio, for both clip
// sources; then the memory the engine keeps for exact seeks, for that song and for a
// song of 32 767 clips.
//
//   seek_bench [DEMO.vn] [REPEATS]
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "common/TestClips.h"
#include "common/TestSongs.h"
#include "player/SongPlayer.h"
#include "song/SongLoader.h"
#include "song/SongWriter.h"
#include "vantrel/vantrel.h"

namespace {

using Clock = std::chrono::steady_clock;

double Ms(Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

double Median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

// The demo's "Long" arrangement twelve times over, as the only arrangement.
std::string LongSong(const std::string& demoPath)
{
    const std::string demo = testutil::ReadBytes(demoPath);
    std::unique_ptr<CSong> song = CSongLoader().Load(CFileSource(demoPath));
    if (!song)
        throw std::runtime_error(demoPath + " does not load");
    const CArrangement* longest = nullptr;
    for (const auto& a : song->GetArrangements())
        if (a->GetName() == "Long")
            longest = a.get();
    if (!longest)
        throw std::runtime_error(demoPath + " has no arrangement \"Long\"");
    auto twelve = std::make_unique<CArrangement>("Long x12");
    for (int i = 0; i < 12; ++i)
        for (CSection* s : longest->GetSections())
            twelve->AddSection(s);
    song->m_arrArrangements.clear();
    song->AddArrangement(twelve);
    std::vector<std::string> data;
    for (int i = 0; i < song->GetClipCount(); ++i) {
        const CClip* c = song->GetClip(i);
        data.push_back(demo.substr(static_cast<size_t>(c->m_nDataOffset), static_cast<size_t>(c->m_nDataSize)));
    }
    return CSongWriter::Serialize(*song, data);
}

// 32 767 clips (the most a song holds) of three frames each, every one played once:
// 65 sections of four tracks with 127 events each (the most a track holds).
std::string ManyClipSong(const std::string& stereoClip)
{
    const std::vector<size_t> frames = testutil::FrameOffsets(stereoClip);
    const std::string clip = stereoClip.substr(0, frames.at(3));
    CSong song("Many clips");
    std::vector<CClip*> clips;
    for (int i = 0; i < 32767; ++i)
        clips.push_back(testutil::AddClip(song, "c" + std::to_string(i), 2));
    auto arrangement = std::make_unique<CArrangement>("All");
    size_t next = 0;
    for (int s = 0; s < 65; ++s) {
        CSection* section = testutil::AddSection(song, "S" + std::to_string(s));
        CVariation* v = testutil::AddVariation(*section, "v", 127 * 30);
        for (int t = 0; t < 4; ++t) {
            CTrack* track = testutil::AddTrack(*v, "T" + std::to_string(t));
            for (int e = 0; e < 127 && next < clips.size(); ++e)
                testutil::AddEvent(*track, clips[next++], e * 30 + t * 7, 60);
        }
        arrangement->AddSection(section);
    }
    song.AddArrangement(arrangement);
    return CSongWriter::Serialize(song, std::vector<std::string>(clips.size(), clip));
}

struct Handle
{
    vantrel_song* p = nullptr;
    ~Handle() { vantrel_song_close(p); }
};

void Check(int rc, const char* what)
{
    if (rc != VANTREL_OK) {
        std::fprintf(stderr, "%s: %s\n", what, vantrel_get_last_error());
        std::exit(1);
    }
}

void Seeks(const std::string& bytes, const char* source, int repeats)
{
    Handle h;
    Check(vantrel_song_open_memory(bytes.data(), bytes.size(), &h.p), "open");
    Check(vantrel_song_set_option(h.p, "clip-source", source), "clip-source");
    Check(vantrel_song_prepare(h.p, 1, nullptr), "prepare");
    int32_t lengthMs = 0;
    Check(vantrel_song_get_performance(h.p, nullptr, nullptr, &lengthMs, nullptr), "performance");

    auto timed = [&](auto&& call) {
        const auto t0 = Clock::now();
        call();
        return Ms(Clock::now() - t0);
    };
    const double first = timed([&] { Check(vantrel_song_seek_ms(h.p, lengthMs * 9LL / 10), "seek"); });
    std::vector<int16_t> buffer(44100 * 2);
    std::vector<double> seek[3], render;
    const int percents[3] = {10, 50, 90};
    for (int r = 0; r < repeats; ++r) {
        for (int k = 0; k < 3; ++k) {
            // From somewhere else each time, so that no seek finds its block at hand.
            Check(vantrel_song_seek_ms(h.p, lengthMs * ((k + r) % 3 * 30 + 5LL) / 100), "seek");
            seek[k].push_back(timed([&] { Check(vantrel_song_seek_ms(h.p, lengthMs * percents[k] / 100LL), "seek"); }));
        }
        render.push_back(timed([&] { vantrel_song_render(h.p, buffer.data(), 44100); }));
    }
    // The whole performance from the start, on a fresh handle (what an exact seek to its
    // end cost when it rendered everything before the target).
    Handle whole;
    Check(vantrel_song_open_memory(bytes.data(), bytes.size(), &whole.p), "open");
    Check(vantrel_song_set_option(whole.p, "clip-source", source), "clip-source");
    Check(vantrel_song_prepare(whole.p, 1, nullptr), "prepare");
    const double all = timed([&] {
        while (vantrel_song_render(whole.p, buffer.data(), 44100) > 0) {
        }
    });
    const double s10 = Median(seek[0]), s50 = Median(seek[1]), s90 = Median(seek[2]), r1 = Median(render);
    std::printf("%-6s  first seek (to 90 %%, learns the song) %8.2f ms; the whole song rendered %8.1f ms\n",
                source, first, all);
    std::printf("%-6s  seek to 10 %% %7.3f ms, 50 %% %7.3f ms, 90 %% %7.3f ms; render 1 s %7.3f ms\n", source,
                s10, s50, s90, r1);
    std::printf("%-6s  ratios: seek 90 %% / seek 10 %% = %.2f (goal <= 1.5); seek 90 %% / render 1 s = %.2f "
                "(goal <= 1)\n",
                source, s90 / s10, s90 / r1);
}

// The engine's own account of what it keeps, once a seek to the end has learned all.
void Memory(const char* name, const std::string& bytes)
{
    CSongPlayer player;
    player.Open(CFileSource(std::make_shared<const std::string>(bytes), "(memory)"));
    player.PreparePerformance(1);
    const auto t0 = Clock::now();
    int32_t blocks = 0;
    player.SeekBlock(INT32_MAX, &blocks);
    const double ms = Ms(Clock::now() - t0);
    const size_t kept = player.GetSeekMemoryBytes();
    std::printf("%-12s %6d blocks (%d s): kept for exact seeks %zu bytes (%.1f KiB); learning all took %.0f ms\n",
                name, blocks, player.GetLength() / 1000, kept, static_cast<double>(kept) / 1024, ms);
}

} // namespace

int main(int argc, char** argv)
{
    const std::string demo = argc > 1 ? argv[1] : std::string(VANTREL_SOURCE_DIR) + "/examples/demo.vn";
    const int repeats = argc > 2 ? std::max(1, std::atoi(argv[2])) : 15;
    const std::string longSong = LongSong(demo);
    {
        Handle h;
        Check(vantrel_song_open_memory(longSong.data(), longSong.size(), &h.p), "open");
        Check(vantrel_song_prepare(h.p, 1, nullptr), "prepare");
        int32_t lengthMs = 0;
        Check(vantrel_song_get_performance(h.p, nullptr, nullptr, &lengthMs, nullptr), "performance");
        std::printf("bench song: the demo's \"Long\" twelve times, %d:%06.3f, %zu bytes; medians of %d seeks\n",
                    lengthMs / 60000, lengthMs % 60000 / 1000.0, longSong.size(), repeats);
    }
    for (const char* source : {"direct", "cache"})
        Seeks(longSong, source, repeats);
    Memory("bench song", longSong);
    Memory("32767 clips", ManyClipSong(testutil::ReadTestClip("stereo44k.mp3")));
    return 0;
}
