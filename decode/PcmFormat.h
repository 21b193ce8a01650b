// The PCM the engine renders, and the one set of numbers that every layer and front
// end takes it from: 44 100 Hz, 16-bit signed samples, two channels interleaved,
// rendered in blocks of 1152 frames. Times on the song's clock become byte positions
// at 176.4 bytes per millisecond.
#pragma once

#include <cstdint>

namespace vantrel::pcm {

inline constexpr int kSampleRate = 44100;
inline constexpr int kChannels = 2;
inline constexpr int kBitsPerSample = 16;
inline constexpr int kBytesPerFrame = kChannels * kBitsPerSample / 8; // 4
inline constexpr int kBlockFrames = 1152;
inline constexpr int kBlockBytes = kBlockFrames * kBytesPerFrame; // 4608
// Bytes per millisecond, as the double 176.4 (the integers' quotient rounds to it).
inline constexpr double kBytesPerMs = kSampleRate * kBytesPerFrame / 1000.0;
// One block's length in milliseconds (about 26.1).
inline constexpr double kBlockMs = kBlockBytes / kBytesPerMs;
// Blocks per millisecond, as the double this division gives (just below 0.03828125).
inline constexpr double kBlocksPerMs = 1.0 / (kBlockBytes / kBytesPerMs);

// The frame at a time of nMs >= 0 whole milliseconds: floor(ms x 44.1), exact for
// every time whose frame number fits in 63 bits.
constexpr int64_t FramesOfMs(int64_t nMs)
{
    return nMs / 1000 * kSampleRate + nMs % 1000 * kSampleRate / 1000;
}

static_assert(kBytesPerMs == 176.4 && kBlockBytes == 4608);

} // namespace vantrel::pcm
