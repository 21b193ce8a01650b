// CFile: a small read-only file class over the operating system's file handles.
//
// Files are opened for reading with sharing that denies nothing to other openers
// (a second handle on the same file, or a writer elsewhere, is never refused).
// Failed opens (through OpenOrThrow), seeks and reads throw CFileException;
// Open() reports failure by its result instead, for callers that may ignore it.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>

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
    bool Open(const std::string& path) noexcept;
    // The same, but throws CFileException when the file cannot be opened.
    void OpenOrThrow(const std::string& path);
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
#ifdef _WIN32
    void* m_hFile;
#else
    int m_nFd;
#endif
    std::string m_strPath;
};
