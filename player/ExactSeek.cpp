// CSongPlayer's exact seek.
//
// Which clip starts on which voice in which block, and in which block each voice falls
// silent, follow from the performance and from what each clip delivers, without a
// sample being mixed. A dry step runs the renderer's own block logic with a counting
// clip source (decode/ClipProfile.h) in place of the decoder: every voice starts and
// ends where it would. Dry steps from the start of the performance leave a checkpoint
// every few hundred blocks (counters, voices, cursors, counting voices), so that a
// seek restores the checkpoint before its block and takes at most that many dry steps;
// blocks in which no voice sounds are passed over up to the next event. At the block, each voice that sounds decodes its clip again from its start
// with the very calls an unbroken play made (its first, partial block, then whole
// blocks), which brings the voice's frame decoder to the same state; that decoding is
// what a seek costs.
#include <algorithm>
#include <cstring>
#include <new>

#include "player/SongPlayer.h"

namespace {

// Checkpoints start every 256 blocks (6.7 s): a seek takes at most that many dry
// steps. A performance long enough for more than kMaxCheckpoints of them keeps every
// other one, as often as needed, so that their memory stays below about 5 MB.
constexpr int32_t kFirstCheckpointBlocks = 256;
constexpr size_t kMaxCheckpoints = 2048;

} // namespace

void CSongPlayer::ForgetCheckpoints()
{
    std::vector<CCheckpoint>().swap(m_arrCheckpoints);
    m_nCheckpointBlocks = kFirstCheckpointBlocks;
    m_nBlockCount = -1;
}

void CSongPlayer::MaybeSaveCheckpoint()
{
    if (m_nBlock % m_nCheckpointBlocks != 0 ||
        static_cast<size_t>(m_nBlock / m_nCheckpointBlocks) != m_arrCheckpoints.size())
        return;
    if (m_arrCheckpoints.size() == kMaxCheckpoints) {
        // Every other one goes; this block, at an even index, stays due.
        size_t kept = 0;
        for (size_t i = 0; i < m_arrCheckpoints.size(); i += 2)
            m_arrCheckpoints[kept++] = m_arrCheckpoints[i];
        m_arrCheckpoints.resize(kept);
        m_nCheckpointBlocks *= 2;
    }
    SaveCheckpoint();
}

int32_t CSongPlayer::IdleUntil(int32_t block) const
{
    // Idle voices decode nothing, so the blocks up to the next event or entry end can
    // be passed over at once.
    for (int v = 0; v < kVoiceCount; ++v)
        if (m_pVoices[v].pFile)
            return m_nBlock;
    int32_t until = std::min(block, EntryEndBlock());
    const int64_t nextSave = static_cast<int64_t>(m_arrCheckpoints.size()) * m_nCheckpointBlocks;
    if (nextSave > m_nBlock)
        until = static_cast<int32_t>(std::min<int64_t>(until, nextSave));
    for (int t = 0; t < kTrackVoices; ++t) {
        const int32_t next = m_pVoices[t].nNextEventBlock;
        if (next >= m_nEntryBlock)
            until = std::min(until, m_nBlock + (next - m_nEntryBlock));
    }
    return until;
}

void CSongPlayer::SaveCheckpoint()
{
    CCheckpoint cp{};
    cp.nEntryBlock = m_nEntryBlock;
    cp.nEntry = m_nEntry;
    cp.nBlock = m_nBlock;
    cp.nEntryOffset = m_nEntryOffset;
    cp.dwEntryEnd = m_dwEntryEnd;
    cp.nMixShift = m_nMixShift;
    cp.nDocumentEntry = m_song.GetCurrentIndex();
    for (int t = 0; t < kTrackVoices; ++t)
        cp.arrCursor[t] = m_song.GetEventCursor(t);
    for (int v = 0; v < kVoiceCount; ++v) {
        cp.arrVoices[v] = m_pVoices[v];
        cp.arrVoices[v].pBuffer = nullptr;
        cp.arrVoiceStart[v] = m_arrVoiceStart[v];
        cp.arrCounts[v] = m_pCounter->GetVoice(v);
    }
    m_arrCheckpoints.push_back(cp);
}

