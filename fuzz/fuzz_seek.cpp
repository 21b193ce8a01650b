// The exact seek against an unbroken render: the input is a song file, played through
// the C library; a render from the start is the reference, then a sequence of seeks
// (forwards, backwards, repeated, past the end) must each give the reference's frames
// from the target on, through the clip source the input picks.
//
// As in fuzz_song, the whole input is the file and its last bytes also steer the run:
// the clip source, the performance (1 to 3) and the seek targets.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "vantrel/vantrel.h"

namespace {

// Reference renders stop here (past the seek's first checkpoints, within the time a
// unit may take).
constexpr int64_t kMaxFrames = 320 * 1152;
constexpr size_t kCompareFrames = 2 * 1152 + 100;

struct Handle
{
    vantrel_song* p = nullptr;
    ~Handle() { vantrel_song_close(p); }
};

bool Open(const uint8_t* data, size_t size, int performance, const char* source, Handle& h)
{
    if (vantrel_song_open_memory(data, size, &h.p) != VANTREL_OK)
        return false;
    vantrel_song_set_option(h.p, "decoder", "generic");
    vantrel_song_set_option(h.p, "clip-source", source);
    return vantrel_song_prepare(h.p, performance, nullptr) == VANTREL_OK;
}

[[noreturn]] void Fault(const char* what, int64_t target, int64_t value)
{
    std::fprintf(stderr, "seek to frame %lld: %s (%lld)\n", static_cast<long long>(target), what,
                 static_cast<long long>(value));
    std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size == 0)
        return 0;
    uint32_t steer = 0;
    for (size_t i = size > 4 ? size - 4 : 0; i < size; ++i)
        steer = steer << 8 | data[i];
    const char* const source = (steer & 1) ? "cache" : "direct";
    const int performance = 1 + static_cast<int>((steer >> 1) % 3);

    Handle plain;
    if (!Open(data, size, performance, "direct", plain))
        return 0;
    std::vector<int16_t> reference;
    std::vector<int16_t> chunk(4096 * 2);
    while (static_cast<int64_t>(reference.size() / 2) < kMaxFrames) {
        const long n = vantrel_song_render(plain.p, chunk.data(), 4096);
        if (n < 0)
            Fault("the render failed", 0, n);
        if (n == 0)
            break;
        reference.insert(reference.end(), chunk.begin(), chunk.begin() + n * 2);
    }
    const bool ended = vantrel_song_at_end(plain.p) == 1;
    const int64_t frames = static_cast<int64_t>(reference.size() / 2);

    Handle song;
    if (!Open(data, size, performance, source, song))
        Fault("the song prepared once but not twice", 0, 0);
    uint32_t x = steer | 1;
    std::vector<int16_t> got(kCompareFrames * 2);
    for (int i = 0; i < 6; ++i) {
        x = x * 1664525u + 1013904223u;
        // Mostly within the reference, now and then beyond its end.
        const int64_t target = static_cast<int64_t>((x >> 4) % static_cast<uint32_t>(frames + 3000));
        if (vantrel_song_seek_frame(song.p, target) != VANTREL_OK)
            Fault("the seek failed", target, 0);
        int64_t told = -1;
        vantrel_song_tell(song.p, &told);
        if (target >= frames && !ended)
            continue; // beyond what the reference holds
        const int64_t at = target < frames ? target : frames;
        if (told != at)
            Fault("the position is not the target", target, told);
        const long n = vantrel_song_render(song.p, got.data(), kCompareFrames);
        const int64_t expected = std::min<int64_t>(static_cast<int64_t>(kCompareFrames), frames - at);
        if (n < expected || (ended && n != expected))
            Fault("the render after the seek gave another count", target, n);
        for (int64_t k = 0; k < expected * 2; ++k)
            if (got[static_cast<size_t>(k)] != reference[static_cast<size_t>(at * 2 + k)])
                Fault("a sample differs from the unbroken render at frame", target, at + k / 2);
    }
    return 0;
}
