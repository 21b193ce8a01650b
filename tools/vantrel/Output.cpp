#include "Output.h"

#include <cctype>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <vector>

#include <lame.h>
#include <opusenc.h>
#include <sndfile.h>

#ifdef _WIN32
#include <io.h>
#define VANTREL_ISATTY _isatty
#define VANTREL_FILENO _fileno
#else
#include <unistd.h>
#define VANTREL_ISATTY isatty
#define VANTREL_FILENO fileno
#endif

#include "Commands.h"
#include "OutputFile.h"
#include "TextCodec.h"
#include "decode/PcmFormat.h"

namespace vantrel::tool {

namespace {

using vantrel::pcm::kChannels;
using vantrel::pcm::kSampleRate;

class CRawSink : public CPcmSink
{
public:
    explicit CRawSink(const std::string& path) : m_file(path) {}
    void Write(const char* data, size_t bytes) override { m_file.Write(data, bytes); }
    void Finish() override { m_file.Commit(); }

private:
    COutputFile m_file;
};

// Where libsndfile writes a file: it completes the header last, so it needs a
// store it can position. A regular file is written in place (through the output
// file's temporary file); a device, a FIFO or standard output gets the finished file
// from an anonymous temporary one.
class CSeekableStore
{
public:
    explicit CSeekableStore(COutputFile& out) : m_out(out)
    {
        if (!m_out.IsSeekable()) {
            m_pScratch = std::tmpfile();
            if (!m_pScratch)
                throw COutputFileError("cannot write " + out.Path() +
                                       ": no temporary file for the audio data: " + std::strerror(errno));
        }
    }
    ~CSeekableStore()
    {
        if (m_pScratch)
            std::fclose(m_pScratch);
    }

    static SF_VIRTUAL_IO Callbacks()
    {
        SF_VIRTUAL_IO io{};
        io.get_filelen = [](void* p) -> sf_count_t { return static_cast<CSeekableStore*>(p)->Length(); };
        io.seek = [](sf_count_t offset, int whence, void* p) -> sf_count_t {
            return static_cast<CSeekableStore*>(p)->Seek(offset, whence);
        };
        io.read = [](void*, sf_count_t, void*) -> sf_count_t { return 0; };
        io.write = [](const void* data, sf_count_t n, void* p) -> sf_count_t {
            return static_cast<CSeekableStore*>(p)->Write(data, n);
        };
        io.tell = [](void* p) -> sf_count_t { return static_cast<CSeekableStore*>(p)->Tell(); };
        return io;
    }

    // The first failure, as the output file reported it.
    const std::string& Error() const { return m_strError; }

    // Hands the finished data to the output file (for a direct target).
    void Complete()
    {
        if (m_pScratch) {
            std::rewind(m_pScratch);
            std::vector<char> buf(1 << 16);
            size_t n;
            while ((n = std::fread(buf.data(), 1, buf.size(), m_pScratch)) > 0)
                m_out.Write(buf.data(), n);
            if (std::ferror(m_pScratch))
                throw COutputFileError("cannot write " + m_out.Path() + ": the temporary audio data could not be read back");
        }
        m_out.Commit();
    }

private:
    sf_count_t Length() const
    {
        if (m_pScratch) {
            const long at = std::ftell(m_pScratch);
            std::fseek(m_pScratch, 0, SEEK_END);
            const long end = std::ftell(m_pScratch);
            std::fseek(m_pScratch, at, SEEK_SET);
            return end;
        }
        return m_out.Size();
    }
    sf_count_t Tell() const { return m_pScratch ? std::ftell(m_pScratch) : m_out.Tell(); }
    sf_count_t Seek(sf_count_t offset, int whence)
    {
        const sf_count_t base = whence == SEEK_CUR ? Tell() : whence == SEEK_END ? Length() : 0;
        const sf_count_t to = base + offset;
        if (to < 0)
            return -1;
        if (m_pScratch)
            return std::fseek(m_pScratch, static_cast<long>(to), SEEK_SET) == 0 ? to : -1;
        try {
            m_out.Seek(to);
        } catch (const std::exception& e) {
            Remember(e.what());
            return -1;
        }
        return to;
    }
    sf_count_t Write(const void* data, sf_count_t n)
    {
        if (m_pScratch) {
            const size_t done = std::fwrite(data, 1, static_cast<size_t>(n), m_pScratch);
            if (done != static_cast<size_t>(n))
                Remember("cannot write " + m_out.Path() + ": temporary audio data: " + std::strerror(errno));
            return static_cast<sf_count_t>(done);
        }
        try {
            m_out.Write(data, static_cast<size_t>(n));
        } catch (const std::exception& e) {
            Remember(e.what());
            return 0;
        }
        return n;
    }
    void Remember(const std::string& error)
    {
        if (m_strError.empty())
            m_strError = error;
    }

