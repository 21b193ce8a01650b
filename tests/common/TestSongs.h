// Helpers for tests: temporary files and small songs built in memory.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "song/Song.h"

namespace testutil {

// A fresh file name in a per-process temporary directory; the file is not created.
std::string TempPath(const std::string& name);
void WriteBytes(const std::string& path, const std::string& bytes);
std::string ReadBytes(const std::string& path);
// Writes `song` with its clips' data as a song file at `path`, through the writer.
void WriteSong(const CSong& song, const std::vector<std::string>& clipData, const std::string& path,
               uint8_t version = 0x61);

// Builders for the model. Each returns the object it added.
CSection* AddSection(CSong& song, const std::string& name);
CVariation* AddVariation(CSection& section, const std::string& name, int32_t lengthMs);
CTrack* AddTrack(CVariation& variation, const std::string& name);
CClipEvent* AddEvent(CTrack& track, CClip* clip, int64_t startMs, int64_t lengthMs);
CArrangement* AddArrangement(CSong& song, const std::string& name,
                             const std::vector<CSection*>& sections);
CClip* AddClip(CSong& song, const std::string& name, uint8_t kind);

// A small song that uses every kind of record: two arrangements, three sections,
// variations with tracks and events, clips with and without data.
std::unique_ptr<CSong> MakeSampleSong();
// Coded data for the sample song's clips (arbitrary bytes; not decodable).
std::vector<std::string> SampleClipData(const CSong& song);

} // namespace testutil
