// vantrel render SONG [-o OUT] [--raw] [--performance N|random] [--arrangement NAME]
//                [--start TIME] [--duration TIME]
//                [--seek PERCENT@BLOCK]... [--decoder NAME] [--no-cache] [--cache-mb MB]
// vantrel render SONG... [-o FOLDER] [--output-pattern P] [--format EXT]
//                [--performances 1-20] [--jobs N]
// Renders one performance of a song to an audio file (WAV, FLAC, Ogg Vorbis, Opus or
// MP3 by the output name's extension, the song's texts as its tags) or bare PCM, block
// by block, as the plug-in's decode thread would; or an excerpt of it (--start,
// --duration), which holds the very samples the whole render has there. Several songs or performances are
// rendered in parallel, one file each. Each stretch of clip data is decoded once and
// replayed from memory (the same PCM as decoding it every time) unless --no-cache.
#include <algorithm>
#include <atomic>
#include <cctype>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "Commands.h"
#include "Output.h"
#include "PerformanceChoice.h"
#include "TimeText.h"
#include "arrange/Random.h"
#include "decode/CachingClipSource.h"
#include "decode/PcmFormat.h"
#include "player/SongPlayer.h"

namespace vantrel::tool {

namespace {

struct SeekRequest
{
    int nPercent = 0;
    long nBlock = 0;
};

struct RenderOptions
{
    std::vector<std::string> arrSongs;
    std::string strOut;
    std::string strPattern;
    std::string strFormat = "wav";
    std::string strPerformances;
    int nJobs = 1;
    bool bRaw = false;
    PerformanceChoice performance;
    std::vector<std::string> arrSeeks;
    std::string strStart;
    std::string strDuration;
    int64_t nStartMs = 0;     // from strStart
    int64_t nDurationMs = -1; // from strDuration; -1: to the end
    std::string strDecoder;
    bool bNoCache = false;
    long nCacheMb = 256;
};

SeekRequest ParseSeek(const std::string& text)
{
    const size_t at = text.find('@');
    SeekRequest r;
    try {
        if (at == std::string::npos)
            throw std::invalid_argument(text);
        size_t used = 0;
        r.nPercent = std::stoi(text.substr(0, at), &used);
        if (used != at)
            throw std::invalid_argument(text);
        const std::string block = text.substr(at + 1);
        r.nBlock = std::stol(block, &used);
        if (used != block.size() || r.nBlock < 0)
            throw std::invalid_argument(text);
    } catch (const std::exception&) {
        throw CommandError("--seek takes PERCENT@BLOCK (for example 50@100), not \"" + text + "\"");
    }
    return r;
}

bool IsExcerpt(const RenderOptions& opt) { return !opt.strStart.empty() || !opt.strDuration.empty(); }

// The excerpt's place in the performance, for the tags.
std::string ExcerptText(const RenderOptions& opt)
{
    if (!IsExcerpt(opt))
        return std::string();
    return "Excerpt from " + FormatTime(opt.nStartMs) +
           (opt.nDurationMs >= 0 ? " for " + FormatTime(opt.nDurationMs) : " to the end");
}

SOutputTags TagsOf(const CSongDocument& doc, int performance)
{
    SOutputTags tags;
    if (const CSong* song = doc.GetSong()) {
        tags.strTitle = song->GetTitle();
        tags.strArtist = song->GetAuthor();
        tags.strPublisher = song->GetPublisher();
        tags.strGenre = song->GetGenre();
        tags.strCopyright = song->GetCopyright();
    }
    tags.nPerformance = performance;
    return tags;
}

std::vector<SeekRequest> ParseSeeks(const std::vector<std::string>& texts)
{
    std::vector<SeekRequest> seeks;
    for (const std::string& s : texts) {
        seeks.push_back(ParseSeek(s));
        if (seeks.size() > 1 && seeks.back().nBlock < seeks[seeks.size() - 2].nBlock)
            throw CommandError("--seek requests must be given in ascending order of BLOCK");
    }
    return seeks;
}

// One output file: performance nPerformance of a song.
struct SRenderJob
{
    std::string strSong;
    int nPerformance = 1;
    std::string strOut;
};

// Reports the work of one render as it goes: the audio rendered so far and the length.
using RenderProgress = std::function<void(double doneMs, double totalMs)>;

// Renders one job on the calling thread and returns the number of frames written. The
// thread's generator starts from its start state and draws the earlier performances
// first, as a fresh process does, so performance N is the same whichever thread renders
// it. `printSeeks` reports each seek and where it lands.
int64_t RenderJob(const SRenderJob& job, const RenderOptions& opt, EOutputFormat format,
                  const std::vector<SeekRequest>& seeks, const std::shared_ptr<CClipCache>& pCache,
                  bool printSeeks, const RenderProgress& progress)
{
    constexpr int64_t kBlockFrames = pcm::kBlockFrames;
    constexpr int kFrameBytes = pcm::kBytesPerFrame;
    SetRandomState(1);
    CSongPlayer player(opt.strDecoder);
    if (pCache)
        player.SetClipSourceFactory([pCache] { return std::make_unique<CCachingClipSource>(pCache); });
    // The plays before it only advance the random draws.
    PrepareGeneratorFor(job.strSong, job.nPerformance);
    if (!player.Open(job.strSong)) {
        const std::string& err = player.GetDocument().GetLastError();
        throw CommandError(job.strSong + ": " + (err.empty() ? "cannot open the file" : err));
    }
    player.Prepare();
    if (player.GetLength() < 0)
        throw CommandError(job.strSong + ": the song has nothing that can be played (no arrangement "
                           "lists a section with a variation of positive length)");

    // An excerpt starts at frame floor(start x 44.1) of the performance: the exact seek
    // puts the player at its block, before any output file is made.
    const int64_t startFrame = pcm::FramesOfMs(opt.nStartMs);
    int64_t framesLeft = opt.nDurationMs >= 0 ? pcm::FramesOfMs(opt.nDurationMs) : INT64_MAX;
    if (startFrame > 0 &&
        (startFrame / kBlockFrames > INT32_MAX ||
         !player.SeekBlock(static_cast<int32_t>(startFrame / kBlockFrames))))
        throw CommandError(job.strSong + ": --start " + FormatTime(opt.nStartMs) + " is past the end of performance " +
                           std::to_string(job.nPerformance) + " (" + FormatTime(player.GetLength()) + ")");
    size_t skipBytes = static_cast<size_t>(startFrame % kBlockFrames) * kFrameBytes;

    SOutputTags tags = TagsOf(player.GetDocument(), job.nPerformance);
    tags.strExcerpt = ExcerptText(opt);
    auto sink = OpenPcmSink(job.strOut, format, tags);
    const double totalMs = std::max(0.0, std::min<double>(player.GetLength() - static_cast<double>(opt.nStartMs),
                                                          opt.nDurationMs >= 0 ? opt.nDurationMs : 1e300));

    std::vector<char> block(CSongPlayer::kBlockBytes);
    size_t nextSeek = 0;
    long calls = 0;
    int64_t written = 0;
    double renderedMs = 0;
    auto seek = [&] {
        const int start = player.Seek(static_cast<int16_t>(seeks[nextSeek].nPercent));
        if (printSeeks)
            std::fprintf(stderr, "seek %d -> %d\n", seeks[nextSeek].nPercent, start);
        ++nextSeek;
    };
    for (;;) {
        if (nextSeek < seeks.size() && seeks[nextSeek].nBlock == calls)
            seek();
        const bool more = player.RenderBlock(block.data(), CSongPlayer::kBlockBytes);
        ++calls;
        const int64_t frames = std::min<int64_t>(kBlockFrames - static_cast<int64_t>(skipBytes / kFrameBytes), framesLeft);
        sink->Write(block.data() + skipBytes, static_cast<size_t>(frames) * kFrameBytes);
        skipBytes = 0;
        written += frames;
        framesLeft -= frames;
        renderedMs += static_cast<double>(frames) * 1000 / pcm::kSampleRate;
        if (progress)
            progress(renderedMs, totalMs);
        if (framesLeft == 0)
            break;
        if (!more) {
            // The host seeks while its output drains: the next seek applies at once.
            if (nextSeek < seeks.size()) {
                seek();
                continue;
            }
            break;
        }
    }
    player.Close();
    sink->Finish();
    return written;
}

std::shared_ptr<CClipCache> MakeCache(const RenderOptions& opt, int share)
{
    if (opt.bNoCache)
        return nullptr;
    return std::make_shared<CClipCache>((static_cast<size_t>(opt.nCacheMb) << 20) / static_cast<size_t>(share),
                                        opt.strDecoder);
}

void RunSingleRender(const RenderOptions& opt, const std::vector<SeekRequest>& seeks)
{
    SRenderJob job;
    job.strSong = opt.arrSongs.front();
    job.nPerformance = ResolvePerformance(job.strSong, opt.performance);
    job.strOut = opt.strOut.empty() ? DefaultOutputName(job.strSong, opt.bRaw ? ".wav" : "." + opt.strFormat)
                                    : opt.strOut;
    // The format comes from the name (--raw: bare PCM under any name); an unknown
    // extension is refused rather than given a file that its name misdescribes.
    const EOutputFormat format = opt.bRaw ? EOutputFormat::Raw : OutputFormatForName(job.strOut);

    std::unique_ptr<CProgress> progress;
    const int64_t frames = RenderJob(job, opt, format, seeks, MakeCache(opt, 1), true, [&](double doneMs, double totalMs) {
        if (!progress)
            progress = std::make_unique<CProgress>(totalMs);
        progress->Update(doneMs);
    });
    if (progress)
        progress->Done();
    if (job.strOut != "-" && IsExcerpt(opt))
        std::fprintf(stderr, "wrote %s (%.3f s from %s)\n", job.strOut.c_str(),
                     static_cast<double>(frames) / pcm::kSampleRate, FormatTime(opt.nStartMs).c_str());
    else if (job.strOut != "-")
        std::fprintf(stderr, "wrote %s (%lld blocks, %.3f s)\n", job.strOut.c_str(),
                     static_cast<long long>(frames / pcm::kBlockFrames), static_cast<double>(frames) / pcm::kSampleRate);
}

// "1-20", "5", "1-3,7,10-12": the performance numbers, in order, each once.
std::vector<int> ParsePerformances(const std::string& text)
{
    constexpr long kMost = 100000;
    std::vector<int> numbers;
    std::set<int> seen;
    auto bad = [&text](const std::string& why) {
        return CommandError("--performances takes numbers and ranges such as 1-20 or 1-3,7 (from 1), not \"" +
                            text + "\"" + (why.empty() ? "" : ": " + why));
    };
    size_t at = 0;
    while (at <= text.size()) {
        size_t comma = text.find(',', at);
        if (comma == std::string::npos)
            comma = text.size();
        const std::string part = text.substr(at, comma - at);
        const size_t dash = part.find('-');
        long lo = 0, hi = 0;
        try {
            size_t used = 0;
            const std::string first = part.substr(0, dash);
            lo = std::stol(first, &used);
            if (used != first.size() || first.empty() || !std::isdigit(static_cast<unsigned char>(first[0])))
                throw bad("");
            hi = lo;
            if (dash != std::string::npos) {
                const std::string second = part.substr(dash + 1);
                hi = std::stol(second, &used);
                if (used != second.size() || second.empty() || !std::isdigit(static_cast<unsigned char>(second[0])))
                    throw bad("");
            }
        } catch (const CommandError&) {
            throw;
        } catch (const std::exception&) {
            throw bad("");
        }
        if (lo < 1 || hi < lo)
            throw bad(lo < 1 ? "performances count from 1" : "a range goes upwards");
        if (hi > kMost || static_cast<long>(numbers.size()) + (hi - lo) >= kMost)
            throw bad("at most " + std::to_string(kMost) + " performances");
        for (long n = lo; n <= hi; ++n)
            if (seen.insert(static_cast<int>(n)).second)
                numbers.push_back(static_cast<int>(n));
        at = comma + 1;
    }
    return numbers;
}

const char* const kPlaceholders = "{name}, {performance}, {ext}";

// Refuses a placeholder the pattern does not know, and an empty pattern.
void CheckPattern(const std::string& pattern)
{
    if (pattern.empty())
        throw CommandError("--output-pattern is empty");
    for (size_t at = pattern.find('{'); at != std::string::npos; at = pattern.find('{', at + 1)) {
        const size_t end = pattern.find('}', at);
        const std::string field = end == std::string::npos ? pattern.substr(at) : pattern.substr(at, end - at + 1);
        if (field != "{name}" && field != "{performance}" && field != "{ext}")
            throw CommandError("--output-pattern: unknown field \"" + field + "\" (known: " + kPlaceholders + ")");
    }
}

// The song's file name without its folder and extension.
std::string SongName(const std::string& song)
{
    const std::filesystem::path p(song);
    std::string stem = p.stem().string();
    return stem.empty() ? p.filename().string() : stem;
}

std::string FolderOf(const std::string& song) { return std::filesystem::path(song).parent_path().string(); }

std::string ExpandPattern(const std::string& pattern, const std::string& song, int performance, const char* ext)
{
    std::string out;
    for (size_t i = 0; i < pattern.size();) {
        if (pattern.compare(i, 6, "{name}") == 0) {
            out += SongName(song);
            i += 6;
        } else if (pattern.compare(i, 13, "{performance}") == 0) {
            out += std::to_string(performance);
            i += 13;
        } else if (pattern.compare(i, 5, "{ext}") == 0) {
            out += ext;
            i += 5;
        } else {
            out += pattern[i++];
        }
    }
    return out;
}

// The same file reached by two names counts as one (a folder given twice, ./x and x).
std::string FileIdentity(const std::string& path)
{
    std::error_code ec;
    const std::filesystem::path p = std::filesystem::weakly_canonical(path, ec);
    return ec ? path : p.string();
}

// Two renders into one file would leave only the later one, and an output over a song
// would destroy it: both are refused before anything is rendered.
void CheckDistinctOutputs(const std::vector<SRenderJob>& jobs, const std::vector<std::string>& songs)
{
    std::map<std::string, const SRenderJob*> outputs;
    for (const SRenderJob& job : jobs) {
        const auto [it, fresh] = outputs.emplace(FileIdentity(job.strOut), &job);
        if (!fresh)
            throw CommandError("output names clash: " + it->second->strSong + " performance " +
                               std::to_string(it->second->nPerformance) + " and " + job.strSong +
                               " performance " + std::to_string(job.nPerformance) + " would both write " +
                               job.strOut + " (put {name} and {performance} in --output-pattern)");
    }
    for (const std::string& song : songs) {
        const auto it = outputs.find(FileIdentity(song));
        if (it != outputs.end())
            throw CommandError("output names clash: " + it->second->strOut + " is the song " + song +
                               " itself");
    }
}

std::string Clock(double seconds)
{
    const long s = static_cast<long>(seconds + 0.5);
    char text[32];
    if (s >= 3600)
        std::snprintf(text, sizeof text, "%ld:%02ld:%02ld", s / 3600, s / 60 % 60, s % 60);
    else
        std::snprintf(text, sizeof text, "%ld:%02ld", s / 60, s % 60);
    return text;
}

// The batch's shared account: what is done, and each worker's render in progress.
struct SBatchState
{
    struct SSlot
    {
        std::atomic<double> fDoneMs{0};
        std::atomic<double> fTotalMs{0};
    };
    explicit SBatchState(size_t workers) : arrSlots(workers) {}

