// Times as the tool prints and reads them.
#pragma once

#include <cstdint>
#include <string>

namespace vantrel::tool {

// m:ss.mmm, minutes unbounded; a negative time gets a leading minus.
std::string FormatTime(int64_t ms);

// A time given as seconds ("90", "12.5") or as m:ss.mmm ("1:30", "1:30.250", also
// h:mm:ss.mmm), with at most three decimals, in milliseconds. False for anything else
// (signs, empty parts, seconds of 60 or more after a colon, more than a year).
bool ParseTime(const std::string& text, int64_t& ms);

} // namespace vantrel::tool
