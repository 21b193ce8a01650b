// Which performance a command plays: --performance N (the N-th play since the start),
// --performance random (a number drawn from the system's entropy, printed so that the
// result can be had again), and --arrangement NAME (the first performance from that
// number on whose draw chose the arrangement).
#pragma once

#include <string>

#include <CLI/CLI.hpp>

namespace vantrel::tool {

struct PerformanceChoice
{
    std::string strPerformance; // empty: 1
    std::string strArrangement; // empty: any
    bool Given() const { return !strPerformance.empty() || !strArrangement.empty(); }
};

// Adds --performance and --arrangement to `cmd`.
void AddPerformanceOptions(CLI::App* cmd, PerformanceChoice& choice);

// The performance number the options name for the song at `path`; says on standard
// error how a random or arrangement choice came out. Throws CommandError for a bad
// number, an unknown arrangement, or one that no draw chooses. A song that does not
// load gives the number as given (the caller reports the load).
int ResolvePerformance(const std::string& path, const PerformanceChoice& choice);

// Sets the calling thread's generator so that the next Arrange of the song draws
// performance `number`, as the `number`-th play of a freshly loaded player would.
void PrepareGeneratorFor(const std::string& path, int number);

} // namespace vantrel::tool