    COutputFile& m_out;
    FILE* m_pScratch = nullptr;
    std::string m_strError;
};

// 16-bit little-endian stereo bytes as host samples.
void BytesToSamples(const char* data, size_t bytes, std::vector<int16_t>& samples)
{
    samples.resize(bytes / 2);
    const auto* p = reinterpret_cast<const unsigned char*>(data);
    for (size_t i = 0; i < samples.size(); ++i)
        samples[i] = static_cast<int16_t>(p[2 * i] | (p[2 * i + 1] << 8));
}

std::string PerformanceText(int performance) { return std::to_string(performance); }

// WAV, FLAC and Ogg Vorbis through libsndfile, 16-bit stereo at 44 100 Hz. The tags
// are what libsndfile writes for the format (RIFF INFO, Vorbis comments); it has no
// publisher field, so the publisher goes into the comment.
class CSndfileSink : public CPcmSink
{
public:
    CSndfileSink(const std::string& path, int format, const SOutputTags& tags)
        : m_file(path), m_store(m_file)
    {
        SF_INFO info{};
        info.samplerate = kSampleRate;
        info.channels = kChannels;
        info.format = format;
        m_io = CSeekableStore::Callbacks();
        m_pSnd = sf_open_virtual(&m_io, SFM_WRITE, &info, &m_store);
        if (!m_pSnd)
            Throw(std::string("cannot write ") + path + ": " + sf_strerror(nullptr));
        if ((format & SF_FORMAT_SUBMASK) == SF_FORMAT_VORBIS) {
            double quality = 0.6; // about 190 kbit/s for music
            sf_command(m_pSnd, SFC_SET_VBR_ENCODING_QUALITY, &quality, sizeof quality);
        }
        // A field the format cannot hold is left out (sf_set_string refuses it).
        auto put = [this](int type, const std::string& bytes) {
            if (!bytes.empty())
                sf_set_string(m_pSnd, type, BytesToUtf8(bytes).c_str());
        };
        put(SF_STR_TITLE, tags.strTitle);
        put(SF_STR_ARTIST, tags.strArtist);
        put(SF_STR_GENRE, tags.strGenre);
        put(SF_STR_COPYRIGHT, tags.strCopyright);
        std::string comment;
        if (tags.nPerformance > 0) {
            put(SF_STR_TRACKNUMBER, PerformanceText(tags.nPerformance));
            comment = "Performance " + PerformanceText(tags.nPerformance);
        }
        if (!tags.strExcerpt.empty())
            comment += (comment.empty() ? "" : "; ") + tags.strExcerpt;
        if (!tags.strPublisher.empty())
            comment += (comment.empty() ? "" : "; ") + std::string("Publisher: ") + tags.strPublisher;
        put(SF_STR_COMMENT, comment);
    }
    ~CSndfileSink() override
    {
        if (m_pSnd)
            sf_close(m_pSnd);
    }
    void Write(const char* data, size_t bytes) override
    {
        BytesToSamples(data, bytes, m_arrSamples);
        const sf_count_t frames = static_cast<sf_count_t>(m_arrSamples.size() / kChannels);
        if (sf_writef_short(m_pSnd, m_arrSamples.data(), frames) != frames)
            Throw(std::string("cannot write ") + m_file.Path() + ": " + sf_strerror(m_pSnd));
    }
    void Finish() override
    {
        const int rc = sf_close(m_pSnd);
        m_pSnd = nullptr;
        if (rc != 0 || !m_store.Error().empty())
            Throw(std::string("cannot write ") + m_file.Path() + ": " + sf_error_number(rc));
        m_store.Complete();
    }

private:
    // The output file's own reason comes first: it names what went wrong below.
    [[noreturn]] void Throw(const std::string& fallback) const
    {
        throw COutputFileError(m_store.Error().empty() ? fallback : m_store.Error());
    }

