// The MP3 clips of tests/data/clips, for tests of the vantrel_tests binary.
#pragma once

#include <fstream>
#include <iterator>
#include <string>

namespace testutil {

inline std::string ReadTestClip(const std::string& name)
{
    std::ifstream in(std::string(VANTREL_SOURCE_DIR) + "/tests/data/clips/" + name, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

} // namespace testutil
