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

} // namespace vantrel
