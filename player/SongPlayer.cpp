#include "player/SongPlayer.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "arrange/Performances.h"
#include "decode/ClipDecoder.h"

namespace {

using vantrel::pcm::kBlocksPerMs;
using vantrel::pcm::kBytesPerMs;
constexpr int kSamplesPerBlock = CSongPlayer::kBlockBytes / 2;

// Byte position of a time on the time line, truncated toward zero, in 64 bits.
int64_t BytePosition(double ms) { return static_cast<int64_t>(ms * kBytesPerMs); }

} // namespace

CSongPlayer::CSongPlayer(std::string decoderEngine)
    : m_pVoices(new VoiceSlot[kVoiceCount]), m_strDecoderEngine(std::move(decoderEngine)),
      m_pVoiceMemory(new int16_t[kVoiceCount * kSamplesPerBlock]()),
      m_pMixSum(new int32_t[kSamplesPerBlock]()), m_pMixOut(new int16_t[kSamplesPerBlock]())
{
    for (int v = 0; v < kVoiceCount; ++v)
        m_pVoices[v].pBuffer = reinterpret_cast<char*>(m_pVoiceMemory.get() + v * kSamplesPerBlock);
}

CSongPlayer::~CSongPlayer()
{
    m_pDecoder.reset();
}

bool CSongPlayer::Open(CFileSource source)
{
    m_pProfiles.reset();
    ForgetCheckpoints();
    m_file.Close();
    m_source = std::move(source);
    if (m_song.Load(m_source) != 1) {
        // Nothing of an earlier song may be played instead of this one.
        m_song.DetachSong();
        return false;
    }
    // A second handle for the clip data. When it cannot be opened the clips stay
    // silent: the decoder ends every clip whose data it cannot read.
    m_file.Open(m_source);
    return true;
}

int CSongPlayer::Prepare()
{
    ForgetCheckpoints();
    m_song.Arrange();
    Rewind();
    return 1;
}

int CSongPlayer::PreparePerformance(int number, int arrangementIndex)
{
    ForgetCheckpoints();
    int reached = -1;
    if (arrangementIndex < 0) {
        if (vantrel::ArrangePerformance(m_song, number) == 1)
            reached = number;
    } else {
        reached = vantrel::FindPerformanceWithArrangement(m_song, number, arrangementIndex);
    }
    if (reached < 0)
        m_song.EndPerformance(); // nothing of a performance that was not asked for
    Restart();
    return reached;
}

void CSongPlayer::Rewind()
{
    m_nTotalLength = m_song.GetTotalLength();
    m_nEntry = 0;
    m_nEntryBlock = 0;
    m_nBlock = 0;
    m_dwEntryEnd = 0;
    m_pDecoder.reset();
    if (m_pProfiles && m_pProfiles->Engine() != m_strDecoderEngine) {
        // What the clips deliver is learned again with the engine the voices now use.
        m_pProfiles.reset();
        ForgetCheckpoints();
    }
    m_strEngineInUse = m_strDecoderEngine;
    const std::string id = m_song.GetFormatId();
    if (id.size() > 4 && (id[4] == 0x60 || id[4] == 0x61)) {
        try {
            if (m_clipSourceFactory)
                m_pDecoder = m_clipSourceFactory();
            else
                m_pDecoder = std::make_unique<CClipDecoder>(
                    m_strDecoderEngine.empty() ? nullptr : m_strDecoderEngine.c_str());
        } catch (const std::bad_alloc&) {
            m_pDecoder.reset();
        }
    }
    SilenceVoices(true);
    for (int v = 0; v < kVoiceCount; ++v)
        m_pVoices[v].nNextEventBlock = -1;
}

void CSongPlayer::Restart()
{
    Rewind();
    // The end of an earlier run closed the song file.
    if (!m_file.IsOpen() && m_song.HasSong())
        m_file.Open(m_source);
}

void CSongPlayer::SilenceVoices(bool finished)
{
    for (int v = 0; v < kVoiceCount; ++v) {
        VoiceSlot& slot = m_pVoices[v];
        slot.pFile = nullptr;
        if (finished)
            slot.bFinished = 1;
        std::memset(slot.pBuffer, 0, kBlockBytes);
    }
}

