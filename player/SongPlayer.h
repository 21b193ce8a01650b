// CSongPlayer: everything one performance of one song needs. It loads the song, draws
// the performance, keeps the song file open for the clip data, and renders the
// performance block by block into 44 100 Hz 16-bit stereo PCM, mixing up to twelve
// voices.
//
// Calling order: Open, Prepare, GetLength, then RenderBlock once per block until it
// returns false (Seek or SeekBlock between blocks), and Close. The player takes no
// lock: Seek, SeekBlock, Prepare and Close must not run while a block is being
// rendered.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "decode/ClipProfile.h"
#include "decode/ClipSource.h"
#include "decode/PcmFormat.h"
#include "platform/File.h"
#include "song/SongDocument.h"

// One voice of the mixer. Slots 0-3 belong to tracks 0-3 of the current entry, slots
// 4-11 take a track's clip when the track's own voice is busy.
struct VoiceSlot
{
    char* pBuffer = nullptr;      // the voice's PCM for the current block (4608 bytes)
    int32_t nNextEventBlock = -1; // slots 0-3: block of the track's next event in the entry
    CFile* pFile = nullptr;       // non-null while the voice is sounding
    int32_t nPos1 = 0;
    int32_t nPos3 = 0;
    int32_t nDataOffset = 0;
    int32_t nPos2 = 0;
    int32_t nPos4 = 0;
    int32_t nStartOffset = 0;     // byte in the starting block where the clip begins (0-4608)
    int32_t nLengthMs = 0;
    uint8_t bFinished = 0;        // the clip ran out in this block; release at the next one
};

class CSongPlayer
{
public:
    static constexpr int kVoiceCount = 12;
    static constexpr int kTrackVoices = 4;
    static constexpr int kBlockBytes = vantrel::pcm::kBlockBytes;

    // decoderEngine pins the MPEG decoding engine of the clip decoder (empty: the
    // library's default choice).
    explicit CSongPlayer(std::string decoderEngine = std::string());
    virtual ~CSongPlayer();
    CSongPlayer(const CSongPlayer&) = delete;
    CSongPlayer& operator=(const CSongPlayer&) = delete;

    // A path, or a song image in memory that the player holds on to until the next Open.
    bool Open(CFileSource source);
    int Prepare();
    // Prepares performance `number` (1 = a fresh player's first play, see
    // arrange/Performances.h) instead of the next draw; with arrangementIndex >= 0, the
    // first performance from `number` on, within 10000, that chose that arrangement.
    // Returns the number prepared, or -1 when nothing could be arranged or no
    // performance in reach chose the arrangement (then the player has no performance).
    int PreparePerformance(int number, int arrangementIndex = -1);
    // Starts the prepared performance again from its first block, as Prepare leaves
    // it, without drawing (and opens the song file again if the end closed it).
    void Restart();
    // Takes effect at the next Prepare.
    void SetDecoderEngine(std::string engine) { m_strDecoderEngine = std::move(engine); }
    int GetLength() const { return m_nTotalLength; }
    int Seek(int16_t percent);
    bool RenderBlock(char* out, int n);
    // The exact seek: makes the next RenderBlock render block `block` (counted from 0)
    // with the PCM an unbroken play of whole blocks from the start has there, and the
    // blocks after it as that play goes on. Returns false, and leaves the player at
    // the end, when the performance has fewer blocks; blockCount (may be null) then
    // receives how many it has. The first seek into a performance learns what its
    // clips deliver (see docs/design.md, "Exact seeking"); later ones cost about the
    // decoding of the clips that sound at the block, from their starts.
    bool SeekBlock(int32_t block, int32_t* blockCount = nullptr);
    // The memory kept for exact seeks: what the song's clips deliver, and the
    // checkpoints of the prepared performance.
    size_t GetSeekMemoryBytes() const;
    int Close();

    // What the information box reads.
    const CSongDocument& GetDocument() const { return m_song; }
    const CFile& GetFile() const { return m_file; }
    // For tests and tools.
    const VoiceSlot& GetVoice(int v) const { return m_pVoices[v]; }
    bool HasDecoder() const { return m_pDecoder != nullptr; }
    int GetMixShift() const { return m_nMixShift; }

