#include "SongJson.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "ClipAudio.h"
#include "Commands.h"
#include "SongPlaces.h"
#include "TextCodec.h"
#include "decode/ClipStart.h"
#include "song/SongDocument.h"

namespace vantrel::tool {

namespace {

namespace fs = std::filesystem;

// Every name is held to 50 bytes, which both format versions can store (0x60 keeps
// clip names in a 50-byte field).
constexpr size_t kNameWidth = 50;

std::string Lower(std::string s)
{
    for (char& c : s)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

// A name that every file system takes: letters, digits and - _ . + ( ) kept, anything
// else "_", no leading or trailing dots or spaces, no device names, at most 60 bytes.
std::string SafeFileStem(const std::string& nameBytes)
{
    std::string out;
    for (unsigned char c : nameBytes) {
        if (std::isalnum(c) || c == '-' || c == '_' || c == '.' || c == '+' || c == '(' || c == ')' ||
            c == ' ')
            out.push_back(static_cast<char>(c));
        else
            out.push_back('_');
    }
    while (!out.empty() && (out.back() == '.' || out.back() == ' '))
        out.pop_back();
    while (!out.empty() && (out.front() == '.' || out.front() == ' '))
        out.erase(out.begin());
    if (out.size() > 60)
        out.resize(60);
    if (out.empty())
        out = "clip";
    std::string upper = out.substr(0, out.find('.'));
    for (char& c : upper)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    static const std::set<std::string> reserved = {
        "CON",  "PRN",  "AUX",  "NUL",  "COM1", "COM2", "COM3", "COM4", "COM5", "COM6", "COM7",
        "COM8", "COM9", "LPT1", "LPT2", "LPT3", "LPT4", "LPT5", "LPT6", "LPT7", "LPT8", "LPT9"};
    if (reserved.count(upper))
        out = "_" + out;
    return out;
}

} // namespace

// ---- The model to JSON -------------------------------------------------------------------

std::string CSongToJson::CNamer::Name(const std::string& place, const std::string& given,
                                      const std::string& fallback)
{
    std::string name = given;
    if (name.size() > kNameWidth) {
        name.resize(kNameWidth);
        m_warnings.push_back(place + ": the name is " + std::to_string(given.size()) +
                             " bytes long; a manifest holds 50, so it is cut to \"" + BytesToUtf8(name) + "\"");
    }
    if (name.empty()) {
        name = Unique(fallback);
        m_warnings.push_back(place + " has no name; the manifest names it \"" + BytesToUtf8(name) + "\"");
    } else if (Taken(name)) {
        const std::string unique = Unique(name);
        m_warnings.push_back(place + ": the name \"" + BytesToUtf8(name) +
                             "\" is used before; the manifest names it \"" + BytesToUtf8(unique) + "\"");
        name = unique;
    }
    m_taken.insert(Key(name));
    return name;
}

std::string CSongToJson::CNamer::Key(const std::string& n) const { return m_bIgnoreCase ? Lower(n) : n; }

std::string CSongToJson::CNamer::Unique(const std::string& base) const
{
    for (int k = Taken(base) ? 2 : 1;; ++k) {
        std::string n = k == 1 ? base : base + " " + std::to_string(k);
        if (n.size() > kNameWidth)
            n = base.substr(0, kNameWidth - std::to_string(k).size() - 1) + " " + std::to_string(k);
        if (!Taken(n))
            return n;
    }
}

CSongToJson::CSongToJson(const CSong& song) : CSongToJson(song, false) {}

CSongToJson::CSongToJson(const CSong& song, std::string comment, std::string songPath, ClipDataReader clipData)
    : CSongToJson(song, true)
{
    m_strComment = std::move(comment);
    m_strSongPath = std::move(songPath);
    m_clipData = std::move(clipData);
}

CSongToJson::CSongToJson(const CSong& song, bool manifest)
    : m_song(song), m_bManifest(manifest), m_clipNamer(false, m_arrWarnings), m_sectionNamer(false, m_arrWarnings),
      m_arrangementNamer(true, m_arrWarnings)
{
    for (size_t i = 0; i < song.m_arrClips.size(); ++i)
        m_clipIndex[song.m_arrClips[i].get()] = static_cast<int>(i);
    for (size_t i = 0; i < song.m_arrSections.size(); ++i)
        m_sectionIndex[song.m_arrSections[i].get()] = static_cast<int>(i);
}

void CSongToJson::PutFloat(Json& j, const char* key, float value, const std::string& place)
{
    j[key] = FloatToJson(value);
    if (m_bManifest && j[key].is_null()) {
        j.erase(key);
        m_arrWarnings.push_back(place + ": \"" + key + "\" is " + FloatToText(value) +
                                ", which a manifest cannot give; pack writes the default");
    }
}

int64_t CSongToJson::NonNegative(const std::string& place, const char* what, int64_t value)
{
    if (!m_bManifest || value >= 0)
        return value;
    m_arrWarnings.push_back(place + ": \"" + what + "\" is " + std::to_string(value) +
                            ", which a manifest cannot give; written as 0");
    return 0;
}

CSongToJson::Json CSongToJson::Song()
{
    const CSong& song = m_song;
    Json j;
    if (m_bManifest)
        j["_unpacked"] = m_strComment;
    j["title"] = BytesToUtf8(song.m_strTitle);
    j["author"] = BytesToUtf8(song.m_strAuthor);
    j["publisher"] = BytesToUtf8(song.m_strPublisher);
    j["genre"] = BytesToUtf8(song.m_strGenre);
    j["copyright"] = BytesToUtf8(song.m_strCopyright);
    PutFloat(j, "factor", song.m_fFactor, "song");
    j["beatsPerBar"] = song.m_nBeatsPerBar;
    j["beatUnit"] = song.m_nBeatUnit;
    j["volume"] = song.m_nVolume;
    j["pan"] = song.m_nPan;
    j["mode"] = song.m_nMode;
    j["option"] = song.m_nOption;

    auto list = [](int count, const std::function<Json(int)>& item) {
        Json a = Json::array();
        for (int i = 0; i < count; ++i) {
            Json x = item(i);
            if (!x.is_null())
                a.push_back(std::move(x));
        }
        return a;
    };
    const int arrangements = static_cast<int>(song.m_arrArrangements.size());
    if (!m_bManifest) {
        j["arrangements"] = list(arrangements, [&](int a) { return Arrangement(a); });
        j["sections"] = list(song.GetSectionCount(), [&](int s) { return Section(s); });
        j["clips"] = list(song.GetClipCount(), [&](int c) { return Clip(c); });
        return j;
    }
    j["clips"] = list(song.GetClipCount(), [&](int c) { return Clip(c); });
    Json sections = list(song.GetSectionCount(), [&](int s) { return Section(s); });
    if (sections.empty())
        m_arrWarnings.push_back("song: it has no sections; pack refuses a manifest without them");
    j["sections"] = std::move(sections);
    Json refs = list(arrangements, [&](int a) { return Arrangement(a); });
    if (refs.empty())
        m_arrWarnings.push_back("song: it has no arrangement that lists a section; packed again it gets one "
                                "arrangement \"Main\" playing every section");
    else
        j["arrangements"] = std::move(refs);
    return j;
}

CSongToJson::Json CSongToJson::Arrangement(int a)
{
    const CArrangement& arr = *m_song.m_arrArrangements[static_cast<size_t>(a)];
    std::string name = arr.m_strName;
    if (m_bManifest) {
        const std::string place = ArrangementPlace(a, arr.m_strName);
        if (arr.m_arrSections.empty()) {
            m_arrWarnings.push_back(place + " lists no sections, which a manifest cannot give; it is left out");
            return nullptr;
        }
        name = m_arrangementNamer.Name(place, arr.m_strName, "arrangement " + std::to_string(a + 1));
    }
    Json j;
    j["name"] = BytesToUtf8(name);
    j["settingA"] = arr.m_nSettingA;
    j["settingB"] = arr.m_nSettingB;
    Json refs = Json::array();
    for (const CSection* s : arr.m_arrSections) {
        if (m_bManifest) {
            refs.push_back(BytesToUtf8(m_sectionName.at(s)));
        } else {
            auto it = m_sectionIndex.find(s);
            refs.push_back(it == m_sectionIndex.end() ? Json(nullptr) : Json(it->second));
        }
    }
    j["sections"] = std::move(refs);
    return j;
}

CSongToJson::Json CSongToJson::Section(int s)
{
    const CSection& section = *m_song.GetSection(s);
    std::string name = section.m_strName;
    if (m_bManifest) {
        name = m_sectionNamer.Name(SectionPlace(s, section), section.m_strName, "section " + std::to_string(s + 1));
        m_sectionName[&section] = name;
    }
    Json j;
    j["name"] = BytesToUtf8(name);
    j["settingA"] = section.m_nSettingA;
    j["settingB"] = section.m_nSettingB;
    Json variations = Json::array();
    for (size_t v = 0; v < section.m_arrVariations.size(); ++v)
        variations.push_back(Variation(s, static_cast<int>(v)));
    j["variations"] = std::move(variations);
    return j;
}

CSongToJson::Json CSongToJson::Variation(int s, int v)
{
    const CSection& section = *m_song.GetSection(s);
    const CVariation& var = *section.m_arrVariations[static_cast<size_t>(v)];
    const std::string place = m_bManifest ? VariationPlace(s, section, v) : std::string();
    Json j;
    j["name"] = BytesToUtf8(var.m_strName);
    if (m_bManifest && var.m_nLengthMs < 0)
        m_arrWarnings.push_back(place + ": its length " + std::to_string(var.m_nLengthMs) +
                                " ms is negative, which a manifest cannot give; written as 0 (never chosen either way)");
    j["lengthMs"] = m_bManifest ? std::max<int32_t>(var.m_nLengthMs, 0) : var.m_nLengthMs;
    PutFloat(j, "factor", var.m_fFactor, place);
    j["beatsPerBar"] = var.m_nBeatsPerBar;
    j["beatUnit"] = var.m_nBeatUnit;
    Json tracks = Json::array();
    for (size_t t = 0; t < var.m_arrTracks.size(); ++t)
        tracks.push_back(Track(s, v, static_cast<int>(t)));
    j["tracks"] = std::move(tracks);
    return j;
}

CSongToJson::Json CSongToJson::Track(int s, int v, int t)
{
    const CTrack& track = *m_song.GetSection(s)->m_arrVariations[static_cast<size_t>(v)]->m_arrTracks[static_cast<size_t>(t)];
    Json j;
    j["name"] = BytesToUtf8(track.m_strName);
    j["volume"] = track.m_nVolume;
    j["pan"] = track.m_nPan;
    j["mode"] = track.m_nMode;
    j["settingA"] = track.m_nSettingA;
    Json events = Json::array();
    for (size_t e = 0; e < track.m_arrEvents.size(); ++e) {
        Json x = Event(s, v, t, static_cast<int>(e));
        if (!x.is_null())
            events.push_back(std::move(x));
    }
    j["events"] = std::move(events);
    return j;
}

CSongToJson::Json CSongToJson::Event(int s, int v, int t, int e)
{
    const CSection& section = *m_song.GetSection(s);
    const CClipEvent& ev =
        *section.m_arrVariations[static_cast<size_t>(v)]->m_arrTracks[static_cast<size_t>(t)]->m_arrEvents[static_cast<size_t>(e)];
    Json j;
    if (!m_bManifest) {
        j["startMs"] = ev.m_nStartMs;
        j["lengthMs"] = ev.m_nLengthMs;
        j["volume"] = ev.m_nVolume;
        j["pan"] = ev.m_nPan;
        j["active"] = static_cast<int>(ev.m_bActive);
        j["mode"] = ev.m_nMode;
        j["pos"] = Json::array({ev.m_nPos1, ev.m_nPos2, ev.m_nPos3, ev.m_nPos4, ev.m_nPos5, ev.m_nPos6});
        auto it = m_clipIndex.find(ev.m_pClip);
        j["clip"] = it == m_clipIndex.end() ? Json(nullptr) : Json(it->second);
        return j;
    }
    const std::string place = EventPlace(s, section, v, t, e);
    auto found = m_clipName.find(ev.m_pClip);
    if (found == m_clipName.end()) {
        m_arrWarnings.push_back(place + " plays a clip without data, which is not in the manifest; "
                                        "the event is left out");
        return nullptr;
    }
    if (ev.m_nPos1 > 0) {
        const std::string& bytes = m_arrFiles[m_clipFile.at(ev.m_pClip)].second;
        if (!IsFrameHeaderAt(bytes, static_cast<size_t>(vantrel::ClipStartInData(ev.m_nPos1))))
            m_arrWarnings.push_back(place + ": pos[0] " + std::to_string(ev.m_nPos1) +
                                    ": no MPEG frame begins at byte pos[0] + 4 of its clip's data, "
                                    "where playing starts; pack will refuse it");
    }
    j["clip"] = BytesToUtf8(found->second);
    j["startMs"] = NonNegative(place, "startMs", ev.m_nStartMs);
    j["lengthMs"] = NonNegative(place, "lengthMs", ev.m_nLengthMs);
    j["volume"] = ev.m_nVolume;
    j["pan"] = ev.m_nPan;
    j["mode"] = ev.m_nMode;
    j["active"] = ev.m_bActive != 0;
    j["pos"] = Json::array({NonNegative(place, "pos[0]", ev.m_nPos1), ev.m_nPos2, ev.m_nPos3, ev.m_nPos4,
                            ev.m_nPos5, ev.m_nPos6});
    return j;
}

CSongToJson::Json CSongToJson::Clip(int c)
{
    const CClip& clip = *m_song.GetClip(c);
    Json j;
    if (!m_bManifest) {
        j["kind"] = clip.m_nKind;
        j["name"] = BytesToUtf8(clip.m_strName);
        j["path"] = BytesToUtf8(clip.m_strPath);
        j["dataOffset"] = clip.m_nDataOffset;
        j["dataSize"] = clip.m_nDataSize;
        return j;
    }
    // Clips with data become files; a clip without data cannot be given.
    const std::string place = ClipPlace(c, clip.m_strName);
    if (clip.m_nKind == 0) {
        m_arrWarnings.push_back(place + " has no data; a manifest clip needs a sound file, so it is left out "
                                        "(with the events that play it)");
        return nullptr;
    }
    if (clip.m_nKind == 1)
        m_arrWarnings.push_back(place + " has a format text other than MP3 (kind 1); packed again it is kind 2");
    std::string data = m_clipData(clip, place);
    try {
        const Mp3Facts mp3 = InspectMp3(data);
        if (mp3.nRate != kSongRate || mp3.nChannels != kSongChannels)
            m_arrWarnings.push_back(place + " is " + std::to_string(mp3.nRate) + " Hz, " +
                                    std::to_string(mp3.nChannels) +
                                    " channels; pack takes only 44100 Hz stereo MP3 and will refuse it");
    } catch (const ClipAudioError& e) {
        m_arrWarnings.push_back(place + ": its data is not MPEG audio that pack accepts (" + std::string(e.what()) +
                                "); pack will refuse it");
    }
    const std::string name = m_clipNamer.Name(place, clip.m_strName, "clip " + std::to_string(c + 1));
    const std::string stem = SafeFileStem(name);
    std::string file = "clips/" + stem + ".mp3";
    for (int k = 2; m_fileKeys.count(Lower(file)); ++k)
        file = "clips/" + stem + "-" + std::to_string(k) + ".mp3";
    m_fileKeys.insert(Lower(file));
    j["name"] = BytesToUtf8(name);
    j["file"] = file;
    // The song's own path is what the loader gives a clip stored without one.
    j["path"] = clip.m_strPath == m_strSongPath ? std::string() : BytesToUtf8(clip.m_strPath);
    m_clipFile[&clip] = m_arrFiles.size();
    m_arrFiles.emplace_back(file, std::move(data));
    m_clipName[&clip] = name;
    return j;
}

nlohmann::ordered_json InfoToJson(const std::string& path, int result, const CSongDocument& doc)
{
    using Json = nlohmann::ordered_json;
    Json j;
    // The path as the user gave it; one that is not UTF-8 is shown byte by byte
    // like the song's texts.
    try {
        (void)Json(path).dump();
        j["path"] = path;
    } catch (const nlohmann::json::type_error&) {
        j["path"] = BytesToUtf8(path);
    }
    j["result"] = result;
    j["error"] = BytesToUtf8(doc.GetLastError());
    Json format;
    format["text"] = BytesToUtf8(doc.GetFormatText());
    format["flags"] = doc.GetFormatFlags();
    format["version"] = doc.GetFormatVersion();
    j["format"] = std::move(format);
    j["song"] = doc.GetSong() ? CSongToJson(*doc.GetSong()).Song() : Json(nullptr);
    return j;
}

// ---- A manifest to the model -------------------------------------------------------------

namespace {

using Json = nlohmann::json;

constexpr size_t kMaxCount8 = 127;
constexpr size_t kMaxClips = 32767;

std::string Quoted(const std::string& utf8) { return "\"" + utf8 + "\""; }

// One JSON object of the manifest, read field by field. Every field read is noted,
// so that a misspelt one can be reported instead of silently ignored. Fields whose
// name begins with "_" are comments and are skipped.
class Fields
{
public:
    Fields(const std::string& file, const Json& j, std::string place)
        : m_file(file), m_j(j), m_place(std::move(place))
    {
        if (!j.is_object())
            Fail("must be a JSON object { ... }");
    }

