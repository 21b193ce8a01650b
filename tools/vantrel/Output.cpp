#include "Output.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <vector>

#ifndef VANTREL_NO_SNDFILE
#include <sndfile.h>
#endif

#ifdef _WIN32
#include <io.h>
#define VANTREL_ISATTY _isatty
#define VANTREL_FILENO _fileno
#else
#include <unistd.h>
#define VANTREL_ISATTY isatty
#define VANTREL_FILENO fileno
#endif

#include "Commands.h"
#include "OutputFile.h"

namespace vantrel::tool {

namespace {

class CRawSink : public CPcmSink
{
public:
    explicit CRawSink(const std::string& path) : m_file(path) {}
    void Write(const char* data, size_t bytes) override { m_file.Write(data, bytes); }
    void Finish() override { m_file.Commit(); }

private:
    COutputFile m_file;
};

#ifndef VANTREL_NO_SNDFILE
// Where libsndfile writes a WAV file: it completes the header last, so it needs a
// store it can position. A regular file is written in place (through the output
// file's temporary file); a device, a FIFO or standard output gets the finished file
// from an anonymous temporary one.
class CSeekableStore
{
public:
    explicit CSeekableStore(COutputFile& out) : m_out(out)
    {
        if (!m_out.IsSeekable()) {
            m_pScratch = std::tmpfile();
            if (!m_pScratch)
                throw COutputFileError("cannot write " + out.Path() +
                                       ": no temporary file for the WAV data: " + std::strerror(errno));
        }
    }
    ~CSeekableStore()
    {
        if (m_pScratch)
            std::fclose(m_pScratch);
    }

    static SF_VIRTUAL_IO Callbacks()
    {
        SF_VIRTUAL_IO io{};
        io.get_filelen = [](void* p) -> sf_count_t { return static_cast<CSeekableStore*>(p)->Length(); };
        io.seek = [](sf_count_t offset, int whence, void* p) -> sf_count_t {
            return static_cast<CSeekableStore*>(p)->Seek(offset, whence);
        };
        io.read = [](void*, sf_count_t, void*) -> sf_count_t { return 0; };
        io.write = [](const void* data, sf_count_t n, void* p) -> sf_count_t {
            return static_cast<CSeekableStore*>(p)->Write(data, n);
        };
        io.tell = [](void* p) -> sf_count_t { return static_cast<CSeekableStore*>(p)->Tell(); };
        return io;
    }

    // The first failure, as the output file reported it.
    const std::string& Error() const { return m_strError; }

    // Hands the finished data to the output file (for a direct target).
    void Complete()
    {
        if (m_pScratch) {
            std::rewind(m_pScratch);
            std::vector<char> buf(1 << 16);
            size_t n;
            while ((n = std::fread(buf.data(), 1, buf.size(), m_pScratch)) > 0)
                m_out.Write(buf.data(), n);
            if (std::ferror(m_pScratch))
                throw COutputFileError("cannot write " + m_out.Path() + ": the temporary WAV data could not be read back");
        }
        m_out.Commit();
    }

private:
    sf_count_t Length() const
    {
        if (m_pScratch) {
            const long at = std::ftell(m_pScratch);
            std::fseek(m_pScratch, 0, SEEK_END);
            const long end = std::ftell(m_pScratch);
            std::fseek(m_pScratch, at, SEEK_SET);
            return end;
        }
        return m_out.Size();
    }
    sf_count_t Tell() const { return m_pScratch ? std::ftell(m_pScratch) : m_out.Tell(); }
    sf_count_t Seek(sf_count_t offset, int whence)
    {
        const sf_count_t base = whence == SEEK_CUR ? Tell() : whence == SEEK_END ? Length() : 0;
        const sf_count_t to = base + offset;
        if (to < 0)
            return -1;
        if (m_pScratch)
            return std::fseek(m_pScratch, static_cast<long>(to), SEEK_SET) == 0 ? to : -1;
        try {
            m_out.Seek(to);
        } catch (const std::exception& e) {
            Remember(e.what());
            return -1;
        }
        return to;
    }
    sf_count_t Write(const void* data, sf_count_t n)
    {
        if (m_pScratch) {
            const size_t done = std::fwrite(data, 1, static_cast<size_t>(n), m_pScratch);
            if (done != static_cast<size_t>(n))
                Remember("cannot write " + m_out.Path() + ": temporary WAV data: " + std::strerror(errno));
            return static_cast<sf_count_t>(done);
        }
        try {
            m_out.Write(data, static_cast<size_t>(n));
        } catch (const std::exception& e) {
            Remember(e.what());
            return 0;
        }
        return n;
    }
    void Remember(const std::string& error)
    {
        if (m_strError.empty())
            m_strError = error;
    }

    COutputFile& m_out;
    FILE* m_pScratch = nullptr;
    std::string m_strError;
};

// WAV through libsndfile, 16-bit stereo at 44 100 Hz.
class CWavSink : public CPcmSink
{
public:
    explicit CWavSink(const std::string& path) : m_file(path), m_store(m_file)
    {
        SF_INFO info{};
        info.samplerate = 44100;
        info.channels = 2;
        info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
        m_io = CSeekableStore::Callbacks();
        m_pSnd = sf_open_virtual(&m_io, SFM_WRITE, &info, &m_store);
        if (!m_pSnd)
            Throw(std::string("cannot write ") + path + ": " + sf_strerror(nullptr));
    }
    ~CWavSink() override
    {
        if (m_pSnd)
            sf_close(m_pSnd);
    }
    void Write(const char* data, size_t bytes) override
    {
        if (sf_write_raw(m_pSnd, data, static_cast<sf_count_t>(bytes)) != static_cast<sf_count_t>(bytes))
            Throw(std::string("cannot write ") + m_file.Path() + ": " + sf_strerror(m_pSnd));
    }
    void Finish() override
    {
        const int rc = sf_close(m_pSnd);
        m_pSnd = nullptr;
        if (rc != 0 || !m_store.Error().empty())
            Throw(std::string("cannot write ") + m_file.Path() + ": " + sf_error_number(rc));
        m_store.Complete();
    }

private:
    // The output file's own reason comes first: it names what went wrong below.
    [[noreturn]] void Throw(const std::string& fallback) const
    {
        throw COutputFileError(m_store.Error().empty() ? fallback : m_store.Error());
    }

    COutputFile m_file;
    CSeekableStore m_store;
    SF_VIRTUAL_IO m_io{};
    SNDFILE* m_pSnd = nullptr;
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
