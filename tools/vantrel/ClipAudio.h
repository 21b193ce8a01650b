// Sound material for `pack`: MP3 files are taken as they are (after checking that
// they decode to 44 100 Hz stereo), other sound files are read with libsndfile and
// encoded to 44 100 Hz stereo MP3 with libmp3lame (whose own resampler converts
// other sample rates).
#pragma once

#include <cstdint>
#include <functional>
#include <stdexcept>
#include <string>

#include "decode/PcmFormat.h"

namespace vantrel::tool {

constexpr int kSongRate = vantrel::pcm::kSampleRate;
constexpr int kSongChannels = vantrel::pcm::kChannels;

class ClipAudioError : public std::runtime_error
{
public:
    explicit ClipAudioError(const std::string& what) : std::runtime_error(what) {}
};

// What decoding a piece of MP3 data gives.
struct Mp3Facts
{
    long nRate = 0;
    int nChannels = 0;
    int64_t nFrames = 0;        // sample frames decoded (encoder delay and padding removed)
    bool bStartsWithFrame = false; // the data's first bytes are an MPEG audio frame header
};

// Decodes the whole of `data` with libmpg123; throws ClipAudioError when it is not
// MPEG audio that decodes to the end.
Mp3Facts InspectMp3(const std::string& data);

// Whether `data` holds an MPEG audio frame header at `at`.
bool IsFrameHeaderAt(const std::string& data, size_t at);

// A sound file as libsndfile sees it.
struct SoundFacts
{
    int nRate = 0;
    int nChannels = 0;
    int64_t nFrames = 0;
};

// Reads the sound file's format; throws ClipAudioError when libsndfile cannot read it
// or it is not mono or stereo.
SoundFacts InspectSound(const std::string& path);

// Encodes the sound file to MP3 at 44 100 Hz stereo, `kbps` kbit/s. `progress` is
// called now and then with the fraction done (0..1).
std::string EncodeToMp3(const std::string& path, int kbps,
                        const std::function<void(double)>& progress);

// Whether the file looks like MP3 by its name (.mp3, any case).
bool HasMp3Extension(const std::string& path);

} // namespace vantrel::tool
