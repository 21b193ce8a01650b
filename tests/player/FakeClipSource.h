// A scripted clip source for renderer tests: every clip delivers a constant sample
// value (its data offset) for exactly its length in bytes (length ms x 176.4, or
// `overrideBytes` when set), so tests can see where each clip lands in the mix.
#pragma once

#include <cstdint>
#include <cstring>
#include <vector>

#include "decode/ClipSource.h"
#include "decode/PcmFormat.h"

struct FakeClipCall
{
    int voice;
    int dataOffset;
    int pos1;
    int lengthMs;
};

class CFakeClipSource : public CClipSource
{
public:
    struct Voice
    {
        int16_t value = 0;
        int64_t left = 0;
        bool started = false;
    };

    bool StartClip(CFile* pFile, int nPos1, int nPos3, int nDataOffset, int nPos2, int nPos4,
                   int voice, int nLengthMs) override
    {
        (void)pFile;
        (void)nPos2;
        (void)nPos3;
        (void)nPos4;
        m_arrStarts.push_back({voice, nDataOffset, nPos1, nLengthMs});
        Voice& v = m_voices[static_cast<size_t>(voice)];
        v.value = static_cast<int16_t>(nDataOffset);
        v.left = static_cast<int64_t>(static_cast<double>(nLengthMs) * vantrel::pcm::kBytesPerMs) & ~int64_t(1);
        v.started = true;
        return true;
    }

    int Decode(char* out, int bytes, int voice) override
    {
        Voice& v = m_voices[static_cast<size_t>(voice)];
        ++m_nDecodeCalls;
        int n = static_cast<int>(v.left < bytes ? v.left : bytes);
        if (n < 0)
            n = 0;
        for (int i = 0; i + 1 < n; i += 2)
            std::memcpy(out + i, &v.value, 2);
        v.left -= n;
        return n;
    }

    std::vector<FakeClipCall> m_arrStarts;
    int m_nDecodeCalls = 0;

private:
    Voice m_voices[12];
};
