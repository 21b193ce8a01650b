// COutputFile: a file that a user named as the place to write to, written so that
// nothing they pointed at is destroyed. Every command of the tool that writes a file
// the user names (render, pack, unpack, pictures, play --out) writes it through here.
//
// - A regular file, or a name that does not exist yet: the data goes to a temporary
//   file in the same folder, which Commit flushes to the disk and renames over the
//   name. An existing file keeps its permission bits (and owner and group, where the
//   process may set them). Until Commit, the earlier file stays as it was; without
//   Commit (an error, an exception) the temporary file is removed.
// - A symbolic link is followed: the file it leads to is what gets replaced, and the
//   link stays.
// - Anything else (a character or block device, a FIFO, "-" for standard output) is
//   written directly, in order, with no temporary file and no rename.
//
// Every write, flush, sync, close and rename is checked; a failure throws
// COutputFileError with a message that names the file and the reason, for example
// "cannot write out.wav: No space left on device".
//
// Should the process be ended by SIGINT, SIGTERM or SIGHUP while a temporary file
// exists, a handler removes it first; the first output file installs the handlers,
// for the signals whose handling is still the default. That is a setting of the whole
// process, so this class belongs to the program that writes files, never to the
// engine library.
#pragma once

#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>

class COutputFileError : public std::runtime_error
{
public:
    using std::runtime_error::runtime_error;
};

class COutputFile
{
public:
    // Opens `path` for writing as described above; "-" is standard output. Throws
    // COutputFileError when it cannot be created (a missing folder, a folder given as
    // the file, no permission).
    explicit COutputFile(const std::string& path);
    ~COutputFile();
    COutputFile(const COutputFile&) = delete;
    COutputFile& operator=(const COutputFile&) = delete;

    // Writes all of `bytes`, or throws.
    void Write(const void* data, size_t bytes);
    // Completes the file: a temporary file is synced, closed and renamed over the
    // target; a direct target is flushed (and closed unless it is standard output).
    // Nothing can be written after it.
    void Commit();

    // The name as given.
    const std::string& Path() const { return m_strPath; }
    // The file that is written in the end (links followed).
    const std::string& Target() const { return m_strTarget; }
    // True when written through a temporary file; then Seek, Tell and Size work (the
    // temporary file is an ordinary file), for writers that complete a header last.
    bool IsSeekable() const { return !m_bDirect; }
    void Seek(int64_t offset);
    int64_t Tell() const { return m_nPos; }
    int64_t Size() const { return m_nSize; }

private:
    [[noreturn]] void Fail(const char* what, int error) const;
    void Discard() noexcept;
    // When a step of Commit failed: gives up the temporary file and reports errno.
    void CheckStep(bool bOk);

    std::string m_strPath;
    std::string m_strTarget;
    std::string m_strTemp; // empty when written directly
    int m_nFd = -1;
    bool m_bDirect = false;
    bool m_bStdout = false;
    bool m_bKeepMode = false;
    unsigned m_nMode = 0;
    unsigned m_nUid = 0;
    unsigned m_nGid = 0;
    bool m_bDone = false;
    int64_t m_nPos = 0;
    int64_t m_nSize = 0;
};

// Writes `data` as the whole content of `path` by the rules above.
void WriteWholeFile(const std::string& path, const std::string& data);
