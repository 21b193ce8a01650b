// Performances by number. Performance N is the N-th draw on a generator from its start
// state, one Arrange per play, so performance 1 is the plug-in's first play after it is
// loaded. Tools and the library reach a performance by number through these, and a
// performance restricted to one arrangement as the first numbered draw that chose it;
// the generator and the order of draws stay exactly those of the player. A drawn
// performance is read back as indices into the song's tables (PerformanceEntries,
// ChosenArrangementIndex): the one place that turns the document's pointers into them.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

class CSection;
class CSong;
class CSongDocument;

namespace vantrel {

// Sets the calling thread's generator to its start state and draws performances
// 1..number on `doc`, which must hold a loaded song; afterwards `doc` holds performance
// `number`. Returns the last Arrange's result (1, ERR_NO_SONG or ERR_NOTHING_TO_ARRANGE);
// a number below 1 draws nothing and returns 0. Restores nothing: the generator is left
// where the last draw left it, as it would be after that many plays.
int ArrangePerformance(CSongDocument& doc, int number);

// The first performance number in [from, from + limit - 1] whose draw chose the
// arrangement at `arrangementIndex` of the document's song; `doc` then holds that
// performance. -1 when none did (doc then holds the last one drawn), when the song
// cannot be arranged, or when from < 1, limit < 1 or the index is not one of the song's
// arrangements. Starts from the generator's start state, like ArrangePerformance.
int FindPerformanceWithArrangement(CSongDocument& doc, int from, int arrangementIndex,
                                   int limit = 10000);

// The index of the first arrangement named exactly `name` (bytes compared as they
// stand), -1 when none is.
int FindArrangementIndex(const CSong& song, const std::string& name);

// One entry of a drawn performance, as indices into the song's tables.
struct CPerformanceEntry
{
    int nSection = -1;     // the entry's section, in the song's section table
    int nVariation = -1;   // the variation drawn for it, within that section
    uint32_t nStartMs = 0; // the lengths of the entries before it, added as the player adds them (wrapping)
    int32_t nLengthMs = 0;
};

// The entries of the performance that `doc` holds, in playing order; empty when it
// holds none. Every tool and front end that shows a performance takes it from here.
std::vector<CPerformanceEntry> PerformanceEntries(const CSongDocument& doc);

// The index of the arrangement that `doc`'s performance chose, in the song's table;
// -1 when it holds no performance.
int ChosenArrangementIndex(const CSongDocument& doc);

// The index of `section` in the song's section table; -1 when the song has no such
// section.
int SectionIndex(const CSong& song, const CSection* section);

} // namespace vantrel
