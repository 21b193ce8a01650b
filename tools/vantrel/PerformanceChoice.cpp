#include "PerformanceChoice.h"

#include <cstdio>
#include <random>

#include "Commands.h"
#include "TextCodec.h"
#include "arrange/Performances.h"
#include "arrange/Playable.h"
#include "arrange/Random.h"
#include "song/SongDocument.h"

namespace vantrel::tool {

namespace {

constexpr int kSearchLimit = 10000;
// Random numbers stay short enough to type again.
constexpr int kRandomMax = 9999;

int ParseNumber(const std::string& text)
{
    try {
        size_t used = 0;
        const long n = std::stol(text, &used);
        if (used == text.size() && n >= 1 && n <= 1000000000)
            return static_cast<int>(n);
    } catch (const std::exception&) {
    }
    throw CommandError("--performance takes a number from 1 or \"random\", not \"" + text + "\"");
}

} // namespace

void AddPerformanceOptions(CLI::App* cmd, PerformanceChoice& choice)
{
    cmd->add_option("--performance", choice.strPerformance,
                    "Which performance: the N-th play since the start (default 1), or random "
                    "(a number drawn at random and printed)");
    cmd->add_option("--arrangement", choice.strArrangement,
                    "The first performance from --performance on that plays this arrangement");
}

int ResolvePerformance(const std::string& path, const PerformanceChoice& choice)
{
    int number = 1;
    if (choice.strPerformance == "random") {
        std::random_device entropy;
        number = static_cast<int>(std::uniform_int_distribution<unsigned>(1, kRandomMax)(entropy));
        if (choice.strArrangement.empty())
            std::fprintf(stderr, "performance %d, drawn at random (--performance %d gives it again)\n", number,
                         number);
    } else if (!choice.strPerformance.empty()) {
        number = ParseNumber(choice.strPerformance);
    }
    if (choice.strArrangement.empty())
        return number;

    CSongDocument doc;
    if (doc.Load(path) != 1)
        return number;
    const CSong& song = *doc.GetSong();
    std::string name;
    uint32_t bad = 0;
    if (!Utf8ToBytes(choice.strArrangement, name, bad))
        name = choice.strArrangement;
    const int index = vantrel::FindArrangementIndex(song, name);
    if (index < 0) {
        std::string names;
        for (const auto& a : song.GetArrangements())
            names += (names.empty() ? "\"" : ", \"") + BytesToUtf8(a->GetName()) + "\"";
        throw CommandError(path + " has no arrangement named \"" + choice.strArrangement + "\" (it has " +
                           (names.empty() ? std::string("none") : names) + "; names are matched exactly)");
    }
    const CArrangement& arrangement = *song.GetArrangements()[static_cast<size_t>(index)];
    if (!vantrel::CanBeBuilt(arrangement))
        throw CommandError("the arrangement \"" + choice.strArrangement +
                           "\" can never be built: none of its sections has a variation of positive "
                           "length, so no performance plays it");
    const int found = vantrel::FindPerformanceWithArrangement(doc, number, index, kSearchLimit);
    if (found < 0)
        throw CommandError("no performance from " + std::to_string(number) + " to " +
                           std::to_string(number + kSearchLimit - 1) + " plays the arrangement \"" +
                           choice.strArrangement + "\"");
    std::fprintf(stderr, "performance %d plays the arrangement \"%s\" (the first from %d that does; "
                         "--performance %d gives it again)\n",
                 found, choice.strArrangement.c_str(), number, found);
    return found;
}

void PrepareGeneratorFor(const std::string& path, int number)
{
    vantrel::SetRandomState(1);
    if (number <= 1)
        return;
    CSongDocument doc;
    if (doc.Load(path) == 1)
        vantrel::ArrangePerformance(doc, number - 1);
}

} // namespace vantrel::tool
