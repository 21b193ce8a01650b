// CScheduledEvent: a self-contained copy of one clip event of the current sequence
// entry, with the location of its clip's data. Made per request by the document and
// owned by the caller.
//
// Records are handed out as CScheduledEventPtr. Releasing one puts it back on a small
// list from which the next request is served, so that rendering, which asks for records
// in every block, allocates nothing once it runs.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

class CScheduledEvent
{
public:
    virtual ~CScheduledEvent() = default;

    std::string m_strClipName;
    std::string m_strClipPath;
    int32_t m_nStartMs = 0;
    int32_t m_nVolume = 0;
    uint8_t m_bActive = 0;
    int32_t m_nPan = 0;
    int32_t m_nLengthMs = 0;
    int32_t m_nDataSize = 0;
    int32_t m_nDataOffset = 0;
    int32_t m_nKindCode = 0;
    int32_t m_nPos1 = 0;
    int32_t m_nPos2 = 0;
    int32_t m_nPos3 = 0;
    int32_t m_nPos4 = 0;
    int32_t m_nClipInfo2 = 0;
    int32_t m_nClipInfo3 = 0;
};

struct CScheduledEventRelease
{
    void operator()(CScheduledEvent* pEvent) const noexcept;
};

using CScheduledEventPtr = std::unique_ptr<CScheduledEvent, CScheduledEventRelease>;

// A record for the caller to fill: a released one when there is one
// (its texts keep their storage), else a new one.
CScheduledEventPtr AcquireScheduledEvent();
