// The C interface (include/vantrel/vantrel.h) over the engine: one CSongPlayer per
// handle, with a block buffer so that callers can take any number of frames.
#include "vantrel/vantrel.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <exception>
#include <memory>
#include <new>
#include <string>

#include <mpg123.h>
#include <sys/stat.h>

#include "VantrelVersion.h"
#include "arrange/Performances.h"
#include "decode/CachingClipSource.h"
#include "decode/PcmFormat.h"
#include "player/SongPlayer.h"
#include "song/SongDocument.h"

// The header's format macros are public ABI; they must say what the engine renders.
static_assert(VANTREL_SAMPLE_RATE == vantrel::pcm::kSampleRate, "VANTREL_SAMPLE_RATE is not the engine's rate");
static_assert(VANTREL_CHANNELS == vantrel::pcm::kChannels, "VANTREL_CHANNELS is not the engine's channel count");
static_assert(VANTREL_BYTES_PER_FRAME == vantrel::pcm::kBytesPerFrame,
              "VANTREL_BYTES_PER_FRAME is not the engine's frame size");

struct vantrel_song
{
    CSongPlayer player;
    uint64_t nFileSize = 0;
    std::string strDecoder;
    bool bCache = true;                   // clip-source "cache" (the default) or "direct"
    size_t nCacheBytes = CClipCache::kDefaultCapBytes; // cache-mb
    std::shared_ptr<CClipCache> pCache;   // made at prepare, for the decoder and cap then chosen
    bool bPrepared = false;
    int nPerformance = 0;
    int nArrangement = -1;
    char block[CSongPlayer::kBlockBytes] = {};
    size_t nBlockPos = 0; // bytes of `block` already handed out
    size_t nBlockLen = 0; // bytes of `block` that hold PCM
    bool bLastBlock = false; // the block in the buffer is the performance's last
    bool bFromStart = true;  // no percentage seek since the performance started
    int64_t nFrame = 0;      // frames handed out since the start (or the last seek)
};

