// The pack manifest: a JSON file that describes a song for `vantrel pack`. Reading
// it checks everything that can be checked without the sound files' contents and
// builds the song model; the clips' data and the defaults that depend on it (event
// and variation lengths) are filled in afterwards by the pack command.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "song/Song.h"

namespace vantrel::tool {

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

// Reads and checks the manifest at `path`. Throws CommandError naming the file and
// the offending place.
Manifest ReadManifest(const std::string& path);

} // namespace vantrel::tool
