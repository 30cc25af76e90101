#include "command_line.h"

#include <algorithm>
#include <cstdio>
#include <sstream>

namespace kxsync {

namespace {

// A command's option declaration: the options of the whole command (scope "") and of each
// subcommand, in the order declared.
struct Declared {
    std::vector<std::string> subcommands;
    std::vector<std::pair<std::string, std::string>> options; // (scope, option)

    explicit Declared(const char* spec) {
        std::istringstream words(spec ? spec : "");
        std::string scope;
        for (std::string word; words >> word;) {
            if (word.back() == ':') {
                scope = word.substr(0, word.size() - 1);
                subcommands.push_back(scope);
            } else {
                options.emplace_back(scope, word);
            }
        }
    }
    bool Takes(const std::string& subcommand, const std::string& option) const {
        return std::any_of(options.begin(), options.end(), [&](const auto& o) {
            return o.second == option && (o.first.empty() || o.first == subcommand);
        });
    }
};

size_t Distance(const std::string& a, const std::string& b) {
    std::vector<size_t> row(b.size() + 1);
    for (size_t j = 0; j <= b.size(); ++j)
        row[j] = j;
    for (size_t i = 1; i <= a.size(); ++i) {
        size_t diagonal = row[0];
        row[0] = i;
        for (size_t j = 1; j <= b.size(); ++j) {
            size_t above = row[j];
            row[j] = std::min({row[j] + 1, row[j - 1] + 1, diagonal + (a[i - 1] == b[j - 1] ? 0 : 1)});
            diagonal = above;
        }
    }
    return row[b.size()];
}

int Refuse(const std::string& what, const std::string& usage) {
    std::fprintf(stderr, "kxsync: %s\n%s\n", what.c_str(), usage.c_str());
    return 2;
}

std::string Listed(const std::vector<std::string>& words) {
    std::string text;
    for (size_t i = 0; i < words.size(); ++i)
        text += (i == 0 ? "" : i + 1 == words.size() ? " or " : ", ") + words[i];
    return text;
}

} // namespace

int CheckArguments(const Session& session) {
    const std::vector<std::string>& args = session.options.arguments;
    const std::string what = session.options.command + " " + args[0];
    const size_t wanted = args[0] == "read" ? 1 : 2;
    if (args.size() < wanted)
        return UsageError(session, what + " needs a FILE of record lines (docs/record-json.md)");
    if (args.size() > wanted)
        return UsageError(session, what + ": unexpected argument " + args[wanted]);
    return 0;
}

std::string NearestWord(const std::string& word, const std::vector<std::string>& candidates) {
    std::string best;
    size_t bestDistance = 3;
    for (const std::string& c : candidates) {
        size_t d = word.size() >= 2 && c.compare(0, word.size(), word) == 0 ? 1 : Distance(word, c);
        if (d < bestDistance && d < c.size()) {
            best = c;
            bestDistance = d;
        }
    }
    return best;
}

std::string GeneralUsageLine() {
    return "usage: kxsync [options] COMMAND [ARG...]; kxsync --help lists the commands and options";
}

std::string UsageLine(const Command& command) {
    std::string line =
        std::string("usage: kxsync [options] ") + command.name + (*command.usage ? " " : "") + command.usage;
    Declared declared(command.options);
    std::vector<std::string> shown;
    for (const auto& o : declared.options) {
        if (std::find(shown.begin(), shown.end(), o.second) != shown.end() ||
            line.find(o.second) != std::string::npos)
            continue;
        shown.push_back(o.second);
        const char* value = OptionValueName(o.second);
        line += " [" + o.second + (value ? std::string(" ") + value : "") + "]";
    }
    return line;
}

int CheckCommandLine(const Options& options, const Command** command) {
    *command = FindCommand(options.command);
    if (options.command.empty())
        return Refuse("no command given", GeneralUsageLine());
    if (!*command) {
        std::vector<std::string> names;
        for (const Command& c : Commands())
            if (c.summary)
                names.push_back(c.name);
        std::string near = NearestWord(options.command, names);
        return Refuse("unknown command " + options.command +
                          (near.empty() ? "" : "; did you mean " + near + "?"),
                      GeneralUsageLine());
    }
    const Command& c = **command;
    Declared declared(c.options);
    std::string subcommand;
    if (!declared.subcommands.empty()) {
        const std::string name = c.name;
        if (options.arguments.empty())
            return Refuse(name + " needs one of " + Listed(declared.subcommands), UsageLine(c));
        subcommand = options.arguments[0];
        if (std::find(declared.subcommands.begin(), declared.subcommands.end(), subcommand) ==
            declared.subcommands.end()) {
            std::string near = NearestWord(subcommand, declared.subcommands);
            return Refuse(name + ": " + subcommand + " is not " + Listed(declared.subcommands) +
                              (near.empty() ? "" : "; did you mean " + near + "?"),
                          UsageLine(c));
        }
    }
    if (!c.options)
        return 0;
    for (const std::string& option : options.given) {
        if (IsCommonOption(option) || declared.Takes(subcommand, option))
            continue;
        std::string what = c.name + (subcommand.empty() ? "" : " " + subcommand);
        return Refuse(what + " does not take " + option, UsageLine(c));
    }
    return 0;
}

int UsageError(const Session& session, const std::string& what) {
    const Command* command = FindCommand(session.options.command);
    return Refuse(what, command ? UsageLine(*command) : GeneralUsageLine());
}

} // namespace kxsync
