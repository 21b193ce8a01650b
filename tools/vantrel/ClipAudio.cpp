#include "ClipAudio.h"

#include <algorithm>
#include <memory>
#include <vector>

#include <mpg123.h>
#include <lame.h>
#include <sndfile.h>

namespace vantrel::tool {

namespace {

struct Mpg123Deleter
{
    void operator()(mpg123_handle* h) const
    {
        mpg123_close(h);
        mpg123_delete(h);
    }
};
struct SndfileDeleter
{
    void operator()(SNDFILE* f) const { sf_close(f); }
};
struct LameDeleter
{
    void operator()(lame_global_flags* g) const { lame_close(g); }
};

std::unique_ptr<SNDFILE, SndfileDeleter> OpenSound(const std::string& path, SF_INFO& info)
{
    info = SF_INFO{};
    std::unique_ptr<SNDFILE, SndfileDeleter> f(sf_open(path.c_str(), SFM_READ, &info));
    if (!f)
        throw ClipAudioError("cannot read it as a sound file (" +
                             std::string(sf_strerror(nullptr)) + ")");
    if (info.channels < 1 || info.channels > 2)
        throw ClipAudioError("it has " + std::to_string(info.channels) +
                             " channels; only mono and stereo sounds can be used");
    if (info.frames <= 0)
        throw ClipAudioError("it holds no sound");
    return f;
}

} // namespace

bool IsFrameHeaderAt(const std::string& data, size_t at)
{
    if (at + 4 > data.size())
        return false;
    const auto b0 = static_cast<unsigned char>(data[at]);
    const auto b1 = static_cast<unsigned char>(data[at + 1]);
    const auto b2 = static_cast<unsigned char>(data[at + 2]);
    // Sync, a valid version and layer, a bitrate index other than "bad" and a valid
    // sample rate index.
    return b0 == 0xFF && (b1 & 0xE0) == 0xE0 && (b1 & 0x18) != 0x08 && (b1 & 0x06) != 0 &&
           (b2 & 0xF0) != 0xF0 && (b2 & 0x0C) != 0x0C;
}

Mp3Facts InspectMp3(const std::string& data)
{
    int err = MPG123_OK;
    std::unique_ptr<mpg123_handle, Mpg123Deleter> h(mpg123_new(nullptr, &err));
    if (!h)
        throw ClipAudioError(std::string("cannot start the MP3 decoder: ") +
                             mpg123_plain_strerror(err));
    mpg123_param(h.get(), MPG123_ADD_FLAGS, MPG123_QUIET, 0);
    if (mpg123_open_feed(h.get()) != MPG123_OK ||
        mpg123_feed(h.get(), reinterpret_cast<const unsigned char*>(data.data()), data.size()) !=
            MPG123_OK)
        throw ClipAudioError(std::string("cannot decode it as MP3: ") + mpg123_strerror(h.get()));

    Mp3Facts facts;
    facts.bStartsWithFrame = IsFrameHeaderAt(data, 0);
    int64_t bytes = 0;
    int encoding = 0;
    for (;;) {
        off_t num = 0;
        unsigned char* audio = nullptr;
        size_t size = 0;
        const int rc = mpg123_decode_frame(h.get(), &num, &audio, &size);
        if (rc == MPG123_NEW_FORMAT) {
            long rate = 0;
            int channels = 0;
            mpg123_getformat(h.get(), &rate, &channels, &encoding);
            if (facts.nRate && (rate != facts.nRate || channels != facts.nChannels))
                throw ClipAudioError("its format changes in the middle");
            facts.nRate = rate;
            facts.nChannels = channels;
            continue;
        }
        if (rc == MPG123_OK) {
            bytes += static_cast<int64_t>(size);
            continue;
        }
        if (rc == MPG123_NEED_MORE || rc == MPG123_DONE)
            break;
        throw ClipAudioError(std::string("it does not decode as MP3: ") + mpg123_strerror(h.get()));
    }
    if (facts.nRate == 0 || bytes == 0)
        throw ClipAudioError("it holds no MPEG audio");
    facts.nFrames = bytes / (facts.nChannels * mpg123_encsize(encoding));
    return facts;
}

SoundFacts InspectSound(const std::string& path)
{
    SF_INFO info;
    OpenSound(path, info);
    return SoundFacts{info.samplerate, info.channels, static_cast<int64_t>(info.frames)};
}

std::string EncodeToMp3(const std::string& path, int kbps,
                        const std::function<void(double)>& progress)
{
    SF_INFO info;
    auto in = OpenSound(path, info);

    std::unique_ptr<lame_global_flags, LameDeleter> lame(lame_init());
    if (!lame)
        throw ClipAudioError("cannot start the MP3 encoder");
    lame_set_in_samplerate(lame.get(), info.samplerate);
    lame_set_out_samplerate(lame.get(), kSongRate);
    lame_set_num_channels(lame.get(), 2);
    lame_set_mode(lame.get(), JOINT_STEREO);
    lame_set_brate(lame.get(), kbps);
    lame_set_quality(lame.get(), 2);
    // The info frame at the start tells decoders the encoder delay and padding, so
    // that the clip decodes to exactly the sound's length.
    lame_set_bWriteVbrTag(lame.get(), 1);
    if (lame_init_params(lame.get()) < 0)
        throw ClipAudioError("the MP3 encoder refuses these settings (" + std::to_string(kbps) +
                             " kbit/s from " + std::to_string(info.samplerate) + " Hz)");

    constexpr int kChunk = 16384;
    std::vector<float> pcm(static_cast<size_t>(kChunk) * info.channels);
    std::vector<float> stereo(static_cast<size_t>(kChunk) * 2);
    // Worst case per the encoder's documentation: 1.25 * samples + 7200, scaled for
    // a higher input rate than the output's.
    const size_t bufSize =
        static_cast<size_t>(kChunk * 1.25 * std::max(1.0, double(kSongRate) / info.samplerate)) +
        7200;
    std::vector<unsigned char> buf(bufSize);
    std::string out;
    int64_t done = 0;
    for (;;) {
        const sf_count_t got = sf_readf_float(in.get(), pcm.data(), kChunk);
        if (got <= 0)
            break;
        const float* frames = pcm.data();
        if (info.channels == 1) {
            for (sf_count_t i = 0; i < got; ++i)
                stereo[2 * i] = stereo[2 * i + 1] = pcm[i];
            frames = stereo.data();
        }
        const int n = lame_encode_buffer_interleaved_ieee_float(
            lame.get(), frames, static_cast<int>(got), buf.data(), static_cast<int>(buf.size()));
        if (n < 0)
            throw ClipAudioError("the MP3 encoder failed (" + std::to_string(n) + ")");
        out.append(reinterpret_cast<const char*>(buf.data()), static_cast<size_t>(n));
        done += got;
        if (progress)
            progress(static_cast<double>(done) / static_cast<double>(info.frames));
    }
    if (sf_error(in.get()) != SF_ERR_NO_ERROR)
        throw ClipAudioError(std::string("reading it failed: ") + sf_strerror(in.get()));
    const int n = lame_encode_flush(lame.get(), buf.data(), static_cast<int>(buf.size()));
    if (n < 0)
        throw ClipAudioError("the MP3 encoder failed (" + std::to_string(n) + ")");
    out.append(reinterpret_cast<const char*>(buf.data()), static_cast<size_t>(n));

    // The encoder reserved the first frame for the info frame; fill it in.
    const size_t tagSize = lame_get_lametag_frame(lame.get(), buf.data(), buf.size());
    if (tagSize > 0 && tagSize <= out.size())
        out.replace(0, tagSize, reinterpret_cast<const char*>(buf.data()), tagSize);
    return out;
}

bool HasMp3Extension(const std::string& path)
{
    if (path.size() < 4)
        return false;
    std::string ext = path.substr(path.size() - 4);
    std::transform(ext.begin(), ext.end(), ext.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return ext == ".mp3";
}

} // namespace vantrel::tool
