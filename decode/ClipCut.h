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
// the same PCM.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>

#include "decode/ClipStart.h"
#include "decode/FrameStream.h"
#include "decode/PcmFormat.h"

struct CClipCut
{
    static constexpr int kPcmCarry = CMpegFrameStream::kMaxFrameBytes;
    static constexpr int kLeadInBytes = -vantrel::pcm::kBlockBytes;

    int64_t readPos = 0;     // where the voice's next call reads from
    unsigned char frame[kPcmCarry]; // the last decoded frame; its first carryLen bytes are the carry
    int carryLen = 0;
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

namespace clipcut {

inline int ClampCount(int64_t nCount, int want)
{
    return static_cast<int>(std::clamp<int64_t>(nCount, 0, want));
}

// One call's worth of frames into out[0, want); want > 0.
template <class TStream>
int Cut(CClipCut& v, TStream& stream, char* out, int want)
{
    stream.Rewind(v.readPos);

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
        const CMpegFrameStream::Step step = stream.Next(v.frame, nFrame);
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
        v.readPos = stream.Position();
        return want;
    }
}

} // namespace clipcut

// A Decode call of a clip source on one voice: the count placed in out[0, bytes).
template <class TStream>
int DecodeClip(CClipCut& v, TStream& stream, char* out, int bytes)
{
    if (out == nullptr || bytes <= 0 || v.ended)
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
