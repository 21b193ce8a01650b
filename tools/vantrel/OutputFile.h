// The tool's files: every command that writes a file the user names writes it
// through COutputFile (platform/OutputFile.h), so that a regular file is replaced only
// by a complete one, a device, FIFO or "-" is written directly, links are followed and
// permissions kept. Its errors (COutputFileError) reach the user as they are.
#pragma once

#include "platform/OutputFile.h"

namespace vantrel::tool {

using ::COutputFile;
using ::COutputFileError;
using ::WriteWholeFile;

} // namespace vantrel::tool
