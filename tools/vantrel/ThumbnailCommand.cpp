// vantrel thumbnail SONG OUT [--size N]: the picture of the song's structure (as
// `info --picture` draws it) fitted into N x N pixels as a PNG, for file managers
// (the desktop's thumbnailer runs it). A song that does not load writes nothing.
#include <memory>
#include <string>

#include "Commands.h"
#include "Picture.h"
#include "song/SongDocument.h"

namespace vantrel::tool {

namespace {

struct ThumbnailOptions
{
    std::string strSong;
    std::string strOutput;
    int nSize = 256;
};

} // namespace

void AddThumbnailCommand(CLI::App& app)
{
    auto opt = std::make_shared<ThumbnailOptions>();
    CLI::App* cmd = app.add_subcommand("thumbnail", "Draw a song's structure as a PNG thumbnail");
    cmd->add_option("SONG", opt->strSong, "The song file (.vn)")->required();
    cmd->add_option("OUT", opt->strOutput, "The PNG file to write (always PNG, whatever its name)")->required();
    cmd->add_option("-s,--size", opt->nSize, "The thumbnail's longer side in pixels (default 256)")
        ->check(CLI::Range(1, 4096));
    cmd->callback([opt] {
        CSongDocument doc;
        if (doc.Load(opt->strSong) != 1)
            ThrowLoadFailure(opt->strSong, doc);
        DrawSongPicture(doc, opt->strOutput, opt->nSize);
    });
}

} // namespace vantrel::tool