int CSongPlayer::Seek(int16_t percent)
{
    // A host may ask for less than nothing or more than everything.
    percent = std::clamp<int16_t>(percent, 0, 100);
    m_nEntry = 0;
    m_nBlock = 0;
    uint32_t sum = 0;
    if (!m_song.SelectEntry(0))
        return 0;
    uint32_t start;
    for (;;) {
        start = sum;
        sum += static_cast<uint32_t>(m_song.GetEntryLength());
        const double reached = static_cast<double>(static_cast<int32_t>(sum)) /
                               static_cast<double>(static_cast<uint32_t>(m_nTotalLength)) * 100.0;
        if (reached >= percent)
            break;
        ++m_nEntry;
        if (!m_song.SelectEntry(m_nEntry))
            return 0;
    }
    m_nEntryBlock = 0;
    m_dwEntryEnd = 0;
    SilenceVoices(false);
    // The end of the performance closed the song file; the clips played from here on
    // read from it again.
    if (!m_file.IsOpen() && m_song.HasSong())
        m_file.Open(m_source);
    return static_cast<int32_t>(start);
}

int CSongPlayer::Close()
{
    m_pProfiles.reset();
    ForgetCheckpoints();
    m_song.EndPerformance();
    m_song.DetachSong();
    m_file.Close();
    SilenceVoices(true);
    m_pDecoder.reset();
    return 1;
}

int32_t CSongPlayer::EntryEndBlock() const
{
    return static_cast<int32_t>(m_dwEntryEnd * kBlocksPerMs);
}

int32_t CSongPlayer::EventOffset(int32_t startMs) const
{
    // A negative start is placed at the start of the entry.
    const int32_t t = startMs < 0 ? 0 : startMs;
    return static_cast<int32_t>(BytePosition(t) % kBlockBytes) + m_nEntryOffset;
}

int32_t CSongPlayer::EventBlock(int32_t startMs) const
{
    const int32_t t = startMs < 0 ? 0 : startMs;
    int32_t block = static_cast<int32_t>(t * kBlocksPerMs);
    if (EventOffset(startMs) > kBlockBytes)
        ++block;
    return block;
}

bool CSongPlayer::StartEvent(int voice, int track, bool sound)
{
    VoiceSlot& trackSlot = m_pVoices[track];
    CScheduledEventPtr current = m_song.CurrentEvent(track);
    if (!current) {
        // Nothing to start; end the track's run for this entry.
        trackSlot.nNextEventBlock = -1;
        return false;
    }
    // Without a decoder nothing can sound; the track still moves on to its next event.
    if (sound) {
        VoiceSlot& slot = m_pVoices[voice];
        slot.pFile = &m_file;
        slot.nPos1 = current->m_nPos1;
        slot.nPos3 = current->m_nPos3;
        slot.nDataOffset = current->m_nDataOffset;
        slot.nPos2 = current->m_nPos2;
        slot.nPos4 = current->m_nPos4;
        slot.nLengthMs = current->m_nLengthMs;
        int32_t offset = EventOffset(current->m_nStartMs);
        if (offset > kBlockBytes)
            offset -= kBlockBytes;
        slot.nStartOffset = offset;
    }
    CScheduledEventPtr next = m_song.NextEvent(track);
    trackSlot.nNextEventBlock = next ? EventBlock(next->m_nStartMs) : -1;
    return sound;
}

void CSongPlayer::RunEvents(int track, int n, CClipSource* pSource)
{
    int candidate = track;
    do {
        if (m_pVoices[track].pFile) {
            for (int v = kTrackVoices; v < kVoiceCount; ++v) {
                if (!m_pVoices[v].pFile) {
                    candidate = v;
                    break;
                }
            }
        }
        if (StartEvent(candidate, track, pSource != nullptr)) {
            VoiceSlot& slot = m_pVoices[candidate];
            pSource->StartClip(slot.pFile, slot.nPos1, slot.nPos3, slot.nDataOffset, slot.nPos2,
                               slot.nPos4, candidate, slot.nLengthMs);
            const int offset = std::min(slot.nStartOffset, n);
            pSource->Decode(slot.pBuffer + offset, n - offset, candidate);
            m_arrVoiceStart[candidate] = m_nBlock;
        }
    } while (m_pVoices[track].nNextEventBlock == m_nEntryBlock);
}

