// CSongLoader: checks a VNF file's header and reads the file into a CSong.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/File.h"

class CSong;
class CSongFileReader;
class CTrack;

// What a traced load saw, for tools that explain a song to its author: where the
// reading stood (so that a failed load can say which field of which record it was
// reading, and at which offset), the records that the model does not keep, and the
// stretches of bytes that were stepped over without being interpreted. Tracing
// changes nothing of what is loaded.
struct CSongLoadTrace
{
    // The records the reading is in; -1 where it is in none. Track and event numbers
    // are those of the model: the tracks and events kept before this record.
    struct Where
    {
        int nClip = -1;
        int nSection = -1;
        int nVariation = -1;
        int nTrack = -1;
        int nEvent = -1;
        int nArrangement = -1;
    };
    struct Note
    {
        int64_t nOffset = 0;
        int64_t nLength = 0;
        Where where;
        std::string strWhat;
    };

    // The field being read and where it began.
    int64_t nOffset = 0;
    const char* pszField = "";
    Where where;
    // The text of the failure that ended the load (empty when it loaded).
    std::string strFailure;
    std::vector<Note> arrDropped; // records read but not kept in the model
    std::vector<Note> arrSkipped; // bytes stepped over: nOffset, nLength, strWhat
};

class CSongLoader
{
public:
    CSongLoader() = default;
    virtual ~CSongLoader() = default;

    // The new song, or null when the file is not a readable VNF song. Throws
    // CFileException only when the file cannot be opened at all.
    std::unique_ptr<CSong> Load(const CFileSource& source);
    // Reads the whole file; any failure is thrown.
    std::unique_ptr<CSong> Parse(const CFileSource& source);

    // The header of the last file whose header was read.
    std::string m_strHeaderText;
    uint8_t m_nFormatFlags = 0;
    uint8_t m_nFormatVersion = 0;

    // Traces the following loads into `pTrace` (null: no tracing, the default). The
    // trace must outlive them.
    void SetTrace(CSongLoadTrace* pTrace) { m_pTrace = pTrace; }

private:
    void ReadTrackEvents(CSongFileReader& file, CSong& song, CTrack& track);
    void Field(const CSongFileReader& file, const char* name);
    void FieldAt(int64_t offset, const char* name);
    void Skip(CSongFileReader& file, int64_t n, const char* what);
    void Drop(const CSongFileReader& file, int64_t offset, const std::string& what);

    CSongLoadTrace* m_pTrace = nullptr;
};
