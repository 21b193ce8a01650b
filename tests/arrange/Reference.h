// A reference for the arrangement tests: its own generator and its own arranger over
// an in-memory CSong, written from the drawing rules rather than from arrange/, so
// that the document's draws can be checked against it draw for draw. Also: writing a
// song to a file and loading it, and naming a drawn entry by its table positions.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "common/TestSongs.h"
#include "song/Song.h"
#include "song/SongDocument.h"
#include "song/SongWriter.h"

namespace reftest {

struct Lcg
{
    uint32_t x = 1;
    int Next()
    {
        x = x * 214013u + 2531011u;
        return static_cast<int>((x >> 16) & 0x7FFF);
    }
};

// Whole numbers only: no draw r < 32767 makes r * 10000 a multiple of 32767, and the
// fractional part is at least 1/32767, far above the rounding of a double product.
inline int Scale(int r) { return r * 10000 / 32767; }

// The index that a scaled draw v selects among n candidates (n <= 10000): the slices
// (j*q, (j+1)*q] with q = 10000/n, the last one open upwards; -1 for v = 0.
inline int Pick(int n, int v)
{
    if (v <= 0)
        return -1;
    const int j = (v - 1) / (10000 / n);
    return j < n - 1 ? j : n - 1;
}

using Entry = std::pair<int, int>; // section table index, variation index

struct Performance
{
    int nResult = 0;
    int nArrangement = -1;
    std::vector<Entry> arrEntries;
    int64_t nTotalMs = -1;
    int nDraws = 0;
};

inline int SectionIndex(const CSong& song, const CSection* section)
{
    for (int i = 0; i < song.GetSectionCount(); ++i)
        if (song.GetSection(i) == section)
            return i;
    return -1;
}

inline bool Playable(const CSection& s)
{
    for (const auto& v : s.GetVariations())
        if (v->GetLengthMs() > 0)
            return true;
    return false;
}

// One performance of `song` drawn from `g`.
inline Performance Arrange(const CSong& song, Lcg& g)
{
    Performance p;
    auto draw = [&] {
        ++p.nDraws;
        return g.Next();
    };
    const auto& arrangements = song.GetArrangements();
    bool anyListed = false, anyPlayable = false;
    for (const auto& a : arrangements)
        for (const CSection* s : a->GetSections()) {
            anyListed = true;
            anyPlayable = anyPlayable || Playable(*s);
        }
    if (!anyListed || !anyPlayable) {
        p.nResult = ERR_NOTHING_TO_ARRANGE;
        return p;
    }
    const int n = static_cast<int>(arrangements.size());
    int v = Scale(draw());
    for (;;) {
        int a = 0;
        if (n > 1) {
            draw();
            a = Pick(n, v);
        }
        if (a >= 0) {
            p.arrEntries.clear();
            for (const CSection* s : arrangements[static_cast<size_t>(a)]->GetSections()) {
                if (!Playable(*s))
                    continue;
                const auto& vars = s->GetVariations();
                const int m = static_cast<int>(vars.size());
                int k = -1;
                while (k < 0 || vars[static_cast<size_t>(k)]->GetLengthMs() <= 0) {
                    if (m == 1) {
                        k = 0;
                    } else {
                        draw();
                        k = Pick(m, Scale(draw()));
                    }
                }
                p.arrEntries.emplace_back(SectionIndex(song, s), k);
            }
            if (!p.arrEntries.empty()) {
                p.nResult = 1;
                p.nArrangement = a;
                p.nTotalMs = 0;
                for (const Entry& e : p.arrEntries)
                    p.nTotalMs += song.GetSection(e.first)->GetVariations()[static_cast<size_t>(e.second)]
                                      ->GetLengthMs();
                return p;
            }
        }
        v = Scale(draw());
    }
}

// What the document drew, in the same terms (indices into the document's own song).
inline Performance Observe(const CSongDocument& doc, int result)
{
    Performance p;
    p.nResult = result;
    p.nTotalMs = doc.GetTotalLength();
    const CSong* song = doc.GetSong();
    if (result != 1 || !song)
        return p;
    const auto& arrangements = song->GetArrangements();
    for (size_t i = 0; i < arrangements.size(); ++i)
        if (arrangements[i].get() == doc.GetArrangement())
            p.nArrangement = static_cast<int>(i);
    for (int32_t i = 0; i < doc.GetSequenceLength(); ++i) {
        const CVariation* v = (*doc.GetSequence())[static_cast<size_t>(i)];
        int k = -1;
        const auto& vars = v->m_pSection->GetVariations();
        for (size_t j = 0; j < vars.size(); ++j)
            if (vars[j].get() == v)
                k = static_cast<int>(j);
        p.arrEntries.emplace_back(SectionIndex(*song, v->m_pSection), k);
    }
    return p;
}

// Writes the song to a fresh file and loads it into the document.
inline std::string WriteSong(const CSong& song, const std::string& name)
{
    const std::string path = testutil::TempPath(name);
    testutil::WriteSong(song, testutil::SampleClipData(song), path);
    return path;
}

inline ::testing::AssertionResult LoadInto(CSongDocument& doc, const CSong& song, const std::string& name)
{
    const int r = doc.Load(WriteSong(song, name));
    if (r == 1)
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "Load returned " << r;
}

// The generator state after `draws` more draws from `state`.
inline uint32_t Advance(uint32_t state, int draws)
{
    Lcg g{state};
    for (int i = 0; i < draws; ++i)
        g.Next();
    return g.x;
}

} // namespace reftest
