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

#include "common/TestSongs.h"
#include "robustness/HostileSongs.h"
#include "song/SongWriter.h"

namespace {

const char* const kClips[] = {"stereo44k.mp3", "mono44k.mp3", "stereo22k.mp3", "infoframe44k.mp3"};

void Put(const std::string& dir, const std::string& name, const std::string& bytes)
{
    std::ofstream f(dir + "/" + name, std::ios::binary | std::ios::trunc);
    f.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (!f)
        throw std::runtime_error("cannot write " + dir + "/" + name);
}

// A song of real clips: two sections of two variations, four tracks, events that
// overlap (overflow voices), start inside a clip (nPos1), start before the entry and
// run past its end.
std::string RealClipSong(const std::vector<std::string>& clips, uint8_t version, int shape)
{
    using namespace testutil;
    CSong song("Real clips");
    std::vector<CClip*> table;
    for (size_t i = 0; i < clips.size(); ++i)
        table.push_back(AddClip(song, "clip" + std::to_string(i), 2));
    CSection* a = AddSection(song, "A");
    CSection* b = AddSection(song, "B");
    for (CSection* s : {a, b}) {
        for (int v = 0; v < 2; ++v) {
            CVariation* var = AddVariation(*s, "V" + std::to_string(v), 300 + 400 * v + 200 * shape);
            for (int t = 0; t < (shape == 0 ? 1 : 4); ++t) {
                CTrack* track = AddTrack(*var, "T" + std::to_string(t));
                for (int e = 0; e < 3 + shape; ++e) {
                    CClip* clip = table[static_cast<size_t>(e + t) % table.size()];
                    CClipEvent* ev = AddEvent(*track, clip, e * 90 - (t == 1 ? 50 : 0), 250 + 300 * e);
                    ev->m_nPos1 = (e % 3 == 2) ? 417 * e : 0;
                }
            }
        }
    }
    AddArrangement(song, "Main", {a, b, a});
    if (shape > 0)
        AddArrangement(song, "Other", {b});
    std::vector<std::string> data(clips.begin(), clips.end());
    return CSongWriter::Serialize(song, data, version);
}

void SongSeeds(const std::string& src, const std::string& out)
{
    auto sample = testutil::MakeSampleSong();
    const auto sampleData = testutil::SampleClipData(*sample);
    Put(out, "sample-60.vn", CSongWriter::Serialize(*sample, sampleData, 0x60));
    Put(out, "sample-61.vn", CSongWriter::Serialize(*sample, sampleData, 0x61));
    std::vector<std::string> all;
    for (const char* name : kClips) {
        const std::string clip = hostile::ReadClip(src, name);
        if (clip.empty())
            throw std::runtime_error(std::string("missing clip ") + name);
        all.push_back(clip);
        Put(out, std::string("real-") + name + ".vn", RealClipSong({clip}, 0x61, 0));
    }
    Put(out, "real-all-60.vn", RealClipSong(all, 0x60, 1));
    Put(out, "real-all-61.vn", RealClipSong(all, 0x61, 2));
    // The hostile set around the smallest clip keeps the seeds small.
    for (const auto& [name, bytes] : hostile::HostileSet(hostile::ReadClip(src, "stereo22k.mp3")))
        Put(out, "hostile-" + name + ".vn", bytes);
}

void DecoderSeeds(const std::string& src, const std::string& out)
{
    for (const char* name : kClips) {
        const std::string clip = hostile::ReadClip(src, name);
        Put(out, name, clip);
        // The same with a few steering bytes of other values at the end.
        Put(out, std::string(name) + ".a", clip + std::string("\x01\x07\x00\x10\x00\xff\x03\x02", 8));
        Put(out, std::string(name) + ".b", clip + std::string("\x80\x00\x00\x01\x9a\x45\x00\x05\x0b\x01", 10));
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
