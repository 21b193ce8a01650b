// CFile: a small read-only file class over the operating system's file handles.
//
// Files are opened for reading with sharing that denies nothing to other openers
// (a second handle on the same file, or a writer elsewhere, is never refused).
// Failed opens (through OpenOrThrow), seeks and reads throw CFileException;
// Open() reports failure by its result instead, for callers that may ignore it.
//
// A file can also be an image in memory (CFileSource with an image): it reads, seeks
// and measures the same way, so the loader, the player and the clip decoder read a song
// handed over in memory exactly as they read one on disk. Every handle opened on the
// same source shares the one image; the image lives as long as its last holder.
#pragma once

#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>

// Where a file's bytes come from: a path, or an image in memory (then the path is only
// the name used in messages).
class CFileSource
{
public:
    CFileSource() = default;
    CFileSource(std::string path) : m_strPath(std::move(path)) {}
    CFileSource(const char* path) : m_strPath(path) {}
    CFileSource(std::shared_ptr<const std::string> pImage, std::string name)
        : m_strPath(std::move(name)), m_pImage(std::move(pImage))
    {
    }

    const std::string& GetPath() const noexcept { return m_strPath; }
    const std::shared_ptr<const std::string>& GetImage() const noexcept { return m_pImage; }
    bool IsMemory() const noexcept { return m_pImage != nullptr; }

private:
    std::string m_strPath;
    std::shared_ptr<const std::string> m_pImage;
};

class CFileException : public std::runtime_error
{
public:
    explicit CFileException(const std::string& what) : std::runtime_error(what) {}
};

class CFile
{
public:
    enum SeekPosition { begin = 0, current = 1, end = 2 };

    CFile();
    virtual ~CFile();
    CFile(const CFile&) = delete;
    CFile& operator=(const CFile&) = delete;

    // Opens an existing file read-only. Returns false (and leaves the object closed)
    // when the file cannot be opened.
    // A memory image always opens.
    bool Open(const CFileSource& source) noexcept;
    // The same, but throws CFileException when the file cannot be opened.
    void OpenOrThrow(const CFileSource& source);
    // Closes the file if it is open; never throws.
    void Close() noexcept;
    bool IsOpen() const noexcept;

    // Moves the file position; returns the new absolute position. Throws when the
    // file is not open or the resulting position would be negative. A position past
    // the end is allowed (a read there returns 0 bytes).
    int64_t Seek(int64_t offset, SeekPosition from);
    void SeekToBegin() { Seek(0, begin); }
    int64_t GetPosition() const;
    // Reads up to n bytes; returns the count read (less than n only at the end of
    // the file). Throws when the file is not open or the system reports an error.
    uint32_t Read(void* buffer, uint32_t n);
    // Length of the file in bytes; throws when the file is not open.
    int64_t GetLength() const;
    const std::string& GetFilePath() const noexcept { return m_strPath; }

private:
    bool OsOpen(const std::string& path) noexcept;
    void OsClose() noexcept;
    int64_t OsSeek(int64_t offset, SeekPosition from);
    int64_t OsGetPosition() const;
    uint32_t OsRead(void* buffer, uint32_t n);
    int64_t OsGetLength() const;

    std::shared_ptr<const std::string> m_pImage; // set while a memory image is open
    int64_t m_nImagePos = 0;
#ifdef _WIN32
    void* m_hFile;
#else
    int m_nFd;
#endif
    std::string m_strPath;
};
