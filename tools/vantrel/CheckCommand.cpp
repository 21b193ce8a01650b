#include "Commands.h"
namespace vantrel::tool {
void AddCheckCommand(CLI::App&) {}
}
