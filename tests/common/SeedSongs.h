// The songs the fuzzing harnesses start from, also the test data of whole-song checks:
// the sample song in both format versions, songs of each real clip and of all of them
// (four tracks, overflow voices, events inside clips and across entry ends), and the
// hostile set around the smallest clip. Each is (name, file bytes).
#pragma once

#include <string>
#include <utility>
#include <vector>

namespace testutil {

std::vector<std::pair<std::string, std::string>> SeedSongs(const std::string& sourceDir);
// The real clips (tests/data/clips) the seed songs are made of.
const std::vector<std::string>& SeedClipNames();

} // namespace testutil
