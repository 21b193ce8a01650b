#include "decode/ClipDecoder.h"

#include <algorithm>
#include <cstring>
#include <limits>

#include <mpg123.h>

#include "platform/File.h"

namespace {

// Older libmpg123 versions need mpg123_init() once before the first handle; newer
// ones ignore it. A function-local static runs it once, thread-safely.
void InitLibraryOnce()
{
    static const int s_nInit = mpg123_init();
    (void)s_nInit;
}

// Applies the fixed decoding setup to a new handle and opens it in feed mode.
bool ConfigureHandle(mpg123_handle* pHandle)
{
    if (mpg123_param(pHandle, MPG123_ADD_FLAGS,
                     MPG123_QUIET | MPG123_IGNORE_INFOFRAME | MPG123_NO_RESYNC, 0.0) != MPG123_OK)
        return false;
    if (mpg123_param(pHandle, MPG123_REMOVE_FLAGS, MPG123_GAPLESS, 0.0) != MPG123_OK)
        return false;
    // Signed 16-bit only, at every rate the library knows, mono and stereo: the PCM
    // comes out as coded, never resampled or converted.
    if (mpg123_format_none(pHandle) != MPG123_OK)
        return false;
    const long* pRates = nullptr;
    size_t nRates = 0;
    mpg123_rates(&pRates, &nRates);
    for (size_t i = 0; i < nRates; ++i) {
        if (mpg123_format(pHandle, pRates[i], MPG123_MONO | MPG123_STEREO,
                          MPG123_ENC_SIGNED_16) != MPG123_OK)
            return false;
    }
    return mpg123_open_feed(pHandle) == MPG123_OK;
}

int ClampCount(int64_t nCount, int want)
{
    return static_cast<int>(std::clamp<int64_t>(nCount, 0, want));
}

} // namespace

void CClipDecoder::CMpegDeleter::operator()(mpg123_handle_struct* pHandle) const noexcept
{
    mpg123_delete(pHandle);
}

CClipDecoder::CClipDecoder(const char* pszEngine)
    : m_strEngine(pszEngine != nullptr ? pszEngine : "")
{
    // Every voice starts idle. Its frame decoder is made when a clip starts on it:
    // starting a clip replaces the decoder anyway, and a performance that starts no
    // clip on a voice never pays for one.
}

CClipDecoder::~CClipDecoder() = default;

mpg123_handle_struct* CClipDecoder::NewConfiguredHandle(const char* pszEngine)
{
    InitLibraryOnce();
    int nError = MPG123_OK;
    MpegHandle handle(mpg123_new(pszEngine != nullptr && *pszEngine ? pszEngine : nullptr, &nError));
    if (!handle || !ConfigureHandle(handle.get()))
        return nullptr;
    return handle.release();
}

CClipDecoder::MpegHandle CClipDecoder::NewMpeg() const noexcept
{
    return MpegHandle(NewConfiguredHandle(m_strEngine.c_str()));
}

int32_t CClipDecoder::LengthToBytes(int nLengthMs)
{
    const double fBytes = static_cast<double>(static_cast<uint32_t>(nLengthMs)) * kBytesPerMs;
    constexpr int32_t kMax = std::numeric_limits<int32_t>::max();
    if (fBytes >= static_cast<double>(kMax))
        return kMax;
    return static_cast<int32_t>(fBytes); // truncates toward zero; fBytes >= 0
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
    // 64-bit, so that no offset pair overflows; a negative result fails at the seek.
    v.readPos = static_cast<int64_t>(nDataOffset) + (nPos1 != 0 ? static_cast<int64_t>(nPos1) + 4 : 0);
    v.carryLen = 0;
    v.lengthBytes = LengthToBytes(nLengthMs);
    v.produced = kLeadInBytes;
    // A data offset of 0 or less means the clip has no data at all.
    v.ended = pFile == nullptr || nDataOffset <= 0;
    // Nothing of an earlier clip survives: its decoder goes with all input it buffers.
    v.mpeg.reset();
    if (!v.ended)
        v.mpeg = NewMpeg();
    return true;
}

int CClipDecoder::Decode(char* out, int bytes, int voice)
{
    if (voice < 0 || voice >= kVoiceCount || out == nullptr || bytes <= 0)
        return 0;
    VoiceDecodeState& v = m_arrVoices[voice];
    if (v.ended)
        return 0;
    int nCount = 0;
    if (v.mpeg) {
        try {
            nCount = DecodeVoice(v, out, bytes);
        } catch (...) {
            // A failed seek or read of the song file (a negative position, a closed
            // file, an I/O error) ends the clip like an undecodable frame.
            v.mpeg.reset(); // the next StartClip makes a fresh one
            nCount = 0;
        }
    }
    // The count alone says whether the clip goes on: a full result keeps the voice
    // playing even when the call met the clip's final frame, and the next call
    // decides the end from the same rules.
    v.ended = nCount < bytes;
    return nCount;
}

