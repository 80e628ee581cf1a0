// The list of commands, from cli/Commands.def.
#include "cli/Command.h"

namespace cli {

#define VX538_COMMAND(name) std::unique_ptr<Command> Make##name();
#include "cli/Commands.def"
#undef VX538_COMMAND

std::vector<std::unique_ptr<Command>> MakeCommands() {
    std::vector<std::unique_ptr<Command>> commands;
#define VX538_COMMAND(name) commands.push_back(Make##name());
#include "cli/Commands.def"
#undef VX538_COMMAND
    return commands;
}

} // namespace cli
