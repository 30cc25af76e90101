#include "commands.h"

namespace kxsync {

const std::vector<Command>& Commands() {
    static const std::vector<Command> commands = {
        {"hello", "", "a short host session: InitDriver, SetParam, InitSync, one Read, UninitSync",
         &RunHello},
        {"contacts", "read", "print every contact of the handset (--json: JSON lines); Ctrl-C stops",
         &RunContacts},
        {"demo", "[N [SEED]]", "start kxphone-sim with seeded contacts (500) and read them all", &RunDemo},
    };
    return commands;
}

const Command* FindCommand(const std::string& name) {
    for (const Command& command : Commands())
        if (name == command.name)
            return &command;
    return nullptr;
}

} // namespace kxsync
