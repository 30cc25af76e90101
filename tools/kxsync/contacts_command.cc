// "kxsync contacts read": a host session around Read(2, 0). Records arrive as message 2525 on
// the host window while Read runs on the main thread; Ctrl-C becomes Stop on another thread.
#include "contacts_command.h"

#include <kxphone/contact_record.h>
#include <kxphone/kxphone.h>

#include <unistd.h>

#include <algorithm>
#include <cstdio>

#include <json/json.h>

#include "command_line.h"
#include "commands.h"
#include "record_json.h"
#include "record_text.h"
#include "trace_watch.h"
#include "write_command.h"

namespace kxsync {

namespace {

// ---------------------------------------------------------------- text

// "id  Given Family  mobile=… email=… (+n more)"; with all, every field whole, the picture and
// the modification time. Texts escaped (record_text.h).
std::string ReadableLine(const ContactRecord& r, bool all) {
    std::string name, details;
    int shown = 0, more = 0;
    for (int32_t i = 0; i < r.GetFieldCount(); ++i) {
        const ContactField* f = r.GetField(i);
        if (!f || f->strData.empty())
            continue;
        // Appended piece by piece: this runs for every record of a read of thousands.
        if (f->nType == 1 || f->nType == 2) {
            if (!name.empty())
                name += ' ';
            name += Escaped(Utf8(f->strData));
        } else if (all || (shown < 3 && f->nType != 3002)) {
            details += "  ";
            details += ContactFieldName(f->nType);
            details += '=';
            details += Escaped(all ? Utf8(f->strData) : Shortened(Utf8(f->strData), 40, 37));
            shown += !all;
        } else {
            ++more;
        }
    }
    std::string line = Escaped(Utf8(r.strPIMID));
    line += "  ";
    line += name.empty() ? "(no name)" : name;
    line += details;
    if (more)
        line += "  (+" + std::to_string(more) + " more)";
    if (all) {
        Json::Value v = ContactJsonValue(r);
        for (const char* member : {"picture", "modified", "op"})
            if (v.isMember(member))
                line += std::string("  ") + member + "=" + Escaped(v[member].asString());
    }
    return line;
}

// ---------------------------------------------------------------- the session

// Draws nothing itself: the host window draws the bar from the progress messages.
struct ReadState {
    const ContactReadOptions* options = nullptr;
    ContactReadOutcome* outcome = nullptr;
    bool bar = false;

    void Record(const ContactRecord* r) {
        ++outcome->delivered;
        if (const ContactField* holder = r->PictureHolder(); holder && !holder->strFilePath.empty()) {
            ++outcome->pictures;
            std::string path = Utf8(holder->strFilePath);
            outcome->pictureFolder = path.substr(0, path.rfind('/'));
        }
        if (!options->print && outcome->samples.size() >= options->keepSamples)
            return;
        std::string line = options->json ? ContactJsonLine(*r) : ReadableLine(*r, options->all);
        if (outcome->samples.size() < options->keepSamples)
            outcome->samples.push_back(line);
        if (options->print) {
            if (bar)
                std::fputs("\r\033[K", stderr); // the bar comes back with the next percentage
            std::fwrite(line.data(), 1, line.size(), stdout);
            std::fputc('\n', stdout);
        }
    }
};

} // namespace

void ReadContacts(Session& session, const std::string& address, int port, const ContactReadOptions& options,
                  ContactReadOutcome* outcome) {
    ReadState state;
    state.options = &options;
    state.outcome = outcome;
    state.bar = session.options.progress && isatty(STDERR_FILENO);
    session.window.SetHandler([&state](uint32_t code, intptr_t value) {
        if (code == KXMessageCode(KX_TYPE_CONTACT, KX_EVENT_RECORD_READ)) {
            state.Record(reinterpret_cast<const ContactRecord*>(value));
        } else if (code == KX_PROGRESS_PERCENT) {
            state.outcome->lastPercent = static_cast<int>(value);
        } else if (code == KXMessageCode(KX_TYPE_CONTACT, KX_EVENT_READ_FINISHED) ||
                   code == KXMessageCode(KX_TYPE_CONTACT, KX_EVENT_READ_FAILED)) {
            state.outcome->finalCode = code;
            state.outcome->finalValue = value;
        }
    });

    // Both callbacks are given, as a host that uses them would; they only count.
    OpenSession(session, address, port, /*callbacks=*/true, /*print=*/false);
    outcome->result = TimedRead(session, KX_TYPE_CONTACT, &outcome->seconds);
    CloseSession(session, /*print=*/false);
}

int RunContacts(Session& session) {
    const std::vector<std::string>& args = session.options.arguments;
    if (int status = CheckArguments(session))
        return status;
    if (args[0] == "write")
        return RunContactsWrite(session, args[1]);
    if (args[0] == "verify")
        return RunContactsVerify(session, args[1]);
    ContactReadOptions options;
    options.json = session.options.json;
    options.all = session.options.all;
    ContactReadOutcome outcome;
    ReadContacts(session, session.options.address, session.options.port, options, &outcome);
    CatchUpTrace(session);
    int listed = session.watch ? session.watch->ContactsListed() : 0;
    PrintReadSummary(outcome.delivered, "contacts", outcome.seconds, std::max(0, listed - outcome.delivered),
                     "other accounts' contacts", outcome.result);
    if (outcome.pictures > 0)
        std::fprintf(stderr, "kxsync: the pictures of %d contacts are files in %s (--pictures DIR chooses)\n",
                     outcome.pictures, outcome.pictureFolder.c_str());
    return outcome.result == KX_OK ? 0 : 1;
}

std::string ContactReadableLine(const ContactRecord& r, bool all) {
    return ReadableLine(r, all);
}

} // namespace kxsync
