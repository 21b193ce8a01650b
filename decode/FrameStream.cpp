#include "decode/FrameStream.h"

#include <algorithm>
#include <cstring>

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

} // namespace

void CMpegFrameStream::CMpegDeleter::operator()(mpg123_handle_struct* pHandle) const noexcept
{
    mpg123_delete(pHandle);
}

mpg123_handle_struct* CMpegFrameStream::NewConfiguredHandle(const char* pszEngine)
{
    InitLibraryOnce();
    int nError = MPG123_OK;
    std::unique_ptr<mpg123_handle_struct, CMpegDeleter> handle(
        mpg123_new(pszEngine != nullptr && *pszEngine ? pszEngine : nullptr, &nError));
    if (!handle || !ConfigureHandle(handle.get()))
        return nullptr;
    return handle.release();
}

bool CMpegFrameStream::Open(const std::string& strEngine, CFile* pFile, int64_t nPos)
{
    m_pHandle.reset(NewConfiguredHandle(strEngine.c_str()));
    m_pFile = pFile;
    m_nPos = nPos;
    return m_pHandle != nullptr;
}

CMpegFrameStream::Ask CMpegFrameStream::AskFrame(unsigned char* pFrame, int& nBytes)
{
    nBytes = 0;
    off_t nFrameNumber = 0;
    unsigned char* pAudio = nullptr;
    size_t nAudio = 0;
    const int nResult = mpg123_decode_frame(m_pHandle.get(), &nFrameNumber, &pAudio, &nAudio);
    if (nResult == MPG123_NEW_FORMAT)
        return Ask::Frame; // counts as a frame of 0 bytes
    if (nResult == MPG123_NEED_MORE)
        return Ask::NeedMore;
    if (nResult != MPG123_OK)
        return Ask::Error;
    if (nAudio == 0)
        return Ask::Frame;
    if (pAudio == nullptr)
        return Ask::Error;
    // The PCM lives in the library's memory until the next call: keep a copy, never
    // more than the frame buffer holds.
    nBytes = static_cast<int>(std::min<size_t>(nAudio, kMaxFrameBytes));
    std::memcpy(pFrame, pAudio, static_cast<size_t>(nBytes));
    return Ask::Frame;
}

CMpegFrameStream::Step CMpegFrameStream::Next(unsigned char* pFrame, int& nBytes)
{
    Ask ask = AskFrame(pFrame, nBytes);
    if (ask == Ask::NeedMore) {
        m_pFile->Seek(m_nPos, CFile::begin);
        const uint32_t nRead = m_pFile->Read(m_input, kReadChunk);
        m_nPos += nRead;
        if (nRead > 0 && mpg123_feed(m_pHandle.get(), m_input, nRead) != MPG123_OK)
            ask = Ask::Error;
        else
            ask = AskFrame(pFrame, nBytes);
        if (ask == Ask::NeedMore)
            return Step::Exhausted;
    }
    if (ask == Ask::Error) {
        m_pHandle.reset();
        nBytes = 0;
        return Step::Error;
    }
    m_nDecodedBytes += nBytes;
    return Step::Frame;
}
