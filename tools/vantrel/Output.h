// Where rendered PCM goes: a WAV file (through libsndfile) or bare PCM, to a file or
// to standard output; and a progress bar for long work.
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

// `path` "-" is standard output.
std::unique_ptr<CPcmSink> OpenPcmSink(const std::string& path, bool raw);

// The song's path with its extension replaced by `extension`.
std::string DefaultOutputName(const std::string& songPath, const std::string& extension);

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
