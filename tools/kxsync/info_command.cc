#include "info_command.h"

#include <iostream>
#include <string>
#include <vector>

#include <kxphone/host_blocks.h>
#include <kxphone/profiles.h>

#include "commands.h"
#include "record_text.h"

namespace kxsync {

namespace {

// The text of <name>...</name> in a document, empty when absent.
std::string Element(const std::string& document, const std::string& name) {
    std::string open = "<" + name + ">", close = "</" + name + ">";
    size_t b = document.find(open);
    if (b == std::string::npos)
        return {};
    b += open.size();
    size_t e = document.find(close, b);
    return e == std::string::npos ? std::string() : document.substr(b, e - b);
}

// The field text block's parts (consecutive NUL-ended texts).
std::vector<std::u16string> Parts(const KXChar* block, size_t room) {
    std::vector<std::u16string> parts;
    size_t at = 0;
    while (block && at < room && block[at] != u'\0') {
        size_t n = 0;
        while (at + n < room && block[at + n] != u'\0')
            ++n;
        parts.emplace_back(block + at, n);
        at += n + 1;
    }
    return parts;
}

size_t CountOf(const std::u16string& text, char16_t c) {
    size_t n = 0;
    for (char16_t x : text)
        n += x == c;
    return n;
}

void PrintFolders(std::ostream& out, const char* title, const KXPointerArray<KXFolderRecord>& list) {
    for (const KXFolderRecord* f : list) {
        out << "  " << title << ": " << Utf8(f->name) << " (kind " << f->kind << ", " << f->files.size()
            << " files, " << f->subfolders.size() << " subfolders)\n";
    }
}

void PrintMailFolders(std::ostream& out, const KXPointerArray<KXMailFolder>& list, int depth) {
    for (const KXMailFolder* f : list) {
        out << std::string(2 + 2 * depth, ' ') << Utf8(f->name) << ": " << f->messageCount << " e-mails\n";
        PrintMailFolders(out, f->subfolders, depth + 1);
    }
}

int32_t MailTotal(const KXPointerArray<KXMailFolder>& list) {
    int32_t total = 0;
    for (const KXMailFolder* f : list)
        total += f->messageCount + MailTotal(f->subfolders);
    return total;
}

} // namespace

int RunInfoCommand(const InfoDriverApi& api, std::ostream& out, std::ostream& err) {
    int failure = 0;
    auto check = [&](int32_t result, const char* what) {
        if (result != 0) {
            err << "kxsync: " << what << ": the driver returned " << result << "\n";
            if (!failure)
                failure = result;
        }
        return result == 0;
    };

    std::vector<KXChar> buffer(4096, u'\0');
    KXAnswerBlock block{static_cast<int32_t>(buffer.size()), buffer.data()};
    if (check(api.InquireInfo(KX_INQUIRE_PHONE_STATUS, reinterpret_cast<uintptr_t>(&block)),
              "phone status")) {
        std::string status = Utf8(block.buffer);
        std::string code = Element(status, "status"), time = Element(status, "time");
        if (code != "0") {
            // What the driver reports for a silent handset are stand-in values, not the handset's:
            // nothing more is asked or shown.
            err << "kxsync: the handset did not answer (phone status " << (code.empty() ? "-" : code)
                << ")\n";
            return 1;
        }
        out << "Phone status: 0 (answering)\n";
        out << "Phone time:   " << (time.empty() ? "-" : time) << "\n";
    } else {
        return failure;
    }

    buffer.assign(buffer.size(), u'\0');
    block = {static_cast<int32_t>(buffer.size()), buffer.data()};
    if (check(api.InquireInfo(KX_INQUIRE_PHONE_PROPERTIES, reinterpret_cast<uintptr_t>(&block)),
              "phone properties")) {
        const std::string document = Utf8(block.buffer);
        auto value = [&](const char* name) {
            std::string text = Element(document, name);
            return text.empty() ? std::string("-") : text;
        };
        // The driver answers these from a fixed document of its own, whatever the handset is.
        out << "Phone properties (the driver's fixed values, not asked of the handset):\n";
        out << "  version: " << value("version") << "\n";
        out << "  IMEI: " << value("imei") << "\n";
        out << "  firmware: " << value("firmwarever") << "\n";
        out << "  signal strength: " << value("signalstrength") << " %\n";
        out << "  battery: " << value("remainingpower") << " %\n";
        out << "  phone memory: " << value("phonefree") << " of " << value("phonetotal") << " bytes free\n";
        out << "  SD card: " << value("SDfree") << " of " << value("SDtotal") << " bytes free\n";
    }

    uintptr_t slot = 0;
    if (check(api.GetProfile(KX_TYPE_CONTACT, reinterpret_cast<uintptr_t>(&slot)), "contact profile") &&
        slot) {
        const auto* p = reinterpret_cast<const KXContactProfile*>(slot);
        out << "Contact profile (version " << p->version << "): " << p->storages.size() << " storage(s)\n";
        for (const KXContactStorage* s : p->storages) {
            std::vector<std::u16string> parts = Parts(s->fieldText, KX_FIELD_TEXT_CHARS);
            size_t described = parts.size() > 2 ? CountOf(parts[2], u',') : 0;
            out << "  " << Utf8(s->name) << ": " << s->fieldCount << " fields (" << described
                << " described), " << s->entries.size() << " entries"
                << ((s->flags & KX_STORAGE_GROUPS) ? ", groups" : "") << "\n";
        }
    }

    slot = 0;
    if (check(api.GetProfile(KX_TYPE_CALENDAR, reinterpret_cast<uintptr_t>(&slot)), "calendar profile") &&
        slot) {
        const auto* p = reinterpret_cast<const KXCalendarProfile*>(slot);
        out << "Calendar profile (version " << p->version << "):\n";
        for (const KXCalendarKind* k : p->kinds)
            out << "  kind " << k->kind << ": size " << k->sizeValue << "\n";
        out << "  rings:";
        for (const auto& ring : p->ringNames)
            out << " \"" << Utf8(ring) << "\"";
        out << "\n  reminders (minutes):";
        for (int32_t m : p->reminderMinutes)
            out << " " << m;
        out << "\n";
    }

    slot = 0;
    if (check(api.GetProfile(KX_TYPE_MEDIA, reinterpret_cast<uintptr_t>(&slot)), "media profile") && slot) {
        const auto* p = reinterpret_cast<const KXMediaProfile*>(slot);
        out << "Media profile: pictures";
        for (const KXMediaFormat* f : p->pictureFormats)
            out << " " << Utf8(f->extension);
        out << "; sounds";
        for (const KXMediaFormat* f : p->soundFormats)
            out << " " << Utf8(f->extension);
        out << "\n";
    }

    slot = 0;
    if (check(api.GetProfile(KX_TYPE_PICTURE, reinterpret_cast<uintptr_t>(&slot)), "folder profile") &&
        slot) {
        const auto* p = reinterpret_cast<const KXFolderProfile*>(slot);
        out << "Media folders (the driver's sample store): " << p->formats.size() << " formats, "
            << p->sizes.size() << " picture sizes\n";
        PrintFolders(out, "ringtones", p->ringtoneFolders);
        PrintFolders(out, "pictures", p->pictureFolders);
        PrintFolders(out, "movies", p->movieFolders);
    }

    // E-mail and text messages are two stores of the driver's sample store, each with folders of
    // its own (both have an "Inbox"): one total per store, then its folders.
    slot = 0;
    if (check(api.GetProfile(KX_TYPE_EMAIL, reinterpret_cast<uintptr_t>(&slot)), "mailbox profile") && slot) {
        const auto& folders = reinterpret_cast<const KXMailboxProfile*>(slot)->folders;
        out << "E-mail (the driver's sample store): " << MailTotal(folders) << " e-mails\n";
        PrintMailFolders(out, folders, 0);
    }
    slot = 0;
    if (check(api.GetProfile(KX_TYPE_MESSAGE, reinterpret_cast<uintptr_t>(&slot)), "message profile") &&
        slot) {
        const auto& folders = reinterpret_cast<const KXMessageProfile*>(slot)->folders;
        int32_t total = 0;
        for (const KXMessageFolder* f : folders)
            total += f->total;
        out << "Text messages (the driver's sample store): " << total << " messages\n";
        for (const KXMessageFolder* f : folders)
            out << "  " << Utf8(f->name) << ": " << f->total << " messages, " << f->unread << " unread\n";
    }
    return failure;
}

int RunInfo(Session& session) {
    return RunInSession(session, [&] {
        int failure = RunInfoCommand({session.api.GetProfile, session.api.InquireInfo}, std::cout, std::cerr);
        std::cout.flush();
        return failure == 0 ? 0 : 1;
    });
}

} // namespace kxsync
