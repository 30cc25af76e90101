// The subcommands. To add one: write its Run function in a file of its own, declare it here and
// add a row to the table in commands.cc, with the options it takes.
#pragma once

#include <vector>

#include "session.h"

namespace kxsync {

struct Command {
    const char* name;
    const char* usage;   // arguments after the name
    const char* summary; // one line for the help text; null keeps the command out of it
    int (*run)(Session& session);
    // What the command takes beyond the options every command takes (command_line.h): option
    // names, and "WORD:" in front of the options of subcommand WORD, e.g. "read: --json --all
    // write: --json". A command with such words needs one of them as its first argument. Any
    // other option given to the command is refused. Null: not declared, every option passes.
    const char* options = nullptr;
};

const std::vector<Command>& Commands();
const Command* FindCommand(const std::string& name);

// contacts_command.cc: "contacts read"
int RunContacts(Session& session);

// info_command.cc: "info"
int RunInfo(Session& session);

// hello.cc, demo_command.cc
int RunHello(Session& session);
int RunDemo(Session& session);

// calendar_command.cc
int RunCalendar(Session& session);

// sync_command.cc: "sync contacts|calendar"
int RunSync(Session& session);
// backup_command.cc: "backup" and "restore"
int RunBackup(Session& session);
int RunRestore(Session& session);
// mirror_command.cc: "mirror init|sync|status"; transfer_command.cc: "export" and "import"
int RunMirror(Session& session);
int RunExport(Session& session);
int RunImport(Session& session);
// The demo's part: back up, delete a few contacts, restore what is missing, show the counts.
int BackupDemoSection(Session& session, const std::string& address, int port);

} // namespace kxsync
