#include "PluginSongs.h"

#include <fstream>
#include <iterator>

#include "common/TestSongs.h"
#include "player/SongPlayer.h"
#include "song/SongWriter.h"

using namespace testutil;

namespace plugintest {

std::string WriteSilentSong(const std::string& name, const std::vector<int>& entryMs)
{
    CSong song("Silence");
    std::vector<CSection*> order;
    for (size_t i = 0; i < entryMs.size(); ++i) {
        CSection* s = AddSection(song, "S" + std::to_string(i));
        CVariation* v = AddVariation(*s, "V", entryMs[i]);
        AddTrack(*v, "T");
        order.push_back(s);
    }
    AddArrangement(song, "Main", order);
    const std::string path = TempPath(name);
    testutil::WriteSong(song, {}, path);
    return path;
}

namespace {

std::string ReadClip()
{
    std::ifstream in(std::string(VANTREL_SOURCE_DIR) + "/tests/data/clips/stereo44k.mp3", std::ios::binary);
    const std::string mp3((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (mp3.empty())
        throw std::runtime_error("tests/data/clips/stereo44k.mp3 is missing");
    return mp3;
}

} // namespace

std::string WriteVaryingSong(const std::string& name)
{
    CSong song("Varying");
    CClip* clip = AddClip(song, "tone", 2);
    CSection* intro = AddSection(song, "Intro");
    CSection* verse = AddSection(song, "Verse");
    CSection* outro = AddSection(song, "Outro");
    for (int i = 0; i < 3; ++i) {
        CVariation* v = AddVariation(*intro, "I" + std::to_string(i), 800 + 300 * i);
        AddEvent(*AddTrack(*v, "T"), clip, 100 * i, 600);
    }
    for (int i = 0; i < 4; ++i) {
        CVariation* v = AddVariation(*verse, "V" + std::to_string(i), 1200 + 150 * i);
        AddEvent(*AddTrack(*v, "T0"), clip, 50 * i, 900);
        AddEvent(*AddTrack(*v, "T1"), clip, 400 + 70 * i, 500);
    }
    for (int i = 0; i < 2; ++i) {
        CVariation* v = AddVariation(*outro, "O" + std::to_string(i), 1000 + 500 * i);
        AddEvent(*AddTrack(*v, "T"), clip, 0, 700 + 200 * i);
    }
    AddArrangement(song, "Long", {intro, verse, verse, outro});
    AddArrangement(song, "Short", {verse, outro});
    const std::string path = TempPath(name);
    testutil::WriteSong(song, {ReadClip()}, path);
    return path;
}

std::string WriteClipSong(const std::string& name)
{
    const std::string mp3 = ReadClip();

    CSong song("Plug-in Test Song");
    song.SetAuthor("Test Author");
    song.SetPublisher("Test Publisher");
    song.SetGenre("Test Genre");
    song.SetCopyright("First line\r\nSecond line");
    CClip* clip = AddClip(song, "tone", 2);
    CSection* a = AddSection(song, "A");
    CVariation* va = AddVariation(*a, "A1", 2000);
    AddEvent(*AddTrack(*va, "T0"), clip, 0, 1000);
    AddEvent(*AddTrack(*va, "T1"), clip, 700, 800);
    CSection* b = AddSection(song, "B");
    CVariation* vb = AddVariation(*b, "B1", 1500);
    AddEvent(*AddTrack(*vb, "T0"), clip, 200, 1200);
    AddArrangement(song, "Main", {a, b});
    const std::string path = TempPath(name);
    testutil::WriteSong(song, {mp3}, path);
    return path;
}

std::string WriteNotASong(const std::string& name)
{
    const std::string path = TempPath(name);
    WriteBytes(path, std::string(5000, 'z'));
    return path;
}

std::vector<char> RenderDirect(const std::string& path)
{
    CSongPlayer player;
    player.Open(path);
    player.Prepare();
    std::vector<char> pcm;
    std::vector<char> block(CSongPlayer::kBlockBytes);
    bool more = true;
    while (more) {
        more = player.RenderBlock(block.data(), CSongPlayer::kBlockBytes);
        pcm.insert(pcm.end(), block.begin(), block.end());
    }
    player.Close();
    return pcm;
}

} // namespace plugintest
