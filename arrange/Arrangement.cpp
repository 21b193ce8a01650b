// CSongDocument: drawing a performance (arrangement and sequence).
#include <vector>

#include "arrange/Playable.h"
#include "arrange/Random.h"
#include "song/SongDocument.h"

using vantrel::DrawRandom;
using vantrel::ScaleDraw;

namespace {
std::vector<int> MakeThresholds(int n)
{
    std::vector<int> t(static_cast<size_t>(n));
    for (int j = 0; j < n; ++j)
        t[static_cast<size_t>(j)] = j * (10000 / n);
    return t;
}
} // namespace

namespace vantrel {

bool IsPlayable(const CVariation& variation)
{
    return variation.GetLengthMs() >= 1;
}

bool IsPlayable(const CSection& section)
{
    for (const auto& v : section.GetVariations())
        if (IsPlayable(*v))
            return true;
    return false;
}

bool CanBeBuilt(const CArrangement& arrangement)
{
    for (const CSection* s : arrangement.GetSections())
        if (IsPlayable(*s))
            return true;
    return false;
}

} // namespace vantrel

void CSongDocument::ClearArrangement()
{
    m_pArrangement = nullptr;
    m_pSectionRefs = nullptr;
    m_pCurrentVariation = nullptr;
    m_pSequence.reset();
    m_pCurrentTracks = nullptr;
    m_nCurrent = -1;
    m_nSequenceLength = 0;
    m_pEventCursor.reset();
    m_pEventCount.reset();
    m_nCursorCapacity = 0;
}

bool CSongDocument::PickIndex(int n, const std::vector<int>& thresholds, int v, int& index)
{
    for (int j = n - 1; j >= 0; --j) {
        if (v > thresholds[static_cast<size_t>(j)]) {
            index = j;
            return true;
        }
    }
    return false;
}

int CSongDocument::Arrange()
{
    if (!m_pSong) {
        ClearArrangement();
        return ERR_NO_SONG;
    }
    const auto& arrangements = m_pSong->GetArrangements();
    bool anySections = false;
    bool anyBuildable = false;
    for (const auto& a : arrangements) {
        anySections = anySections || !a->GetSections().empty();
        anyBuildable = anyBuildable || vantrel::CanBeBuilt(*a);
    }
    // Nothing to arrange, or nothing that could ever be built: the search below would
    // never end, so give up before drawing. Otherwise it ends: with fewer than 10000
    // candidates (a file counts them in a signed byte) every index has a share of the
    // scaled range, so a buildable arrangement, and a variation of positive length
    // within each playable section, is drawn sooner or later.
    if (!anySections || !anyBuildable) {
        ClearArrangement();
        return ERR_NOTHING_TO_ARRANGE;
    }

    const int n = static_cast<int>(arrangements.size());
    const std::vector<int> thresholds = MakeThresholds(n);
    int v = ScaleDraw(DrawRandom());
    for (;;) {
        int index = 0;
        bool picked = true;
        if (n != 1) {
            DrawRandom();
            picked = PickIndex(n, thresholds, v, index);
        }
        if (picked) {
            m_pArrangement = arrangements[static_cast<size_t>(index)].get();
            m_pSectionRefs = &m_pArrangement->GetSections();
            if (BuildSequence())
                break;
        }
        v = ScaleDraw(DrawRandom());
    }
    m_nCurrent = -1;
    m_nState = STATE_ARRANGED;
    return 1;
}

bool CSongDocument::BuildSequence()
{
    if (!m_pSectionRefs || m_pSectionRefs->empty())
        return false;
    m_nSequenceLength = 0;
    std::vector<CVariation*> working;
    for (const CSection* section : *m_pSectionRefs) {
        if (!vantrel::IsPlayable(*section))
            continue;
        const auto& variations = section->GetVariations();
        const int n = static_cast<int>(variations.size());
        const std::vector<int> thresholds = MakeThresholds(n);
        CVariation* chosen = nullptr;
        while (!chosen) {
            int index = 0;
            bool picked = true;
            if (n != 1) {
                DrawRandom();
                const int v = ScaleDraw(DrawRandom());
                picked = PickIndex(n, thresholds, v, index);
            }
            if (picked && vantrel::IsPlayable(*variations[static_cast<size_t>(index)]))
                chosen = variations[static_cast<size_t>(index)].get();
        }
        working.push_back(chosen);
        ++m_nSequenceLength;
    }
    if (m_nSequenceLength == 0)
        return false;
    m_pSequence = std::make_unique<std::vector<CVariation*>>(std::move(working));
    return true;
}

int32_t CSongDocument::GetTotalLength() const
{
    // A failed Arrange leaves the state as it was, which may still be STATE_ARRANGED
    // when the previous performance was not ended; its emptied sequence has no length
    // either, so the length is -1 then too.
    if (m_nState != STATE_ARRANGED || m_nSequenceLength == 0 || !m_pSequence)
        return -1;
    uint32_t sum = 0; // added as 32-bit values; wraps like them
    for (int32_t i = 0; i < m_nSequenceLength; ++i)
        sum += static_cast<uint32_t>((*m_pSequence)[static_cast<size_t>(i)]->GetLengthMs());
    return static_cast<int32_t>(sum);
}