namespace {

thread_local std::string t_strLastError;

int Fail(int code, const std::string& message = std::string())
{
    try {
        t_strLastError = message.empty() ? vantrel_strerror(code) : message;
    } catch (...) {
        t_strLastError.clear();
    }
    return code;
}

// Runs a call's body, turning what the engine throws into result codes.
template <class F> int Guard(F&& body)
{
    try {
        return body();
    } catch (const std::bad_alloc&) {
        return Fail(VANTREL_ERR_NO_MEMORY);
    } catch (const std::exception& e) {
        return Fail(VANTREL_ERR_INTERNAL, std::string("internal error: ") + e.what());
    } catch (...) {
        return Fail(VANTREL_ERR_INTERNAL);
    }
}

// Copies a text into a caller's buffer the way every getter does.
int CopyText(const std::string& text, char* buffer, size_t size, size_t* length)
{
    if (!buffer && size > 0)
        return Fail(VANTREL_ERR_INVALID_ARGUMENT, "a buffer size without a buffer");
    if (length)
        *length = text.size();
    if (size > 0) {
        const size_t n = std::min(text.size(), size - 1);
        std::memcpy(buffer, text.data(), n);
        buffer[n] = '\0';
    }
    return VANTREL_OK;
}

const CSong* SongOf(const vantrel_song* song) { return song->player.GetDocument().GetSong(); }

bool KnownDecoder(const std::string& name)
{
    if (name.empty())
        return true;
    for (const char** d = mpg123_supported_decoders(); d && *d; ++d)
        if (name == *d)
            return true;
    return false;
}

// The system's reason a path cannot be read as a song file, empty when it can. Only
// regular files are opened: a FIFO or a device would block or could not be read
// twice.
std::string WhyNotReadable(const char* path)
{
    struct stat st;
    if (::stat(path, &st) != 0)
        return std::strerror(errno);
    if ((st.st_mode & S_IFMT) == S_IFDIR)
        return std::strerror(EISDIR);
    if ((st.st_mode & S_IFMT) != S_IFREG)
        return "not a regular file";
    std::FILE* f = std::fopen(path, "rb");
    if (!f)
        return std::strerror(errno);
    std::fclose(f);
    return std::string();
}

int Open(CFileSource source, vantrel_song** out)
{
    auto song = std::make_unique<vantrel_song>();
    const std::string name = source.GetPath();
    if (!song->player.Open(std::move(source))) {
        const std::string& err = song->player.GetDocument().GetLastError();
        return Fail(VANTREL_ERR_BAD_FILE,
                    name + ": " + (err.empty() ? vantrel_strerror(VANTREL_ERR_BAD_FILE) : err));
    }
    const CFile& file = song->player.GetFile();
    if (!file.IsOpen())
        return Fail(VANTREL_ERR_CANNOT_OPEN, name + ": the file could not be opened again for its clips");
    song->nFileSize = static_cast<uint64_t>(file.GetLength());
    *out = song.release();
    return VANTREL_OK;
}

int64_t FrameOfMs(int64_t ms) { return vantrel::pcm::FramesOfMs(ms); }

// Fills up to `bytes` (a multiple of 4) from the performance; returns the bytes written.
size_t RenderInto(vantrel_song* song, char* out, size_t bytes)
{
    size_t done = 0;
    while (done < bytes) {
        if (song->nBlockPos == song->nBlockLen) {
            if (song->bLastBlock)
                break;
            const bool more = song->player.RenderBlock(song->block, CSongPlayer::kBlockBytes);
            song->nBlockPos = 0;
            song->nBlockLen = CSongPlayer::kBlockBytes;
            song->bLastBlock = !more;
        }
        const size_t n = std::min(bytes - done, song->nBlockLen - song->nBlockPos);
        if (out)
            std::memcpy(out + done, song->block + song->nBlockPos, n);
        song->nBlockPos += n;
        done += n;
    }
    song->nFrame += static_cast<int64_t>(done / VANTREL_BYTES_PER_FRAME);
    return done;
}

void StartAgain(vantrel_song* song)
{
    song->player.Restart();
    song->nBlockPos = song->nBlockLen = 0;
    song->bLastBlock = false;
    song->bFromStart = true;
    song->nFrame = 0;
}

int CheckPrepared(const vantrel_song* song)
{
    if (!song)
        return Fail(VANTREL_ERR_INVALID_ARGUMENT, "no song handle");
    if (!song->bPrepared)
        return Fail(VANTREL_ERR_NOT_PREPARED);
    return VANTREL_OK;
}

template <class T> void Put(T* p, T value)
{
    if (p)
        *p = value;
}

} // namespace

