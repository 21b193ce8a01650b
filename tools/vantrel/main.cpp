// vantrel: inspect, check, arrange, render, play, pack and unpack VNF songs.
#include <cstdio>
#include <exception>

#include "Commands.h"
#include "VantrelVersion.h"

int main(int argc, char** argv)
{
    CLI::App app{"vantrel: inspect, check, arrange, render, play, pack and unpack VNF songs (.vn)"};
    app.require_subcommand(1);
    app.set_version_flag("--version", "vantrel " VANTREL_VERSION_STRING);

    using namespace vantrel::tool;
    AddInfoCommand(app);
    AddArrangeCommand(app);
    AddRenderCommand(app);
    AddPackCommand(app);
    AddPlayCommand(app);
    AddUnpackCommand(app);
    AddCheckCommand(app);
    AddThumbnailCommand(app);

    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        return app.exit(e);
    } catch (const CommandError& e) {
        if (*e.what()) // an empty message: the command has said everything already
            std::fprintf(stderr, "vantrel: %s\n", e.what());
        return e.Status();
    } catch (const std::exception& e) {
        std::fprintf(stderr, "vantrel: %s\n", e.what());
        return 1;
    }
    return 0;
}
