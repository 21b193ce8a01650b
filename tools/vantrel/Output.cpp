#include "Output.h"

#include <cstdio>
#include <vector>

#ifndef VANTREL_NO_SNDFILE
#include <sndfile.h>
#endif

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#define VANTREL_ISATTY _isatty
#define VANTREL_FILENO _fileno
#else
#include <unistd.h>
#define VANTREL_ISATTY isatty
#define VANTREL_FILENO fileno
#endif

#include "Commands.h"

namespace vantrel::tool {

namespace {

void SetBinary(FILE* f)
{
#ifdef _WIN32
    _setmode(_fileno(f), _O_BINARY);
#else
    (void)f;
#endif
}

// Writes to `path`.part and renames it over `path` when finished.
class CFileTarget
{
public:
    explicit CFileTarget(std::string path) : m_strPath(std::move(path)), m_strTemp(m_strPath + ".part") {}
    ~CFileTarget()
    {
        if (!m_bDone)
            std::remove(m_strTemp.c_str());
    }
    const std::string& Temp() const { return m_strTemp; }
    void Commit()
    {
#ifdef _WIN32
        std::remove(m_strPath.c_str());
#endif
        if (std::rename(m_strTemp.c_str(), m_strPath.c_str()) != 0)
            throw CommandError("cannot write " + m_strPath);
        m_bDone = true;
    }

private:
    std::string m_strPath;
    std::string m_strTemp;
    bool m_bDone = false;
};

class CRawSink : public CPcmSink
{
public:
    explicit CRawSink(const std::string& path)
    {
        if (path == "-") {
            m_pFile = stdout;
            SetBinary(stdout);
            return;
        }
        m_pTarget = std::make_unique<CFileTarget>(path);
        m_pFile = std::fopen(m_pTarget->Temp().c_str(), "wb");
        if (!m_pFile)
            throw CommandError("cannot create " + path);
    }
    ~CRawSink() override
    {
        if (m_pFile && m_pFile != stdout)
            std::fclose(m_pFile);
    }
    void Write(const char* data, size_t bytes) override
    {
        if (std::fwrite(data, 1, bytes, m_pFile) != bytes)
            throw CommandError("write failed (disk full?)");
    }
    void Finish() override
    {
        if (std::fflush(m_pFile) != 0)
            throw CommandError("write failed (disk full?)");
        if (m_pTarget) {
            const int rc = std::fclose(m_pFile);
            m_pFile = nullptr;
            if (rc != 0)
                throw CommandError("write failed (disk full?)");
            m_pTarget->Commit();
        }
    }

private:
    FILE* m_pFile = nullptr;
    std::unique_ptr<CFileTarget> m_pTarget;
};

#ifndef VANTREL_NO_SNDFILE
// WAV through libsndfile. Standard output cannot be seeked back to complete the
// header, so the file is made in a temporary place first and then copied.
class CWavSink : public CPcmSink
{
public:
    explicit CWavSink(const std::string& path) : m_bStdout(path == "-")
    {
        if (m_bStdout) {
            m_pTemp = std::tmpfile();
            if (!m_pTemp)
                throw CommandError("cannot create a temporary file");
        } else {
            m_pTarget = std::make_unique<CFileTarget>(path);
        }
        SF_INFO info{};
        info.samplerate = 44100;
        info.channels = 2;
        info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
        m_pSnd = m_bStdout ? sf_open_fd(VANTREL_FILENO(m_pTemp), SFM_WRITE, &info, SF_FALSE)
                           : sf_open(m_pTarget->Temp().c_str(), SFM_WRITE, &info);
        if (!m_pSnd)
            throw CommandError("cannot create " + path + ": " + sf_strerror(nullptr));
    }
    ~CWavSink() override
    {
        if (m_pSnd)
            sf_close(m_pSnd);
        if (m_pTemp)
            std::fclose(m_pTemp);
    }
    void Write(const char* data, size_t bytes) override
    {
        if (sf_write_raw(m_pSnd, data, static_cast<sf_count_t>(bytes)) != static_cast<sf_count_t>(bytes))
            throw CommandError(std::string("write failed: ") + sf_strerror(m_pSnd));
    }
    void Finish() override
    {
        const int rc = sf_close(m_pSnd);
        m_pSnd = nullptr;
        if (rc != 0)
            throw CommandError("write failed (disk full?)");
        if (m_pTarget) {
            m_pTarget->Commit();
            return;
        }
        SetBinary(stdout);
        std::rewind(m_pTemp);
        std::vector<char> buf(1 << 16);
        size_t n;
        while ((n = std::fread(buf.data(), 1, buf.size(), m_pTemp)) > 0)
            if (std::fwrite(buf.data(), 1, n, stdout) != n)
                throw CommandError("write to standard output failed");
        std::fflush(stdout);
    }

private:
    bool m_bStdout;
    FILE* m_pTemp = nullptr;
    SNDFILE* m_pSnd = nullptr;
    std::unique_ptr<CFileTarget> m_pTarget;
};
#endif

} // namespace

std::unique_ptr<CPcmSink> OpenPcmSink(const std::string& path, bool raw)
{
    if (raw)
        return std::make_unique<CRawSink>(path);
#ifdef VANTREL_NO_SNDFILE
    throw CommandError("this build of vantrel writes bare PCM only (it has no libsndfile): add --raw, "
                       "or write a WAV file with: vantrel play SONG --out FILE.wav");
#else
    return std::make_unique<CWavSink>(path);
#endif
}

std::string DefaultOutputName(const std::string& songPath, const std::string& extension)
{
    const size_t slash = songPath.find_last_of("/\\");
    const size_t dot = songPath.find_last_of('.');
    if (dot != std::string::npos && (slash == std::string::npos || dot > slash + 1))
        return songPath.substr(0, dot) + extension;
    return songPath + extension;
}

CProgress::CProgress(double totalMs)
    : m_fTotalMs(totalMs), m_bShow(totalMs > 0 && VANTREL_ISATTY(VANTREL_FILENO(stderr)))
{
}

void CProgress::Update(double doneMs)
{
    if (!m_bShow)
        return;
    int permille = static_cast<int>(doneMs / m_fTotalMs * 1000.0);
    if (permille > 1000)
        permille = 1000;
    if (permille == m_nLastPermille)
        return;
    m_nLastPermille = permille;
    const int width = 40;
    const int filled = permille * width / 1000;
    const long secs = static_cast<long>(doneMs / 1000.0);
    std::fprintf(stderr, "\r[%-*s] %3d%%  %ld:%02ld", width, std::string(static_cast<size_t>(filled), '#').c_str(),
                 permille / 10, secs / 60, secs % 60);
    std::fflush(stderr);
}

void CProgress::Done()
{
    if (m_bShow && m_nLastPermille >= 0)
        std::fputs("\n", stderr);
}

} // namespace vantrel::tool
