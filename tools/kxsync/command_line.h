// kxsync's command line against its command table: the command, its subcommand and the options it
// takes, checked before anything runs; errors name what is wrong with a one-line usage.
#pragma once

#include <string>
#include <vector>

#include "commands.h"
#include "options.h"
#include "session.h"

namespace kxsync {

// "usage: kxsync [options] COMMAND [ARG...]; kxsync --help lists the commands and options".
std::string GeneralUsageLine();
// "usage: kxsync [options] contacts read|write FILE|verify FILE [--json] [--all] ...".
std::string UsageLine(const Command& command);

// The command of the command line in *command, or the exit status (2) after saying on stderr
// what is wrong: no command, an unknown one (with the nearest name when one is near), a missing
// or unknown subcommand, an option the command or subcommand does not take.
int CheckCommandLine(const Options& options, const Command** command);

// For commands: says "kxsync: WHAT" and the command's usage line on stderr; returns 2.
int UsageError(const Session& session, const std::string& what);

// For "read|write FILE|verify FILE" commands (the subcommand already checked): 0 when read has no
// more arguments and write or verify one FILE, else the exit status after saying what is wrong.
int CheckArguments(const Session& session);

// The word among candidates nearest to word (at most two edits, or word a beginning of it); "" when
// none is near.
std::string NearestWord(const std::string& word, const std::vector<std::string>& candidates);

} // namespace kxsync
