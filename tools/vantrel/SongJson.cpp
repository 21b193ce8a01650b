#include "SongJson.h"

#include <map>

#include "TextCodec.h"
#include "song/Song.h"
#include "song/SongDocument.h"

namespace vantrel::tool {

namespace {

using Json = nlohmann::ordered_json;

Json Text(const std::string& bytes) { return BytesToUtf8(bytes); }

Json EventToJson(const CClipEvent& e, const std::map<const CClip*, int>& clipIndex)
{
    Json j;
    j["startMs"] = e.m_nStartMs;
    j["lengthMs"] = e.m_nLengthMs;
    j["volume"] = e.m_nVolume;
    j["pan"] = e.m_nPan;
    j["active"] = static_cast<int>(e.m_bActive);
    j["mode"] = e.m_nMode;
    j["pos"] = Json::array({e.m_nPos1, e.m_nPos2, e.m_nPos3, e.m_nPos4, e.m_nPos5, e.m_nPos6});
    auto it = clipIndex.find(e.m_pClip);
    j["clip"] = it == clipIndex.end() ? Json(nullptr) : Json(it->second);
    return j;
}

} // namespace

Json SongToJson(const CSong& song)
{
    std::map<const CClip*, int> clipIndex;
    for (size_t i = 0; i < song.m_arrClips.size(); ++i)
        clipIndex[song.m_arrClips[i].get()] = static_cast<int>(i);
    std::map<const CSection*, int> sectionIndex;
    for (size_t i = 0; i < song.m_arrSections.size(); ++i)
        sectionIndex[song.m_arrSections[i].get()] = static_cast<int>(i);

    Json j;
    j["title"] = Text(song.m_strTitle);
    j["author"] = Text(song.m_strAuthor);
    j["publisher"] = Text(song.m_strPublisher);
    j["genre"] = Text(song.m_strGenre);
    j["copyright"] = Text(song.m_strCopyright);
    j["factor"] = FloatToJson(song.m_fFactor);
    j["beatsPerBar"] = song.m_nBeatsPerBar;
    j["beatUnit"] = song.m_nBeatUnit;
    j["volume"] = song.m_nVolume;
    j["pan"] = song.m_nPan;
    j["mode"] = song.m_nMode;
    j["option"] = song.m_nOption;

    Json arrangements = Json::array();
    for (const auto& a : song.m_arrArrangements) {
        Json ja;
        ja["name"] = Text(a->m_strName);
        ja["settingA"] = a->m_nSettingA;
        ja["settingB"] = a->m_nSettingB;
        Json refs = Json::array();
        for (const CSection* s : a->m_arrSections) {
            auto it = sectionIndex.find(s);
            refs.push_back(it == sectionIndex.end() ? Json(nullptr) : Json(it->second));
        }
        ja["sections"] = std::move(refs);
        arrangements.push_back(std::move(ja));
    }
    j["arrangements"] = std::move(arrangements);

    Json sections = Json::array();
    for (const auto& s : song.m_arrSections) {
        Json js;
        js["name"] = Text(s->m_strName);
        js["settingA"] = s->m_nSettingA;
        js["settingB"] = s->m_nSettingB;
        Json variations = Json::array();
        for (const auto& v : s->m_arrVariations) {
            Json jv;
            jv["name"] = Text(v->m_strName);
            jv["lengthMs"] = v->m_nLengthMs;
            jv["factor"] = FloatToJson(v->m_fFactor);
            jv["beatsPerBar"] = v->m_nBeatsPerBar;
            jv["beatUnit"] = v->m_nBeatUnit;
            Json tracks = Json::array();
            for (const auto& t : v->m_arrTracks) {
                Json jt;
                jt["name"] = Text(t->m_strName);
                jt["volume"] = t->m_nVolume;
                jt["pan"] = t->m_nPan;
                jt["mode"] = t->m_nMode;
                jt["settingA"] = t->m_nSettingA;
                Json events = Json::array();
                for (const auto& e : t->m_arrEvents)
                    events.push_back(EventToJson(*e, clipIndex));
                jt["events"] = std::move(events);
                tracks.push_back(std::move(jt));
            }
            jv["tracks"] = std::move(tracks);
            variations.push_back(std::move(jv));
        }
        js["variations"] = std::move(variations);
        sections.push_back(std::move(js));
    }
    j["sections"] = std::move(sections);

    Json clips = Json::array();
    for (const auto& c : song.m_arrClips) {
        Json jc;
        jc["kind"] = c->m_nKind;
        jc["name"] = Text(c->m_strName);
        jc["path"] = Text(c->m_strPath);
        jc["dataOffset"] = c->m_nDataOffset;
        jc["dataSize"] = c->m_nDataSize;
        clips.push_back(std::move(jc));
    }
    j["clips"] = std::move(clips);
    return j;
}

Json InfoToJson(const std::string& path, int result, const CSongDocument& doc)
{
    Json j;
    // The path as the user gave it; one that is not UTF-8 is shown byte by byte
    // like the song's texts.
    try {
        (void)Json(path).dump();
        j["path"] = path;
    } catch (const nlohmann::json::type_error&) {
        j["path"] = Text(path);
    }
    j["result"] = result;
    j["error"] = Text(doc.GetLastError());
    Json format;
    format["text"] = Text(doc.GetFormatText());
    format["flags"] = doc.GetFormatFlags();
    format["version"] = doc.GetFormatVersion();
    j["format"] = std::move(format);
    j["song"] = doc.GetSong() ? SongToJson(*doc.GetSong()) : Json(nullptr);
    return j;
}

} // namespace vantrel::tool
