// Group ids of the handset and the group titles the host knows, translated through
// "/contact/build_group_id" and remembered for the life of the phone object that owns the cache, so that each
// group costs at most one request. Failed lookups are not remembered.
//
// Lookups run on the thread that converts contacts; the cache itself is locked, so write
// workers converting on their own threads cannot corrupt it.
#pragma once

#include <functional>
#include <map>
#include <mutex>
#include <string>

class ContactGroupCache {
public:
    // One plain-text exchange: body out, answer text back. False when the request failed.
    typedef std::function<bool(const std::string& body, std::string* answer)> Requester;

    // The requester defaults to the handset service at the phone's BaseUrl.
    ContactGroupCache();

    // The title of a group id ("System Group: " removed). False when the handset gave none.
    bool TitleOfId(const std::u16string& id, std::u16string* title);
    // The id of a group title. False when the handset gave none.
    bool IdOfTitle(const std::u16string& title, std::u16string* id);

    // For tests: forget every pair, and route requests elsewhere (null: back to the service).
    void Clear();
    void SetRequester(Requester requester);
    size_t size() const;

private:
    bool Ask(const std::string& body, std::string* answer);

    mutable std::mutex lock_;
    std::map<std::u16string, std::u16string> titleToId_; // exact, case-sensitive titles
    Requester requester_;
};
