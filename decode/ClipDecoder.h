// CClipDecoder: turns the MP3 data of clips embedded in the song file into PCM, per voice.
//
// Each of the kVoiceCount voices has its own libmpg123 handle in feed mode, a read
// buffer and a frame buffer, all held inline in the one object (allocated once per
// performance by its owner). A voice reads its clip's data in chunks of kReadChunk
// bytes from the shared song file, decodes it a frame at a time, cuts the frames to
// the block sizes the caller asks for and carries the surplus of a frame over to the
// next call. A clip ends after its length, when its data runs out, or at the first
// frame the decoder cannot decode: past the first frame there is no search for the
// next frame header. (Before its first frame libmpg123 does skip bytes that are not
// a frame header, whatever its settings, so a clip whose data starts a little off a
// frame begins at the next frame.)
//
// Every voice decodes the same bytes to the same PCM whatever the machine: libmpg123
// is set to deliver signed 16-bit PCM at the stream's own rate and channel count (no
// resampling), to treat an info frame as an ordinary frame, to keep the decoder delay
// and padding (no gapless trimming) and not to resync. Only the library's choice of
// synthesis engine may differ by a least significant bit between machines; a caller
// can pin it by name.
//
// Not thread-safe: StartClip and Decode must not overlap (they share the song file's
// position). Construction and destruction are not to overlap with them either.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "decode/ClipCut.h"
#include "decode/ClipSource.h"
#include "decode/FrameStream.h"

struct mpg123_handle_struct;

class CClipDecoder : public CClipSource
{
public:
    static constexpr int kVoiceCount = 12;
    static constexpr int kReadChunk = CMpegFrameStream::kReadChunk;
    static constexpr int kPcmCarry = CClipCut::kPcmCarry;
    static constexpr int kLeadInBytes = CClipCut::kLeadInBytes;

    // pszEngine names libmpg123's decoding engine (for instance "generic"); null or
    // empty takes the library's default. A voice whose handle cannot be created, for
    // instance because the engine is unknown, plays nothing.
    explicit CClipDecoder(const char* pszEngine = nullptr);
    ~CClipDecoder() override;
    CClipDecoder(const CClipDecoder&) = delete;
    CClipDecoder& operator=(const CClipDecoder&) = delete;

    // Writes up to `bytes` bytes of the voice's PCM to `out` and returns the count.
    // A result below `bytes` ends the clip, and only such a result: every later call
    // returns 0 until the next StartClip. A full result keeps the voice playing, also
    // when the call met the clip's final frame (its length ended exactly at the end of
    // the room): the next call then hands over the carry again, as the carry's length
    // has not changed, from the frame buffer that now holds the final frame, and
    // decodes on until the length ends it. Never throws and never writes outside
    // out[0, bytes).
    int Decode(char* out, int bytes, int voice) override;

    // Makes `voice` play the clip whose data starts at nDataOffset in pFile, from
    // nPos1 + 4 bytes into it when nPos1 is not 0, for nLengthMs milliseconds (taken
    // as unsigned). nPos2, nPos3 and nPos4 are not used. A clip with a data offset of
    // 0 or less, or without a file, plays nothing. Returns false only for a voice
    // number outside 0..kVoiceCount-1, which is left alone.
    bool StartClip(CFile* pFile, int nPos1, int nPos3, int nDataOffset, int nPos2, int nPos4,
                   int voice, int nLengthMs) override;

    // The clip length in PCM bytes for a length in milliseconds taken as unsigned:
    // truncated toward zero and capped at the largest 32-bit signed value, so that a
    // negative length plays until the data ends.
    static int32_t LengthToBytes(int nLengthMs);

    // A new libmpg123 handle with the clip decoder's fixed setup, opened in feed mode,
    // or null. The caller releases it with mpg123_delete. (For measurements that
    // compare the decoder with the library alone.)
    static mpg123_handle_struct* NewConfiguredHandle(const char* pszEngine)
    {
        return CMpegFrameStream::NewConfiguredHandle(pszEngine);
    }

    // PCM bytes of all frames decoded so far, on every voice (whether or not they
    // reached the caller): the decoding work done, for measurements.
    long long GetDecodedBytes() const;

private:
    // The voice's frames come straight from its own frame decoder.
    struct CLiveStream
    {
        static constexpr bool kPcm = true;
        CMpegFrameStream mpeg;
        void Rewind(int64_t nPos);
        int64_t Position() const { return mpeg.Position(); }
        CMpegFrameStream::Step Next(unsigned char* pFrame, int& nBytes) { return mpeg.Next(pFrame, nBytes); }
        bool CanDecode() const { return mpeg.IsOpen(); }
        void Fail() { mpeg.Close(); } // the next StartClip makes a fresh one
    };

    struct VoiceDecodeState
    {
        CFile* file = nullptr; // the shared song file; null while idle
        CClipCut cut;
        CLiveStream stream;
    };

    std::string m_strEngine;
    VoiceDecodeState m_arrVoices[kVoiceCount];
    long long m_nDecodedBefore = 0; // of the streams replaced by later clips
};
