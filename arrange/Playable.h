// What a performance can be made of. The draw takes for a section only a variation of
// positive length, skips a section that has none, and takes an arrangement only when
// one of its sections is playable; the tools judge songs by the same rules.
#pragma once

class CArrangement;
class CSection;
class CVariation;

namespace vantrel {

// A variation can be drawn when its length is positive.
bool IsPlayable(const CVariation& variation);
// A section is playable when one of its variations can be drawn.
bool IsPlayable(const CSection& section);
// An arrangement can be built when one of its sections is playable.
bool CanBeBuilt(const CArrangement& arrangement);

} // namespace vantrel
