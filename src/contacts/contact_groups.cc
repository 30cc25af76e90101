#include "contacts/contact_groups.h"

#include "trace/trace.h"
#include "transport/text_encoding.h"

// The one call into the service frame (contact_service.cc).
bool SendGroupRequest(const std::string& body, std::string* answer);

namespace {

void RemoveAll(std::u16string* text, const std::u16string& what) {
    for (size_t p = text->find(what); p != std::u16string::npos; p = text->find(what, p))
        text->erase(p, what.size());
}

} // namespace

ContactGroupCache::ContactGroupCache() = default;

bool ContactGroupCache::Ask(const std::string& body, std::string* answer) {
    Requester requester;
    {
        std::lock_guard<std::mutex> hold(lock_);
        requester = requester_;
    }
    bool ok = requester ? requester(body, answer) : SendGroupRequest(body, answer);
    return ok && !answer->empty();
}

bool ContactGroupCache::TitleOfId(const std::u16string& id, std::u16string* title) {
    {
        std::lock_guard<std::mutex> hold(lock_);
        for (const auto& pair : titleToId_) {
            if (pair.second == id) {
                *title = pair.first;
                return true;
            }
        }
    }
    std::string answer;
    if (!Ask("cmd=get_group_title;value=" + WideToUtf8(id), &answer)) {
        KX_TRACE_ERROR(u"CKXFakePhone::GetGroupTitle", u"no group title for id " + id);
        return false;
    }
    std::u16string text = Utf8ToWide(answer);
    RemoveAll(&text, u"System Group: ");
    std::lock_guard<std::mutex> hold(lock_);
    titleToId_[text] = id;
    *title = text;
    return true;
}

bool ContactGroupCache::IdOfTitle(const std::u16string& title, std::u16string* id) {
    {
        std::lock_guard<std::mutex> hold(lock_);
        auto it = titleToId_.find(title);
        if (it != titleToId_.end()) {
            *id = it->second;
            return true;
        }
    }
    std::string answer;
    if (!Ask("cmd=get_group_id;value=" + WideToUtf8(title), &answer)) {
        KX_TRACE_ERROR(u"CKXFakePhone::GetGroupId", u"no group id for title " + title);
        return false;
    }
    std::u16string text = Utf8ToWide(answer);
    std::lock_guard<std::mutex> hold(lock_);
    titleToId_[title] = text;
    *id = text;
    return true;
}

void ContactGroupCache::Clear() {
    std::lock_guard<std::mutex> hold(lock_);
    titleToId_.clear();
}

void ContactGroupCache::SetRequester(Requester requester) {
    std::lock_guard<std::mutex> hold(lock_);
    requester_ = std::move(requester);
}

size_t ContactGroupCache::size() const {
    std::lock_guard<std::mutex> hold(lock_);
    return titleToId_.size();
}