    COutputFile m_file;
    CSeekableStore m_store;
    SF_VIRTUAL_IO m_io{};
    SNDFILE* m_pSnd = nullptr;
    std::vector<int16_t> m_arrSamples;
};

struct LameDeleter
{
    void operator()(lame_global_flags* g) const { lame_close(g); }
};

// MP3 through LAME (VBR, about 190 kbit/s) with an ID3v2 tag. The info frame that
// tells decoders the exact length (encoder delay and padding) is filled in at the end,
// which needs a file it can go back into: a device or FIFO gets the stream without it.
class CMp3Sink : public CPcmSink
{
public:
    CMp3Sink(const std::string& path, const SOutputTags& tags) : m_file(path), m_pLame(lame_init())
    {
        lame_t g = m_pLame.get();
        if (!g)
            throw COutputFileError("cannot write " + path + ": the MP3 encoder does not start");
        lame_set_in_samplerate(g, kSampleRate);
        lame_set_out_samplerate(g, kSampleRate);
        lame_set_num_channels(g, kChannels);
        lame_set_mode(g, JOINT_STEREO);
        lame_set_VBR(g, vbr_default);
        lame_set_VBR_quality(g, 2.0f);
        lame_set_quality(g, 2);
        lame_set_bWriteVbrTag(g, m_file.IsSeekable() ? 1 : 0);
        // ID3v2 texts are ISO 8859-1, which is what a song text's bytes stand for.
        id3tag_init(g);
        id3tag_add_v2(g);
        id3tag_v2_only(g);
        lame_set_write_id3tag_automatic(g, 0);
        auto put = [g](const char* frame, const std::string& bytes) {
            if (!bytes.empty())
                id3tag_set_textinfo_latin1(g, frame, bytes.c_str());
        };
        put("TIT2", tags.strTitle);
        put("TPE1", tags.strArtist);
        put("TPUB", tags.strPublisher);
        put("TCON", tags.strGenre);
        put("TCOP", tags.strCopyright);
        if (tags.nPerformance > 0)
            id3tag_set_track(g, PerformanceText(tags.nPerformance).c_str());
        if (!tags.strExcerpt.empty())
            id3tag_set_comment(g, tags.strExcerpt.c_str());
        if (lame_init_params(g) < 0)
            throw COutputFileError("cannot write " + path + ": the MP3 encoder refuses its settings");
        m_arrBuffer.resize(kChunkFrames * 5 / 4 + 7200);
        const size_t tagBytes = lame_get_id3v2_tag(g, nullptr, 0);
        if (tagBytes > 0) {
            std::vector<unsigned char> tag(tagBytes);
            if (lame_get_id3v2_tag(g, tag.data(), tag.size()) == tagBytes)
                m_file.Write(tag.data(), tag.size());
        }
        m_nAudioStart = m_file.Tell();
    }
    void Write(const char* data, size_t bytes) override
    {
        BytesToSamples(data, bytes, m_arrSamples);
        size_t frames = m_arrSamples.size() / kChannels;
        const short* pcm = m_arrSamples.data();
        while (frames > 0) {
            const size_t n = frames < kChunkFrames ? frames : kChunkFrames;
            const int got = lame_encode_buffer_interleaved(m_pLame.get(), const_cast<short*>(pcm),
                                                           static_cast<int>(n), m_arrBuffer.data(),
                                                           static_cast<int>(m_arrBuffer.size()));
            if (got < 0)
                Fail(got);
            m_file.Write(m_arrBuffer.data(), static_cast<size_t>(got));
            pcm += 2 * n;
            frames -= n;
        }
    }
    void Finish() override
    {
        const int got = lame_encode_flush(m_pLame.get(), m_arrBuffer.data(), static_cast<int>(m_arrBuffer.size()));
        if (got < 0)
            Fail(got);
        m_file.Write(m_arrBuffer.data(), static_cast<size_t>(got));
        if (m_file.IsSeekable()) {
            // The encoder kept the first frame free for the info frame.
            const size_t tag = lame_get_lametag_frame(m_pLame.get(), m_arrBuffer.data(), m_arrBuffer.size());
            if (tag > 0) {
                m_file.Seek(m_nAudioStart);
                m_file.Write(m_arrBuffer.data(), tag);
            }
        }
        m_file.Commit();
    }

private:
    // Frames handed to the encoder at a time; the output buffer is sized for them as
    // LAME documents (1.25 x samples + 7200 bytes).
    static constexpr size_t kChunkFrames = 8192;

