// CSongLoader: checks a VNF file's header and reads the file into a CSong.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "platform/File.h"

class CSong;
class CSongFileReader;
class CTrack;

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

private:
    void ReadTrackEvents(CSongFileReader& file, CSong& song, CTrack& track);
};
