// vantrel render SONG [-o OUT] [--raw] [--performance N] [--seek PERCENT@BLOCK]...
//                [--decoder NAME] [--no-cache] [--cache-mb MB]
// Renders one performance of a song to a WAV file (or bare PCM), block by block, as
// the plug-in's decode thread would. Each stretch of clip data is decoded once and
// replayed from memory (the same PCM as decoding it every time) unless --no-cache.
#include <cctype>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "Commands.h"
#include "Output.h"
#include "decode/CachingClipSource.h"
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
    std::string strSong;
    std::string strOut;
    bool bRaw = false;
    int nPerformance = 1;
    std::vector<std::string> arrSeeks;
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

// The output's format comes from its name: only WAV is written (or bare PCM with
// --raw, under any name). Any other extension is refused rather than given a WAV
// file that its name misdescribes.
void CheckOutputFormat(const std::string& out, bool raw)
{
    if (raw || out == "-")
        return;
    const size_t slash = out.find_last_of("/\\");
    const size_t dot = out.rfind('.');
    std::string ext = dot == std::string::npos || (slash != std::string::npos && dot < slash)
                          ? std::string()
                          : out.substr(dot);
    for (char& ch : ext)
        ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
    // A name without an extension (a device, a FIFO, a plain name) gets the default.
    if (ext.empty() || ext == ".wav")
        return;
    throw CommandError("cannot write " + out + ": unknown output format \"" + ext +
                       "\" (known: .wav; --raw writes bare PCM under any name)");
}

void RunRender(const RenderOptions& opt)
{
    std::vector<SeekRequest> seeks;
    for (const std::string& s : opt.arrSeeks) {
        seeks.push_back(ParseSeek(s));
        if (seeks.size() > 1 && seeks.back().nBlock < seeks[seeks.size() - 2].nBlock)
            throw CommandError("--seek requests must be given in ascending order of BLOCK");
    }
    if (opt.nPerformance < 1)
        throw CommandError("--performance counts from 1");
    const std::string out = opt.strOut.empty() ? DefaultOutputName(opt.strSong, ".wav") : opt.strOut;
    CheckOutputFormat(out, opt.bRaw);

    if (opt.nCacheMb < 0)
        throw CommandError("--cache-mb takes a size in MiB of 0 or more");

    CSongPlayer player(opt.strDecoder);
    std::shared_ptr<CClipCache> pCache;
    if (!opt.bNoCache) {
        pCache = std::make_shared<CClipCache>(static_cast<size_t>(opt.nCacheMb) << 20, opt.strDecoder);
        player.SetClipSourceFactory([pCache] { return std::make_unique<CCachingClipSource>(pCache); });
    }
    // Earlier performances only advance the random draws.
    for (int i = 1; i < opt.nPerformance; ++i) {
        player.Open(opt.strSong);
        player.Prepare();
        player.Close();
    }
    if (!player.Open(opt.strSong)) {
        const std::string& err = player.GetDocument().GetLastError();
        throw CommandError(opt.strSong + ": " + (err.empty() ? "cannot open the file" : err));
    }
    player.Prepare();
    if (player.GetLength() < 0)
        throw CommandError(opt.strSong + ": the song has nothing that can be played (no arrangement "
                           "lists a section with a variation of positive length)");

    auto sink = OpenPcmSink(out, opt.bRaw);
    CProgress progress(player.GetLength());

    std::vector<char> block(CSongPlayer::kBlockBytes);
    size_t nextSeek = 0;
    long calls = 0;
    double renderedMs = 0;
    for (;;) {
        if (nextSeek < seeks.size() && seeks[nextSeek].nBlock == calls) {
            const int start = player.Seek(static_cast<int16_t>(seeks[nextSeek].nPercent));
            std::fprintf(stderr, "seek %d -> %d\n", seeks[nextSeek].nPercent, start);
            ++nextSeek;
        }
        const bool more = player.RenderBlock(block.data(), CSongPlayer::kBlockBytes);
        ++calls;
        sink->Write(block.data(), block.size());
        renderedMs += 4608.0 / 176.4;
        progress.Update(renderedMs);
        if (!more) {
            // The host seeks while its output drains: the next seek applies at once.
            if (nextSeek < seeks.size()) {
                const int start = player.Seek(static_cast<int16_t>(seeks[nextSeek].nPercent));
                std::fprintf(stderr, "seek %d -> %d\n", seeks[nextSeek].nPercent, start);
                ++nextSeek;
                continue;
            }
            break;
        }
    }
    player.Close();
    progress.Done();
    sink->Finish();
    if (out != "-")
        std::fprintf(stderr, "wrote %s (%ld blocks, %.3f s)\n", out.c_str(), calls,
                     calls * 4608.0 / 176400.0);
}

} // namespace

void AddRenderCommand(CLI::App& app)
{
    auto opt = std::make_shared<RenderOptions>();
    CLI::App* cmd = app.add_subcommand("render", "Render one performance of a song to a WAV file");
    cmd->add_option("SONG", opt->strSong, "The song file (.vn)")->required();
    cmd->add_option("-o,--output", opt->strOut,
                    "Output file, - for standard output (default: the song's name with .wav)");
    cmd->add_flag("--raw", opt->bRaw, "Write bare PCM (16-bit little-endian stereo, 44100 Hz)");
    cmd->add_option("--performance", opt->nPerformance,
                    "Which performance to render: the N-th play since the start (default 1)");
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
