// CClipProfiles and CCountingClipSource: when each clip ends, without its PCM.
//
// How long a voice sounds depends only on what its clip delivers from its start
// position on: the byte count of each frame (4608 for a 44.1 kHz stereo MPEG-1 frame,
// half that for a mono or a 22 kHz one, 0 for a frame that gives no PCM) and how the
// frames end (the data runs out, a frame does not decode, a read of the song file
// fails). A profile keeps that sequence for one start position, run-length coded, so
// that a clip of any length costs a few runs. It is learned by decoding the frames
// once, PCM thrown away, as far as a voice has asked for them, and kept for as long
// as the song is open.
//
// The counting clip source runs the cutting rules every clip source runs
// (decode/ClipCut.h) over the profiles instead of over PCM: its Decode calls return
// the counts the real sources return, so a player driven by it starts and ends every
// voice in the same blocks, at the cost of a few additions per voice and block.
//
// One thread at a time; the profiles read the song file through the same CFile as the
// player's voices (each read positions it first).
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

class CFile;

class CClipProfiles
{
public:
    // How a profile's frames end: the data ran out, an undecodable frame, or a read of
    // the song file failed (a real voice's stream throws there).
    enum class End { None, Exhausted, Error, Thrown };

    struct CRun
    {
        int32_t nBytes = 0;
        int32_t nCount = 0;
    };

    struct CProfile
    {
        CFile* pFile = nullptr;
        int64_t nStart = 0;
        std::vector<CRun> arrRuns;
        int64_t nFrames = 0;  // frames learned, in all runs
        End end = End::None;  // set once the step after the last frame is known
        std::unique_ptr<CMpegFrameStream> pProducer; // while learning
        std::list<CProfile*>::iterator itProducer;
    };

    explicit CClipProfiles(std::string strEngine = std::string());
    CClipProfiles(const CClipProfiles&) = delete;
    CClipProfiles& operator=(const CClipProfiles&) = delete;
    virtual ~CClipProfiles();

    const std::string& Engine() const { return m_strEngine; }
    // False when no frame decoder can be made (an unknown engine): every clip is silent.
    bool CanDecode() const { return m_bCanDecode; }

    // The profile of the clip data at nStart of pFile (made empty the first time).
    CProfile* Find(CFile* pFile, int64_t nStart);
    // Learns the next step of an unfinished profile: one more frame, or its end.
    void Learn(CProfile& profile);
    // Lets go of the frame decoders kept for learning further (a profile asked for
    // more later decodes its frames again from its start).
    void DropProducers();

    // True once learning failed for want of a frame decoder (memory): counts given
    // since then are not to be trusted.
    bool Failed() const { return m_bFailed; }

    // The memory the profiles keep (without the decoders of DropProducers).
    size_t MemoryBytes() const;
    size_t Count() const { return m_mapProfiles.size(); }
    // PCM bytes decoded to learn, for measurements.
    long long DecodedBytes() const { return m_nDecodedBytes; }

private:
    void Record(CProfile& profile, int nBytes);

    std::string m_strEngine;
    bool m_bCanDecode = false;
    bool m_bFailed = false;
    std::map<std::pair<CFile*, int64_t>, std::unique_ptr<CProfile>> m_mapProfiles;
    std::list<CProfile*> m_lruProducers; // most recently used first
    long long m_nDecodedBytes = 0;
    std::unique_ptr<unsigned char[]> m_pScratch;
};

class CCountingClipSource : public CClipSource
{
public:
    static constexpr int kVoiceCount = 12;

    // A voice's frames, by their sizes, from its profile.
    struct CProfileStream
    {
        static constexpr bool kPcm = false;

        CClipProfiles* pProfiles = nullptr;
        CClipProfiles::CProfile* pProfile = nullptr;
        CFile* pFile = nullptr;
        int64_t nStep = 0;    // frames taken
        size_t nRun = 0;      // the run that holds frame nStep, or the last one
        int64_t nBefore = 0;  // frames in the runs before nRun
        bool bDead = true;

        void Rewind(int64_t nPos);
        int64_t Position() const { return 0; }
        CMpegFrameStream::Step Next(unsigned char* pFrame, int& nBytes);
        bool CanDecode() const { return !bDead; }
        void Fail() { bDead = true; }
    };
    struct CVoice
    {
        CClipCount cut;
        CProfileStream stream;
    };

    explicit CCountingClipSource(CClipProfiles& profiles);

    // `out` is not written: only the count is given.
    int Decode(char* out, int bytes, int voice) override;
    bool StartClip(CFile* pFile, int nPos1, int nPos3, int nDataOffset, int nPos2, int nPos4,
                   int voice, int nLengthMs) override;

    const CVoice& GetVoice(int voice) const { return m_arrVoices[voice]; }
    void SetVoice(int voice, const CVoice& state) { m_arrVoices[voice] = state; }

private:
    CClipProfiles& m_profiles;
    CVoice m_arrVoices[kVoiceCount];
};
