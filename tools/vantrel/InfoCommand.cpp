// vantrel info SONG [--json]: the loaded song as a readable tree or as JSON.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <map>
#include <memory>
#include <string>

#include "Commands.h"
#include "Picture.h"
#include "SongJson.h"
#include "TextCodec.h"
#include "song/SongDocument.h"

namespace vantrel::tool {

namespace {

struct InfoOptions
{
    std::string strPath;
    std::string strPicture;
    bool bJson = false;
};

// A song text for the terminal, quoted.
std::string Q(const std::string& bytes) { return "\"" + BytesToUtf8(bytes) + "\""; }

const char* KindName(uint8_t kind)
{
    switch (kind) {
    case 1: return "other";
    case 2: return "MP3";
    default: return "no data";
    }
}

std::string Plural(size_t n, const char* one, const char* many)
{
    return std::to_string(n) + " " + (n == 1 ? one : many);
}

void PrintTree(const std::string& path, const CSongDocument& doc)
{
    const CSong& song = *doc.GetSong();
    std::printf("%s\n", path.c_str());
    std::printf("  format:    \"%s\", flags %u, version 0x%02x\n",
                BytesToUtf8(doc.GetFormatText()).c_str(), doc.GetFormatFlags(),
                doc.GetFormatVersion());
    std::printf("  title:     %s\n", Q(song.m_strTitle).c_str());
    std::printf("  author:    %s\n", Q(song.m_strAuthor).c_str());
    std::printf("  publisher: %s\n", Q(song.m_strPublisher).c_str());
    std::printf("  genre:     %s\n", Q(song.m_strGenre).c_str());
    std::printf("  copyright: %s\n", Q(song.m_strCopyright).c_str());
    std::printf("  settings:  factor %s, meter %d/%d, volume %d, pan %d, mode %d, option %u\n",
                FloatToText(song.m_fFactor).c_str(), song.m_nBeatsPerBar, song.m_nBeatUnit,
                song.m_nVolume, song.m_nPan, song.m_nMode, song.m_nOption);

    std::map<const CSection*, size_t> sectionIndex;
    for (size_t i = 0; i < song.m_arrSections.size(); ++i)
        sectionIndex[song.m_arrSections[i].get()] = i;
    std::map<const CClip*, size_t> clipIndex;
    for (size_t i = 0; i < song.m_arrClips.size(); ++i)
        clipIndex[song.m_arrClips[i].get()] = i;

    std::printf("  arrangements (%zu):\n", song.m_arrArrangements.size());
    for (size_t i = 0; i < song.m_arrArrangements.size(); ++i) {
        const CArrangement& a = *song.m_arrArrangements[i];
        std::printf("    [%zu] %s (settings %d, %d): ", i, Q(a.m_strName).c_str(), a.m_nSettingA,
                    a.m_nSettingB);
        if (a.m_arrSections.empty())
            std::printf("no sections");
        for (size_t k = 0; k < a.m_arrSections.size(); ++k) {
            const CSection* s = a.m_arrSections[k];
            std::printf("%s%s [%zu]", k ? ", " : "", Q(s->m_strName).c_str(), sectionIndex[s]);
        }
        std::printf("\n");
    }

    std::printf("  sections (%zu):\n", song.m_arrSections.size());
    for (size_t i = 0; i < song.m_arrSections.size(); ++i) {
        const CSection& s = *song.m_arrSections[i];
        std::printf("    [%zu] %s (settings %d, %d): %s\n", i, Q(s.m_strName).c_str(),
                    s.m_nSettingA, s.m_nSettingB,
                    Plural(s.m_arrVariations.size(), "variation", "variations").c_str());
        for (size_t v = 0; v < s.m_arrVariations.size(); ++v) {
            const CVariation& var = *s.m_arrVariations[v];
            std::printf("      variation [%zu] %s: %d ms, factor %s, meter %d/%d, %s\n", v,
                        Q(var.m_strName).c_str(), var.m_nLengthMs,
                        FloatToText(var.m_fFactor).c_str(), var.m_nBeatsPerBar, var.m_nBeatUnit,
                        Plural(var.m_arrTracks.size(), "track", "tracks").c_str());
            for (size_t t = 0; t < var.m_arrTracks.size(); ++t) {
                const CTrack& tr = *var.m_arrTracks[t];
                std::printf("        track [%zu] %s: %s (volume %u, pan %u, mode %u, setting %d)\n",
                            t, Q(tr.m_strName).c_str(),
                            Plural(tr.m_arrEvents.size(), "event", "events").c_str(), tr.m_nVolume,
                            tr.m_nPan, tr.m_nMode, tr.m_nSettingA);
            }
        }
    }

    std::printf("  clips (%zu):\n", song.m_arrClips.size());
    for (size_t i = 0; i < song.m_arrClips.size(); ++i) {
        const CClip& c = *song.m_arrClips[i];
        std::printf("    [%zu] %s: kind %u (%s), %d bytes at offset %d, path %s\n", i,
                    Q(c.m_strName).c_str(), c.m_nKind, KindName(c.m_nKind), c.m_nDataSize,
                    c.m_nDataOffset, Q(c.m_strPath).c_str());
    }
}

} // namespace

// Why a file cannot be opened, in the system's words.
static std::string OpenFailureReason(const std::string& path)
{
    std::error_code ec;
    if (std::filesystem::is_directory(path, ec))
        return "cannot open " + path + ": it is a folder, not a song file";
    errno = 0;
    std::FILE* f = std::fopen(path.c_str(), "rb");
    if (f) {
        std::fclose(f);
        return "cannot open " + path;
    }
    return "cannot open " + path + ": " + std::strerror(errno ? errno : ENOENT);
}

void ThrowLoadFailure(const std::string& path, const CSongDocument& doc)
{
    // A fresh document gets its error text only from a file it could open: an
    // empty one means the file could not be opened at all.
    if (doc.GetLastError().empty())
        throw CommandError(OpenFailureReason(path));
    throw CommandError(path + ": " + doc.GetLastError());
}

namespace {

void RunInfo(const InfoOptions& opt)
{
    CSongDocument doc;
    const int result = doc.Load(opt.strPath);
    if (opt.bJson)
        std::printf("%s\n", InfoToJson(opt.strPath, result, doc).dump(2).c_str());
    if (result != 1)
        ThrowLoadFailure(opt.strPath, doc);
    if (!opt.bJson)
        PrintTree(opt.strPath, doc);
    if (!opt.strPicture.empty()) {
        const PictureStats stats = DrawSongPicture(doc, opt.strPicture);
        std::fprintf(stderr, "drew the song to %s (%dx%d)\n", opt.strPicture.c_str(), stats.nWidth, stats.nHeight);
    }
}

} // namespace

void AddInfoCommand(CLI::App& app)
{
    auto opt = std::make_shared<InfoOptions>();
    CLI::App* cmd = app.add_subcommand("info", "Show what a song holds");
    cmd->add_option("SONG", opt->strPath, "The song file (.vn)")->required();
    cmd->add_flag("--json", opt->bJson,
                  "Print the song as one JSON object (also when it does not load)");
    cmd->add_option("--picture", opt->strPicture,
                    "Draw the song's arrangements and sections to this .png or .svg file");
    cmd->callback([opt] { RunInfo(*opt); });
}

} // namespace vantrel::tool