    std::atomic<size_t> nNext{0};
    std::atomic<int> nDone{0};
    std::atomic<int> nFailed{0};
    std::atomic<double> fAudioMs{0}; // of finished renders
    std::vector<SSlot> arrSlots;
    std::mutex mutex; // standard error, arrFailures, bFinished
    std::condition_variable wake;
    bool bFinished = false;
    std::vector<std::string> arrFailures;
};

void AddAtomic(std::atomic<double>& a, double v)
{
    double old = a.load();
    while (!a.compare_exchange_weak(old, old + v)) {
    }
}

// Renders the jobs on opt.nJobs threads, each with a clip cache of its own (the cap is
// shared out between them). One line of progress on a terminal; each failure is told
// with the song's name as it happens, and the others go on.
void RunBatch(const std::vector<SRenderJob>& jobs, const std::vector<EOutputFormat>& formats,
              const RenderOptions& opt)
{
    const size_t workers = std::min(jobs.size(), static_cast<size_t>(opt.nJobs));
    SBatchState state(workers);
    const bool tty = StderrIsTerminal();
    const auto started = std::chrono::steady_clock::now();
    auto elapsed = [&] {
        return std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    };

    auto work = [&](size_t slot) {
        const std::shared_ptr<CClipCache> pCache = MakeCache(opt, static_cast<int>(workers));
        SBatchState::SSlot& mine = state.arrSlots[slot];
        for (size_t i; (i = state.nNext.fetch_add(1)) < jobs.size();) {
            const SRenderJob& job = jobs[i];
            try {
                RenderJob(job, opt, formats[i], {}, pCache, false, [&mine](double doneMs, double totalMs) {
                    mine.fTotalMs.store(totalMs);
                    mine.fDoneMs.store(doneMs);
                });
                AddAtomic(state.fAudioMs, mine.fDoneMs.load());
            } catch (const std::exception& e) {
                std::string what = e.what();
                // The song's name leads the message once.
                if (what.compare(0, job.strSong.size(), job.strSong) != 0)
                    what = job.strSong + ": " + what;
                const std::string line = what + " (performance " + std::to_string(job.nPerformance) + ")";
                std::lock_guard<std::mutex> lock(state.mutex);
                std::fprintf(stderr, "%svantrel: %s\n", tty ? "\r\033[K" : "", line.c_str());
                state.arrFailures.push_back(line);
                state.nFailed.fetch_add(1);
            }
            mine.fDoneMs.store(0);
            mine.fTotalMs.store(0);
            state.nDone.fetch_add(1);
        }
    };

    std::vector<std::thread> threads;
    for (size_t w = 0; w < workers; ++w)
        threads.emplace_back(work, w);

    auto line = [&] {
        double audioMs = state.fAudioMs.load();
        double fraction = state.nDone.load();
        for (const SBatchState::SSlot& s : state.arrSlots) {
            const double total = s.fTotalMs.load(), done = s.fDoneMs.load();
            audioMs += done;
            if (total > 0)
                fraction += std::min(1.0, done / total);
        }
        fraction /= static_cast<double>(jobs.size());
        const double secs = elapsed();
        std::string left = "--:--";
        if (fraction > 0.001)
            left = Clock(secs * (1 - fraction) / fraction);
        std::fprintf(stderr, "\r\033[K%d/%zu files  %s of audio  %.0fx realtime  %s left", state.nDone.load(),
                     jobs.size(), Clock(audioMs / 1000).c_str(), secs > 0 ? audioMs / 1000 / secs : 0.0,
                     left.c_str());
        std::fflush(stderr);
    };
    if (tty) {
        std::unique_lock<std::mutex> lock(state.mutex);
        while (state.nDone.load() < static_cast<int>(jobs.size())) {
            line();
            state.wake.wait_for(lock, std::chrono::milliseconds(250));
        }
        std::fputs("\r\033[K", stderr);
    }
    for (std::thread& t : threads)
        t.join();

    const double secs = elapsed();
    const double audioSecs = state.fAudioMs.load() / 1000;
    const int failed = state.nFailed.load();
    std::fprintf(stderr, "rendered %zu of %zu files (%s of audio) in %.1f s, %.0fx realtime, %zu jobs\n",
                 jobs.size() - static_cast<size_t>(failed), jobs.size(), Clock(audioSecs).c_str(), secs,
                 secs > 0 ? audioSecs / secs : 0.0, workers);
    if (failed > 0) {
        for (const std::string& f : state.arrFailures)
            std::fprintf(stderr, "  failed: %s\n", f.c_str());
        throw CommandError(std::to_string(failed) + " of " + std::to_string(jobs.size()) + " renders failed");
    }
}

bool IsFolder(const std::string& path)
{
    std::error_code ec;
    return std::filesystem::is_directory(path, ec);
}

bool IsBatch(const RenderOptions& opt)
{
    return opt.arrSongs.size() > 1 || !opt.strPerformances.empty() || !opt.strPattern.empty() ||
           (!opt.strOut.empty() && opt.strOut != "-" && IsFolder(opt.strOut));
}

// Reads --start and --duration into milliseconds.
void ParseExcerpt(RenderOptions& opt)
{
    const char* const form = " takes a time as seconds (90, 12.5) or as m:ss.mmm (1:30, 1:30.250), not \"";
    if (!opt.strStart.empty() && !ParseTime(opt.strStart, opt.nStartMs))
        throw CommandError("--start" + (form + opt.strStart) + "\"");
    if (!opt.strDuration.empty()) {
        if (!ParseTime(opt.strDuration, opt.nDurationMs))
            throw CommandError("--duration" + (form + opt.strDuration) + "\"");
        if (pcm::FramesOfMs(opt.nDurationMs) == 0)
            throw CommandError("--duration " + opt.strDuration + " is shorter than one frame");
    }
    if (IsExcerpt(opt) && !opt.arrSeeks.empty())
        throw CommandError("--seek plays the media player's seek from the start; it does not go with --start "
                           "or --duration");
}

void RunRender(RenderOptions opt)
{
    ParseExcerpt(opt);
    const std::vector<SeekRequest> seeks = ParseSeeks(opt.arrSeeks);
    if (opt.nCacheMb < 0)
        throw CommandError("--cache-mb takes a size in MiB of 0 or more");
    if (!IsBatch(opt)) {
        RunSingleRender(opt, seeks);
        return;
    }
    if (!seeks.empty())
        throw CommandError("--seek applies to the render of one performance of one song, not to a batch");
    if (!opt.strOut.empty() && !IsFolder(opt.strOut))
        throw CommandError("-o " + opt.strOut + ": with several songs or performances, -o names a folder "
                           "(which must exist); name the files with --output-pattern");
    if (opt.nJobs < 1)
        throw CommandError("--jobs takes 1 or more");
    std::vector<int> performances;
    if (!opt.strPerformances.empty()) {
        if (opt.performance.Given())
            throw CommandError("give either --performances or --performance/--arrangement, not both");
        performances = ParsePerformances(opt.strPerformances);
    }
    const std::string pattern = opt.strPattern.empty() ? "{name}-{performance}.{ext}" : opt.strPattern;
    CheckPattern(pattern);
    const char* ext = opt.bRaw ? OutputFormatExtension(EOutputFormat::Raw) : opt.strFormat.c_str();
    if (!opt.bRaw)
        OutputFormatForName(std::string("x.") + ext); // refuses an unknown --format

    std::vector<SRenderJob> jobs;
    for (const std::string& song : opt.arrSongs) {
        // Without --performances: the one that --performance and --arrangement name, per song.
        const std::vector<int> numbers =
            opt.strPerformances.empty() ? std::vector<int>{ResolvePerformance(song, opt.performance)} : performances;
        for (int n : numbers) {
            SRenderJob job;
            job.strSong = song;
            job.nPerformance = n;
            const std::string name = ExpandPattern(pattern, song, n, ext);
            const std::string folder = opt.strOut.empty() ? FolderOf(song) : opt.strOut;
            job.strOut = folder.empty() ? name : (std::filesystem::path(folder) / name).string();
            jobs.push_back(job);
        }
    }
    CheckDistinctOutputs(jobs, opt.arrSongs);
    std::vector<EOutputFormat> formats;
    for (const SRenderJob& job : jobs)
        formats.push_back(opt.bRaw ? EOutputFormat::Raw : OutputFormatForName(job.strOut));

    RunBatch(jobs, formats, opt);
}
} // namespace

void AddRenderCommand(CLI::App& app)
{
    auto opt = std::make_shared<RenderOptions>();
    const unsigned cores = std::thread::hardware_concurrency();
    opt->nJobs = cores > 0 ? static_cast<int>(cores) : 1;
    CLI::App* cmd = app.add_subcommand("render", "Render performances of songs to audio files");
    cmd->add_option("SONG", opt->arrSongs, "The song files (.vn)")->required();
    cmd->add_option("-o,--output", opt->strOut,
                    "Output file, - for standard output (default: the song's name with .wav); its "
                    "extension picks the format: " + KnownOutputExtensions() +
                    ". For several songs or performances: the folder to write them to");
    cmd->add_option("--output-pattern", opt->strPattern,
                    "File names in a batch, from {name} (the song's name), {performance} and {ext} "
                    "(default {name}-{performance}.{ext})");
    cmd->add_option("--format", opt->strFormat,
                    "The format when no output name gives one: the default name's extension, and "
                    "{ext} in a batch (default wav)");
    cmd->add_flag("--raw", opt->bRaw, "Write bare PCM (16-bit little-endian stereo, 44100 Hz)");
    AddPerformanceOptions(cmd, opt->performance);
    cmd->add_option("--performances", opt->strPerformances,
                    "Render several performances of each song, for example 1-20 or 1-3,7");
    cmd->add_option("-j,--jobs", opt->nJobs, "Renders at a time in a batch (default: the number of cores)");
    cmd->add_option("--start", opt->strStart,
                    "Render an excerpt from TIME on (seconds, or m:ss.mmm): the same samples as the "
                    "whole render has there");
    cmd->add_option("--duration", opt->strDuration,
                    "Render at most TIME of audio (seconds, or m:ss.mmm), from the start or from --start");
    cmd->add_option("--seek", opt->arrSeeks,
                    "Seek to PERCENT of the length before render call BLOCK (0-based); repeatable");
    cmd->add_option("--decoder", opt->strDecoder,
                    "Pin the MPEG decoding engine (for example generic)");
    cmd->add_flag("--no-cache", opt->bNoCache,
                  "Decode every clip each time it is started instead of replaying decoded "
                  "stretches from memory (the same output, slower)");
    cmd->add_option("--cache-mb", opt->nCacheMb,
                    "Memory for decoded clip stretches in MiB (default 256); the least recently "
                    "used go first")
        ->check(CLI::NonNegativeNumber);
    cmd->callback([opt] { RunRender(*opt); });
}

} // namespace vantrel::tool
