#include "Manifest.h"

#include <cfloat>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>

#include <nlohmann/json.hpp>

#include "Commands.h"
#include "TextCodec.h"

namespace vantrel::tool {

namespace {

namespace fs = std::filesystem;
using Json = nlohmann::json;

// Every name is held to 50 bytes, which both format versions can store (0x60 keeps
// clip names in a 50-byte field).
constexpr size_t kNameWidth = 50;
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

} // namespace

Manifest ReadManifest(const std::string& path)
{
    const Json root = ParseFile(path);
    const fs::path folder = fs::path(path).parent_path();

    Manifest m;
    m.pSong = std::make_unique<CSong>("New Song");
    CSong& song = *m.pSong;

    Fields top(path, root, "");
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

    // Clips.
    std::map<std::string, size_t> clipByName;
    std::vector<std::string> clipNames;
    const Json& clips = top.Array("clips", kMaxClips);
    for (size_t i = 0; i < clips.size(); ++i) {
        Fields c(path, clips[i], Item("clips", i, NameForPlace(clips[i])));
        std::string name = c.Text("name", kNameWidth, "", true);
        if (clipByName.count(name))
            c.Fail("name", "is used by clips[" + std::to_string(clipByName[name]) +
                               "] already; clip names must differ");
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
        mc.strFullPath = (file.is_absolute() ? file : folder / file).string();
        std::error_code ec;
        if (!fs::exists(mc.strFullPath, ec))
            c.Fail("file", Quoted(mc.strFile) + " does not exist (looked for " + mc.strFullPath +
                               ")");
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
        mc.pClip = song.AddClip(std::move(clip));
        clipByName[name] = i;
        clipNames.push_back(name);
        m.clips.push_back(std::move(mc));
    }

    // Sections, with their variations, tracks and events.
    std::map<std::string, size_t> sectionByName;
    std::vector<std::string> sectionNames;
    std::vector<bool> clipUsed(clips.size(), false);
    const Json& sections = top.Array("sections", kMaxCount8);
    if (sections.empty())
        top.Fail("needs \"sections\": a song without sections has nothing to play");
    for (size_t s = 0; s < sections.size(); ++s) {
        Fields sf(path, sections[s], Item("sections", s, NameForPlace(sections[s])));
        auto section = std::make_unique<CSection>(sf.Text("name", kNameWidth, "", true));
        if (sectionByName.count(section->m_strName))
            sf.Fail("name", "is used by sections[" +
                                std::to_string(sectionByName[section->m_strName]) +
                                "] already; arrangements name sections, so names must differ");
        const auto settingA = static_cast<int32_t>(sf.Int("settingA", 0, INT32_MIN, INT32_MAX));
        const auto settingB = static_cast<int32_t>(sf.Int("settingB", 0, INT32_MIN, INT32_MAX));
        section->SetSettings(settingA, settingB);
        const Json& variations = sf.Array("variations", kMaxCount8);
        if (variations.empty())
            m.warnings.push_back(sf.Place() + " has no variations: it adds nothing when played");
        for (size_t v = 0; v < variations.size(); ++v) {
            Fields vf(path, variations[v],
                      Within(sf.Place(), Item("variations", v, NameForPlace(variations[v]))));
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
                m.warnings.push_back(vf.Place() + " has " + std::to_string(tracks.size()) +
                                     " tracks; only the first 4 are played");
            for (size_t t = 0; t < tracks.size(); ++t) {
                Fields tf(path, tracks[t],
                          Within(vf.Place(), Item("tracks", t, NameForPlace(tracks[t]))));
                auto track = std::make_unique<CTrack>(tf.Text("name", kNameWidth, "", false));
                track->SetVolume(static_cast<uint16_t>(tf.Int("volume", 128, 0, 255)));
                track->SetPan(static_cast<uint16_t>(tf.Int("pan", 0, 0, 255)));
                track->SetMode(static_cast<uint8_t>(tf.Int("mode", 2, 0, 255)));
                track->SetSettingA(static_cast<int32_t>(tf.Int("settingA", 0, INT32_MIN, INT32_MAX)));
                const Json& events = tf.Array("events", kMaxCount8);
                for (size_t e = 0; e < events.size(); ++e) {
                    Fields ef(path, events[e], Within(tf.Place(), Item("events", e)));
                    const std::string clipName = ef.Text("clip", 0, "", true);
                    auto found = clipByName.find(clipName);
                    if (found == clipByName.end())
                        ef.Fail("clip", "names no clip of \"clips\": " +
                                            Quoted(BytesToUtf8(clipName)) +
                                            CaseHint(clipName, clipNames));
                    auto event = std::make_unique<CClipEvent>();
                    event->m_pClip = m.clips[found->second].pClip;
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
                        p[k] = ef.IntValue("pos[" + std::to_string(k) + "]", pos[k],
                                           k == 0 ? 0 : INT32_MIN, INT32_MAX);
                    event->m_nPos1 = p[0];
                    event->m_nPos2 = p[1];
                    event->m_nPos3 = p[2];
                    event->m_nPos4 = p[3];
                    event->m_nPos5 = p[4];
                    event->m_nPos6 = p[5];
                    ef.CheckUnknown("clip, startMs, lengthMs, volume, pan, mode, active, pos");
                    clipUsed[found->second] = true;
                    me.pEvent = event.get();
                    track->AddEvent(std::move(event));
                    m.events.push_back(std::move(me));
                }
                tf.CheckUnknown("name, volume, pan, mode, settingA, events");
                variation->AddTrack(std::move(track));
            }
            vf.CheckUnknown("name, lengthMs, factor, beatsPerBar, beatUnit, tracks");
            mv.pVariation = variation.get();
            section->AddVariation(std::move(variation));
            m.variations.push_back(std::move(mv));
        }
        sf.CheckUnknown("name, settingA, settingB, variations");
        sectionByName[section->m_strName] = s;
        sectionNames.push_back(section->m_strName);
        song.AddSection(std::move(section));
    }

    // Arrangements: sections by name. Without any, one "Main" plays every section
    // once, in the order of "sections".
    std::vector<bool> sectionUsed(sections.size(), false);
    if (!top.Has("arrangements")) {
        auto main = std::make_unique<CArrangement>("Main");
        for (int s = 0; s < song.GetSectionCount(); ++s)
            main->AddSection(song.GetSection(s));
        song.AddArrangement(main);
        sectionUsed.assign(sections.size(), true);
    } else {
        const Json& arrangements = top.Array("arrangements", kMaxCount8);
        if (arrangements.empty())
            top.Fail("arrangements", "is empty: a song needs at least one arrangement to play "
                                     "(leave it out to play every section in order)");
        for (size_t a = 0; a < arrangements.size(); ++a) {
            Fields af(path, arrangements[a], Item("arrangements", a, NameForPlace(arrangements[a])));
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
                auto found = sectionByName.end();
                if (Utf8ToBytes(refs[r].get<std::string>(), name, bad))
                    found = sectionByName.find(name);
                if (found == sectionByName.end())
                    af.Fail(key, "names no section: " + Quoted(refs[r].get<std::string>()) +
                                     CaseHint(name, sectionNames));
                arrangement->AddSection(song.GetSection(static_cast<int>(found->second)));
                sectionUsed[found->second] = true;
            }
            af.CheckUnknown("name, settingA, settingB, sections");
            song.AddArrangement(arrangement);
        }
    }
    top.CheckUnknown("title, author, publisher, genre, copyright, factor, beatsPerBar, "
                     "beatUnit, volume, pan, mode, option, clips, sections, arrangements");

    for (size_t i = 0; i < clipUsed.size(); ++i)
        if (!clipUsed[i])
            m.warnings.push_back(m.clips[i].strPlace + " is not played by any event");
    for (size_t s = 0; s < sectionUsed.size(); ++s)
        if (!sectionUsed[s])
            m.warnings.push_back(Item("sections", s, BytesToUtf8(sectionNames[s])) +
                                 " is in no arrangement");
    return m;
}

} // namespace vantrel::tool
