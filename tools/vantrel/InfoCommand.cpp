// vantrel info SONG [--json]: the loaded song as a readable tree or as JSON.
#include <cstdio>
#include <memory>
#include <string>

#include "Commands.h"
#include "song/SongDocument.h"

namespace vantrel::tool {

namespace {
struct InfoOptions
{
    std::string strPath;
    bool bJson = false;
};

void RunInfo(const InfoOptions& opt)
{
    CSongDocument doc;
    const int result = doc.Load(opt.strPath);
    if (result != 1)
        throw CommandError(opt.strPath + ": " +
                           (doc.GetLastError().empty() ? std::string("cannot open the file")
                                                       : doc.GetLastError()));
    const CSong& song = *doc.GetSong();
    std::printf("%s\n  title: %s\n", opt.strPath.c_str(), song.GetTitle().c_str());
}
} // namespace

void AddInfoCommand(CLI::App& app)
{
    auto opt = std::make_shared<InfoOptions>();
    CLI::App* cmd = app.add_subcommand("info", "Show what a song holds");
    cmd->add_option("SONG", opt->strPath, "The song file (.vn)")->required();
    cmd->add_flag("--json", opt->bJson, "Print the song as JSON");
    cmd->callback([opt] { RunInfo(*opt); });
}

} // namespace vantrel::tool
