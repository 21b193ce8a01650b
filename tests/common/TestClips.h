// The MP3 clips of tests/data/clips, for tests of the vantrel_tests binary.
#pragma once

#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace testutil {

inline std::string ReadTestClip(const std::string& name)
{
    std::ifstream in(std::string(VANTREL_SOURCE_DIR) + "/tests/data/clips/" + name, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

// Byte offsets of the frames of a Layer III stream (MPEG-1 or MPEG-2), by walking the
// frame headers up to the first byte that does not start one (*end, may be null).
template <class TBytes> std::vector<size_t> FrameOffsets(const TBytes& data, size_t* end = nullptr)
{
    static const int kKbps1[16] = {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 0};
    static const int kKbps2[16] = {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160, 0};
    static const int kRates1[4] = {44100, 48000, 32000, 0};
    auto byte = [&data](size_t i) { return static_cast<unsigned long>(static_cast<unsigned char>(data[i])); };
    std::vector<size_t> offsets;
    size_t pos = 0;
    while (pos + 4 <= data.size()) {
        const unsigned long h = (byte(pos) << 24) | (byte(pos + 1) << 16) | (byte(pos + 2) << 8) | byte(pos + 3);
        if ((h >> 21) != 0x7FF || ((h >> 17) & 3) != 1)
            break;
        const bool bMpeg1 = ((h >> 19) & 3) == 3;
        const int nKbps = (bMpeg1 ? kKbps1 : kKbps2)[(h >> 12) & 15];
        const int nRate = kRates1[(h >> 10) & 3] / (bMpeg1 ? 1 : 2);
        if (nKbps == 0 || nRate == 0)
            break;
        offsets.push_back(pos);
        pos += static_cast<size_t>((bMpeg1 ? 144000 : 72000) * nKbps / nRate + ((h >> 9) & 1));
    }
    if (end)
        *end = pos;
    return offsets;
}

} // namespace testutil
