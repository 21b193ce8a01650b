#include "OutputFile.h"

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <random>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/types.h>

#ifdef _WIN32
#include <io.h>
#include <process.h>
#include <windows.h>
#else
#include <unistd.h>
#endif

namespace {

std::string Reason(int error)
{
    return std::strerror(error);
}

std::string FolderOf(const std::string& path)
{
    const size_t slash = path.find_last_of("/\\");
    if (slash == std::string::npos)
        return ".";
    return slash == 0 ? path.substr(0, 1) : path.substr(0, slash);
}

std::string NameOf(const std::string& path)
{
    const size_t slash = path.find_last_of("/\\");
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// Temporary files that exist right now, removed should the process be ended by a
// signal before it could remove them itself.
constexpr int kTempSlots = 32;
std::atomic<const char*> g_arrTempFiles[kTempSlots];

#ifndef _WIN32
extern "C" void RemoveTempFilesAndDie(int signal)
{
    for (auto& slot : g_arrTempFiles) {
        const char* p = slot.load();
        if (p != nullptr)
            ::unlink(p);
    }
    std::signal(signal, SIG_DFL);
    std::raise(signal);
}

void InstallSignalCleanupOnce()
{
    static const bool s_bDone = [] {
        for (int sig : {SIGINT, SIGTERM, SIGHUP}) {
            struct sigaction old{};
            if (sigaction(sig, nullptr, &old) == 0 && old.sa_handler == SIG_DFL &&
                !(old.sa_flags & SA_SIGINFO))
                std::signal(sig, RemoveTempFilesAndDie);
        }
        return true;
    }();
    (void)s_bDone;
}
#else
void InstallSignalCleanupOnce() {}
#endif

void RegisterTemp(const char* path)
{
    for (auto& slot : g_arrTempFiles) {
        const char* expected = nullptr;
        if (slot.compare_exchange_strong(expected, path))
            return;
    }
}

void UnregisterTemp(const char* path)
{
    for (auto& slot : g_arrTempFiles) {
        const char* expected = path;
        if (slot.compare_exchange_strong(expected, nullptr))
            return;
    }
}

std::string RandomSuffix()
{
    static std::atomic<unsigned> s_nCounter{0};
    std::random_device rd;
    const unsigned long long n = (static_cast<unsigned long long>(rd()) << 16) ^ s_nCounter++;
    static const char kDigits[] = "abcdefghijklmnopqrstuvwxyz0123456789";
    std::string s;
    unsigned long long v = n;
    for (int i = 0; i < 8; ++i) {
        s += kDigits[v % 36];
        v /= 36;
    }
    return s;
}

#ifndef _WIN32
// Follows symbolic links from `path` to the name that is finally written (which need
// not exist yet: a link may lead to a new file).
std::string FollowLinks(const std::string& path)
{
    std::string current = path;
    for (int hop = 0; hop < 40; ++hop) {
        struct stat st{};
        if (::lstat(current.c_str(), &st) != 0 || !S_ISLNK(st.st_mode))
            return current;
        std::string target(static_cast<size_t>(st.st_size > 0 ? st.st_size : 4096) + 1, '\0');
        const ssize_t n = ::readlink(current.c_str(), &target[0], target.size());
        if (n < 0)
            throw COutputFileError("cannot write " + path + ": " + Reason(errno));
        target.resize(static_cast<size_t>(n));
        if (target.empty() || target[0] != '/')
            target = FolderOf(current) + "/" + target;
        current = target;
    }
    throw COutputFileError("cannot write " + path + ": " + Reason(ELOOP));
}
#endif

int WriteSome(int fd, const char* p, size_t n)
{
#ifdef _WIN32
    return ::_write(fd, p, static_cast<unsigned>(n > (1u << 30) ? (1u << 30) : n));
#else
    return static_cast<int>(::write(fd, p, n > (1u << 30) ? (1u << 30) : n));
#endif
}

} // namespace

COutputFile::COutputFile(const std::string& path) : m_strPath(path)
{
    if (path.empty())
        throw COutputFileError("no output file was named");
    if (path == "-") {
        std::fflush(stdout);
#ifdef _WIN32
        _setmode(_fileno(stdout), _O_BINARY);
#endif
        m_strTarget = path;
        m_nFd = 1;
        m_bDirect = true;
        m_bStdout = true;
        return;
    }
#ifdef _WIN32
    m_strTarget = path;
    struct _stat64 st{};
    if (_stat64(path.c_str(), &st) == 0 && (st.st_mode & _S_IFDIR))
        throw COutputFileError("cannot write " + path + ": it is a folder");
#else
    m_strTarget = FollowLinks(path);
    struct stat st{};
    if (::stat(m_strTarget.c_str(), &st) == 0) {
        if (S_ISDIR(st.st_mode))
            throw COutputFileError("cannot write " + path + ": it is a folder");
        if (!S_ISREG(st.st_mode)) {
            // A device, a FIFO or a socket: written as it is.
            m_nFd = ::open(m_strTarget.c_str(), O_WRONLY | O_CLOEXEC);
            if (m_nFd < 0)
                Fail("write", errno);
            m_bDirect = true;
            return;
        }
        m_bKeepMode = true;
        m_nMode = st.st_mode & 07777;
        m_nUid = st.st_uid;
        m_nGid = st.st_gid;
    }
#endif
    InstallSignalCleanupOnce();
    const std::string folder = FolderOf(m_strTarget);
    const std::string name = NameOf(m_strTarget);
    for (int attempt = 0; attempt < 100; ++attempt) {
        m_strTemp = folder + "/." + name + "." + RandomSuffix() + ".part";
#ifdef _WIN32
        m_nFd = ::_open(m_strTemp.c_str(), _O_WRONLY | _O_CREAT | _O_EXCL | _O_BINARY, _S_IREAD | _S_IWRITE);
#else
        // Created with the usual mode less the umask, like any new file.
        m_nFd = ::open(m_strTemp.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
#endif
        if (m_nFd >= 0)
            break;
        if (errno != EEXIST) {
            const int err = errno;
            m_strTemp.clear();
            Fail("write", err);
        }
    }
    if (m_nFd < 0) {
        m_strTemp.clear();
        Fail("write", EEXIST);
    }
    RegisterTemp(m_strTemp.c_str());
}

COutputFile::~COutputFile()
{
    if (!m_bDone)
        Discard();
}

void COutputFile::Discard() noexcept
{
    if (m_nFd >= 0 && !m_bStdout) {
#ifdef _WIN32
        ::_close(m_nFd);
#else
        ::close(m_nFd);
#endif
    }
    m_nFd = -1;
    if (!m_strTemp.empty()) {
        std::remove(m_strTemp.c_str());
        UnregisterTemp(m_strTemp.c_str());
    }
    m_bDone = true;
}

void COutputFile::Fail(const char* what, int error) const
{
    throw COutputFileError(std::string("cannot ") + what + " " + m_strPath + ": " + Reason(error));
}

void COutputFile::CheckStep(bool bOk)
{
    if (bOk)
        return;
    const int err = errno;
    Discard();
    Fail("write", err);
}

void COutputFile::Write(const void* data, size_t bytes)
{
    if (m_bDone || m_nFd < 0)
        throw COutputFileError("cannot write " + m_strPath + ": the file is already complete");
    const char* p = static_cast<const char*>(data);
    while (bytes > 0) {
        const int n = WriteSome(m_nFd, p, bytes);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            Fail("write", errno);
        }
        if (n == 0)
            Fail("write", EIO);
        p += n;
        bytes -= static_cast<size_t>(n);
        m_nPos += n;
        if (m_nPos > m_nSize)
            m_nSize = m_nPos;
    }
}

void COutputFile::Seek(int64_t offset)
{
    if (m_bDirect || m_nFd < 0)
        throw COutputFileError("cannot write " + m_strPath + ": it cannot be positioned");
#ifdef _WIN32
    const int64_t r = ::_lseeki64(m_nFd, offset, SEEK_SET);
#else
    const int64_t r = ::lseek(m_nFd, static_cast<off_t>(offset), SEEK_SET);
#endif
    if (r < 0)
        Fail("write", errno);
    m_nPos = offset;
}

void COutputFile::Commit()
{
    if (m_bDone)
        throw COutputFileError("cannot write " + m_strPath + ": the file is already complete");
    if (m_bStdout) {
        m_bDone = true;
        return;
    }
    if (m_bDirect) {
        const int fd = m_nFd;
        m_nFd = -1;
        m_bDone = true;
#ifdef _WIN32
        if (::_close(fd) != 0)
            Fail("write", errno);
#else
        if (::close(fd) != 0 && errno != EINTR)
            Fail("write", errno);
#endif
        return;
    }
#ifdef _WIN32
    CheckStep(::_commit(m_nFd) == 0);
    const int rc = ::_close(m_nFd);
    m_nFd = -1;
    CheckStep(rc == 0);
    if (!MoveFileExA(m_strTemp.c_str(), m_strTarget.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        const unsigned long error = GetLastError();
        Discard();
        throw COutputFileError("cannot write " + m_strPath + ": the finished file could not replace it (error " +
                               std::to_string(error) + ")");
    }
#else
    if (m_bKeepMode) {
        // The replaced file's permissions, owner and group, as far as we may set them.
        if (::fchown(m_nFd, m_nUid, m_nGid) != 0)
            (void)::fchown(m_nFd, static_cast<uid_t>(-1), m_nGid);
        CheckStep(::fchmod(m_nFd, static_cast<mode_t>(m_nMode)) == 0);
    }
    CheckStep(::fsync(m_nFd) == 0);
    const int rc = ::close(m_nFd);
    m_nFd = -1;
    CheckStep(rc == 0);
    CheckStep(::rename(m_strTemp.c_str(), m_strTarget.c_str()) == 0);
    // The rename itself reaches the disk with the folder.
    const int dir = ::open(FolderOf(m_strTarget).c_str(), O_RDONLY | O_CLOEXEC);
    if (dir >= 0) {
        (void)::fsync(dir);
        ::close(dir);
    }
#endif
    UnregisterTemp(m_strTemp.c_str());
    m_strTemp.clear();
    m_bDone = true;
}

void WriteWholeFile(const std::string& path, const std::string& data)
{
    COutputFile file(path);
    file.Write(data.data(), data.size());
    file.Commit();
}