void CSongPlayer::RestoreCheckpoint(const CCheckpoint& cp)
{
    m_nEntryBlock = cp.nEntryBlock;
    m_nEntry = cp.nEntry;
    m_nBlock = cp.nBlock;
    m_nEntryOffset = cp.nEntryOffset;
    m_dwEntryEnd = cp.dwEntryEnd;
    m_nMixShift = cp.nMixShift;
    if (cp.nDocumentEntry < 0) {
        m_song.ResetCursor();
    } else {
        m_song.SelectEntry(cp.nDocumentEntry);
        for (int t = 0; t < kTrackVoices; ++t)
            if (cp.arrCursor[t] >= 0)
                m_song.SetEventCursor(t, cp.arrCursor[t]);
    }
    for (int v = 0; v < kVoiceCount; ++v) {
        char* const pBuffer = m_pVoices[v].pBuffer;
        m_pVoices[v] = cp.arrVoices[v];
        m_pVoices[v].pBuffer = pBuffer;
        m_arrVoiceStart[v] = cp.arrVoiceStart[v];
        m_pCounter->SetVoice(v, cp.arrCounts[v]);
    }
}

void CSongPlayer::ReplayVoice(int voice, int32_t block)
{
    VoiceSlot& slot = m_pVoices[voice];
    m_pDecoder->StartClip(slot.pFile, slot.nPos1, slot.nPos3, slot.nDataOffset, slot.nPos2, slot.nPos4,
                          voice, slot.nLengthMs);
    const int offset = std::min(slot.nStartOffset, static_cast<int32_t>(kBlockBytes));
    m_pDecoder->Decode(slot.pBuffer + offset, kBlockBytes - offset, voice);
    for (int32_t b = m_arrVoiceStart[voice] + 1; b < block; ++b)
        m_pDecoder->Decode(slot.pBuffer, kBlockBytes, voice);
}

bool CSongPlayer::SeekBlock(int32_t block, int32_t* blockCount)
{
    block = std::max(block, 0);
    // The end of a play closed the song file; the clips are read from it again.
    if (!m_file.IsOpen() && m_song.HasSong())
        m_file.Open(m_source);
    if (!m_pProfiles) {
        m_pProfiles = std::make_unique<CClipProfiles>(m_strEngineInUse);
        m_pCounter = std::make_unique<CCountingClipSource>(*m_pProfiles);
        ForgetCheckpoints();
    }
    if (m_arrCheckpoints.empty()) {
        // Where Prepare leaves the renderer: every voice silent, no entry selected.
        CCheckpoint start{};
        start.nDocumentEntry = -1;
        for (int v = 0; v < kVoiceCount; ++v) {
            start.arrVoices[v].bFinished = 1;
            start.arrVoices[v].nNextEventBlock = -1;
        }
        std::fill(std::begin(start.arrCursor), std::end(start.arrCursor), -1);
        // Room for as many as the performance's length asks for (a block lasts 26.1 ms).
        const size_t expected = static_cast<size_t>(std::max(m_nTotalLength, 0)) / 26 / kFirstCheckpointBlocks + 2;
        m_arrCheckpoints.reserve(std::min(expected, kMaxCheckpoints));
        m_arrCheckpoints.push_back(start);
    }

    const size_t nearest = std::min<size_t>(static_cast<size_t>(block / m_nCheckpointBlocks),
                                            m_arrCheckpoints.size() - 1);
    RestoreCheckpoint(m_arrCheckpoints[nearest]);
    CClipSource* const pCounter = m_pDecoder ? m_pCounter.get() : nullptr;
    bool bInside = true;
    for (;;) {
        MaybeSaveCheckpoint();
        if (m_nBlock >= block)
            break;
        const int32_t until = IdleUntil(block);
        if (until > m_nBlock) {
            m_nEntryBlock += until - m_nBlock;
            m_nBlock = until;
            for (int v = 0; v < kVoiceCount; ++v)
                m_pVoices[v].bFinished = 0;
            continue;
        }
        if (!Step(nullptr, kBlockBytes, pCounter)) {
            bInside = false;
            m_nBlockCount = m_nBlock + 1;
            break;
        }
    }
    m_pProfiles->DropProducers();
    if (m_pProfiles->Failed()) {
        // Out of memory while learning: nothing learned since can be trusted.
        m_pCounter.reset();
        m_pProfiles.reset();
        ForgetCheckpoints();
        throw std::bad_alloc();
    }
    if (blockCount)
        *blockCount = m_nBlockCount;
    if (!bInside)
        return false;

    for (int v = 0; v < kVoiceCount; ++v)
        std::memset(m_pVoices[v].pBuffer, 0, kBlockBytes);
    if (m_pDecoder) {
        for (int v = 0; v < kVoiceCount; ++v)
            if (m_pVoices[v].pFile && !m_pVoices[v].bFinished)
                ReplayVoice(v, block);
    }
    return true;
}

size_t CSongPlayer::GetSeekMemoryBytes() const
{
    return (m_pProfiles ? m_pProfiles->MemoryBytes() : 0) + m_arrCheckpoints.capacity() * sizeof(CCheckpoint);
}