    // Replaces the clip decoder that Prepare created (tests drive the renderer with a
    // scripted decoder). Takes effect until the next Prepare or Close.
    void SetClipSourceForTest(std::unique_ptr<CClipSource> pSource) { m_pDecoder = std::move(pSource); }

    // Makes Prepare take its clip source from `factory` instead of creating a
    // CClipDecoder (a tool renders through a caching source). An empty function
    // restores the clip decoder.
    using ClipSourceFactory = std::function<std::unique_ptr<CClipSource>()>;
    void SetClipSourceFactory(ClipSourceFactory factory) { m_clipSourceFactory = std::move(factory); }

private:
    // Where the renderer stands between two blocks, without the PCM: what an exact
    // seek restores.
    struct CCheckpoint
    {
        int32_t nEntryBlock, nEntry, nBlock, nEntryOffset;
        uint32_t dwEntryEnd;
        int16_t nMixShift;
        int32_t nDocumentEntry;
        int32_t arrCursor[4];
        VoiceSlot arrVoices[12];
        int32_t arrVoiceStart[12];
        CCountingClipSource::CVoice arrCounts[12];
    };

    // What Prepare does after the draw: counters, decoder and voices afresh.
    void Rewind();
    // One block: RenderBlock's work with the given clip source; without `out`, a dry
    // step that moves voices and cursors as rendering would, without any PCM.
    bool Step(char* out, int n, CClipSource* pSource);
    bool StartEvent(int voice, int track, bool sound);
    void BeginEntry();
    void RunEvents(int track, int n, CClipSource* pSource);
    // Exact seeking (player/ExactSeek.cpp).
    void ForgetCheckpoints();
    void SaveCheckpoint();
    void MaybeSaveCheckpoint();
    // The block up to which nothing sounds or starts (at most `block`), or m_nBlock.
    int32_t IdleUntil(int32_t block) const;
    void RestoreCheckpoint(const CCheckpoint& checkpoint);
    void ReplayVoice(int voice, int32_t block);
    void Mix(char* out, int n);
    void SilenceVoices(bool finished);
    // The block, counted from the entry's first block, in which an event starting at
    // startMs into the entry begins.
    int32_t EventBlock(int32_t startMs) const;
    // The block from which the current entry is over (the next one is selected).
    int32_t EntryEndBlock() const;
    int32_t EventOffset(int32_t startMs) const;

    CFile m_file;
    CSongDocument m_song;
    CFileSource m_source;
    std::unique_ptr<VoiceSlot[]> m_pVoices;
    int32_t m_nEntryBlock = 0;
    int32_t m_nEntry = 0;
    uint32_t m_dwEntryEnd = 0;
    int32_t m_nBlock = 0;
    int32_t m_nEntryOffset = 0;
    int32_t m_nTotalLength = 0;
    int16_t m_nMixShift = 0;
    std::unique_ptr<CClipSource> m_pDecoder;

    std::string m_strDecoderEngine;
    ClipSourceFactory m_clipSourceFactory;
    std::unique_ptr<int16_t[]> m_pVoiceMemory; // the twelve voice buffers, allocated once
    std::unique_ptr<int32_t[]> m_pMixSum;      // one block of 32-bit sums
    std::unique_ptr<int16_t[]> m_pMixOut;      // the clamped block

    int32_t m_arrVoiceStart[kVoiceCount] = {}; // the block in which each voice's clip started
    std::string m_strEngineInUse;              // the engine of the voices since the last Rewind
    std::unique_ptr<CClipProfiles> m_pProfiles; // what the song's clips deliver (exact seeks)
    std::unique_ptr<CCountingClipSource> m_pCounter;
    std::vector<CCheckpoint> m_arrCheckpoints; // of the performance, every m_nCheckpointBlocks
    int32_t m_nCheckpointBlocks = 256;
    int32_t m_nBlockCount = -1;                // blocks of the performance, once a seek met its end
};