    [[noreturn]] void Fail(const std::string& message) const
    {
        throw CommandError(m_file + ": " + (m_place.empty() ? "" : m_place + ": ") + message);
    }
    [[noreturn]] void Fail(const std::string& key, const std::string& message) const
    {
        Fail("\"" + key + "\" " + message);
    }

    const Json* Get(const std::string& key)
    {
        m_used.insert(key);
        auto it = m_j.find(key);
        return it == m_j.end() || it->is_null() ? nullptr : &*it;
    }
    bool Has(const std::string& key) { return Get(key) != nullptr; }

    int64_t Int(const std::string& key, int64_t def, int64_t lo, int64_t hi)
    {
        const Json* v = Get(key);
        return v ? IntValue(key, *v, lo, hi) : def;
    }
    int64_t IntValue(const std::string& key, const Json& v, int64_t lo, int64_t hi) const
    {
        if (!v.is_number_integer())
            Fail(key, "must be a whole number, not " + v.dump());
        if (v.is_number_unsigned() && v.get<uint64_t>() > static_cast<uint64_t>(INT64_MAX))
            Fail(key, v.dump() + " is outside " + std::to_string(lo) + ".." + std::to_string(hi));
        const int64_t n = v.get<int64_t>();
        if (n < lo || n > hi)
            Fail(key, std::to_string(n) + " is outside " + std::to_string(lo) + ".." +
                          std::to_string(hi));
        return n;
    }