    [[noreturn]] void Fail(int code) const
    {
        throw COutputFileError("cannot write " + m_file.Path() + ": the MP3 encoder failed (" +
                               std::to_string(code) + ")");
    }

    COutputFile m_file;
    std::unique_ptr<lame_global_flags, LameDeleter> m_pLame;
    std::vector<unsigned char> m_arrBuffer;
    std::vector<int16_t> m_arrSamples;
    int64_t m_nAudioStart = 0;
};

// Opus in Ogg through libopusenc (it resamples the 44 100 Hz input to Opus's 48 kHz
// and writes the pages in order, so no seeking is needed), with Vorbis comments.
class COpusSink : public CPcmSink
{
public:
    COpusSink(const std::string& path, const SOutputTags& tags) : m_file(path)
    {
        std::unique_ptr<OggOpusComments, void (*)(OggOpusComments*)> comments(ope_comments_create(),
                                                                              ope_comments_destroy);
        if (!comments)
            throw COutputFileError("cannot write " + path + ": out of memory");
        auto put = [&comments](const char* tag, const std::string& bytes) {
            if (!bytes.empty())
                ope_comments_add(comments.get(), tag, BytesToUtf8(bytes).c_str());
        };
        put("TITLE", tags.strTitle);
        put("ARTIST", tags.strArtist);
        put("ORGANIZATION", tags.strPublisher);
        put("GENRE", tags.strGenre);
        put("COPYRIGHT", tags.strCopyright);
        if (tags.nPerformance > 0)
            put("TRACKNUMBER", PerformanceText(tags.nPerformance));
        put("COMMENT", tags.strExcerpt);
        OpusEncCallbacks callbacks{};
        callbacks.write = [](void* p, const unsigned char* data, opus_int32 len) -> int {
            return static_cast<COpusSink*>(p)->Put(data, static_cast<size_t>(len));
        };
        callbacks.close = [](void*) -> int { return 0; };
        int error = 0;
        m_pEnc = ope_encoder_create_callbacks(&callbacks, this, comments.get(), kSampleRate, kChannels, 0, &error);
        if (!m_pEnc)
            throw COutputFileError("cannot write " + path + ": the Opus encoder does not start (" +
                                   ope_strerror(error) + ")");
        ope_encoder_ctl(m_pEnc, OPUS_SET_BITRATE(160000));
    }
    ~COpusSink() override
    {
        if (m_pEnc)
            ope_encoder_destroy(m_pEnc);
    }
    void Write(const char* data, size_t bytes) override
    {
        BytesToSamples(data, bytes, m_arrSamples);
        const int rc = ope_encoder_write(m_pEnc, m_arrSamples.data(), static_cast<int>(m_arrSamples.size() / kChannels));
        Check(rc);
    }
    void Finish() override
    {
        Check(ope_encoder_drain(m_pEnc));
        ope_encoder_destroy(m_pEnc);
        m_pEnc = nullptr;
        m_file.Commit();
    }

private:
    int Put(const unsigned char* data, size_t bytes)
    {
        try {
            m_file.Write(data, bytes);
        } catch (const std::exception& e) {
            if (m_strError.empty())
                m_strError = e.what();
            return 1;
        }
        return 0;
    }
    void Check(int rc) const
    {
        if (!m_strError.empty())
            throw COutputFileError(m_strError);
        if (rc != OPE_OK)
            throw COutputFileError("cannot write " + m_file.Path() + ": the Opus encoder failed (" +
                                   ope_strerror(rc) + ")");
    }

