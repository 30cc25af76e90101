#include "commands.h"

namespace kxsync {

const std::vector<Command>& Commands() {
    static const std::vector<Command> commands = {
        {"contacts", "read|write FILE|verify FILE",
         "read: every contact of the handset; write: the contacts of FILE; verify: which of them would "
         "not fit; Ctrl-C stops",
         &RunContacts, "read: --json --all --pictures write: --json --verify verify:"},
        {"info", "", "phone status and time, phone properties and a summary of every profile", &RunInfo, ""},
        // The driver's own frames, for its developers: no handset needed.
        {"hello", "", nullptr, &RunHello, ""},
        {"demo", "[N [SEED]]",
         "the demonstration session: reads, then writes a few records and reads them back", &RunDemo, ""},
        {"calendar", "read|write FILE|verify FILE",
         "read: every event of the handset; write: the events of FILE; verify: which of them would "
         "not fit; Ctrl-C stops",
         &RunCalendar, "read: --json --all write: --json --verify verify:"},
        {"sync", "contacts|calendar",
         "what changed on the handset since the last sync, grouped; then clears the log (not with "
         "--keep-log)",
         &RunSync, "--json --all --keep-log contacts: --pictures calendar:"},
        {"backup", "contacts|calendar DIR", "the handset's records into DIR (people.dat or calendar.dat)",
         &RunBackup, "contacts: calendar:"},
        {"restore", "contacts|calendar DIR --mode add-missing|add-all|replace [--dry-run] [--yes]",
         "the records of DIR back to the handset; a replace first backs the handset up beside DIR",
         &RunRestore, "--mode --dry-run --yes contacts: calendar:"},
        {"mirror", "init|sync|status [contacts|calendar]",
         "the local mirror of the handset: init reads everything into it, sync exchanges the changes of "
         "both sides, status counts (with --json: the conflict copies)",
         &RunMirror, "init: sync: status: --json"},
        {"export", "contacts|calendar FILE",
         "the mirror's records into FILE: vCard 4.0, iCalendar, or with .jsonl the read form", &RunExport,
         "contacts: calendar:"},
        {"import", "contacts|calendar FILE",
         "the records of FILE (vCard, iCalendar, or with .jsonl the write form) into the mirror as local "
         "edits for the next sync",
         &RunImport, "contacts: calendar:"},
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