    float Float(const std::string& key, float def)
    {
        const Json* v = Get(key);
        if (!v)
            return def;
        if (!v->is_number())
            Fail(key, "must be a number, not " + v->dump());
        const double d = v->get<double>();
        const float f = static_cast<float>(d);
        if (!std::isfinite(f))
            Fail(key, v->dump() + " is too large for a 32-bit float");
        return f;
    }

    bool Bool(const std::string& key, bool def)
    {
        const Json* v = Get(key);
        if (!v)
            return def;
        if (v->is_boolean())
            return v->get<bool>();
        if (v->is_number_integer() && (v->get<int64_t>() == 0 || v->get<int64_t>() == 1))
            return v->get<int64_t>() == 1;
        Fail(key, "must be true or false, not " + v->dump());
    }

    // A text of the song: one byte per character, at most `width` bytes (0: any).
    std::string Text(const std::string& key, size_t width, const std::string& def, bool required)
    {
        const Json* v = Get(key);
        if (!v) {
            if (required)
                Fail("needs a \"" + key + "\"");
            return def;
        }
        if (!v->is_string())
            Fail(key, "must be a text in quotes, not " + v->dump());
        const std::string utf8 = v->get<std::string>();
        std::string bytes;
        uint32_t bad = 0;
        if (!Utf8ToBytes(utf8, bytes, bad)) {
            char cp[16];
            std::snprintf(cp, sizeof cp, "U+%04X", bad);
            Fail(key, Quoted(utf8) + " holds the character " + cp +
                          ", which a song text cannot store (one byte per character: U+0001 "
                          "to U+00FF)");
        }
        if (width && bytes.size() > width)
            Fail(key, Quoted(utf8) + " is " + std::to_string(bytes.size()) +
                          " characters long; at most " + std::to_string(width) + " fit");
        if (required && bytes.empty())
            Fail(key, "must not be empty");
        return bytes;
    }

