#include "platform/File.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

#ifdef _WIN32
#include <windows.h>
#else
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace {
[[noreturn]] void Fail(const std::string& what, const std::string& path)
{
    throw CFileException(what + (path.empty() ? std::string() : ": " + path));
}
}

#ifdef _WIN32

CFile::CFile() : m_hFile(INVALID_HANDLE_VALUE) {}

CFile::~CFile() { Close(); }

bool CFile::OsOpen(const std::string& path) noexcept
{
    Close();
    HANDLE h = ::CreateFileA(path.c_str(), GENERIC_READ,
                             FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                             OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return false;
    m_hFile = h;
    try {
        m_strPath = path;
    } catch (...) {
        Close();
        return false;
    }
    return true;
}

void CFile::OsClose() noexcept
{
    if (m_hFile != INVALID_HANDLE_VALUE)
        ::CloseHandle(m_hFile);
    m_hFile = INVALID_HANDLE_VALUE;
    m_strPath.clear();
}

bool CFile::IsOpen() const noexcept { return m_pImage || m_hFile != INVALID_HANDLE_VALUE; }

int64_t CFile::OsSeek(int64_t offset, SeekPosition from)
{
    if (!IsOpen())
        Fail("seek on a closed file", m_strPath);
    LARGE_INTEGER dist, result;
    dist.QuadPart = offset;
    DWORD method = from == begin ? FILE_BEGIN : from == current ? FILE_CURRENT : FILE_END;
    if (!::SetFilePointerEx(m_hFile, dist, &result, method))
        Fail("seek failed", m_strPath);
    return result.QuadPart;
}

int64_t CFile::OsGetPosition() const
{
    if (!IsOpen())
        Fail("position of a closed file", m_strPath);
    LARGE_INTEGER zero, result;
    zero.QuadPart = 0;
    if (!::SetFilePointerEx(m_hFile, zero, &result, FILE_CURRENT))
        Fail("position failed", m_strPath);
    return result.QuadPart;
}

uint32_t CFile::OsRead(void* buffer, uint32_t n)
{
    if (!IsOpen())
        Fail("read on a closed file", m_strPath);
    DWORD got = 0;
    if (n > 0 && !::ReadFile(m_hFile, buffer, n, &got, nullptr))
        Fail("read failed", m_strPath);
    return got;
}

int64_t CFile::OsGetLength() const
{
    if (!IsOpen())
        Fail("length of a closed file", m_strPath);
    LARGE_INTEGER size;
    if (!::GetFileSizeEx(m_hFile, &size))
        Fail("length failed", m_strPath);
    return size.QuadPart;
}

#else

CFile::CFile() : m_nFd(-1) {}

CFile::~CFile() { Close(); }

bool CFile::OsOpen(const std::string& path) noexcept
{
    Close();
    int fd;
    do {
        fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0)
        return false;
    struct stat st;
    if (::fstat(fd, &st) != 0 || S_ISDIR(st.st_mode)) {
        ::close(fd);
        return false;
    }
    m_nFd = fd;
    try {
        m_strPath = path;
    } catch (...) {
        Close();
        return false;
    }
    return true;
}

void CFile::OsClose() noexcept
{
    if (m_nFd >= 0)
        ::close(m_nFd);
    m_nFd = -1;
    m_strPath.clear();
}

bool CFile::IsOpen() const noexcept { return m_pImage || m_nFd >= 0; }

int64_t CFile::OsSeek(int64_t offset, SeekPosition from)
{
    if (!IsOpen())
        Fail("seek on a closed file", m_strPath);
    int whence = from == begin ? SEEK_SET : from == current ? SEEK_CUR : SEEK_END;
    off_t pos = ::lseek(m_nFd, static_cast<off_t>(offset), whence);
    if (pos < 0)
        Fail("seek failed", m_strPath);
    return static_cast<int64_t>(pos);
}

int64_t CFile::OsGetPosition() const
{
    if (!IsOpen())
        Fail("position of a closed file", m_strPath);
    off_t pos = ::lseek(m_nFd, 0, SEEK_CUR);
    if (pos < 0)
        Fail("position failed", m_strPath);
    return static_cast<int64_t>(pos);
}

uint32_t CFile::OsRead(void* buffer, uint32_t n)
{
    if (!IsOpen())
        Fail("read on a closed file", m_strPath);
    uint32_t total = 0;
    auto* p = static_cast<unsigned char*>(buffer);
    while (total < n) {
        ssize_t got = ::read(m_nFd, p + total, n - total);
        if (got < 0) {
            if (errno == EINTR)
                continue;
            Fail("read failed", m_strPath);
        }
        if (got == 0)
            break;
        total += static_cast<uint32_t>(got);
    }
    return total;
}

int64_t CFile::OsGetLength() const
{
    if (!IsOpen())
        Fail("length of a closed file", m_strPath);
    struct stat st;
    if (::fstat(m_nFd, &st) != 0)
        Fail("length failed", m_strPath);
    return static_cast<int64_t>(st.st_size);
}

#endif

bool CFile::Open(const CFileSource& source) noexcept
{
    if (!source.IsMemory())
        return OsOpen(source.GetPath());
    Close();
    try {
        m_strPath = source.GetPath();
    } catch (...) {
        return false;
    }
    m_pImage = source.GetImage();
    m_nImagePos = 0;
    return true;
}

void CFile::OpenOrThrow(const CFileSource& source)
{
    if (!Open(source))
        Fail("cannot open file", source.GetPath());
}

void CFile::Close() noexcept
{
    if (m_pImage) {
        m_pImage.reset();
        m_nImagePos = 0;
        m_strPath.clear();
        return;
    }
    OsClose();
}

int64_t CFile::Seek(int64_t offset, SeekPosition from)
{
    if (!m_pImage)
        return OsSeek(offset, from);
    const int64_t base = from == begin ? 0 : from == current ? m_nImagePos
                                                            : static_cast<int64_t>(m_pImage->size());
    // Like the system's: a position before the start fails, past the end is allowed.
    if ((offset < 0 && base + offset < 0) || (offset > 0 && base > INT64_MAX - offset))
        Fail("seek failed", m_strPath);
    m_nImagePos = base + offset;
    return m_nImagePos;
}

int64_t CFile::GetPosition() const { return m_pImage ? m_nImagePos : OsGetPosition(); }

uint32_t CFile::Read(void* buffer, uint32_t n)
{
    if (!m_pImage)
        return OsRead(buffer, n);
    const int64_t size = static_cast<int64_t>(m_pImage->size());
    if (m_nImagePos >= size || n == 0)
        return 0;
    const uint32_t got = static_cast<uint32_t>(std::min<int64_t>(n, size - m_nImagePos));
    std::memcpy(buffer, m_pImage->data() + m_nImagePos, got);
    m_nImagePos += got;
    return got;
}

int64_t CFile::GetLength() const
{
    return m_pImage ? static_cast<int64_t>(m_pImage->size()) : OsGetLength();
}
