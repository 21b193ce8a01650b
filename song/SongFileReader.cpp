#include "song/SongFileReader.h"

#include <cstring>
#include <vector>

void CSongFileReader::ReadExact(void* buffer, uint32_t n)
{
    if (Read(buffer, n) != n)
        throw CFileException("unexpected end of file: " + GetFilePath());
}

int64_t CSongFileReader::Remaining() const
{
    int64_t left = GetLength() - GetPosition();
    return left > 0 ? left : 0;
}

void CSongFileReader::Skip(int64_t n)
{
    if (n <= 0)
        return;
    if (n > Remaining())
        throw CFileException("unexpected end of file: " + GetFilePath());
    Seek(n, current);
}

int32_t CSongFileReader::ReadInt32BE()
{
    unsigned char b[4];
    ReadExact(b, 4);
    return static_cast<int32_t>((uint32_t(b[0]) << 24) | (uint32_t(b[1]) << 16) |
                                (uint32_t(b[2]) << 8) | uint32_t(b[3]));
}

int16_t CSongFileReader::ReadInt16BE()
{
    unsigned char b[2];
    ReadExact(b, 2);
    return static_cast<int16_t>((uint16_t(b[0]) << 8) | uint16_t(b[1]));
}

int64_t CSongFileReader::ReadInt64BE()
{
    unsigned char b[8];
    ReadExact(b, 8);
    int32_t low = static_cast<int32_t>((uint32_t(b[4]) << 24) | (uint32_t(b[5]) << 16) |
                                       (uint32_t(b[6]) << 8) | uint32_t(b[7]));
    return static_cast<int64_t>(low);
}

uint8_t CSongFileReader::ReadUInt8()
{
    unsigned char b;
    ReadExact(&b, 1);
    return b;
}

int8_t CSongFileReader::ReadInt8() { return static_cast<int8_t>(ReadUInt8()); }

float CSongFileReader::ReadFloat32LE()
{
    unsigned char b[4];
    ReadExact(b, 4);
    uint32_t bits = uint32_t(b[0]) | (uint32_t(b[1]) << 8) | (uint32_t(b[2]) << 16) |
                    (uint32_t(b[3]) << 24);
    float f;
    std::memcpy(&f, &bits, sizeof f);
    return f;
}

namespace {
std::string UpToNul(const char* p, size_t n)
{
    const void* nul = std::memchr(p, 0, n);
    return std::string(p, nul ? static_cast<const char*>(nul) - p : n);
}
}

std::string CSongFileReader::ReadFixedText(uint32_t width)
{
    char buf[256];
    if (width > sizeof buf)
        throw CFileException("text field too wide");
    ReadExact(buf, width);
    return UpToNul(buf, width);
}

std::string CSongFileReader::ReadCountedText(int32_t* length)
{
    int32_t n = ReadInt32BE();
    if (length)
        *length = n;
    if (n <= 0)
        return std::string();
    // The length is checked against the file before anything is allocated for it.
    if (n > Remaining())
        throw CFileException("unexpected end of file: " + GetFilePath());
    std::vector<char> buf(static_cast<size_t>(n));
    ReadExact(buf.data(), static_cast<uint32_t>(n));
    return UpToNul(buf.data(), buf.size());
}