extern "C" {

const char* vantrel_get_version(void) { return VANTREL_VERSION_STRING; }

int vantrel_get_api_version(void) { return VANTREL_API_VERSION; }

const char* vantrel_strerror(int code)
{
    switch (code) {
    case VANTREL_OK: return "no error";
    case VANTREL_ERR_INVALID_ARGUMENT: return "invalid argument";
    case VANTREL_ERR_CANNOT_OPEN: return "the file cannot be opened";
    case VANTREL_ERR_BAD_FILE: return "File is not a VNF or is corrupted.";
    case VANTREL_ERR_NO_MEMORY: return "out of memory";
    case VANTREL_ERR_NOT_PREPARED: return "no performance is prepared";
    case VANTREL_ERR_NOTHING_TO_PLAY:
        return "the song has nothing that can be played (no arrangement lists a section "
               "with a variation of positive length)";
    case VANTREL_ERR_NO_SUCH_ARRANGEMENT: return "the song has no such arrangement";
    case VANTREL_ERR_ARRANGEMENT_NOT_DRAWN:
        return "no performance within 10000 of the one asked for chose the arrangement";
    case VANTREL_ERR_UNKNOWN_OPTION: return "unknown option";
    case VANTREL_ERR_BAD_OPTION_VALUE: return "invalid value for the option";
    case VANTREL_ERR_INTERNAL: return "internal error";
    default: return "unknown error";
    }
}

const char* vantrel_get_last_error(void) { return t_strLastError.c_str(); }

int vantrel_song_open_file(const char* path, vantrel_song** song)
{
    if (song)
        *song = nullptr;
    if (!path || !song)
        return Fail(VANTREL_ERR_INVALID_ARGUMENT, "open_file needs a path and a place for the handle");
    return Guard([&] {
        const std::string why = WhyNotReadable(path);
        if (!why.empty())
            return Fail(VANTREL_ERR_CANNOT_OPEN, std::string("cannot open ") + path + ": " + why);
        return Open(CFileSource(path), song);
    });
}

int vantrel_song_open_memory(const void* data, size_t size, vantrel_song** song)
{
    if (song)
        *song = nullptr;
    if (!data || !song || size == 0 || size > static_cast<size_t>(INT64_MAX))
        return Fail(VANTREL_ERR_INVALID_ARGUMENT, "open_memory needs data, a size of at least 1 "
                                                  "and a place for the handle");
    return Guard([&] {
        auto image = std::make_shared<const std::string>(static_cast<const char*>(data), size);
        return Open(CFileSource(std::move(image), "(memory)"), song);
    });
}

void vantrel_song_close(vantrel_song* song)
{
    try {
        if (song)
            song->player.Close();
    } catch (...) {
    }
    delete song;
}

int vantrel_song_set_option(vantrel_song* song, const char* name, const char* value)
{
    if (!song || !name || !value)
        return Fail(VANTREL_ERR_INVALID_ARGUMENT, "set_option needs a song, a name and a value");
    return Guard([&] {
        const std::string key = name;
        if (key == "decoder") {
            if (!KnownDecoder(value))
                return Fail(VANTREL_ERR_BAD_OPTION_VALUE,
                            std::string("the MPEG library has no decoder \"") + value + "\"");
            song->strDecoder = value;
            song->player.SetDecoderEngine(song->strDecoder);
            return VANTREL_OK;
        }
        if (key == "clip-source") {
            if (std::strcmp(value, "direct") != 0 && std::strcmp(value, "cache") != 0)
                return Fail(VANTREL_ERR_BAD_OPTION_VALUE,
                            std::string("unknown clip source \"") + value + "\"");
            song->bCache = std::strcmp(value, "cache") == 0;
            return VANTREL_OK;
        }
        if (key == "cache-mb") {
            char* end = nullptr;
            errno = 0;
            const unsigned long mb = std::strtoul(value, &end, 10);
            if (*value < '0' || *value > '9' || *end != '\0' || errno != 0 || mb > 65536)
                return Fail(VANTREL_ERR_BAD_OPTION_VALUE,
                            std::string("cache-mb takes a size in MiB from 0 to 65536, not \"") + value + "\"");
            song->nCacheBytes = static_cast<size_t>(mb) << 20;
            return VANTREL_OK;
        }
        return Fail(VANTREL_ERR_UNKNOWN_OPTION, "unknown option \"" + key + "\"");
    });
}

int vantrel_song_get_text(const vantrel_song* song, int which, char* buffer, size_t size,
                          size_t* length)
{
    if (!song)
        return Fail(VANTREL_ERR_INVALID_ARGUMENT, "no song handle");
    return Guard([&] {
        const CSong* s = SongOf(song);
        switch (which) {
        case VANTREL_TEXT_TITLE: return CopyText(s->GetTitle(), buffer, size, length);
        case VANTREL_TEXT_AUTHOR: return CopyText(s->GetAuthor(), buffer, size, length);
        case VANTREL_TEXT_PUBLISHER: return CopyText(s->GetPublisher(), buffer, size, length);
        case VANTREL_TEXT_GENRE: return CopyText(s->GetGenre(), buffer, size, length);
        case VANTREL_TEXT_COPYRIGHT: return CopyText(s->GetCopyright(), buffer, size, length);
        default: return Fail(VANTREL_ERR_INVALID_ARGUMENT, "no such text");
        }
    });
}

int vantrel_song_get_file_size(const vantrel_song* song, uint64_t* size)
{
    if (!song || !size)
        return Fail(VANTREL_ERR_INVALID_ARGUMENT);
    *size = song->nFileSize;
    return VANTREL_OK;
}

int vantrel_song_get_counts(const vantrel_song* song, int* arrangements, int* sections, int* clips)
{
    if (!song)
        return Fail(VANTREL_ERR_INVALID_ARGUMENT, "no song handle");
    const CSong* s = SongOf(song);
    Put(arrangements, static_cast<int>(s->GetArrangements().size()));
    Put(sections, s->GetSectionCount());
    Put(clips, s->GetClipCount());
    return VANTREL_OK;
}

int vantrel_song_get_arrangement(const vantrel_song* song, int index, char* name, size_t size,
                                 size_t* length, int* section_count)
{
    if (!song)
        return Fail(VANTREL_ERR_INVALID_ARGUMENT, "no song handle");
    const auto& list = SongOf(song)->GetArrangements();
    if (index < 0 || static_cast<size_t>(index) >= list.size())
        return Fail(VANTREL_ERR_INVALID_ARGUMENT, "no such arrangement");
    const CArrangement* a = list[static_cast<size_t>(index)].get();
    return Guard([&] {
        const int r = CopyText(a->GetName(), name, size, length);
        if (r == VANTREL_OK)
            Put(section_count, static_cast<int>(a->GetSections().size()));
        return r;
    });
}

int vantrel_song_get_arrangement_section(const vantrel_song* song, int arrangement, int position,
                                         int* section)
{
    if (!song || !section)
        return Fail(VANTREL_ERR_INVALID_ARGUMENT);
    const CSong* s = SongOf(song);
    const auto& list = s->GetArrangements();
    if (arrangement < 0 || static_cast<size_t>(arrangement) >= list.size())
        return Fail(VANTREL_ERR_INVALID_ARGUMENT, "no such arrangement");
    const auto& refs = list[static_cast<size_t>(arrangement)]->GetSections();
    if (position < 0 || static_cast<size_t>(position) >= refs.size())
        return Fail(VANTREL_ERR_INVALID_ARGUMENT, "no such position in the arrangement");
    const int index = vantrel::SectionIndex(*s, refs[static_cast<size_t>(position)]);
    if (index < 0)
        return Fail(VANTREL_ERR_INTERNAL, "the arrangement lists a section outside the song");
    *section = index;
    return VANTREL_OK;
}

int vantrel_song_get_section(const vantrel_song* song, int index, char* name, size_t size,
                             size_t* length, int* variation_count)
{
    if (!song)
        return Fail(VANTREL_ERR_INVALID_ARGUMENT, "no song handle");
    const CSong* s = SongOf(song);
    if (index < 0 || index >= s->GetSectionCount())
        return Fail(VANTREL_ERR_INVALID_ARGUMENT, "no such section");
    const CSection* section = s->GetSection(index);
    return Guard([&] {
        const int r = CopyText(section->GetName(), name, size, length);
        if (r == VANTREL_OK)
            Put(variation_count, static_cast<int>(section->GetVariations().size()));
        return r;
    });
}

int vantrel_song_get_variation(const vantrel_song* song, int section, int variation, char* name,
                               size_t size, size_t* length, int32_t* length_ms, int* track_count)
{
    if (!song)
        return Fail(VANTREL_ERR_INVALID_ARGUMENT, "no song handle");
    const CSong* s = SongOf(song);
    if (section < 0 || section >= s->GetSectionCount())
        return Fail(VANTREL_ERR_INVALID_ARGUMENT, "no such section");
    const auto& variations = s->GetSection(section)->GetVariations();
    if (variation < 0 || static_cast<size_t>(variation) >= variations.size())
        return Fail(VANTREL_ERR_INVALID_ARGUMENT, "no such variation");
    const CVariation* v = variations[static_cast<size_t>(variation)].get();
    return Guard([&] {
        const int r = CopyText(v->GetName(), name, size, length);
        if (r == VANTREL_OK) {
            Put(length_ms, v->GetLengthMs());
            Put(track_count, static_cast<int>(v->GetTracks().size()));
        }
        return r;
    });
}

int vantrel_song_get_clip(const vantrel_song* song, int index, int* kind, int32_t* data_size)
{
    if (!song)
        return Fail(VANTREL_ERR_INVALID_ARGUMENT, "no song handle");
    const CSong* s = SongOf(song);
    if (index < 0 || index >= s->GetClipCount())
        return Fail(VANTREL_ERR_INVALID_ARGUMENT, "no such clip");
    const CClip* clip = s->GetClip(index);
    const bool data = clip && (clip->m_nKind == VANTREL_CLIP_OTHER || clip->m_nKind == VANTREL_CLIP_MP3);
    Put(kind, data ? static_cast<int>(clip->m_nKind) : VANTREL_CLIP_NO_DATA);
    Put(data_size, data ? clip->m_nDataSize : 0);
    return VANTREL_OK;
}

int vantrel_song_prepare_index(vantrel_song* song, int performance, int arrangement)
{
    if (!song)
        return Fail(VANTREL_ERR_INVALID_ARGUMENT, "no song handle");
    if (performance < 1)
        return Fail(VANTREL_ERR_INVALID_ARGUMENT, "performances count from 1");
    if (arrangement < -1 || arrangement >= static_cast<int>(SongOf(song)->GetArrangements().size()))
        return Fail(VANTREL_ERR_NO_SUCH_ARRANGEMENT);
    return Guard([&] {
        song->bPrepared = false;
        if (song->bCache) {
            if (!song->pCache || song->pCache->Engine() != song->strDecoder ||
                song->pCache->CapBytes() != song->nCacheBytes)
                song->pCache = std::make_shared<CClipCache>(song->nCacheBytes, song->strDecoder);
            std::shared_ptr<CClipCache> pCache = song->pCache;
            song->player.SetClipSourceFactory([pCache] { return std::make_unique<CCachingClipSource>(pCache); });
        } else {
            song->player.SetClipSourceFactory(nullptr);
        }
        const int reached = song->player.PreparePerformance(performance, arrangement);
        StartAgain(song);
        if (reached < 0 || song->player.GetLength() < 0) {
            // A song that arranges at all keeps its last draw's sequence.
            if (arrangement >= 0 && reached < 0 && song->player.GetDocument().GetSequenceLength() > 0)
                return Fail(VANTREL_ERR_ARRANGEMENT_NOT_DRAWN);
            return Fail(VANTREL_ERR_NOTHING_TO_PLAY);
        }
        song->bPrepared = true;
        song->nPerformance = reached;
        song->nArrangement = vantrel::ChosenArrangementIndex(song->player.GetDocument());
        return VANTREL_OK;
    });
}

int vantrel_song_prepare(vantrel_song* song, int performance, const char* arrangement)
{
    if (!song)
        return Fail(VANTREL_ERR_INVALID_ARGUMENT, "no song handle");
    if (!arrangement)
        return vantrel_song_prepare_index(song, performance, -1);
    return Guard([&] {
        const int index = vantrel::FindArrangementIndex(*SongOf(song), arrangement);
        if (index < 0)
            return Fail(VANTREL_ERR_NO_SUCH_ARRANGEMENT,
                        std::string("the song has no arrangement named \"") + arrangement + "\"");
        return vantrel_song_prepare_index(song, performance, index);
    });
}

int vantrel_song_get_performance(const vantrel_song* song, int* performance, int* arrangement,
                                 int32_t* length_ms, int* entry_count)
{
    if (const int r = CheckPrepared(song))
        return r;
    Put(performance, song->nPerformance);
    Put(arrangement, song->nArrangement);
    Put(length_ms, static_cast<int32_t>(song->player.GetLength()));
    Put(entry_count, static_cast<int>(song->player.GetDocument().GetSequenceLength()));
    return VANTREL_OK;
}

int vantrel_song_get_entry(const vantrel_song* song, int index, int* section, int* variation,
                           int32_t* start_ms, int32_t* length_ms)
{
    if (const int r = CheckPrepared(song))
        return r;
    return Guard([&] {
        const std::vector<vantrel::CPerformanceEntry> entries = vantrel::PerformanceEntries(song->player.GetDocument());
        if (index < 0 || static_cast<size_t>(index) >= entries.size())
            return Fail(VANTREL_ERR_INVALID_ARGUMENT, "no such entry");
        const vantrel::CPerformanceEntry& entry = entries[static_cast<size_t>(index)];
        Put(section, entry.nSection);
        Put(variation, entry.nVariation);
        Put(start_ms, static_cast<int32_t>(entry.nStartMs));
        Put(length_ms, entry.nLengthMs);
        return VANTREL_OK;
    });
}

long vantrel_song_render_bytes(vantrel_song* song, void* buffer, size_t bytes)
{
    if (const int r = CheckPrepared(song))
        return r;
    if (bytes == 0)
        return 0;
    if (!buffer)
        return Fail(VANTREL_ERR_INVALID_ARGUMENT, "render needs a buffer");
    if (bytes % VANTREL_BYTES_PER_FRAME != 0)
        return Fail(VANTREL_ERR_INVALID_ARGUMENT, "render takes whole frames of 4 bytes");
    if (bytes / VANTREL_BYTES_PER_FRAME > VANTREL_MAX_RENDER_FRAMES)
        return Fail(VANTREL_ERR_INVALID_ARGUMENT, "more frames than one render call takes");
    long written = 0;
    const int r = Guard([&] {
        written = static_cast<long>(RenderInto(song, static_cast<char*>(buffer), bytes));
        return VANTREL_OK;
    });
    return r != VANTREL_OK ? r : written;
}

long vantrel_song_render(vantrel_song* song, int16_t* frames, size_t count)
{
    if (const int r = CheckPrepared(song))
        return r;
    if (count > VANTREL_MAX_RENDER_FRAMES)
        return Fail(VANTREL_ERR_INVALID_ARGUMENT, "more frames than one render call takes");
    const long bytes = vantrel_song_render_bytes(song, frames, count * VANTREL_BYTES_PER_FRAME);
    return bytes < 0 ? bytes : bytes / VANTREL_BYTES_PER_FRAME;
}

int vantrel_song_at_end(const vantrel_song* song)
{
    if (const int r = CheckPrepared(song))
        return r;
    return song->bLastBlock && song->nBlockPos == song->nBlockLen ? 1 : 0;
}

int vantrel_song_seek_percent(vantrel_song* song, int percent, int32_t* start_ms)
{
    if (const int r = CheckPrepared(song))
        return r;
    if (percent < 0 || percent > 100)
        return Fail(VANTREL_ERR_INVALID_ARGUMENT, "a percentage is 0 to 100");
    return Guard([&] {
        const int start = song->player.Seek(static_cast<int16_t>(percent));
        song->nBlockPos = song->nBlockLen = 0;
        song->bLastBlock = false;
        song->bFromStart = false;
        song->nFrame = FrameOfMs(start);
        Put(start_ms, static_cast<int32_t>(start));
        return VANTREL_OK;
    });
}

int vantrel_song_seek_frame(vantrel_song* song, int64_t frame)
{
    if (const int r = CheckPrepared(song))
        return r;
    if (frame < 0)
        return Fail(VANTREL_ERR_INVALID_ARGUMENT, "a frame is 0 or more");
    return Guard([&] {
        constexpr int64_t kBlockFrames = vantrel::pcm::kBlockFrames;
        // Within the block at hand (as after a render that stopped inside it): no
        // rendering at all.
        const int64_t blockStart = song->nFrame - static_cast<int64_t>(song->nBlockPos / VANTREL_BYTES_PER_FRAME);
        if (song->bFromStart && song->nBlockLen > 0 && frame >= blockStart &&
            frame - blockStart < static_cast<int64_t>(song->nBlockLen / VANTREL_BYTES_PER_FRAME)) {
            song->nBlockPos = static_cast<size_t>(frame - blockStart) * VANTREL_BYTES_PER_FRAME;
            song->nFrame = frame;
            return VANTREL_OK;
        }
        const int64_t block = std::min<int64_t>(frame / kBlockFrames, INT32_MAX);
        int32_t blocks = -1;
        song->bFromStart = true;
        song->nBlockPos = song->nBlockLen = 0;
        if (!song->player.SeekBlock(static_cast<int32_t>(block), &blocks)) {
            // Past the end: nothing is left to render.
            song->bLastBlock = true;
            song->nFrame = static_cast<int64_t>(blocks) * kBlockFrames;
            return VANTREL_OK;
        }
        song->bLastBlock = false;
        song->nFrame = block * kBlockFrames;
        RenderInto(song, nullptr, static_cast<size_t>(frame - song->nFrame) * VANTREL_BYTES_PER_FRAME);
        return VANTREL_OK;
    });
}

int vantrel_song_seek_ms(vantrel_song* song, int64_t ms)
{
    if (const int r = CheckPrepared(song))
        return r;
    if (ms < 0)
        return Fail(VANTREL_ERR_INVALID_ARGUMENT, "a time is 0 ms or more");
    return vantrel_song_seek_frame(song, FrameOfMs(std::min<int64_t>(ms, INT32_MAX)));
}

int vantrel_song_tell(const vantrel_song* song, int64_t* frame)
{
    if (const int r = CheckPrepared(song))
        return r;
    if (!frame)
        return Fail(VANTREL_ERR_INVALID_ARGUMENT);
    *frame = song->nFrame;
    return VANTREL_OK;
}

} // extern "C"
