// Where playing a clip starts: at the first byte of its data when an event's pos1 is
// 0, else pos1 + 4 bytes into it. Every clip source starts a voice there, and the
// tool checks that an MPEG frame begins there.
#pragma once

#include <cstdint>

namespace vantrel {

// The start, in bytes from the beginning of the clip's data (64-bit, so that no pos1
// overflows; a negative pos1 gives a negative start, which no read reaches).
constexpr int64_t ClipStartInData(int64_t nPos1)
{
    return nPos1 != 0 ? nPos1 + 4 : 0;
}

// The same, in bytes from the beginning of the song file.
constexpr int64_t ClipStartInFile(int64_t nDataOffset, int64_t nPos1)
{
    return nDataOffset + ClipStartInData(nPos1);
}

} // namespace vantrel
