// The tool's subcommands. Each Add...Command registers one subcommand on the app
// and the callback that runs it; a callback reports failure by throwing CommandError.
#pragma once

#include <CLI/CLI.hpp>
#include <stdexcept>
#include <string>

class CSongDocument;

namespace vantrel::tool {

// A failure to report to the user: the message goes to standard error and the tool
// exits with `status`.
class CommandError : public std::runtime_error
{
public:
    explicit CommandError(const std::string& what, int status = 1)
        : std::runtime_error(what), m_nStatus(status)
    {
    }
    int Status() const { return m_nStatus; }

private:
    int m_nStatus;
};

void AddInfoCommand(CLI::App& app);
void AddArrangeCommand(CLI::App& app);
void AddRenderCommand(CLI::App& app);
void AddPackCommand(CLI::App& app);
void AddPlayCommand(CLI::App& app);
void AddUnpackCommand(CLI::App& app);
void AddCheckCommand(CLI::App& app);
void AddThumbnailCommand(CLI::App& app);

// Throws the CommandError for a song that did not load into `doc`: the loader's
// reason, or the system's when the file could not be opened at all.
[[noreturn]] void ThrowLoadFailure(const std::string& path, const CSongDocument& doc);

} // namespace vantrel::tool
