// Whole songs: the input is a song file. It is loaded, arranged and rendered as a
// host would play it: Open, Prepare, some blocks, a seek, more blocks, Close.
//
// The whole input is the file, so a real song is a valid input as it stands. The
// last two bytes (which in a real song are clip data or the end of the clip table)
// also steer the run: the blocks rendered before the seek and the seek's percentage.
// The random source is reset per input so that every input draws the same
// performance each time it runs.
#include <fcntl.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>

#include "FuzzInput.h"
#include "arrange/Random.h"
#include "player/SongPlayer.h"

namespace {

// Blocks rendered before and after the seek, at most. Entries are rarely shorter
// than a block, so the seek is what carries a run into later entries.
constexpr int kMaxBlocks = 16;

const std::string& SongPath()
{
    static const std::string path = fuzzinput::MakePath("vantrel-fuzz-song");
    return path;
}

bool WriteSong(const uint8_t* data, size_t size) { return fuzzinput::Write(SongPath(), data, size); }

void RemoveSong() { ::unlink(SongPath().c_str()); }

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (!WriteSong(data, size))
        std::abort(); // the machine, not the input: stop rather than test nothing
    const int blocksBeforeSeek = size >= 2 ? 1 + data[size - 2] % kMaxBlocks : kMaxBlocks;
    const int16_t percent = size >= 1 ? static_cast<int16_t>(data[size - 1] % 101) : 50;

    vantrel::SetRandomState(1);
    // One player for all inputs, as the plug-in keeps one for its whole lifetime: each
    // song must leave nothing behind that upsets the next.
    static CSongPlayer player("generic");
    // The output block lives on the heap at its exact size, so that a write past it is
    // caught.
    static const std::unique_ptr<char[]> block(new char[CSongPlayer::kBlockBytes]);

    // As the plug-in does: go on whatever Open says; a player without a song renders
    // a silent block and ends.
    player.Open(SongPath());
    const CSongDocument& doc = player.GetDocument();
    (void)doc.GetFormatId();
    (void)doc.GetAuthor();
    player.Prepare();
    (void)player.GetLength();

    for (int i = 0; i < blocksBeforeSeek; ++i)
        if (!player.RenderBlock(block.get(), CSongPlayer::kBlockBytes))
            break;
    player.Seek(percent);
    for (int i = 0; i < kMaxBlocks; ++i)
        if (!player.RenderBlock(block.get(), CSongPlayer::kBlockBytes))
            break;
    player.Close();
    // Removed after every input: libFuzzer ends its process without running exit hooks.
    RemoveSong();
    return 0;
}
