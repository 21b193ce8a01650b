// vantrel arrange SONG [--performances N] [--json]: the performances a player would
// draw from a song, one per Open/Prepare/Close, on this thread's generator from its
// first draw.
//
// With --json the output is an array with one object per performance:
//   {"result": 1 | -1111 | -1201, "arrangement": <index> | null,
//    "sequence": [[<section index>, <variation index>], ...], "totalMs": <length>}
// where the section index is the entry's section's position in the song's section
// table and the variation index the variation's position within that section.
#include <cinttypes>
#include <cstdio>
#include <limits>
#include <memory>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "Commands.h"
#include "PerformanceChoice.h"
#include "Picture.h"
#include "TimeText.h"
#include "arrange/Performances.h"
#include "arrange/Random.h"
#include "song/SongDocument.h"

namespace vantrel::tool {

namespace {
struct ArrangeOptions
{
    std::string strPath;
    int nPerformances = 1;
    PerformanceChoice performance;
    std::string strPicture;
    bool bJson = false;
};

// One drawn performance, as indices into the song's tables.
struct Performance
{
    int nResult = 0;
    int nArrangement = -1;
    std::vector<CPerformanceEntry> arrEntries;
    int32_t nTotalMs = -1;
};

// Reads the drawn performance off the document while it still holds the song.
Performance Capture(const CSongDocument& doc, int result)
{
    Performance p;
    p.nResult = result;
    p.nTotalMs = doc.GetTotalLength();
    if (result != 1 || !doc.GetSong())
        return p;
    p.nArrangement = vantrel::ChosenArrangementIndex(doc);
    p.arrEntries = vantrel::PerformanceEntries(doc);
    return p;
}

void PrintBytes(const std::string& text) { std::fwrite(text.data(), 1, text.size(), stdout); }

const char* DescribeResult(int result)
{
    switch (result) {
    case 1:
        return "arranged";
    case ERR_NO_SONG:
        return "no song loaded";
    case ERR_NOTHING_TO_ARRANGE:
        return "the song has nothing to arrange";
    default:
        return "unexpected result";
    }
}

void PrintReadable(const CSong& song, int number, const Performance& p)
{
    std::printf("Performance %d: ", number);
    if (p.nResult != 1) {
        std::printf("%s (result %d), total length -1\n", DescribeResult(p.nResult), p.nResult);
        return;
    }
    std::printf("arrangement %d \"", p.nArrangement);
    PrintBytes(song.GetArrangements()[static_cast<size_t>(p.nArrangement)]->GetName());
    std::printf("\", %zu %s, total %s (%" PRId32 " ms)\n", p.arrEntries.size(),
                p.arrEntries.size() == 1 ? "entry" : "entries", FormatTime(p.nTotalMs).c_str(),
                p.nTotalMs);
    for (size_t i = 0; i < p.arrEntries.size(); ++i) {
        const CPerformanceEntry& entry = p.arrEntries[i];
        const CSection* section = song.GetSection(entry.nSection);
        const CVariation* variation = section->GetVariations()[static_cast<size_t>(entry.nVariation)].get();
        std::printf("  %3zu  at %s  section %d \"", i, FormatTime(entry.nStartMs).c_str(), entry.nSection);
        PrintBytes(section->GetName());
        std::printf("\"  variation %d \"", entry.nVariation);
        PrintBytes(variation->GetName());
        std::printf("\"  length %s (%" PRId32 " ms)\n", FormatTime(entry.nLengthMs).c_str(), entry.nLengthMs);
    }
}

nlohmann::ordered_json ToJson(const Performance& p)
{
    nlohmann::ordered_json entry;
    entry["result"] = p.nResult;
    if (p.nResult == 1)
        entry["arrangement"] = p.nArrangement;
    else
        entry["arrangement"] = nullptr;
    entry["sequence"] = nlohmann::ordered_json::array();
    for (const CPerformanceEntry& e : p.arrEntries)
        entry["sequence"].push_back({e.nSection, e.nVariation});
    entry["totalMs"] = p.nTotalMs;
    return entry;
}

void RunArrange(const ArrangeOptions& opt)
{
    // The performances are those of a freshly loaded player: its generator has not
    // drawn yet. With --performance or --arrangement the list begins at the one chosen.
    const int first = opt.performance.Given() ? ResolvePerformance(opt.strPath, opt.performance) : 1;
    PrepareGeneratorFor(opt.strPath, first);

    // One document plays every performance, as the player's does: Open loads, Prepare
    // arranges, Close ends the performance and lets go of the song.
    CSongDocument doc;
    std::string loadError;
    bool printedAny = false;
    for (int i = 0; i < opt.nPerformances; ++i) {
        if (doc.Load(opt.strPath) != 1 && loadError.empty())
            loadError = doc.GetLastError().empty() ? std::string("cannot open the file")
                                                    : doc.GetLastError();
        if (!loadError.empty() && !opt.bJson)
            break; // nothing was loaded, so nothing would be drawn
        const int result = doc.Arrange();
        const Performance p = Capture(doc, result);
        if (opt.bJson) {
            std::printf("%s%s", printedAny ? ",\n " : "[", ToJson(p).dump().c_str());
        } else {
            if (i == 0) {
                PrintBytes(opt.strPath);
                std::printf(": \"");
                PrintBytes(doc.GetSong()->GetTitle());
                std::printf("\", %d performance%s\n", opt.nPerformances,
                            opt.nPerformances == 1 ? "" : "s");
            }
            PrintReadable(*doc.GetSong(), first + i, p);
        }
        printedAny = true;
        doc.EndPerformance();
        doc.DetachSong();
    }
    if (opt.bJson)
        std::printf("%s\n", printedAny ? "]" : "[]");
    std::fflush(stdout);
    if (!loadError.empty())
        throw CommandError(opt.strPath + ": " + loadError);
    if (!opt.strPicture.empty()) {
        const PictureStats stats = DrawPerformancePicture(opt.strPath, first, opt.strPicture);
        std::fprintf(stderr, "drew performance %d to %s (%dx%d, %d event bars)\n", first, opt.strPicture.c_str(),
                     stats.nWidth, stats.nHeight, stats.nEventBars);
    }
}
} // namespace

void AddArrangeCommand(CLI::App& app)
{
    auto opt = std::make_shared<ArrangeOptions>();
    CLI::App* cmd = app.add_subcommand(
        "arrange", "Draw the performances a player would play, from its first draw on");
    cmd->add_option("SONG", opt->strPath, "The song file (.vn)")->required();
    cmd->add_option("--performances,-n", opt->nPerformances, "Number of performances (default 1)")
        ->check(CLI::Range(1, std::numeric_limits<int>::max()));
    AddPerformanceOptions(cmd, opt->performance);
    cmd->add_option("--picture", opt->strPicture,
                    "Draw the (first) performance as a timeline to this .png or .svg file");
    cmd->add_flag("--json", opt->bJson,
                  "Print an array of {result, arrangement, sequence, totalMs}; a song that "
                  "does not load gives result -1111 entries and exit status 1");
    cmd->callback([opt] { RunArrange(*opt); });
}

} // namespace vantrel::tool
