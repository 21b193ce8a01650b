#include "SongPlaces.h"

#include "TextCodec.h"
#include "song/Song.h"

namespace vantrel::tool {

namespace {

std::string Item(const char* list, int i, const std::string& nameBytes)
{
    std::string s = std::string(list) + "[" + std::to_string(i) + "]";
    if (!nameBytes.empty())
        s += " \"" + BytesToUtf8(nameBytes) + "\"";
    return s;
}

} // namespace

std::string SectionPlace(int s, const CSection& section) { return Item("sections", s, section.m_strName); }

std::string VariationPlace(int s, const CSection& section, int v)
{
    const auto& list = section.m_arrVariations;
    const std::string name = v < static_cast<int>(list.size()) ? list[static_cast<size_t>(v)]->m_strName : "";
    return SectionPlace(s, section) + " > " + Item("variations", v, name);
}

std::string TrackPlace(int s, const CSection& section, int v, int t)
{
    std::string name;
    if (v < static_cast<int>(section.m_arrVariations.size())) {
        const auto& tracks = section.m_arrVariations[static_cast<size_t>(v)]->m_arrTracks;
        if (t < static_cast<int>(tracks.size()))
            name = tracks[static_cast<size_t>(t)]->m_strName;
    }
    return VariationPlace(s, section, v) + " > " + Item("tracks", t, name);
}

std::string EventPlace(int s, const CSection& section, int v, int t, int e)
{
    return TrackPlace(s, section, v, t) + " > " + Item("events", e, "");
}

std::string ArrangementPlace(int a, const std::string& name) { return Item("arrangements", a, name); }

std::string ClipPlace(int c, const std::string& name) { return Item("clips", c, name); }

std::string TracePlace(const CSongLoadTrace::Where& w, const CSong* song)
{
    if (w.nClip >= 0) {
        const CClip* clip = song ? song->GetClip(w.nClip) : nullptr;
        return ClipPlace(w.nClip, clip ? clip->m_strName : "");
    }
    if (w.nArrangement >= 0)
        return Item("arrangements", w.nArrangement, "");
    if (w.nSection < 0)
        return std::string();
    // The record being read is not in the model yet; those before it are.
    const CSection* section =
        song && w.nSection < song->GetSectionCount() ? song->GetSection(w.nSection) : nullptr;
    std::string place = section ? SectionPlace(w.nSection, *section) : Item("sections", w.nSection, "");
    if (w.nVariation >= 0 && section && w.nVariation < static_cast<int>(section->m_arrVariations.size()))
        place = VariationPlace(w.nSection, *section, w.nVariation);
    else if (w.nVariation >= 0)
        place += " > " + Item("variations", w.nVariation, "");
    const CVariation* variation = section && w.nVariation >= 0 &&
                                          w.nVariation < static_cast<int>(section->m_arrVariations.size())
                                      ? section->m_arrVariations[static_cast<size_t>(w.nVariation)].get()
                                      : nullptr;
    if (w.nTrack >= 0 && variation && w.nTrack < static_cast<int>(variation->m_arrTracks.size()))
        place = TrackPlace(w.nSection, *section, w.nVariation, w.nTrack);
    else if (w.nTrack >= 0)
        place += " > " + Item("tracks", w.nTrack, "");
    if (w.nEvent >= 0)
        place += " > " + Item("events", w.nEvent, "");
    return place;
}

} // namespace vantrel::tool
