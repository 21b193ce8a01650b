#include "song/SongFileReader.h"

#include <algorithm>
#include <cstring>
#include <vector>

bool CSongFileReader::Open(const CFileSource& source) noexcept
{
    Close();
    if (!CFile::Open(source))
        return false;
    try {
        m_nLength = CFile::GetLength();
        if (!m_pBuffer)
            m_pBuffer.reset(new unsigned char[kBufferSize]);
    } catch (...) {
        Close();
        return false;
    }
    return true;
}

void CSongFileReader::Close() noexcept
{
    CFile::Close();
    m_nBufferStart = 0;
    m_nBufferLength = 0;
    m_nPosition = 0;
    m_nLength = 0;
}

void CSongFileReader::RequireOpen() const
{
    if (!IsOpen())
        throw CFileException("the song file is not open");
}

int64_t CSongFileReader::Seek(int64_t offset, SeekPosition from)
{
    RequireOpen();
    const int64_t base = from == begin ? 0 : from == current ? m_nPosition : m_nLength;
    if ((offset < 0 && base + offset < 0) || (offset > 0 && base > INT64_MAX - offset))
        throw CFileException("seek out of range: " + GetFilePath());
    m_nPosition = base + offset;
    return m_nPosition;
}

int64_t CSongFileReader::GetPosition() const
{
    RequireOpen();
    return m_nPosition;
}

int64_t CSongFileReader::GetLength() const
{
    RequireOpen();
    return m_nLength;
}

uint32_t CSongFileReader::Read(void* buffer, uint32_t n)
{
    RequireOpen();
    auto* out = static_cast<unsigned char*>(buffer);
    uint32_t done = 0;
    while (done < n) {
        const int64_t at = m_nPosition;
        if (at >= m_nBufferStart && at < m_nBufferStart + m_nBufferLength) {
            const uint32_t offset = static_cast<uint32_t>(at - m_nBufferStart);
            const uint32_t take = std::min(n - done, m_nBufferLength - offset);
            std::memcpy(out + done, m_pBuffer.get() + offset, take);
            done += take;
            m_nPosition += take;
            continue;
        }
        if (at >= m_nLength)
            break; // the end of the file
        CFile::Seek(at, begin);
        if (n - done >= kBufferSize) {
            // A large read goes straight to the caller.
            const uint32_t got = CFile::Read(out + done, n - done);
            done += got;
            m_nPosition += got;
            break;
        }
        m_nBufferStart = at;
        m_nBufferLength = CFile::Read(m_pBuffer.get(), kBufferSize);
        if (m_nBufferLength == 0)
            break;
    }
    return done;
}

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