    // A list of at most `max` entries; an absent list is empty.
    const Json& Array(const std::string& key, size_t max)
    {
        static const Json empty = Json::array();
        const Json* v = Get(key);
        if (!v)
            return empty;
        if (!v->is_array())
            Fail(key, "must be a list [ ... ]");
        if (v->size() > max)
            Fail(key, "has " + std::to_string(v->size()) + " entries; at most " +
                          std::to_string(max) + " are possible");
        return *v;
    }

    // Reports the first field that no Get() asked for.
    void CheckUnknown(const char* known) const
    {
        for (auto it = m_j.begin(); it != m_j.end(); ++it) {
            if (!it.key().empty() && it.key()[0] == '_')
                continue;
            if (!m_used.count(it.key()))
                Fail("unknown field \"" + it.key() + "\" (known here: " + known + ")");
        }
    }

    const std::string& Place() const { return m_place; }

private:
    const std::string& m_file;
    const Json& m_j;
    std::string m_place;
    std::set<std::string> m_used;
};

std::string Item(const std::string& list, size_t i, const std::string& nameUtf8 = "")
{
    std::string s = list + "[" + std::to_string(i) + "]";
    if (!nameUtf8.empty())
        s += " " + Quoted(nameUtf8);
    return s;
}

std::string Within(const std::string& outer, const std::string& inner)
{
    return outer.empty() ? inner : outer + " > " + inner;
}

// The entry's "name" as written, for places in messages (before it is checked).
std::string NameForPlace(const Json& j)
{
    if (j.is_object()) {
        auto it = j.find("name");
        if (it != j.end() && it->is_string())
            return it->get<std::string>();
    }
    return std::string();
}

// A hint for a name that matches only without regard to case.
std::string CaseHint(const std::string& name, const std::vector<std::string>& names)
{
    for (const std::string& n : names)
        if (EqualNoCase(n, name))
            return " (did you mean \"" + BytesToUtf8(n) + "\"? names are matched exactly)";
    return std::string();
}

Json ParseFile(const std::string& path)
{
    std::ifstream f(path, std::ios::binary);
    if (!f)
        throw CommandError("cannot open the manifest " + path);
    std::ostringstream s;
    s << f.rdbuf();
    try {
        return Json::parse(s.str());
    } catch (const Json::parse_error& e) {
        // nlohmann's message names the line and column.
        std::string what = e.what();
        const std::string prefix = "[json.exception.parse_error.101] ";
        if (what.compare(0, prefix.size(), prefix) == 0)
            what = what.substr(prefix.size());
        throw CommandError(path + ": not valid JSON: " + what);
    }
}

// Builds the model from a manifest, one level at a time, in the order the fields are
// checked (so that the first fault reported is the first in the file's order).
class CManifestReader
{
public:
    explicit CManifestReader(const std::string& path) : m_strPath(path), m_folder(fs::path(path).parent_path()) {}

