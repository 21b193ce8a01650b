// CSongDocument: the cursor on the drawn sequence and the per-track event cursors.
#include "song/SongDocument.h"

bool CSongDocument::SelectEntry(int32_t index)
{
    if (index < 0 || index >= m_nSequenceLength || !m_pSequence)
        return false;
    CVariation* variation = (*m_pSequence)[static_cast<size_t>(index)];
    const auto& tracks = variation->GetTracks();
    const size_t count = tracks.size();
    // The cursor arrays start afresh for every selection; their storage is kept while
    // it is large enough, so that playing allocates nothing here.
    if (!m_pEventCursor || m_nCursorCapacity < count) {
        const size_t capacity = count > 4 ? count : 4;
        m_pEventCursor = std::make_unique<int32_t[]>(capacity);
        m_pEventCount = std::make_unique<int32_t[]>(capacity);
        m_nCursorCapacity = capacity;
    }
    for (size_t t = 0; t < count; ++t) {
        m_pEventCursor[t] = -1;
        m_pEventCount[t] = tracks[t]->GetEventCount();
    }
    m_nCurrent = index;
    m_pCurrentVariation = variation;
    m_pCurrentTracks = &tracks;
    return true;
}

int32_t CSongDocument::GetEntryLength() const
{
    if (m_nCurrent == -1 || !m_pCurrentVariation)
        return -1;
    return m_pCurrentVariation->GetLengthMs();
}

int32_t CSongDocument::GetTrackCount() const
{
    if (m_nCurrent == -1 || !m_pCurrentTracks)
        return -1;
    return static_cast<int32_t>(m_pCurrentTracks->size());
}

void CSongDocument::ResetCursor()
{
    if (m_pSong)
        m_nCurrent = -1;
}

void CSongDocument::EndPerformance()
{
    if (m_pSong)
        ResetCursor();
    m_nState = STATE_CLOSED;
}

void CSongDocument::DetachSong()
{
    ClearArrangement();
    m_pSong.reset();
}

bool CSongDocument::SetEventCursor(int32_t track, int32_t event)
{
    if (m_nCurrent == -1 || !m_pCurrentTracks || !m_pEventCursor)
        return false;
    if (track < 0 || track >= static_cast<int32_t>(m_pCurrentTracks->size()))
        return false;
    if (event < 0 || event > m_pEventCount[static_cast<size_t>(track)] - 1)
        return false;
    m_pEventCursor[static_cast<size_t>(track)] = event;
    return true;
}

int32_t CSongDocument::GetEventCursor(int32_t track) const
{
    if (m_nCurrent == -1 || !m_pEventCursor || !m_pCurrentTracks || track < 0 ||
        track >= static_cast<int32_t>(m_pCurrentTracks->size()))
        return -1;
    return m_pEventCursor[static_cast<size_t>(track)];
}

CScheduledEventPtr CSongDocument::CurrentEvent(int32_t track)
{
    if (!m_pEventCursor || track < 0 || !m_pCurrentTracks ||
        track >= static_cast<int32_t>(m_pCurrentTracks->size()))
        return nullptr;
    const int32_t cursor = m_pEventCursor[static_cast<size_t>(track)];
    if (!SetEventCursor(track, cursor))
        return nullptr;
    return MakeScheduledEvent(track, cursor);
}

CScheduledEventPtr CSongDocument::NextEvent(int32_t track)
{
    if (!m_pEventCursor || track < 0 || !m_pCurrentTracks ||
        track >= static_cast<int32_t>(m_pCurrentTracks->size()))
        return nullptr;
    const int32_t cursor = m_pEventCursor[static_cast<size_t>(track)];
    if (!SetEventCursor(track, cursor + 1))
        return nullptr;
    return CurrentEvent(track);
}

CScheduledEventPtr CSongDocument::MakeScheduledEvent(int32_t track, int32_t event) const
{
    // Public, so it checks what CurrentEvent has already checked: a track and event
    // of the current entry, and an event that refers to a clip.
    if (m_nCurrent == -1 || !m_pCurrentVariation || track < 0 ||
        track >= static_cast<int32_t>(m_pCurrentVariation->GetTracks().size()))
        return nullptr;
    const CTrack* pTrack = m_pCurrentVariation->GetTrack(track);
    if (event < 0 || event >= pTrack->GetEventCount())
        return nullptr;
    const CClipEvent* e = pTrack->GetEvent(event);
    const CClip* clip = e->m_pClip;
    if (!clip)
        return nullptr;
    CScheduledEventPtr rec = AcquireScheduledEvent();
    rec->m_strClipName = clip->m_strName;
    rec->m_strClipPath = clip->m_strPath;
    rec->m_nStartMs = static_cast<int32_t>(e->m_nStartMs);
    rec->m_nVolume = e->m_nVolume;
    rec->m_bActive = e->m_bActive;
    rec->m_nPan = e->m_nPan;
    rec->m_nLengthMs = static_cast<int32_t>(e->m_nLengthMs);
    rec->m_nDataSize = clip->m_nDataSize;
    rec->m_nDataOffset = clip->m_nDataOffset;
    rec->m_nKindCode = clip->m_nKind == 1 ? 100 : clip->m_nKind == 2 ? 200 : 0;
    rec->m_nPos1 = static_cast<int32_t>(e->m_nPos1);
    rec->m_nPos2 = static_cast<int32_t>(e->m_nPos2);
    rec->m_nPos3 = static_cast<int32_t>(e->m_nPos3);
    rec->m_nPos4 = static_cast<int32_t>(e->m_nPos4);
    rec->m_nClipInfo2 = clip->GetInfo2();
    rec->m_nClipInfo3 = clip->GetInfo3();
    return rec;
}
