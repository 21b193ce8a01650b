// CSongFileReader: a read-only song file with the big-endian reads of the VNF format.
//
// Every read is exact: a read that the file cannot satisfy whole throws, so that no
// byte that was not read is ever used. Skips count as reads: skipping past the end
// of the file throws too.
//
// The reader reads the file through a buffer of its own: the loader reads a song field
// by field, and a system call per field would make loading slow. Its Open, Seek,
// GetPosition, Read and GetLength stand in for the file's and keep the buffer right;
// the file's length is taken once, when it is opened (a song file does not change
// while it is read).
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "platform/File.h"

class CSongFileReader : public CFile
{
public:
    static constexpr uint32_t kBufferSize = 64 * 1024;

    bool Open(const CFileSource& source) noexcept;
    void Close() noexcept;
    int64_t Seek(int64_t offset, SeekPosition from);
    int64_t GetPosition() const;
    uint32_t Read(void* buffer, uint32_t n);
    int64_t GetLength() const;

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

private:
    void RequireOpen() const;

    std::unique_ptr<unsigned char[]> m_pBuffer;
    int64_t m_nBufferStart = 0;   // file offset of m_pBuffer[0]
    uint32_t m_nBufferLength = 0; // bytes of the file held in the buffer
    int64_t m_nPosition = 0;      // the reader's position in the file
    int64_t m_nLength = 0;
};
