// vantrel_corpus: writes song files for fuzzing and for the hostile-file check.
//
//   vantrel_corpus song-seeds    SOURCE_DIR OUT_DIR   seed songs of fuzz_song
//   vantrel_corpus decoder-seeds SOURCE_DIR OUT_DIR   seed inputs of fuzz_decoder
//   vantrel_corpus hostile       SOURCE_DIR OUT_DIR   damaged songs for vantrel itself
//
// Every song is written by our own writer (CSongWriter) or by the raw-field builder of
// the robustness tests, from the test songs and the real clips in tests/data/clips.
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "common/SeedSongs.h"
#include "common/TestSongs.h"
#include "robustness/HostileSongs.h"
#include "song/SongWriter.h"

namespace {

void Put(const std::string& dir, const std::string& name, const std::string& bytes)
{
    std::ofstream f(dir + "/" + name, std::ios::binary | std::ios::trunc);
    f.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (!f)
        throw std::runtime_error("cannot write " + dir + "/" + name);
}

void SongSeeds(const std::string& src, const std::string& out)
{
    for (const auto& [name, bytes] : testutil::SeedSongs(src))
        Put(out, name, bytes);
}

void DecoderSeeds(const std::string& src, const std::string& out)
{
    for (const std::string& name : testutil::SeedClipNames()) {
        const std::string clip = hostile::ReadClip(src, name);
        Put(out, name, clip);
        // The same with a few steering bytes of other values at the end.
        Put(out, name + ".a", clip + std::string("\x01\x07\x00\x10\x00\xff\x03\x02", 8));
        Put(out, name + ".b", clip + std::string("\x80\x00\x00\x01\x9a\x45\x00\x05\x0b\x01", 10));
    }
}

void Hostile(const std::string& src, const std::string& out)
{
    const std::string clip = hostile::ReadClip(src, "stereo22k.mp3");
    auto set = hostile::HostileSet(clip);
    for (const auto& [name, bytes] : set)
        Put(out, name + ".vn", bytes);

    // Truncations of a valid song: at every byte of the header, every third byte of
    // the structure, then every 97th byte through the clip data. (The unit tests cut
    // at every byte; this set is for the whole tool under sanitizers.)
    const std::string valid = set.front().second;
    const size_t dataStart = valid.size() - clip.size();
    for (size_t n = 0; n < valid.size(); n += (n < 16 ? 1 : n < dataStart ? 3 : 97))
        Put(out, "cut-" + std::to_string(n) + ".vn", valid.substr(0, n));

    // Bit flips: one to four bits, at places drawn by a fixed generator, in the
    // valid song and in the sample song.
    auto sample = testutil::MakeSampleSong();
    const std::string sampleBytes =
        CSongWriter::Serialize(*sample, testutil::SampleClipData(*sample), 0x61);
    uint32_t x = 2024;
    auto draw = [&x] {
        x = x * 1664525u + 1013904223u;
        return x >> 8;
    };
    for (int i = 0; i < 100; ++i) {
        std::string bytes = (i % 2 == 0) ? valid : sampleBytes;
        // Flips fall mostly into the structure, where they change what is read.
        const size_t span = (i % 2 == 0) ? dataStart + 64 : bytes.size();
        const int flips = 1 + static_cast<int>(draw() % 4);
        for (int k = 0; k < flips; ++k) {
            const size_t at = draw() % span;
            bytes[at] = static_cast<char>(bytes[at] ^ (1u << (draw() % 8)));
        }
        Put(out, "flip-" + std::to_string(i) + ".vn", bytes);
    }
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 4) {
        std::fprintf(stderr, "usage: %s song-seeds|decoder-seeds|hostile SOURCE_DIR OUT_DIR\n", argv[0]);
        return 2;
    }
    const std::string cmd = argv[1];
    try {
        if (cmd == "song-seeds")
            SongSeeds(argv[2], argv[3]);
        else if (cmd == "decoder-seeds")
            DecoderSeeds(argv[2], argv[3]);
        else if (cmd == "hostile")
            Hostile(argv[2], argv[3]);
        else
            throw std::runtime_error("unknown command " + cmd);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "vantrel_corpus: %s\n", e.what());
        return 1;
    }
    return 0;
}
