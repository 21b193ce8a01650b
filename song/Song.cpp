#include "song/Song.h"

CArrangement::CArrangement(std::string name) : m_strName(std::move(name)) {}
CArrangement::~CArrangement() = default;

CSection::CSection(std::string name) : m_strName(std::move(name)) {}
CSection::~CSection() = default;

void CSection::AddVariation(std::unique_ptr<CVariation> pVariation)
{
    pVariation->m_pSection = this;
    m_arrVariations.push_back(std::move(pVariation));
}

CVariation::CVariation(std::string name) : m_strName(std::move(name)) {}
CVariation::~CVariation() = default;

void CVariation::AddTrack(std::unique_ptr<CTrack> pTrack)
{
    pTrack->m_pVariation = this;
    m_arrTracks.push_back(std::move(pTrack));
}

CTrack::CTrack(std::string name) : m_strName(std::move(name)) {}
CTrack::~CTrack() = default;

void CTrack::AddEvent(std::unique_ptr<CClipEvent> pEvent)
{
    pEvent->m_pTrack = this;
    m_arrEvents.push_back(std::move(pEvent));
}

CClipEvent::~CClipEvent() = default;

CClip::CClip(uint8_t kind, std::string path, int32_t dataOffset, int32_t dataSize)
    : m_nKind(kind == 1 || kind == 2 ? kind : 0), m_strPath(std::move(path)),
      m_nDataOffset(dataOffset), m_nDataSize(dataSize)
{
}
CClip::~CClip() = default;

CSong::CSong(std::string title) : m_strTitle(std::move(title)) {}
CSong::~CSong() = default;

bool EqualNoCase(const std::string& a, const std::string& b)
{
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i) {
        unsigned char x = static_cast<unsigned char>(a[i]);
        unsigned char y = static_cast<unsigned char>(b[i]);
        if (x >= 'a' && x <= 'z')
            x = static_cast<unsigned char>(x - 'a' + 'A');
        if (y >= 'a' && y <= 'z')
            y = static_cast<unsigned char>(y - 'a' + 'A');
        if (x != y)
            return false;
    }
    return true;
}

bool CSong::AddArrangement(std::unique_ptr<CArrangement>& pArrangement)
{
    for (const auto& p : m_arrArrangements)
        if (EqualNoCase(p->m_strName, pArrangement->m_strName))
            return false;
    m_arrArrangements.push_back(std::move(pArrangement));
    return true;
}

CSection* CSong::AddSection(std::unique_ptr<CSection> pSection)
{
    m_arrSections.push_back(std::move(pSection));
    return m_arrSections.back().get();
}

CClip* CSong::AddClip(std::unique_ptr<CClip> pClip)
{
    m_arrClips.push_back(std::move(pClip));
    return m_arrClips.back().get();
}

CClip* CSong::GetClip(int i) const
{
    if (i < 0 || static_cast<size_t>(i) >= m_arrClips.size())
        return nullptr;
    return m_arrClips[static_cast<size_t>(i)].get();
}
