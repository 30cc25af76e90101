// The message store (type 3) and the mailbox (type 14) of the sample store.
#include <algorithm>

#include "driver/app.h"
#include "driver/sample_store.h"
#include "platform/format.h"
#include "platform/text.h"
#include "platform/utf.h"
#include "sync/host_messages.h"
#include "trace/trace.h"

namespace {

constexpr size_t kMailCapacity = 1000; // the store refuses more
constexpr size_t kMessageTextMax = 1024;

KXMailFolder* NewMailFolder(int32_t id, const char16_t* name) {
    auto* f = new KXMailFolder;
    f->folderId = id;
    f->name = name;
    return f;
}

void CountInto(KXMailFolder* folder, const std::vector<std::unique_ptr<KXMailItem>>& mail) {
    folder->messageCount = static_cast<int32_t>(
        std::count_if(mail.begin(), mail.end(), [&](const std::unique_ptr<KXMailItem>& m) {
            return platform::EqualsNoCase(m->folder, folder->name);
        }));
    for (KXMailFolder* sub : folder->subfolders)
        CountInto(sub, mail);
}

void SummaryOf(const KXPointerArray<KXMailFolder>& list, std::u16string* out) {
    for (const KXMailFolder* f : list) {
        *out += platform::Format(u"%s,%d;", f->name.c_str(), f->messageCount);
        SummaryOf(f->subfolders, out);
    }
}

const struct {
    int32_t id;
    const char16_t* name;
    int32_t total, unread;
} kMessageFolders[] = {{1, u"Inbox", 3, 1}, {2, u"Outbox", 0, 0}, {3, u"Draft", 1, 0}};

} // namespace

void SampleStore::FillMailFixtures() {
    for (KXMailFolder* f : mailbox_.folders)
        delete f;
    mailbox_.folders.clear();
    int32_t id = 1;
    for (const char16_t* name : {u"Inbox", u"Outbox", u"Sent", u"Draft", u"Deleted", u"My Box1"})
        mailbox_.folders.push_back(NewMailFolder(id++, name));
    KXMailFolder* box2 = NewMailFolder(id++, u"My Box2");
    box2->subfolders.push_back(NewMailFolder(id++, u"Sub Box1"));
    box2->subfolders.push_back(NewMailFolder(id++, u"Sub Box2"));
    mailbox_.folders.push_back(box2);

    mail_.clear();
    const struct {
        const char16_t *folder, *from, *to, *subject, *body;
    } samples[] = {
        {u"Inbox", u"anna@example.com", u"me@example.com", u"Lunch", u"Lunch at noon?"},
        {u"Inbox", u"news@example.com", u"me@example.com", u"Weekly news", u"Nothing new this week."},
        {u"Sent", u"me@example.com", u"anna@example.com", u"Re: Lunch", u"Yes, see you."},
        {u"Draft", u"me@example.com", u"", u"Plans", u"To do:\r\n- call back"},
    };
    for (const auto& s : samples) {
        auto item = std::make_unique<KXMailItem>();
        item->folder = s.folder;
        item->from = s.from;
        item->to = s.to;
        item->subject = s.subject;
        item->body = s.body;
        mail_.push_back(std::move(item));
    }

    for (KXMessageFolder* f : messageProfile_.folders)
        delete f;
    messageProfile_.folders.clear();
    for (const auto& m : kMessageFolders) {
        auto* f = new KXMessageFolder;
        f->folderId = m.id;
        f->name = m.name;
        f->total = m.total;
        f->unread = m.unread;
        messageProfile_.folders.push_back(f);
    }
    messageProfile_.columns = {u"Address", u"Text", u"Time", u"Status"};
}

KXMailFolder* SampleStore::FindMailFolder(const std::u16string& name) {
    return FindByName(mailbox_.folders, name);
}

// --- messages ---

int32_t SampleStore::MessageProfile(uintptr_t* slot) {
    *slot = reinterpret_cast<uintptr_t>(&messageProfile_);
    return KX_OK;
}

int32_t SampleStore::MessageSummary(uintptr_t* slot) {
    if (!slot)
        return KX_INVALID_ARGUMENT;
    std::lock_guard<std::mutex> hold(lock_);
    messageSummary_.clear();
    for (const KXMessageFolder* f : messageProfile_.folders)
        messageSummary_ += platform::Format(u"%s,%d,%d;", f->name.c_str(), f->total, f->unread);
    *slot = reinterpret_cast<uintptr_t>(messageSummary_.c_str());
    return KX_OK;
}

