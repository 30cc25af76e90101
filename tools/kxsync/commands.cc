#include "commands.h"

namespace kxsync {

const std::vector<Command>& Commands() {
    static const std::vector<Command> commands = {
        {"contacts", "read [--json]", "every contact of the handset; Ctrl-C stops the read", &RunContacts},
        {"info", "", "phone status and time, phone properties and a summary of every profile", &RunInfo},
        {"hello", "", "a short host session: InitDriver, SetParam, InitSync, one Read, UninitSync",
         &RunHello},
        {"demo", "", "the demonstration session", &RunDemo},
        {"calendar", "read [--json]", "every event of the handset; Ctrl-C stops the read", &RunCalendar},
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
