#include "common/SeedSongs.h"

#include <stdexcept>

#include "common/TestSongs.h"
#include "robustness/HostileSongs.h"
#include "song/SongWriter.h"

namespace testutil {

namespace {

// A song of real clips: two sections of two variations, four tracks, events that
// overlap (overflow voices), start inside a clip (nPos1), start before the entry and
// run past its end.
std::string RealClipSong(const std::vector<std::string>& clips, uint8_t version, int shape)
{
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

} // namespace

const std::vector<std::string>& SeedClipNames()
{
    static const std::vector<std::string> names = {"stereo44k.mp3", "mono44k.mp3", "stereo22k.mp3",
                                                   "infoframe44k.mp3"};
    return names;
}

std::vector<std::pair<std::string, std::string>> SeedSongs(const std::string& src)
{
    std::vector<std::pair<std::string, std::string>> songs;
    auto Put = [&songs](const std::string& name, std::string bytes) { songs.emplace_back(name, std::move(bytes)); };
    auto sample = testutil::MakeSampleSong();
    const auto sampleData = testutil::SampleClipData(*sample);
    Put("sample-60.vn", CSongWriter::Serialize(*sample, sampleData, 0x60));
    Put("sample-61.vn", CSongWriter::Serialize(*sample, sampleData, 0x61));
    std::vector<std::string> all;
    for (const std::string& name : SeedClipNames()) {
        const std::string clip = hostile::ReadClip(src, name);
        if (clip.empty())
            throw std::runtime_error("missing clip " + name);
        all.push_back(clip);
        Put("real-" + name + ".vn", RealClipSong({clip}, 0x61, 0));
    }
    Put("real-all-60.vn", RealClipSong(all, 0x60, 1));
    Put("real-all-61.vn", RealClipSong(all, 0x61, 2));
    // The hostile set around the smallest clip keeps the seeds small.
    for (const auto& [name, bytes] : hostile::HostileSet(hostile::ReadClip(src, "stereo22k.mp3")))
        Put("hostile-" + name + ".vn", bytes);
    return songs;
}

} // namespace testutil
