// Where rendered PCM goes: an audio file in the format its name asks for (WAV, FLAC,
// Ogg Vorbis, Opus, MP3) or bare PCM, to a file or to standard output; and a progress
// bar for long work.
#pragma once

#include <cstddef>
#include <memory>
#include <string>

namespace vantrel::tool {

class CPcmSink
{
public:
    virtual ~CPcmSink() = default;
    // 16-bit little-endian stereo frames at 44 100 Hz.
    virtual void Write(const char* data, size_t bytes) = 0;
    // Completes the output. A sink destroyed without Finish leaves no file behind (an
    // existing file of that name is kept as it was).
    virtual void Finish() = 0;
};

enum class EOutputFormat { Raw, Wav, Flac, Ogg, Opus, Mp3 };

// The song's texts as the output's tags (8-bit song texts; empty ones are left out).
struct SOutputTags
{
    std::string strTitle;
    std::string strArtist;
    std::string strPublisher;
    std::string strGenre;
    std::string strCopyright;
    int nPerformance = 0; // 0: none
    std::string strExcerpt; // where an excerpt lies in the performance; empty: the whole
};

// The format that `path`'s extension names (case does not matter); a name without an
// extension, and "-", get WAV. Throws CommandError for an unknown extension, listing
// the known ones.
EOutputFormat OutputFormatForName(const std::string& path);
// The extension written for a format, without the dot ("pcm" for Raw).
const char* OutputFormatExtension(EOutputFormat format);
// The known extensions, for messages: ".wav, .flac, ...".
std::string KnownOutputExtensions();

// `path` "-" is standard output.
std::unique_ptr<CPcmSink> OpenPcmSink(const std::string& path, EOutputFormat format,
                                      const SOutputTags& tags = SOutputTags());

// The song's path with its extension replaced by `extension`.
std::string DefaultOutputName(const std::string& songPath, const std::string& extension);

// True when standard error is a terminal (progress is shown only there).
bool StderrIsTerminal();

// A one-line progress bar on standard error, shown only when it is a terminal.
class CProgress
{
public:
    explicit CProgress(double totalMs);
    void Update(double doneMs);
    void Done();

private:
    double m_fTotalMs;
    bool m_bShow;
    int m_nLastPermille = -1;
};

} // namespace vantrel::tool