void CSongPlayer::BeginEntry()
{
    m_nEntryOffset = static_cast<int32_t>(BytePosition(m_dwEntryEnd) % kBlockBytes);
    m_dwEntryEnd += static_cast<uint32_t>(m_song.GetEntryLength());
    for (int v = 0; v < kVoiceCount; ++v)
        m_pVoices[v].nNextEventBlock = -1;
    const int32_t tracks = m_song.GetTrackCount();
    for (int t = 0; t < tracks && t < kTrackVoices; ++t) {
        CScheduledEventPtr first = m_song.NextEvent(t);
        if (first)
            m_pVoices[t].nNextEventBlock = EventBlock(first->m_nStartMs);
    }
    m_nMixShift = 0;
    if (tracks >= 2)
        m_nMixShift = 1;
    if (tracks >= 4)
        m_nMixShift = 2;
}

void CSongPlayer::Mix(char* out, int n)
{
    const int samples = n / 2;
    const int shift = m_nMixShift;
    int32_t* sum = m_pMixSum.get();
    std::fill(sum, sum + kSamplesPerBlock, 0);
    for (int v = 0; v < kVoiceCount; ++v) {
        const VoiceSlot& slot = m_pVoices[v];
        if (!slot.pFile)
            continue;
        const int16_t* pcm = reinterpret_cast<const int16_t*>(slot.pBuffer);
        for (int s = 0; s < samples; ++s)
            sum[s] += pcm[s] >> shift;
    }
    // The sum is clamped once, so loud voices saturate instead of wrapping around.
    int16_t* mixed = m_pMixOut.get();
    for (int s = 0; s < samples; ++s)
        mixed[s] = static_cast<int16_t>(std::clamp<int32_t>(sum[s], -32768, 32767));
    std::memcpy(out, mixed, static_cast<size_t>(samples) * 2);
    std::memset(out + samples * 2, 0, static_cast<size_t>(kBlockBytes - samples * 2));
}

bool CSongPlayer::RenderBlock(char* out, int n)
{
    return Step(out, std::clamp(n, 0, static_cast<int>(kBlockBytes)) & ~1, m_pDecoder.get());
}

bool CSongPlayer::Step(char* out, int n, CClipSource* pSource)
{
    // Voice upkeep: release what ran out in the last block, top up what sounds.
    for (int v = 0; v < kVoiceCount; ++v) {
        VoiceSlot& slot = m_pVoices[v];
        if (slot.bFinished) {
            slot.pFile = nullptr;
            if (out)
                std::memset(slot.pBuffer, 0, kBlockBytes);
            slot.bFinished = 0;
        }
        if (slot.pFile && pSource) {
            int k = pSource->Decode(slot.pBuffer, n, v);
            if (k < n) {
                k = std::max(k, 0);
                if (out)
                    std::memset(slot.pBuffer + k, 0, static_cast<size_t>(n - k));
                slot.bFinished = 1;
            }
        }
    }

    // Events and entries, track by track.
    for (int t = 0; t < kTrackVoices; ++t) {
        if (m_pVoices[t].nNextEventBlock == m_nEntryBlock)
            RunEvents(t, n, pSource);
        // Entry ends that fell behind (more of them in one block than there are
        // tracks) are caught up in the next block.
        if (m_nBlock >= EntryEndBlock()) {
            if (!m_song.SelectEntry(m_nEntry)) {
                if (out) {
                    m_file.Close();
                    Mix(out, n);
                }
                return false;
            }
            m_nEntryBlock = 0;
            BeginEntry();
            ++m_nEntry;
            if (m_pVoices[t].nNextEventBlock == m_nEntryBlock)
                RunEvents(t, n, pSource);
        }
    }

    if (out)
        Mix(out, n);
    ++m_nEntryBlock;
    ++m_nBlock;
    return true;
}