int32_t SampleStore::VerifyMessage(KXVerifyBlock* block) {
    if (!block || !block->item)
        return 2;
    const auto* item = static_cast<const KXMessageItem*>(block->item);
    bool known = std::any_of(std::begin(kMessageFolders), std::end(kMessageFolders),
                             [&](const auto& f) { return platform::EqualsNoCase(item->folder, f.name); });
    return known && item->text.size() <= kMessageTextMax ? KX_OK : 1;
}

// --- mailbox ---

void SampleStore::SetMailFolderDescription(const std::u16string& text) {
    std::lock_guard<std::mutex> hold(lock_);
    mailFolderDescription_ = text;
}

std::u16string SampleStore::MailFolderDescription() const {
    std::lock_guard<std::mutex> hold(lock_);
    return mailFolderDescription_;
}

size_t SampleStore::MailCount() const {
    std::lock_guard<std::mutex> hold(lock_);
    return mail_.size();
}

int32_t SampleStore::MailboxProfile(uintptr_t* slot) {
    std::lock_guard<std::mutex> hold(lock_);
    for (KXMailFolder* f : mailbox_.folders)
        CountInto(f, mail_);
    mailbox_.folderDescription = mailFolderDescription_;
    *slot = reinterpret_cast<uintptr_t>(&mailbox_);
    return KX_OK;
}

int32_t SampleStore::MailSummary(uintptr_t* slot) {
    if (!slot)
        return KX_INVALID_ARGUMENT;
    std::lock_guard<std::mutex> hold(lock_);
    for (KXMailFolder* f : mailbox_.folders)
        CountInto(f, mail_);
    mailSummary_.clear();
    SummaryOf(mailbox_.folders, &mailSummary_);
    *slot = reinterpret_cast<uintptr_t>(mailSummary_.c_str());
    return KX_OK;
}

int32_t SampleStore::ReadMail(const KXChar* folder, const std::atomic<bool>& stop) {
    ItemReporter report(phone_, kMailRead, u"CKXFakePhone::Read");
    int32_t result = KX_OK;
    // Copies, so the host sees stable items even if a write runs meanwhile.
    std::vector<KXMailItem> items;
    {
        std::lock_guard<std::mutex> hold(lock_);
        std::u16string name = platform::FromHostText(folder);
        if (folder && !FindMailFolder(name)) {
            result = KX_FAILED;
        } else {
            for (const auto& m : mail_) {
                if (!folder || platform::EqualsNoCase(m->folder, name))
                    items.push_back(*m);
            }
        }
    }
    if (result != KX_OK)
        KX_TRACE_ERROR(u"SampleStore::ReadMail", u"Unknown mail folder");
    for (size_t i = 0; i < items.size(); ++i) {
        report.Item(static_cast<int>((i + 1) * 100 / items.size()), reinterpret_cast<intptr_t>(&items[i]));
        if (stop.load()) {
            result = KX_STOPPED;
            break;
        }
    }
    return report.Finish(result);
}

int32_t SampleStore::WriteMail(const KXMailItemList* list, const std::atomic<bool>& stop) {
    ItemReporter report(phone_, kMailWrite, u"CKXFakePhone::Write");
    int32_t result = KX_OK;
    if (list) {
        size_t total = list->size();
        for (size_t i = 0; i < total; ++i) {
            KXMailItem* item = (*list)[i];
            if (!item)
                continue;
            {
                std::lock_guard<std::mutex> hold(lock_);
                if (!FindMailFolder(item->folder) || mail_.size() >= kMailCapacity) {
                    result = KX_WRITE_REFUSED;
                } else {
                    mail_.push_back(std::make_unique<KXMailItem>(*item));
                }
            }
            if (result != KX_OK) {
                KX_TRACE_ERROR(u"SampleStore::WriteMail", u"Mail refused: unknown folder or mailbox full");
                break;
            }
            report.Item(static_cast<int>((i + 1) * 100 / total), reinterpret_cast<intptr_t>(item));
            if (stop.load()) {
                result = KX_STOPPED;
                break;
            }
        }
    }
    return report.Finish(result);
}

int32_t SampleStore::VerifyMail(KXVerifyBlock* block) {
    if (!block || !block->item)
        return 2;
    const auto* item = static_cast<const KXMailItem*>(block->item);
    std::lock_guard<std::mutex> hold(lock_);
    return FindMailFolder(item->folder) ? KX_OK : 1;
}
