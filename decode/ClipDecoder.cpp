#include "decode/ClipDecoder.h"

#include <limits>

#include "decode/PcmFormat.h"
#include "platform/File.h"

CClipDecoder::CClipDecoder(const char* pszEngine)
    : m_strEngine(pszEngine != nullptr ? pszEngine : "")
{
    // Every voice starts idle. Its frame decoder is made when a clip starts on it:
    // starting a clip replaces the decoder anyway, and a performance that starts no
    // clip on a voice never pays for one.
}

CClipDecoder::~CClipDecoder() = default;

int32_t CClipDecoder::LengthToBytes(int nLengthMs)
{
    const double fBytes = static_cast<double>(static_cast<uint32_t>(nLengthMs)) * vantrel::pcm::kBytesPerMs;
    constexpr int32_t kMax = std::numeric_limits<int32_t>::max();
    if (fBytes >= static_cast<double>(kMax))
        return kMax;
    return static_cast<int32_t>(fBytes); // truncates toward zero; fBytes >= 0
}

void CClipDecoder::CLiveStream::Rewind(int64_t nPos)
{
    // All voices share one file object: a voice positions it itself right before each
    // of its reads, and keeps its own account of where its reading stands. (Seeking
    // only where a read follows saves two system calls in most calls; a closed file
    // still ends the clip at once, as a failed seek would.)
    if (!mpeg.File()->IsOpen())
        throw CFileException("the song file is closed");
    mpeg.SetPosition(nPos);
}

bool CClipDecoder::StartClip(CFile* pFile, int nPos1, int nPos3, int nDataOffset, int nPos2,
                             int nPos4, int voice, int nLengthMs)
{
    (void)nPos2;
    (void)nPos3;
    (void)nPos4;
    if (voice < 0 || voice >= kVoiceCount)
        return false;
    VoiceDecodeState& v = m_arrVoices[voice];
    v.file = pFile;
    const bool bPlayable = v.cut.Start(pFile, nDataOffset, nPos1, LengthToBytes(nLengthMs));
    // Nothing of an earlier clip survives: its decoder goes with all input it buffers.
    m_nDecodedBefore += v.stream.mpeg.TakeDecodedBytes();
    v.stream.mpeg.Close();
    if (bPlayable)
        v.stream.mpeg.Open(m_strEngine, pFile, v.cut.readPos);
    return true;
}

int CClipDecoder::Decode(char* out, int bytes, int voice)
{
    if (voice < 0 || voice >= kVoiceCount)
        return 0;
    VoiceDecodeState& v = m_arrVoices[voice];
    return DecodeClip(v.cut, v.stream, out, bytes);
}

long long CClipDecoder::GetDecodedBytes() const
{
    long long nBytes = m_nDecodedBefore;
    for (const VoiceDecodeState& v : m_arrVoices)
        nBytes += v.stream.mpeg.GetDecodedBytes();
    return nBytes;
}
