// Places in a song for messages to its author, in the manifest's terms:
//   sections[2] "Chorus" > variations[1] "B" > tracks[0] "Bass" > events[3]
#pragma once

#include <string>

#include "song/SongLoader.h"

class CSong;
class CSection;
class CVariation;
class CTrack;

namespace vantrel::tool {

std::string SectionPlace(int s, const CSection& section);
std::string VariationPlace(int s, const CSection& section, int v);
std::string TrackPlace(int s, const CSection& section, int v, int t);
std::string EventPlace(int s, const CSection& section, int v, int t, int e);
std::string ArrangementPlace(int a, const std::string& name);
std::string ClipPlace(int c, const std::string& name);

// Where a traced load stood, with the names of what `song` holds of it (`song` may be
// null: the load failed before the model was complete, so indices only).
std::string TracePlace(const CSongLoadTrace::Where& where, const CSong* song);

} // namespace vantrel::tool
