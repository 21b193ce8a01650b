// Pictures of a song (its structure) and of one performance (a timeline of its entries,
// tracks and events, with the voice each event sounds on), drawn with cairo as PNG or
// SVG by the name's extension.
#pragma once

#include <string>

class CSongDocument;

namespace vantrel::tool {

struct PictureStats
{
    int nWidth = 0;
    int nHeight = 0;
    int nEventBars = 0; // events drawn (the performance's events, played or not)
};

// The performance that `doc` holds (arranged, performance `number`), drawn to `path`.
// The voices come from rendering the performance with the player, whose clip source
// records where each clip starts. Throws CommandError.
PictureStats DrawPerformancePicture(const std::string& songPath, int number, const std::string& path);

// The song's arrangements and sections, drawn to `path`. With `fitSize` > 0 the
// picture is a PNG (whatever the name) scaled to fit into fitSize x fitSize, its
// longer side exactly fitSize: a thumbnail. The stats give the picture's size.
PictureStats DrawSongPicture(const CSongDocument& doc, const std::string& path, int fitSize = 0);

} // namespace vantrel::tool
