// The clip decoder alone: arbitrary MP3-like bytes, clips started on several voices at
// arbitrary data offsets, start positions (nPos1) and lengths, and decoded in
// requests of arbitrary sizes.
//
// Input layout (FuzzedDataProvider): the steering values are taken from the end of
// the input, the bytes left at the front are the clip data. A bare MP3 file is thus a
// valid input; its last bytes become the script. The data is written after a short
// prefix, so that the data offsets of real clips (always above 0) are reachable.
#include <fcntl.h>
#include <unistd.h>

#include <fuzzer/FuzzedDataProvider.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "decode/ClipDecoder.h"
#include "decode/PcmFormat.h"
#include "platform/File.h"

namespace {

constexpr int kPrefix = 32;
constexpr int kMaxSteps = 16;
constexpr int kMaxCallsPerStep = 32;
constexpr int kMaxRequest = 3 * vantrel::pcm::kBlockBytes;

const std::string& DataPath()
{
    static const std::string path = [] {
        const char* dir = ::access("/dev/shm", W_OK) == 0 ? "/dev/shm" : std::getenv("TMPDIR");
        return std::string(dir && *dir ? dir : "/tmp") + "/vantrel-fuzz-clip-" +
               std::to_string(::getpid()) + ".bin";
    }();
    return path;
}

bool WriteData(const std::vector<uint8_t>& bytes)
{
    const int fd = ::open(DataPath().c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (fd < 0)
        return false;
    const std::string prefix(kPrefix, '\x5A');
    bool ok = ::write(fd, prefix.data(), prefix.size()) == static_cast<ssize_t>(prefix.size());
    size_t done = 0;
    while (ok && done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n <= 0)
            ok = false;
        else
            done += static_cast<size_t>(n);
    }
    ::close(fd);
    return ok;
}

void RemoveData() { ::unlink(DataPath().c_str()); }

struct Step
{
    bool bStart = false;
    int nVoice = 0;
    int nOffsetChoice = 0;
    uint32_t nOffset = 0;
    int32_t nRawOffset = 0;
    int32_t nPos1 = 0;
    int32_t nLengthMs = 0;
    int nCalls = 0;
    int nRequest = 0;
};

int32_t PickPos1(FuzzedDataProvider& in)
{
    switch (in.ConsumeIntegralInRange(0, 2)) {
    case 0:
        return 0;
    case 1:
        return in.ConsumeIntegral<uint16_t>();
    default:
        return in.ConsumeIntegral<int32_t>();
    }
}

int32_t PickLength(FuzzedDataProvider& in)
{
    return in.ConsumeBool() ? in.ConsumeIntegralInRange<int32_t>(0, 2000)
                            : in.ConsumeIntegral<int32_t>();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    FuzzedDataProvider in(data, size);
    std::vector<Step> steps(static_cast<size_t>(in.ConsumeIntegralInRange(1, kMaxSteps)));
    for (Step& s : steps) {
        s.bStart = in.ConsumeBool();
        // One past each end of the voice range, to reach the range checks.
        s.nVoice = in.ConsumeIntegralInRange(-1, CClipDecoder::kVoiceCount);
        if (s.bStart) {
            s.nOffsetChoice = in.ConsumeIntegralInRange(0, 2);
            s.nOffset = in.ConsumeIntegral<uint16_t>();
            s.nRawOffset = in.ConsumeIntegral<int32_t>();
            s.nPos1 = PickPos1(in);
            s.nLengthMs = PickLength(in);
        } else {
            s.nCalls = in.ConsumeIntegralInRange(1, kMaxCallsPerStep);
            s.nRequest = in.ConsumeIntegralInRange(0, kMaxRequest);
        }
    }
    const std::vector<uint8_t> clip = in.ConsumeRemainingBytes<uint8_t>();
    if (!WriteData(clip))
        std::abort(); // the machine, not the input
    CFile file;
    if (!file.Open(DataPath()))
        std::abort();

    CClipDecoder decoder("generic");
    const int64_t dataSize = static_cast<int64_t>(clip.size());
    for (const Step& s : steps) {
        if (s.bStart) {
            int32_t offset = kPrefix;
            if (s.nOffsetChoice == 1)
                offset = static_cast<int32_t>(kPrefix + s.nOffset % (dataSize + 1));
            else if (s.nOffsetChoice == 2)
                offset = s.nRawOffset;
            decoder.StartClip(&file, s.nPos1, 0, offset, 0, 0, s.nVoice, s.nLengthMs);
            continue;
        }
        // The request's buffer is exactly as large as the request, so that a write past
        // it is caught; a request of 0 gets a buffer of 1 byte.
        std::unique_ptr<char[]> out(new char[static_cast<size_t>(s.nRequest > 0 ? s.nRequest : 1)]);
        for (int c = 0; c < s.nCalls; ++c) {
            const int got = decoder.Decode(out.get(), s.nRequest, s.nVoice);
            if (got < 0 || got > s.nRequest)
                std::abort(); // the decoder's contract: 0..request bytes
            if (got < s.nRequest)
                break;
        }
    }
    file.Close();
    // Removed after every input: libFuzzer ends its process without running exit hooks.
    RemoveData();
    return 0;
}