    COutputFile m_file;
    OggOpusEnc* m_pEnc = nullptr;
    std::vector<int16_t> m_arrSamples;
    std::string m_strError;
};

} // namespace

namespace {

struct SFormatName
{
    const char* pszExtension;
    EOutputFormat format;
};

constexpr SFormatName kFormats[] = {
    {"wav", EOutputFormat::Wav}, {"flac", EOutputFormat::Flac}, {"ogg", EOutputFormat::Ogg},
    {"opus", EOutputFormat::Opus}, {"mp3", EOutputFormat::Mp3},
};

} // namespace

std::string KnownOutputExtensions()
{
    std::string list;
    for (const SFormatName& f : kFormats)
        list += (list.empty() ? "." : ", .") + std::string(f.pszExtension);
    return list;
}

const char* OutputFormatExtension(EOutputFormat format)
{
    for (const SFormatName& f : kFormats)
        if (f.format == format)
            return f.pszExtension;
    return "pcm";
}

EOutputFormat OutputFormatForName(const std::string& path)
{
    if (path == "-")
        return EOutputFormat::Wav;
    const size_t slash = path.find_last_of("/\\");
    const size_t dot = path.rfind('.');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash))
        return EOutputFormat::Wav; // a device, a FIFO, a plain name
    std::string ext = path.substr(dot + 1);
    for (char& ch : ext)
        ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
    for (const SFormatName& f : kFormats)
        if (ext == f.pszExtension)
            return f.format;
    throw CommandError("cannot write " + path + ": unknown output format \"." + ext + "\" (known: " +
                       KnownOutputExtensions() + "; --raw writes bare PCM under any name)");
}

std::unique_ptr<CPcmSink> OpenPcmSink(const std::string& path, EOutputFormat format, const SOutputTags& tags)
{
    if (format == EOutputFormat::Raw)
        return std::make_unique<CRawSink>(path);
    switch (format) {
    case EOutputFormat::Flac:
        return std::make_unique<CSndfileSink>(path, SF_FORMAT_FLAC | SF_FORMAT_PCM_16, tags);
    case EOutputFormat::Ogg:
        return std::make_unique<CSndfileSink>(path, SF_FORMAT_OGG | SF_FORMAT_VORBIS, tags);
    case EOutputFormat::Opus:
        return std::make_unique<COpusSink>(path, tags);
    case EOutputFormat::Mp3:
        return std::make_unique<CMp3Sink>(path, tags);
    default:
        return std::make_unique<CSndfileSink>(path, SF_FORMAT_WAV | SF_FORMAT_PCM_16, tags);
    }
}

std::string DefaultOutputName(const std::string& songPath, const std::string& extension)
{
    const size_t slash = songPath.find_last_of("/\\");
    const size_t dot = songPath.find_last_of('.');
    if (dot != std::string::npos && (slash == std::string::npos || dot > slash + 1))
        return songPath.substr(0, dot) + extension;
    return songPath + extension;
}

bool StderrIsTerminal() { return VANTREL_ISATTY(VANTREL_FILENO(stderr)) != 0; }

CProgress::CProgress(double totalMs) : m_fTotalMs(totalMs), m_bShow(totalMs > 0 && StderrIsTerminal()) {}

void CProgress::Update(double doneMs)
{
    if (!m_bShow)
        return;
    int permille = static_cast<int>(doneMs / m_fTotalMs * 1000.0);
    if (permille > 1000)
        permille = 1000;
    if (permille == m_nLastPermille)
        return;
    m_nLastPermille = permille;
    const int width = 40;
    const int filled = permille * width / 1000;
    const long secs = static_cast<long>(doneMs / 1000.0);
    std::fprintf(stderr, "\r[%-*s] %3d%%  %ld:%02ld", width, std::string(static_cast<size_t>(filled), '#').c_str(),
                 permille / 10, secs / 60, secs % 60);
    std::fflush(stderr);
}

void CProgress::Done()
{
    if (m_bShow && m_nLastPermille >= 0)
        std::fputs("\n", stderr);
}

} // namespace vantrel::tool
