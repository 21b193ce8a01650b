// Writing VNF songs: CByteWriter puts the format's fields into a byte buffer, and
// CSongWriter writes a whole CSong, with the coded data of its clips, as a file of
// version 0x60 or 0x61 that the loader reads back to the same model. The writer
// makes bytes; where they go (a file by the tool's rules for output files, a test's
// scratch file, memory) is its caller's business.
#pragma once

#include <cstdint>
#include <iosfwd>
#include <stdexcept>
#include <string>
#include <vector>

class CSong;

class CSongWriteError : public std::runtime_error
{
public:
    explicit CSongWriteError(const std::string& what) : std::runtime_error(what) {}
};

class CByteWriter
{
public:
    void Int32BE(int32_t v);
    void Int16BE(int16_t v);
    // Eight bytes: the 32-bit value, sign-extended.
    void Int64BE(int64_t v);
    void UInt8(uint8_t v) { m_strBytes.push_back(static_cast<char>(v)); }
    void Int8(int8_t v) { m_strBytes.push_back(static_cast<char>(v)); }
    void Float32LE(float f);
    // A fixed field of `width` bytes, padded with NULs; throws when the text does not
    // fit or holds a NUL (it would not read back the same).
    void FixedText(const std::string& text, size_t width, const char* what);
    // An int32 length and the bytes.
    void CountedText(const std::string& text, const char* what);
    void Zeros(size_t n) { m_strBytes.append(n, '\0'); }
    void Bytes(const std::string& bytes) { m_strBytes += bytes; }
    // Overwrites 4 bytes at `at` with a big-endian value.
    void PatchInt32BE(size_t at, int32_t v);

    size_t Size() const { return m_strBytes.size(); }
    const std::string& Data() const { return m_strBytes; }

private:
    std::string m_strBytes;
};

class CSongWriter
{
public:
    // The whole file as bytes. clipData[i] is the coded data of clip i (only clips of
    // kind 1 or 2 carry data; the others are written as records without data).
    // Throws CSongWriteError when the song cannot be written faithfully (a text too
    // long for its field, more entries than a list can count, an event whose clip is
    // not in the clip table, a section reference outside the section table).
    static std::string Serialize(const CSong& song, const std::vector<std::string>& clipData,
                                 uint8_t version = 0x61);
    // Serializes and writes the whole file to `out`, then flushes it. Throws
    // CSongWriteError as Serialize does, and when `out` fails.
    static void Write(const CSong& song, const std::vector<std::string>& clipData, std::ostream& out,
                      uint8_t version = 0x61);
};