CClipDecoder::FrameResult CClipDecoder::NextFrame(VoiceDecodeState& v, int& nFrameBytes)
{
    nFrameBytes = 0;
    off_t nFrameNumber = 0;
    unsigned char* pAudio = nullptr;
    size_t nBytes = 0;
    const int nResult = mpg123_decode_frame(v.mpeg.get(), &nFrameNumber, &pAudio, &nBytes);
    if (nResult == MPG123_NEW_FORMAT)
        return FrameResult::Frame; // counts as a frame of 0 bytes
    if (nResult == MPG123_NEED_MORE)
        return FrameResult::NeedMore;
    if (nResult != MPG123_OK)
        return FrameResult::Error;
    if (nBytes == 0)
        return FrameResult::Frame;
    if (pAudio == nullptr)
        return FrameResult::Error;
    // The PCM lives in the library's memory until the next call: keep a copy, never
    // more than the frame buffer holds.
    nFrameBytes = static_cast<int>(std::min<size_t>(nBytes, kPcmCarry));
    std::memcpy(v.frame, pAudio, static_cast<size_t>(nFrameBytes));
    return FrameResult::Frame;
}

int CClipDecoder::DecodeVoice(VoiceDecodeState& v, char* out, int want)
{
    // All voices share one file object: a voice positions it itself right before each
    // of its reads, and keeps its own account of where its reading stands. (Seeking
    // only where a read follows saves two system calls in most calls; a closed file
    // still ends the clip at once, as a failed seek would.)
    if (!v.file->IsOpen())
        throw CFileException("the song file is closed");
    int64_t nFilePos = v.readPos;

    int c = 0;
    if (v.carryLen > want) {
        // A carry longer than the request (only after a small request): hand over its
        // head, keep the rest as the carry and decode nothing; the clip's end is
        // decided once the carry fits.
        std::memcpy(out, v.frame, static_cast<size_t>(want));
        std::memmove(v.frame, v.frame + want, static_cast<size_t>(v.carryLen - want));
        v.carryLen -= want;
        return want;
    }
    if (v.carryLen > 0) {
        // carryLen stays: only a frame cut at the end of the room sets it anew. Should
        // this call end on the clip's final frame with a full result, the next call
        // copies that many bytes again, of what `frame` then holds.
        std::memcpy(out, v.frame, static_cast<size_t>(v.carryLen));
        c = v.carryLen;
    }

    for (;;) {
        int nFrame = 0;
        FrameResult result = NextFrame(v, nFrame);
        if (result == FrameResult::NeedMore) {
            v.file->Seek(nFilePos, CFile::begin);
            const uint32_t nRead = v.file->Read(v.input, kReadChunk);
            nFilePos += nRead;
            if (nRead > 0 && mpg123_feed(v.mpeg.get(), v.input, nRead) != MPG123_OK) {
                result = FrameResult::Error;
            } else {
                result = NextFrame(v, nFrame);
                if (result == FrameResult::NeedMore) {
                    // The data ran out. Two bytes less than delivered keeps the count
                    // below the request even when `out` is full, which ends the clip.
                    return ClampCount(static_cast<int64_t>(c) - 2, want);
                }
            }
        }
        if (result == FrameResult::Error) {
            v.mpeg.reset(); // the next StartClip makes a fresh one
            return 0;
        }

        v.produced += nFrame;
        m_nDecodedBytes += nFrame;
        if (v.produced >= v.lengthBytes) {
            // This frame ends the clip; nOver is how far its end lies beyond the length.
            // As the count started a block below zero, the bytes to drop come off what
            // is already in `out` (in the steady state: the carried frame).
            // carryLen and readPos stay as they were.
            const int64_t nOver = v.produced - v.lengthBytes;
            if (c + nFrame > want) {
                std::memcpy(out + c, v.frame, static_cast<size_t>(want - c));
                return ClampCount(c - nOver, want);
            }
            // The whole frame fits (frames shorter than a block, or a clip length of
            // 0): place its part that lies within the length.
            const int64_t nPlace = std::clamp<int64_t>(nFrame - nOver, 0, nFrame);
            std::memcpy(out + c, v.frame, static_cast<size_t>(nPlace));
            return ClampCount(c + nFrame - nOver, want);
        }
        if (c + nFrame <= want) {
            std::memcpy(out + c, v.frame, static_cast<size_t>(nFrame));
            c += nFrame;
            continue;
        }
        const int nHead = want - c;
        std::memcpy(out + c, v.frame, static_cast<size_t>(nHead));
        v.carryLen = nFrame - nHead;
        std::memmove(v.frame, v.frame + nHead, static_cast<size_t>(v.carryLen));
        v.readPos = nFilePos;
        return want;
    }
}
