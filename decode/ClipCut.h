// The rules that turn a voice's frames into the blocks the renderer asks for, shared
// by every clip source: the cut of each frame at the end of the room, the carry of
// its surplus to the next call, the end of the clip after its length, when its data
// runs out or at an undecodable frame. A clip source supplies the frames through a
// stream with this shape:
//
//   void Rewind(int64_t nPos);    // the call's reads start at nPos; throws when the
//                                 // song file cannot be read any more
//   int64_t Position() const;     // where the next read would start
//   CMpegFrameStream::Step Next(unsigned char* pFrame, int& nBytes);
//   bool CanDecode() const;       // false: every call gives 0 bytes
//   void Fail();                  // a read failed: give nothing until the next clip
//
// Both sources run DecodeClip over their own stream, so they cut the same frames to
// the same PCM. A stream may also stand for frames by their sizes alone
// (`kPcm` false, over a CClipCount without a frame buffer): the same rules then give
// the counts every call returns, and so when each clip ends, without any PCM.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>

#include "decode/ClipStart.h"
#include "decode/FrameStream.h"
#include "decode/PcmFormat.h"

// Where a voice stands in its clip: everything but the PCM.
struct CClipCount
{
    static constexpr int kLeadInBytes = -vantrel::pcm::kBlockBytes;

    int64_t readPos = 0;     // where the voice's next call reads from
    int carryLen = 0;        // bytes of the last decoded frame still to hand over
    int64_t produced = kLeadInBytes; // 64-bit: may pass 2^31 - 1 by up to a frame at the end
    int32_t lengthBytes = 0;
    bool ended = true;       // the last call returned less than asked (or no clip started)

    // Makes the voice start a clip whose data begins at nDataOffset in pFile, reading
    // from where the clip start rule puts it (decode/ClipStart.h; a negative position
    // fails at the seek). Returns whether the clip has data at all (a file and a data
    // offset above 0).
    bool Start(const void* pFile, int nDataOffset, int nPos1, int32_t nLengthBytes)
    {
        readPos = vantrel::ClipStartInFile(nDataOffset, nPos1);
        carryLen = 0;
        lengthBytes = nLengthBytes;
        produced = kLeadInBytes;
        ended = pFile == nullptr || nDataOffset <= 0;
        return !ended;
    }
};

struct CClipCut : CClipCount
{
    static constexpr int kPcmCarry = CMpegFrameStream::kMaxFrameBytes;

    unsigned char frame[kPcmCarry]; // the last decoded frame; its first carryLen bytes are the carry
};

namespace clipcut {

inline int ClampCount(int64_t nCount, int want)
{
    return static_cast<int>(std::clamp<int64_t>(nCount, 0, want));
}

// Copies PCM only when the stream delivers it.
template <class TStream> inline void Copy(void* to, const void* from, int n)
{
    if constexpr (TStream::kPcm)
        std::memcpy(to, from, static_cast<size_t>(n));
}

template <class TStream, class TCut> inline unsigned char* FrameBuffer(TCut& v)
{
    if constexpr (TStream::kPcm)
        return v.frame;
    else
        return nullptr;
}

// One call's worth of frames into out[0, want); want > 0.
template <class TStream, class TCut>
int Cut(TCut& v, TStream& stream, char* out, int want)
{
    stream.Rewind(v.readPos);
    unsigned char* const frame = FrameBuffer<TStream>(v);

    int c = 0;
    if (v.carryLen > want) {
        // A carry longer than the request (only after a small request): hand over its
        // head, keep the rest as the carry and decode nothing; the clip's end is
        // decided once the carry fits.
        Copy<TStream>(out, frame, want);
        if constexpr (TStream::kPcm)
            std::memmove(frame, frame + want, static_cast<size_t>(v.carryLen - want));
        v.carryLen -= want;
        return want;
    }
    if (v.carryLen > 0) {
        // carryLen stays: only a frame cut at the end of the room sets it anew. Should
        // this call end on the clip's final frame with a full result, the next call
        // copies that many bytes again, of what `frame` then holds.
        Copy<TStream>(out, frame, v.carryLen);
        c = v.carryLen;
    }

    for (;;) {
        int nFrame = 0;
        const CMpegFrameStream::Step step = stream.Next(frame, nFrame);
        if (step == CMpegFrameStream::Step::Exhausted) {
            // The data ran out. Two bytes less than delivered keeps the count below
            // the request even when `out` is full, which ends the clip.
            return ClampCount(static_cast<int64_t>(c) - 2, want);
        }
        if (step == CMpegFrameStream::Step::Error)
            return 0;

        v.produced += nFrame;
        if (v.produced >= v.lengthBytes) {
            // This frame ends the clip; nOver is how far its end lies beyond the length.
            // As the count started a block below zero, the bytes to drop come off what
            // is already in `out` (in the steady state: the carried frame).
            // carryLen and readPos stay as they were.
            const int64_t nOver = v.produced - v.lengthBytes;
            if (c + nFrame > want) {
                Copy<TStream>(out + c, frame, want - c);
                return ClampCount(c - nOver, want);
            }
            // The whole frame fits (frames shorter than a block, or a clip length of
            // 0): place its part that lies within the length.
            const int64_t nPlace = std::clamp<int64_t>(nFrame - nOver, 0, nFrame);
            Copy<TStream>(out + c, frame, static_cast<int>(nPlace));
            return ClampCount(c + nFrame - nOver, want);
        }
        if (c + nFrame <= want) {
            Copy<TStream>(out + c, frame, nFrame);
            c += nFrame;
            continue;
        }
        const int nHead = want - c;
        Copy<TStream>(out + c, frame, nHead);
        v.carryLen = nFrame - nHead;
        if constexpr (TStream::kPcm)
            std::memmove(frame, frame + nHead, static_cast<size_t>(v.carryLen));
        v.readPos = stream.Position();
        return want;
    }
}

} // namespace clipcut

// A Decode call of a clip source on one voice: the count placed in out[0, bytes)
// (a stream without PCM places nothing and may be given no `out`).
template <class TStream, class TCut>
int DecodeClip(TCut& v, TStream& stream, char* out, int bytes)
{
    if ((TStream::kPcm && out == nullptr) || bytes <= 0 || v.ended)
        return 0;
    int nCount = 0;
    if (stream.CanDecode()) {
        try {
            nCount = clipcut::Cut(v, stream, out, bytes);
        } catch (...) {
            // A failed seek or read of the song file (a negative position, a closed
            // file, an I/O error) ends the clip like an undecodable frame.
            stream.Fail();
            nCount = 0;
        }
    }
    // The count alone says whether the clip goes on: a full result keeps the voice
    // playing even when the call met the clip's final frame, and the next call
    // decides the end from the same rules.
    v.ended = nCount < bytes;
    return nCount;
}
