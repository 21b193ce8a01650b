// Song files with lies in them. CSongWriter only writes what reads back faithfully;
// this builder writes the same layout from a set of raw field values, so that a
// count, length, offset or reference can say anything at all while the rest of the
// file stays well formed. Used by the robustness tests and by the fuzzing corpus
// generator (fuzz/CorpusMain.cpp).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace hostile {

struct EventFields
{
    int32_t nStartMs = 0;
    int32_t nLengthMs = 1000;
    uint8_t nMuted = 0;
    int32_t nClipNumber = 1;
    int32_t nGuard1 = 1;
    int32_t nGuard2 = 1;
    int32_t nBlockLength = 0;   // written as is; min(max(0, n), 16) bytes follow
    int64_t nPos1 = 0;
};

// Every field holds the value written to the file. Counts may differ from the
// records that follow (the `...Records` members say how many are written).
// A length or offset of kExact is replaced by the true value.
struct SongFields
{
    static constexpr int32_t kExact = INT32_MIN + 12345;

    std::string strMagic = "VNFVN1";
    uint8_t nFlags = 0;
    uint8_t nVersion = 0x61;
    bool bWithTexts = true;           // the info chunk's texts (a length > 0)
    int32_t nInfoLength = kExact;
    int32_t arrInfoBlocks[3] = {0, 0, 0};
    int32_t nStructLength = kExact;
    int32_t nThirdLength = kExact;
    int32_t nClipChunkLength = kExact;

    int16_t nClipCount = 1;
    int nClipRecords = 1;
    std::string strFormat = "MP3";
    int32_t nDataSize = kExact;       // the true size of strClipData
    int32_t nNameLength = 4;          // version 0x61: min(max(0, n), 8) bytes follow
    int32_t nPathLength = 0;          // min(max(0, n), 8) bytes follow
    uint8_t nEmbedded = 1;
    std::string strClipData;          // written when nEmbedded != 0

    int32_t nSectionOffset = kExact;
    int8_t nArrangementCount = 1;
    int nArrangementRecords = 1;
    int8_t nRefCount = 1;
    std::vector<int32_t> arrRefs = {0};
    int8_t nSectionCount = 1;
    int nSectionRecords = 1;
    int8_t nVariationCount = 1;
    int nVariationRecords = 1;
    int32_t nVariationLengthMs = 2000;
    int8_t nTrackCount = 1;
    int nTrackRecords = 1;
    uint8_t nTrackTag = 'A';
    int32_t nTrackSize = kExact;      // for another tag: min(max(0, n), 64) bytes follow
    int8_t nEventCount = kExactCount;
    std::vector<EventFields> arrEvents = {EventFields()};

    static constexpr int8_t kExactCount = INT8_MIN;
};

std::string Build(const SongFields& f);

// The real clips of tests/data/clips, read from the source tree.
std::string ReadClip(const std::string& sourceDir, const std::string& name);

// A set of named hostile songs around a valid one that plays `clip`: absurd counts,
// lengths, offsets and references, wrong clip data, broken headers.
std::vector<std::pair<std::string, std::string>> HostileSet(const std::string& clip);

} // namespace hostile
