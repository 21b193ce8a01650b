// CSongFileReader: a read-only song file with the big-endian reads of the VNF format.
//
// Every read is exact: a read that the file cannot satisfy whole throws, so that no
// byte that was not read is ever used. Skips count as reads: skipping past the end
// of the file throws too.
#pragma once

#include <cstdint>
#include <string>

#include "platform/File.h"

class CSongFileReader : public CFile
{
public:
    // Reads exactly n bytes or throws.
    void ReadExact(void* buffer, uint32_t n);
    // Steps over n bytes (a negative n counts as 0); throws when they are not all there.
    void Skip(int64_t n);

    int32_t ReadInt32BE();
    int16_t ReadInt16BE();
    // Eight bytes of which only the last four count: a signed 32-bit value,
    // sign-extended.
    int64_t ReadInt64BE();
    uint8_t ReadUInt8();
    int8_t ReadInt8();
    // A little-endian IEEE single.
    float ReadFloat32LE();
    // A fixed text field of `width` bytes: the bytes before the first NUL.
    std::string ReadFixedText(uint32_t width);
    // An int32 length L and L bytes (none when L <= 0); the text ends at the first
    // NUL. `length` receives L.
    std::string ReadCountedText(int32_t* length = nullptr);

    // Bytes between the current position and the end of the file (0 past the end).
    int64_t Remaining() const;
};
