// vantrel unpack SONG.vn -o FOLDER [--force]: the way back from a song to its parts.
// Writes FOLDER/manifest.json in the form `pack` reads and every clip's embedded data
// as FOLDER/clips/NAME.mp3, so that packing the manifest again gives the same model.
// What a manifest cannot hold is reported as a warning with its place.
//
// The folder is built under a temporary name beside it and renamed into place when it
// is complete, so that a failure leaves no half folder.
#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include <random>

#include <nlohmann/json.hpp>

#include "ClipAudio.h"
#include "OutputFile.h"
#include "Commands.h"
#include "SongPlaces.h"
#include "TextCodec.h"
#include "decode/ClipStart.h"
#include "song/Song.h"
#include "song/SongFileReader.h"
#include "song/SongLoader.h"

namespace vantrel::tool {

namespace {

namespace fs = std::filesystem;
using Json = nlohmann::ordered_json;

constexpr size_t kNameWidth = 50;

struct UnpackOptions
{
    std::string strSong;
    std::string strFolder;
    bool bForce = false;
    bool bQuiet = false;
};

std::string Reason() { return std::strerror(errno); }

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

std::string Lower(std::string s)
{
    for (char& c : s)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

// Names that the manifest needs unique and not empty: a missing or repeated name gets
// one made from `fallback`, with a warning.
class CNamer
{
public:
    CNamer(bool ignoreCase, std::vector<std::string>& warnings) : m_bIgnoreCase(ignoreCase), m_warnings(warnings) {}

    std::string Name(const std::string& place, const std::string& given, const std::string& fallback)
    {
        std::string name = given;
        if (name.size() > kNameWidth) {
            name.resize(kNameWidth);
            m_warnings.push_back(place + ": the name is " + std::to_string(given.size()) +
                                 " bytes long; a manifest holds 50, so it is cut to \"" +
                                 BytesToUtf8(name) + "\"");
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

private:
    std::string Key(const std::string& n) const { return m_bIgnoreCase ? Lower(n) : n; }
    bool Taken(const std::string& n) const { return m_taken.count(Key(n)) != 0; }
    std::string Unique(const std::string& base) const
    {
        for (int k = Taken(base) ? 2 : 1;; ++k) {
            std::string n = k == 1 ? base : base + " " + std::to_string(k);
            if (n.size() > kNameWidth)
                n = base.substr(0, kNameWidth - std::to_string(k).size() - 1) + " " + std::to_string(k);
            if (!Taken(n))
                return n;
        }
    }

    bool m_bIgnoreCase;
    std::vector<std::string>& m_warnings;
    std::set<std::string> m_taken;
};

// The temporary folder beside the target; removed with what it holds unless
// Forget() is called.
class CTempFolder
{
public:
    explicit CTempFolder(const fs::path& target)
    {
        const fs::path parent = target.parent_path().empty() ? fs::path(".") : target.parent_path();
        std::random_device entropy;
        for (int attempt = 0; attempt < 100; ++attempt) {
            char suffix[16];
            std::snprintf(suffix, sizeof suffix, "%08x", static_cast<unsigned>(entropy()));
            const fs::path p = parent / ("." + target.filename().string() + ".unpack-" + suffix);
            std::error_code ec;
            if (fs::create_directory(p, ec)) {
                m_path = p;
                return;
            }
            if (ec)
                throw CommandError("cannot create a folder in " + parent.string() + ": " + ec.message());
        }
        throw CommandError("cannot create a folder in " + parent.string());
    }
    ~CTempFolder()
    {
        if (!m_path.empty()) {
            std::error_code ec;
            fs::remove_all(m_path, ec);
        }
    }
    const fs::path& Path() const { return m_path; }
    void Forget() { m_path.clear(); }

private:
    fs::path m_path;
};

struct UnpackResult
{
    Json manifest;
    std::vector<std::pair<std::string, std::string>> files; // relative path, bytes
    std::vector<std::string> warnings;
};

std::string ReadRange(std::ifstream& f, int64_t offset, int64_t size)
{
    std::string bytes(static_cast<size_t>(size), '\0');
    f.clear();
    f.seekg(offset);
    f.read(bytes.data(), size);
    if (f.gcount() != size)
        return std::string();
    return bytes;
}

bool AllZero(const std::string& bytes)
{
    return std::all_of(bytes.begin(), bytes.end(), [](char c) { return c == 0; });
}

UnpackResult Unpack(const std::string& songPath, const CSong& song, const CSongLoader& loader,
                    const CSongLoadTrace& trace)
{
    UnpackResult r;
    std::vector<std::string>& warn = r.warnings;
    std::ifstream f(songPath, std::ios::binary);
    if (!f)
        throw CommandError("cannot open " + songPath + ": " + Reason());

    // What the file holds beyond the model.
    if (loader.m_strHeaderText != "VN1")
        warn.push_back("header: the header text \"" + BytesToUtf8(loader.m_strHeaderText) +
                       "\" is not kept (pack writes \"VN1\")");
    for (const auto& note : trace.arrDropped)
        warn.push_back(TracePlace(note.where, &song) + (note.where.nSection >= 0 || note.where.nClip >= 0 ||
                                                               note.where.nArrangement >= 0
                                                           ? ": "
                                                           : "") +
                       "offset " + std::to_string(note.nOffset) + ": " + note.strWhat +
                       " is not in the model and not in the manifest");
    for (const auto& skipped : trace.arrSkipped) {
        if (AllZero(ReadRange(f, skipped.nOffset, skipped.nLength)))
            continue;
        const std::string place = TracePlace(skipped.where, &song);
        warn.push_back((place.empty() ? "" : place + ": ") + "offset " + std::to_string(skipped.nOffset) + ": " +
                       skipped.strWhat + " (" + std::to_string(skipped.nLength) +
                       " bytes, not read by the player) holds data that the manifest does not keep");
    }

    Json& m = r.manifest;
    m["_unpacked"] = "from " + BytesToUtf8(fs::path(songPath).filename().string()) + ", format version 0x" +
                     (loader.m_nFormatVersion == 0x60 ? "60" : "61") +
                     (loader.m_nFormatVersion == 0x60 ? "; pack it with --format-version 0x60 for the same file version"
                                                      : "");
    m["title"] = BytesToUtf8(song.m_strTitle);
    m["author"] = BytesToUtf8(song.m_strAuthor);
    m["publisher"] = BytesToUtf8(song.m_strPublisher);
    m["genre"] = BytesToUtf8(song.m_strGenre);
    m["copyright"] = BytesToUtf8(song.m_strCopyright);
    auto setFloat = [&](Json& j, const char* key, float value, const std::string& place) {
        j[key] = FloatToJson(value);
        if (j[key].is_null()) {
            j.erase(key);
            warn.push_back(place + ": \"" + key + "\" is " + FloatToText(value) +
                           ", which a manifest cannot give; pack writes the default");
        }
    };
    setFloat(m, "factor", song.m_fFactor, "song");
    m["beatsPerBar"] = song.m_nBeatsPerBar;
    m["beatUnit"] = song.m_nBeatUnit;
    m["volume"] = song.m_nVolume;
    m["pan"] = song.m_nPan;
    m["mode"] = song.m_nMode;
    m["option"] = song.m_nOption;

    // Clips: those with data become files; a clip without data cannot be given.
    std::map<const CClip*, std::string> clipName; // clips that are in the manifest
    std::map<const CClip*, size_t> clipFile;      // their entries in r.files
    CNamer clipNamer(false, warn);
    std::set<std::string> fileKeys;
    Json clips = Json::array();
    for (int c = 0; c < song.GetClipCount(); ++c) {
        const CClip& clip = *song.GetClip(c);
        const std::string place = ClipPlace(c, clip.m_strName);
        if (clip.m_nKind == 0) {
            warn.push_back(place + " has no data; a manifest clip needs a sound file, so it is left out "
                                   "(with the events that play it)");
            continue;
        }
        if (clip.m_nKind == 1)
            warn.push_back(place + " has a format text other than MP3 (kind 1); packed again it is kind 2");
        std::string data;
        if (clip.m_nDataSize > 0)
            data = ReadRange(f, clip.m_nDataOffset, clip.m_nDataSize);
        if (clip.m_nDataSize < 0 || (clip.m_nDataSize > 0 && data.empty()))
            throw CommandError(songPath + ": " + place + ": cannot read its " + std::to_string(clip.m_nDataSize) +
                               " bytes of data at offset " + std::to_string(clip.m_nDataOffset));
        try {
            const Mp3Facts mp3 = InspectMp3(data);
            if (mp3.nRate != kSongRate || mp3.nChannels != kSongChannels)
                warn.push_back(place + " is " + std::to_string(mp3.nRate) + " Hz, " + std::to_string(mp3.nChannels) +
                               " channels; pack takes only 44100 Hz stereo MP3 and will refuse it");
        } catch (const ClipAudioError& e) {
            warn.push_back(place + ": its data is not MPEG audio that pack accepts (" + std::string(e.what()) +
                           "); pack will refuse it");
        }
        const std::string name = clipNamer.Name(place, clip.m_strName, "clip " + std::to_string(c + 1));
        std::string stem = SafeFileStem(name);
        std::string file = "clips/" + stem + ".mp3";
        for (int k = 2; fileKeys.count(Lower(file)); ++k)
            file = "clips/" + stem + "-" + std::to_string(k) + ".mp3";
        fileKeys.insert(Lower(file));
        Json jc;
        jc["name"] = BytesToUtf8(name);
        jc["file"] = file;
        // The song's own path is what the loader gives a clip stored without one.
        jc["path"] = clip.m_strPath == songPath ? std::string() : BytesToUtf8(clip.m_strPath);
        clips.push_back(std::move(jc));
        clipFile[&clip] = r.files.size();
        r.files.emplace_back(file, std::move(data));
        clipName[&clip] = name;
    }
    m["clips"] = std::move(clips);

    CNamer sectionNamer(false, warn);
    std::map<const CSection*, std::string> sectionName;
    Json sections = Json::array();
    for (int s = 0; s < song.GetSectionCount(); ++s) {
        const CSection& section = *song.GetSection(s);
        const std::string name = sectionNamer.Name(SectionPlace(s, section), section.m_strName,
                                                   "section " + std::to_string(s + 1));
        sectionName[&section] = name;
        Json js;
        js["name"] = BytesToUtf8(name);
        js["settingA"] = section.m_nSettingA;
        js["settingB"] = section.m_nSettingB;
        Json variations = Json::array();
        for (size_t v = 0; v < section.m_arrVariations.size(); ++v) {
            const CVariation& var = *section.m_arrVariations[v];
            const std::string vplace = VariationPlace(s, section, static_cast<int>(v));
            Json jv;
            jv["name"] = BytesToUtf8(var.m_strName);
            if (var.m_nLengthMs < 0)
                warn.push_back(vplace + ": its length " + std::to_string(var.m_nLengthMs) +
                               " ms is negative, which a manifest cannot give; written as 0 (never chosen either way)");
            jv["lengthMs"] = std::max<int32_t>(var.m_nLengthMs, 0);
            setFloat(jv, "factor", var.m_fFactor, vplace);
            jv["beatsPerBar"] = var.m_nBeatsPerBar;
            jv["beatUnit"] = var.m_nBeatUnit;
            Json tracks = Json::array();
            for (size_t t = 0; t < var.m_arrTracks.size(); ++t) {
                const CTrack& track = *var.m_arrTracks[t];
                Json jt;
                jt["name"] = BytesToUtf8(track.m_strName);
                jt["volume"] = track.m_nVolume;
                jt["pan"] = track.m_nPan;
                jt["mode"] = track.m_nMode;
                jt["settingA"] = track.m_nSettingA;
                Json events = Json::array();
                for (size_t e = 0; e < track.m_arrEvents.size(); ++e) {
                    const CClipEvent& ev = *track.m_arrEvents[e];
                    const std::string eplace =
                        EventPlace(s, section, static_cast<int>(v), static_cast<int>(t), static_cast<int>(e));
                    auto found = clipName.find(ev.m_pClip);
                    if (found == clipName.end()) {
                        warn.push_back(eplace + " plays a clip without data, which is not in the manifest; "
                                                "the event is left out");
                        continue;
                    }
                    auto nonNegative = [&](const char* what, int64_t value) {
                        if (value >= 0)
                            return value;
                        warn.push_back(eplace + ": \"" + what + "\" is " + std::to_string(value) +
                                       ", which a manifest cannot give; written as 0");
                        return int64_t{0};
                    };
                    if (ev.m_nPos1 > 0) {
                        const std::string& bytes = r.files[clipFile.at(ev.m_pClip)].second;
                        if (!IsFrameHeaderAt(bytes, static_cast<size_t>(vantrel::ClipStartInData(ev.m_nPos1))))
                            warn.push_back(eplace + ": pos[0] " + std::to_string(ev.m_nPos1) +
                                           ": no MPEG frame begins at byte pos[0] + 4 of its clip's data, "
                                           "where playing starts; pack will refuse it");
                    }
                    Json je;
                    je["clip"] = BytesToUtf8(found->second);
                    je["startMs"] = nonNegative("startMs", ev.m_nStartMs);
                    je["lengthMs"] = nonNegative("lengthMs", ev.m_nLengthMs);
                    je["volume"] = ev.m_nVolume;
                    je["pan"] = ev.m_nPan;
                    je["mode"] = ev.m_nMode;
                    je["active"] = ev.m_bActive != 0;
                    je["pos"] = Json::array({nonNegative("pos[0]", ev.m_nPos1), ev.m_nPos2, ev.m_nPos3, ev.m_nPos4,
                                             ev.m_nPos5, ev.m_nPos6});
                    events.push_back(std::move(je));
                }
                jt["events"] = std::move(events);
                tracks.push_back(std::move(jt));
            }
            jv["tracks"] = std::move(tracks);
            variations.push_back(std::move(jv));
        }
        js["variations"] = std::move(variations);
        sections.push_back(std::move(js));
    }
    if (sections.empty())
        warn.push_back("song: it has no sections; pack refuses a manifest without them");
    m["sections"] = std::move(sections);

    CNamer arrangementNamer(true, warn);
    Json arrangements = Json::array();
    const auto& list = song.GetArrangements();
    for (size_t a = 0; a < list.size(); ++a) {
        const CArrangement& arr = *list[a];
        const std::string place = ArrangementPlace(static_cast<int>(a), arr.m_strName);
        if (arr.m_arrSections.empty()) {
            warn.push_back(place + " lists no sections, which a manifest cannot give; it is left out");
            continue;
        }
        const std::string name = arrangementNamer.Name(place, arr.m_strName, "arrangement " + std::to_string(a + 1));
        Json ja;
        ja["name"] = BytesToUtf8(name);
        ja["settingA"] = arr.m_nSettingA;
        ja["settingB"] = arr.m_nSettingB;
        Json refs = Json::array();
        for (const CSection* s : arr.m_arrSections)
            refs.push_back(BytesToUtf8(sectionName.at(s)));
        ja["sections"] = std::move(refs);
        arrangements.push_back(std::move(ja));
    }
    if (arrangements.empty())
        warn.push_back("song: it has no arrangement that lists a section; packed again it gets one "
                       "arrangement \"Main\" playing every section");
    else
        m["arrangements"] = std::move(arrangements);
    return r;
}

void MoveOver(const fs::path& from, const fs::path& to)
{
    std::error_code ec;
    fs::rename(from, to, ec);
    if (ec)
        throw CommandError("cannot write " + to.string() + ": " + ec.message());
}

bool IsEmptyFolder(const fs::path& p)
{
    std::error_code ec;
    return fs::is_directory(p, ec) && fs::directory_iterator(p, ec) == fs::directory_iterator();
}

void RunUnpack(const UnpackOptions& opt)
{
    const fs::path target(opt.strFolder);
    std::error_code ec;
    const bool exists = fs::exists(fs::symlink_status(target, ec)) || fs::exists(target, ec);
    if (exists && !fs::is_directory(target, ec))
        throw CommandError(opt.strFolder + " exists and is not a folder");
    const bool empty = !exists || IsEmptyFolder(target);
    if (!empty && !opt.bForce)
        throw CommandError(opt.strFolder + " is not empty; not writing into it (use --force to replace "
                                           "its manifest.json and clips/ files)");

    CSongLoader loader;
    CSongLoadTrace trace;
    loader.SetTrace(&trace);
    std::unique_ptr<CSong> song;
    try {
        song = loader.Load(opt.strSong);
    } catch (const std::exception&) {
        throw CommandError("cannot open " + opt.strSong + ": " + Reason());
    }
    if (!song)
        throw CommandError(opt.strSong + ": File is not a VNF or is corrupted. (" + trace.strFailure +
                           "; vantrel check tells where)");

    UnpackResult r = Unpack(opt.strSong, *song, loader, trace);
    for (const std::string& w : r.warnings)
        std::fprintf(stderr, "warning: %s: %s\n", opt.strSong.c_str(), w.c_str());

    CTempFolder temp(target);
    if (!r.files.empty() && !fs::create_directory(temp.Path() / "clips", ec))
        throw CommandError("cannot create " + (temp.Path() / "clips").string() + ": " + ec.message());
    for (const auto& file : r.files)
        WriteWholeFile((temp.Path() / file.first).string(), file.second);
    WriteWholeFile((temp.Path() / "manifest.json").string(), r.manifest.dump(2) + "\n");

    if (empty) {
        // A new folder, or one that is empty: the whole folder moves into place at once
        // (rename replaces an empty folder).
#ifdef _WIN32
        if (exists)
            fs::remove(target, ec); // empty; Windows does not rename over a folder
#endif
        fs::rename(temp.Path(), target, ec);
        if (ec)
            throw CommandError("cannot create " + opt.strFolder + ": " + ec.message());
        temp.Forget();
    } else {
        // --force into a folder that holds files: each new file replaces its namesake,
        // the clips first and the manifest last; other files stay.
        if (!r.files.empty()) {
            fs::create_directories(target / "clips", ec);
            if (ec)
                throw CommandError("cannot create " + (target / "clips").string() + ": " + ec.message());
        }
        for (const auto& file : r.files)
            MoveOver(temp.Path() / file.first, target / file.first);
        MoveOver(temp.Path() / "manifest.json", target / "manifest.json");
    }
    if (!opt.bQuiet)
        std::fprintf(stderr, "wrote %s: manifest.json and %zu clip%s (%zu warning%s)\n", opt.strFolder.c_str(),
                     r.files.size(), r.files.size() == 1 ? "" : "s", r.warnings.size(),
                     r.warnings.size() == 1 ? "" : "s");
}

} // namespace

void AddUnpackCommand(CLI::App& app)
{
    auto opt = std::make_shared<UnpackOptions>();
    CLI::App* cmd = app.add_subcommand(
        "unpack", "Write a song's manifest and clips to a folder, which pack turns back into the song");
    cmd->add_option("SONG", opt->strSong, "The song file (.vn)")->required();
    cmd->add_option("-o,--output", opt->strFolder, "The folder to write (new or empty)")->required();
    cmd->add_flag("--force", opt->bForce,
                  "Write into a folder that is not empty (its manifest.json and clip files are replaced)");
    cmd->add_flag("-q,--quiet", opt->bQuiet, "Print only warnings and errors");
    cmd->callback([opt] { RunUnpack(*opt); });
}

} // namespace vantrel::tool
