// The song model as JSON and back, one function per level of the tree (song,
// arrangement, section, variation, track, event, clip), in two forms:
//
// - info (`vantrel info --json`): every field as the model holds it; arrangements
//   refer to sections, and events to clips, by their index in the song's tables.
// - manifest (`vantrel unpack` writes it, `vantrel pack` reads it): what pack needs to
//   make the song again; sections and clips are referred to by name, and each clip's
//   data is a file beside the manifest. What a manifest cannot hold is left out or
//   made valid, with a warning that names its place.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include <nlohmann/json.hpp>

#include "song/Song.h"

class CSongDocument;

namespace vantrel::tool {

// ---- The model to JSON -------------------------------------------------------------------

// The whole `info --json` object for one load: path (as given), result, error, format
// and song (null when the document holds none).
nlohmann::ordered_json InfoToJson(const std::string& path, int result, const CSongDocument& doc);

class CSongToJson
{
public:
    using Json = nlohmann::ordered_json;
    // The bytes of a clip that has data; throws CommandError when they cannot be read.
    using ClipDataReader = std::function<std::string(const CClip& clip, const std::string& place)>;

    // The info form.
    explicit CSongToJson(const CSong& song);
    // The manifest form. `comment` leads the manifest as "_unpacked"; `songPath` is the
    // file the song was loaded from (a clip stored without a path has it as its path).
    CSongToJson(const CSong& song, std::string comment, std::string songPath, ClipDataReader clipData);

    // One level each; a null result is a record that the manifest leaves out. The
    // manifest form takes the clips before the sections and the sections before the
    // arrangements, as Song does: an event names its clip, an arrangement its sections.
    Json Song();
    Json Arrangement(int a);
    Json Section(int s);
    Json Variation(int s, int v);
    Json Track(int s, int v, int t);
    Json Event(int s, int v, int t, int e);
    Json Clip(int c);

    // The manifest form's clip files (path relative to the manifest, bytes), and what it
    // could not hold as it stands, in the order met.
    const std::vector<std::pair<std::string, std::string>>& Files() const { return m_arrFiles; }
    const std::vector<std::string>& Warnings() const { return m_arrWarnings; }

    CSongToJson(const CSongToJson&) = delete;
    CSongToJson& operator=(const CSongToJson&) = delete;

private:
    CSongToJson(const CSong& song, bool manifest);

    // Unique, non-empty names of at most 50 bytes for the manifest, with a warning for
    // each name it had to make.
    class CNamer
    {
    public:
        CNamer(bool ignoreCase, std::vector<std::string>& warnings) : m_bIgnoreCase(ignoreCase), m_warnings(warnings) {}
        std::string Name(const std::string& place, const std::string& given, const std::string& fallback);

    private:
        std::string Key(const std::string& n) const;
        bool Taken(const std::string& n) const { return m_taken.count(Key(n)) != 0; }
        std::string Unique(const std::string& base) const;

        bool m_bIgnoreCase;
        std::vector<std::string>& m_warnings;
        std::set<std::string> m_taken;
    };

    // A float field: the info form writes null for a value that is not finite, the
    // manifest leaves such a field out (pack writes its default).
    void PutFloat(Json& j, const char* key, float value, const std::string& place);
    // A count that a manifest holds only from 0: a negative one becomes 0, with a warning.
    int64_t NonNegative(const std::string& place, const char* what, int64_t value);

    const CSong& m_song;
    const bool m_bManifest;
    std::string m_strComment;
    std::string m_strSongPath;
    ClipDataReader m_clipData;
    std::map<const CClip*, int> m_clipIndex;
    std::map<const CSection*, int> m_sectionIndex;
    // The manifest form.
    std::vector<std::string> m_arrWarnings;
    std::vector<std::pair<std::string, std::string>> m_arrFiles;
    std::map<const CClip*, std::string> m_clipName;  // clips that are in the manifest
    std::map<const CClip*, size_t> m_clipFile;       // their entries in m_arrFiles
    std::map<const CSection*, std::string> m_sectionName;
    std::set<std::string> m_fileKeys;
    CNamer m_clipNamer;
    CNamer m_sectionNamer;
    CNamer m_arrangementNamer;
};

// ---- A manifest to the model -------------------------------------------------------------

struct ManifestClip
{
    std::string strPlace;    // where it stands in the manifest, for messages
    std::string strFile;     // as written in the manifest
    std::string strFullPath; // the file to read
    CClip* pClip = nullptr;  // its entry in the song's clip table
};

struct ManifestEvent
{
    std::string strPlace;
    CClipEvent* pEvent = nullptr;
    size_t nClip = 0;        // index into the clip table
    bool bLengthGiven = false;
};

struct ManifestVariation
{
    std::string strPlace;
    CVariation* pVariation = nullptr;
    bool bLengthGiven = false;
};

struct Manifest
{
    std::unique_ptr<CSong> pSong;
    std::vector<ManifestClip> clips;
    std::vector<ManifestVariation> variations;
    std::vector<ManifestEvent> events;
    std::vector<std::string> warnings;
};

// Reads and checks the manifest at `path` and builds the song model from it. The
// clips' data and the defaults that depend on it (event and variation lengths) are
// filled in afterwards by the pack command. Throws CommandError naming the file and
// the offending place.
Manifest ReadManifest(const std::string& path);

} // namespace vantrel::tool