    Manifest Song(const Json& root);

private:
    void Clip(const Json& j, size_t i);
    std::unique_ptr<CSection> Section(const Json& j, size_t s);
    std::unique_ptr<CVariation> Variation(const Json& j, const std::string& outer, size_t v);
    std::unique_ptr<CTrack> Track(const Json& j, const std::string& outer, size_t t);
    std::unique_ptr<CClipEvent> Event(const Json& j, const std::string& outer, size_t e);
    std::unique_ptr<CArrangement> Arrangement(const Json& j, size_t a);

    const std::string& m_strPath;
    const fs::path m_folder;
    Manifest m_m;
    std::map<std::string, size_t> m_clipByName;
    std::vector<std::string> m_clipNames;
    std::vector<bool> m_clipUsed;
    std::map<std::string, size_t> m_sectionByName;
    std::vector<std::string> m_sectionNames;
    std::vector<bool> m_sectionUsed;
};

Manifest CManifestReader::Song(const Json& root)
{
    m_m.pSong = std::make_unique<CSong>("New Song");
    CSong& song = *m_m.pSong;

    Fields top(m_strPath, root, "");
    song.SetTitle(top.Text("title", 50, "New Song", false));
    song.SetAuthor(top.Text("author", 50, "", false));
    song.SetPublisher(top.Text("publisher", 50, "", false));
    song.SetGenre(top.Text("genre", 20, "", false));
    song.SetCopyright(top.Text("copyright", 100, "", false));
    song.SetFactor(top.Float("factor", 1.0f));
    const auto beatsPerBar = static_cast<int16_t>(top.Int("beatsPerBar", 4, -128, 127));
    const auto beatUnit = static_cast<int16_t>(top.Int("beatUnit", 4, -128, 127));
    song.SetMeter(beatsPerBar, beatUnit);
    song.SetVolume(static_cast<int16_t>(top.Int("volume", 128, 0, 255)));
    song.SetPan(static_cast<int16_t>(top.Int("pan", 0, -128, 127)));
    song.SetMode(static_cast<int16_t>(top.Int("mode", 2, 0, 255)));
    song.SetOption(static_cast<uint8_t>(top.Int("option", 0, 0, 255)));

    const Json& clips = top.Array("clips", kMaxClips);
    for (size_t i = 0; i < clips.size(); ++i)
        Clip(clips[i], i);

    m_clipUsed.assign(clips.size(), false);
    const Json& sections = top.Array("sections", kMaxCount8);
    if (sections.empty())
        top.Fail("needs \"sections\": a song without sections has nothing to play");
    for (size_t s = 0; s < sections.size(); ++s) {
        std::unique_ptr<CSection> section = Section(sections[s], s);
        m_sectionByName[section->m_strName] = s;
        m_sectionNames.push_back(section->m_strName);
        song.AddSection(std::move(section));
    }

    // Arrangements: sections by name. Without any, one "Main" plays every section
    // once, in the order of "sections".
    m_sectionUsed.assign(sections.size(), false);
    if (!top.Has("arrangements")) {
        auto main = std::make_unique<CArrangement>("Main");
        for (int s = 0; s < song.GetSectionCount(); ++s)
            main->AddSection(song.GetSection(s));
        song.AddArrangement(main);
        m_sectionUsed.assign(sections.size(), true);
    } else {
        const Json& arrangements = top.Array("arrangements", kMaxCount8);
        if (arrangements.empty())
            top.Fail("arrangements", "is empty: a song needs at least one arrangement to play "
                                     "(leave it out to play every section in order)");
        for (size_t a = 0; a < arrangements.size(); ++a) {
            std::unique_ptr<CArrangement> arrangement = Arrangement(arrangements[a], a);
            song.AddArrangement(arrangement);
        }
    }
    top.CheckUnknown("title, author, publisher, genre, copyright, factor, beatsPerBar, "
                     "beatUnit, volume, pan, mode, option, clips, sections, arrangements");

    for (size_t i = 0; i < m_clipUsed.size(); ++i)
        if (!m_clipUsed[i])
            m_m.warnings.push_back(m_m.clips[i].strPlace + " is not played by any event");
    for (size_t s = 0; s < m_sectionUsed.size(); ++s)
        if (!m_sectionUsed[s])
            m_m.warnings.push_back(Item("sections", s, BytesToUtf8(m_sectionNames[s])) + " is in no arrangement");
    return std::move(m_m);
}

void CManifestReader::Clip(const Json& j, size_t i)
{
    Fields c(m_strPath, j, Item("clips", i, NameForPlace(j)));
    std::string name = c.Text("name", kNameWidth, "", true);
    if (m_clipByName.count(name))
        c.Fail("name", "is used by clips[" + std::to_string(m_clipByName[name]) + "] already; clip names must differ");
    const Json* fileJson = c.Get("file");
    if (!fileJson)
        c.Fail("needs a \"file\": the sound file (MP3, WAV, FLAC, ...), relative to the "
               "manifest's folder");
    if (!fileJson->is_string() || fileJson->get<std::string>().empty())
        c.Fail("file", "must be a file name in quotes");
    ManifestClip mc;
    mc.strPlace = c.Place();
    mc.strFile = fileJson->get<std::string>();
    const fs::path file = fs::path(mc.strFile);
    mc.strFullPath = (file.is_absolute() ? file : m_folder / file).string();
    std::error_code ec;
    if (!fs::exists(mc.strFullPath, ec))
        c.Fail("file", Quoted(mc.strFile) + " does not exist (looked for " + mc.strFullPath + ")");
    if (!fs::is_regular_file(mc.strFullPath, ec))
        c.Fail("file", Quoted(mc.strFile) + " is not a file (" + mc.strFullPath + ")");
    // The path stored with the clip: the file as written unless given.
    std::string storedPath;
    if (c.Has("path")) {
        storedPath = c.Text("path", 0, "", false);
    } else {
        uint32_t bad = 0;
        if (!Utf8ToBytes(mc.strFile, storedPath, bad))
            c.Fail("file", Quoted(mc.strFile) +
                               " has characters that a song text cannot store; give the "
                               "clip a \"path\" to store instead");
    }
    c.CheckUnknown("name, file, path");
    auto clip = std::make_unique<CClip>(2, storedPath, 0, 0);
    clip->m_strName = name;
    mc.pClip = m_m.pSong->AddClip(std::move(clip));
    m_clipByName[name] = i;
    m_clipNames.push_back(name);
    m_m.clips.push_back(std::move(mc));
}

std::unique_ptr<CSection> CManifestReader::Section(const Json& j, size_t s)
{
    Fields sf(m_strPath, j, Item("sections", s, NameForPlace(j)));
    auto section = std::make_unique<CSection>(sf.Text("name", kNameWidth, "", true));
    if (m_sectionByName.count(section->m_strName))
        sf.Fail("name", "is used by sections[" + std::to_string(m_sectionByName[section->m_strName]) +
                            "] already; arrangements name sections, so names must differ");
    const auto settingA = static_cast<int32_t>(sf.Int("settingA", 0, INT32_MIN, INT32_MAX));
    const auto settingB = static_cast<int32_t>(sf.Int("settingB", 0, INT32_MIN, INT32_MAX));
    section->SetSettings(settingA, settingB);
    const Json& variations = sf.Array("variations", kMaxCount8);
    if (variations.empty())
        m_m.warnings.push_back(sf.Place() + " has no variations: it adds nothing when played");
    for (size_t v = 0; v < variations.size(); ++v)
        section->AddVariation(Variation(variations[v], sf.Place(), v));
    sf.CheckUnknown("name, settingA, settingB, variations");
    return section;
}

std::unique_ptr<CVariation> CManifestReader::Variation(const Json& j, const std::string& outer, size_t v)
{
    Fields vf(m_strPath, j, Within(outer, Item("variations", v, NameForPlace(j))));
    auto variation = std::make_unique<CVariation>(vf.Text("name", kNameWidth, "", false));
    ManifestVariation mv;
    mv.strPlace = vf.Place();
    mv.bLengthGiven = vf.Has("lengthMs");
    variation->SetLengthMs(static_cast<int32_t>(vf.Int("lengthMs", 0, 0, INT32_MAX)));
    variation->SetFactor(vf.Float("factor", -1.0f));
    const auto vBeats = static_cast<int16_t>(vf.Int("beatsPerBar", -1, -128, 127));
    const auto vUnit = static_cast<int16_t>(vf.Int("beatUnit", -1, -128, 127));
    variation->SetMeter(vBeats, vUnit);
    const Json& tracks = vf.Array("tracks", kMaxCount8);
    if (tracks.size() > 4)
        m_m.warnings.push_back(vf.Place() + " has " + std::to_string(tracks.size()) +
                               " tracks; only the first 4 are played");
    for (size_t t = 0; t < tracks.size(); ++t)
        variation->AddTrack(Track(tracks[t], vf.Place(), t));
    vf.CheckUnknown("name, lengthMs, factor, beatsPerBar, beatUnit, tracks");
    mv.pVariation = variation.get();
    m_m.variations.push_back(std::move(mv));
    return variation;
}

std::unique_ptr<CTrack> CManifestReader::Track(const Json& j, const std::string& outer, size_t t)
{
    Fields tf(m_strPath, j, Within(outer, Item("tracks", t, NameForPlace(j))));
    auto track = std::make_unique<CTrack>(tf.Text("name", kNameWidth, "", false));
    track->SetVolume(static_cast<uint16_t>(tf.Int("volume", 128, 0, 255)));
    track->SetPan(static_cast<uint16_t>(tf.Int("pan", 0, 0, 255)));
    track->SetMode(static_cast<uint8_t>(tf.Int("mode", 2, 0, 255)));
    track->SetSettingA(static_cast<int32_t>(tf.Int("settingA", 0, INT32_MIN, INT32_MAX)));
    const Json& events = tf.Array("events", kMaxCount8);
    for (size_t e = 0; e < events.size(); ++e)
        track->AddEvent(Event(events[e], tf.Place(), e));
    tf.CheckUnknown("name, volume, pan, mode, settingA, events");
    return track;
}

std::unique_ptr<CClipEvent> CManifestReader::Event(const Json& j, const std::string& outer, size_t e)
{
    Fields ef(m_strPath, j, Within(outer, Item("events", e)));
    const std::string clipName = ef.Text("clip", 0, "", true);
    auto found = m_clipByName.find(clipName);
    if (found == m_clipByName.end())
        ef.Fail("clip", "names no clip of \"clips\": " + Quoted(BytesToUtf8(clipName)) +
                            CaseHint(clipName, m_clipNames));
    auto event = std::make_unique<CClipEvent>();
    event->m_pClip = m_m.clips[found->second].pClip;
    if (!ef.Has("startMs"))
        ef.Fail("needs a \"startMs\": when the event starts, in milliseconds "
                "from the start of the variation");
    event->m_nStartMs = ef.Int("startMs", 0, 0, INT32_MAX);
    ManifestEvent me;
    me.strPlace = ef.Place();
    me.nClip = found->second;
    me.bLengthGiven = ef.Has("lengthMs");
    event->m_nLengthMs = ef.Int("lengthMs", 0, 0, INT32_MAX);
    event->m_nVolume = static_cast<uint16_t>(ef.Int("volume", 128, 0, 255));
    event->m_nPan = static_cast<int16_t>(ef.Int("pan", 0, -128, 127));
    event->m_nMode = static_cast<uint8_t>(ef.Int("mode", 2, 0, 255));
    event->m_bActive = ef.Bool("active", true) ? 1 : 0;
    const Json& pos = ef.Array("pos", 6);
    int64_t p[6] = {0, 0, 0, 0, 0, 0};
    for (size_t k = 0; k < pos.size(); ++k)
        p[k] = ef.IntValue("pos[" + std::to_string(k) + "]", pos[k], k == 0 ? 0 : INT32_MIN, INT32_MAX);
    event->m_nPos1 = p[0];
    event->m_nPos2 = p[1];
    event->m_nPos3 = p[2];
    event->m_nPos4 = p[3];
    event->m_nPos5 = p[4];
    event->m_nPos6 = p[5];
    ef.CheckUnknown("clip, startMs, lengthMs, volume, pan, mode, active, pos");
    m_clipUsed[found->second] = true;
    me.pEvent = event.get();
    m_m.events.push_back(std::move(me));
    return event;
}

std::unique_ptr<CArrangement> CManifestReader::Arrangement(const Json& j, size_t a)
{
    const CSong& song = *m_m.pSong;
    Fields af(m_strPath, j, Item("arrangements", a, NameForPlace(j)));
    auto arrangement = std::make_unique<CArrangement>(af.Text("name", kNameWidth, "", true));
    for (size_t k = 0; k < a; ++k)
        if (EqualNoCase(song.m_arrArrangements[k]->m_strName, arrangement->m_strName))
            af.Fail("name", "matches arrangements[" + std::to_string(k) + "] " +
                                Quoted(BytesToUtf8(song.m_arrArrangements[k]->m_strName)) +
                                "; arrangement names must differ, also in case");
    arrangement->SetSettingA(static_cast<int32_t>(af.Int("settingA", 0, 0, INT32_MAX)));
    arrangement->SetSettingB(static_cast<int32_t>(af.Int("settingB", 0, 0, INT32_MAX)));
    const Json& refs = af.Array("sections", kMaxCount8);
    if (refs.empty())
        af.Fail("sections", "is missing or empty: list the sections to play, by name");
    for (size_t r = 0; r < refs.size(); ++r) {
        const std::string key = "sections[" + std::to_string(r) + "]";
        if (!refs[r].is_string())
            af.Fail(key, "must be a section name in quotes, not " + refs[r].dump());
        std::string name;
        uint32_t bad = 0;
        auto found = m_sectionByName.end();
        if (Utf8ToBytes(refs[r].get<std::string>(), name, bad))
            found = m_sectionByName.find(name);
        if (found == m_sectionByName.end())
            af.Fail(key, "names no section: " + Quoted(refs[r].get<std::string>()) + CaseHint(name, m_sectionNames));
        arrangement->AddSection(song.GetSection(static_cast<int>(found->second)));
        m_sectionUsed[found->second] = true;
    }
    af.CheckUnknown("name, settingA, settingB, sections");
    return arrangement;
}

} // namespace

Manifest ReadManifest(const std::string& path)
{
    const Json root = ParseFile(path);
    return CManifestReader(path).Song(root);
}

} // namespace vantrel::tool
