// CMpegFrameStream: the frames that a voice gets from the song file, one at a time.
//
// A fresh libmpg123 handle with the clip decoder's fixed setup, fed in chunks of
// kReadChunk bytes read from the song file at the stream's position whenever it needs
// more input. Which frames come out depends only on the file's bytes from the position
// the stream was opened at, as long as every read continues where the last one ended:
// the caching clip source relies on that.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

class CFile;
struct mpg123_handle_struct;

class CMpegFrameStream
{
public:
    static constexpr int kReadChunk = 16384;
    static constexpr int kMaxFrameBytes = 8192;

    // What one request for a frame gave: a frame (possibly of 0 bytes), the data ran out
    // (more input needed even after a fresh read), or an undecodable frame.
    enum class Step { Frame, Exhausted, Error };

    CMpegFrameStream() = default;
    CMpegFrameStream(const CMpegFrameStream&) = delete;
    CMpegFrameStream& operator=(const CMpegFrameStream&) = delete;

    // A fresh handle for the data at nPos of pFile; false (and no handle) when the
    // handle cannot be made, for instance for an unknown engine.
    bool Open(const std::string& strEngine, CFile* pFile, int64_t nPos);
    void Close() { m_pHandle.reset(); }
    bool IsOpen() const { return m_pHandle != nullptr; }

    CFile* File() const { return m_pFile; }
    // Where the next read starts.
    int64_t Position() const { return m_nPos; }
    void SetPosition(int64_t nPos) { m_nPos = nPos; }

    // Decodes the next frame into pFrame (room for kMaxFrameBytes) and sets nBytes.
    // After an Error the handle is gone (IsOpen is false). A failed seek or read of
    // the song file throws.
    Step Next(unsigned char* pFrame, int& nBytes);

    // PCM bytes of all frames decoded since the last TakeDecodedBytes.
    long long GetDecodedBytes() const { return m_nDecodedBytes; }
    long long TakeDecodedBytes()
    {
        const long long n = m_nDecodedBytes;
        m_nDecodedBytes = 0;
        return n;
    }

    // A new handle with the fixed setup, opened in feed mode, or null; the caller
    // releases it with mpg123_delete.
    static mpg123_handle_struct* NewConfiguredHandle(const char* pszEngine);

private:
    struct CMpegDeleter
    {
        void operator()(mpg123_handle_struct* pHandle) const noexcept;
    };
    enum class Ask { Frame, NeedMore, Error };
    Ask AskFrame(unsigned char* pFrame, int& nBytes);

    std::unique_ptr<mpg123_handle_struct, CMpegDeleter> m_pHandle;
    CFile* m_pFile = nullptr;
    int64_t m_nPos = 0;
    long long m_nDecodedBytes = 0;
    unsigned char m_input[kReadChunk];
};
