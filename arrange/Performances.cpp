#include "arrange/Performances.h"

#include <cstdint>

#include "arrange/Random.h"
#include "song/SongDocument.h"

namespace vantrel {

namespace {
constexpr uint32_t kStartState = 1;

bool Chose(const CSongDocument& doc, const CArrangement* arrangement)
{
    return doc.GetState() == STATE_ARRANGED && doc.GetArrangement() == arrangement;
}
} // namespace

int ArrangePerformance(CSongDocument& doc, int number)
{
    SetRandomState(kStartState);
    int result = 0;
    for (int i = 1; i <= number; ++i) {
        result = doc.Arrange();
        // A song that cannot be arranged draws nothing, so every later play fails the
        // same way.
        if (result != 1)
            break;
    }
    return result;
}

int FindPerformanceWithArrangement(CSongDocument& doc, int from, int arrangementIndex, int limit)
{
    const CSong* song = doc.GetSong();
    if (!song || from < 1 || limit < 1 || arrangementIndex < 0 ||
        arrangementIndex >= static_cast<int>(song->GetArrangements().size()))
        return -1;
    const CArrangement* wanted = song->GetArrangements()[static_cast<size_t>(arrangementIndex)].get();
    if (ArrangePerformance(doc, from) != 1)
        return -1;
    int64_t last = static_cast<int64_t>(from) + limit - 1;
    if (last > INT32_MAX)
        last = INT32_MAX;
    for (int64_t n = from;; ++n) {
        if (Chose(doc, wanted))
            return static_cast<int>(n);
        if (n >= last || doc.Arrange() != 1)
            return -1;
    }
}

int FindArrangementIndex(const CSong& song, const std::string& name)
{
    const auto& list = song.GetArrangements();
    for (size_t i = 0; i < list.size(); ++i)
        if (list[i]->GetName() == name)
            return static_cast<int>(i);
    return -1;
}

std::vector<CPerformanceEntry> PerformanceEntries(const CSongDocument& doc)
{
    std::vector<CPerformanceEntry> entries;
    const CSong* song = doc.GetSong();
    const std::vector<CVariation*>* sequence = doc.GetSequence();
    if (!song || !sequence)
        return entries;
    uint32_t start = 0;
    for (int32_t i = 0; i < doc.GetSequenceLength(); ++i) {
        const CVariation* variation = (*sequence)[static_cast<size_t>(i)];
        CPerformanceEntry entry;
        entry.nSection = SectionIndex(*song, variation->m_pSection);
        if (entry.nSection >= 0) {
            const auto& variations = song->GetSection(entry.nSection)->GetVariations();
            for (size_t k = 0; k < variations.size(); ++k)
                if (variations[k].get() == variation)
                    entry.nVariation = static_cast<int>(k);
        }
        entry.nStartMs = start;
        entry.nLengthMs = variation->GetLengthMs();
        start += static_cast<uint32_t>(entry.nLengthMs);
        entries.push_back(entry);
    }
    return entries;
}

int ChosenArrangementIndex(const CSongDocument& doc)
{
    const CSong* song = doc.GetSong();
    if (!song || !doc.GetArrangement())
        return -1;
    const auto& list = song->GetArrangements();
    for (size_t i = 0; i < list.size(); ++i)
        if (list[i].get() == doc.GetArrangement())
            return static_cast<int>(i);
    return -1;
}

int SectionIndex(const CSong& song, const CSection* section)
{
    for (int i = 0; i < song.GetSectionCount(); ++i)
        if (song.GetSection(i) == section)
            return i;
    return -1;
}

} // namespace vantrel
