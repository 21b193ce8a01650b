// CClipCache and CCachingClipSource: a clip source that decodes each stretch of clip
// data once and replays it.
//
// The frames a voice gets depend only on the song file's bytes from the voice's start
// position on, decoded by a fresh frame decoder with the fixed setup. The cache keeps
// that frame sequence per file and start position: the PCM of every frame, where the
// reads stood before and after it, and how the sequence ended (the data ran out, an
// undecodable frame, or not decoded that far yet). It is extended lazily, by a frame
// decoder of its own, when a voice plays further than any before it. The voices run
// the same cutting rules as CClipDecoder (decode/ClipCut.h) over the cached frames, so
// both sources deliver the same PCM.
//
// A voice leaves the cache for a frame decoder of its own, rebuilt by decoding its
// frames again from the start, when the cached frames no longer stand for what it
// would decode: its stretch was dropped to keep the memory cap, or it reads from a
// position the sequence did not read from (only after a clip length that ends exactly
// at the end of a block). The memory cap counts the cached PCM and frame records; the
// least recently used stretches go first.
//
// A cache serves the clip sources of one song file (one CFile object) at a time, on
// one thread at a time.
#pragma once

#include <cstddef>
#include <cstdint>
#include <list>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "decode/ClipCut.h"
#include "decode/ClipSource.h"
#include "decode/FrameStream.h"

class CClipCache
{
public:
    static constexpr size_t kDefaultCapBytes = size_t(256) << 20;

    struct Stats
    {
        size_t nBytes = 0;          // held now
        size_t nPeakBytes = 0;      // the most held at any time
        long long nDecodedBytes = 0; // PCM decoded to fill the cache
        long long nReplayedBytes = 0; // PCM decoded again by voices that left the cache
        long long nServedBytes = 0;  // PCM handed out from the cache
        long long nStretches = 0;    // stretches ever started
        long long nDropped = 0;      // stretches dropped for the cap
    };

    explicit CClipCache(size_t nCapBytes = kDefaultCapBytes, std::string strEngine = std::string());
    CClipCache(const CClipCache&) = delete;
    CClipCache& operator=(const CClipCache&) = delete;

    const Stats& GetStats() const { return m_stats; }
    const std::string& Engine() const { return m_strEngine; }
    size_t CapBytes() const { return m_nCapBytes; }
    // False when no frame decoder can be made (an unknown engine): every clip is silent.
    bool CanDecode() const { return m_bCanDecode; }

    // The parts below are the caching source's.
    struct CFrameRecord
    {
        size_t nOffset = 0;     // into the stretch's PCM
        int nBytes = 0;
        CMpegFrameStream::Step step = CMpegFrameStream::Step::Frame;
        int64_t nPosBefore = 0; // where the next read stood before the frame was asked for
        int64_t nPosAfter = 0;  // and after it (equal when no read was needed)
    };

    struct CStretch
    {
        CFile* pFile = nullptr;
        int64_t nStart = 0;
        std::vector<unsigned char> arrPcm;
        std::vector<CFrameRecord> arrSteps; // the last may be an end (Exhausted, Error)
        bool bComplete = false;             // arrSteps ends with an end
        bool bDropped = false;              // its memory is gone; voices on it decode themselves
        size_t nAccounted = 0;
        std::unique_ptr<CMpegFrameStream> pProducer; // at arrSteps.size(), while kept
        std::list<CStretch*>::iterator itLru;
    };
    using Key = std::pair<CFile*, int64_t>;

    std::shared_ptr<CStretch> Find(CFile* pFile, int64_t nStart);
    // Adds the next step to an incomplete stretch. Throws when the song file fails.
    void Extend(CStretch& s);
    void Account(CStretch& s);
    void Drop(CStretch& s);
    void KeepWithinCap(const CStretch* pKeep);
    void Touch(CStretch& s);

    size_t m_nCapBytes;
    std::string m_strEngine;
    bool m_bCanDecode = false;
    std::map<Key, std::shared_ptr<CStretch>> m_mapStretches;
    std::list<CStretch*> m_lru; // most recently used first
    int m_nProducers = 0;
    Stats m_stats;
    unsigned char m_scratch[CMpegFrameStream::kMaxFrameBytes];
};

class CCachingClipSource : public CClipSource
{
public:
    static constexpr int kVoiceCount = 12;

    explicit CCachingClipSource(std::shared_ptr<CClipCache> pCache);
    ~CCachingClipSource() override;
    CCachingClipSource(const CCachingClipSource&) = delete;
    CCachingClipSource& operator=(const CCachingClipSource&) = delete;

    // As CClipDecoder's: the same PCM for the same calls.
    int Decode(char* out, int bytes, int voice) override;
    bool StartClip(CFile* pFile, int nPos1, int nPos3, int nDataOffset, int nPos2, int nPos4,
                   int voice, int nLengthMs) override;

    const CClipCache& GetCache() const { return *m_pCache; }

private:
    // A voice's frames: from the cache while they stand for what it would decode, else
    // from a frame decoder of its own.
    struct CVoiceStream
    {
        static constexpr bool kPcm = true;
        CClipCache* pCache = nullptr;
        CFile* pFile = nullptr;
        std::shared_ptr<CClipCache::CStretch> pStretch;
        size_t nStep = 0;      // steps taken
        int64_t nPos = 0;      // where its next read would start
        bool bDead = true;     // gives nothing until the next clip
        bool bLive = false;    // decodes itself
        CMpegFrameStream live;

        void Rewind(int64_t nPosNew);
        int64_t Position() const { return bLive ? live.Position() : nPos; }
        CMpegFrameStream::Step Next(unsigned char* pFrame, int& nBytes);
        bool CanDecode() const { return !bDead; }
        void Fail();
        void GoLive();
    };
    struct VoiceState
    {
        CClipCut cut;
        CVoiceStream stream;
    };

    std::shared_ptr<CClipCache> m_pCache;
    VoiceState m_arrVoices[kVoiceCount];
};
