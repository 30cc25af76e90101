#include "sim_fixture.h"

#include "support/test_util.h"

namespace kxtest {

namespace {

using StoreWrite = kxsim::StoreResult (kxsim::Store::*)(const Json::Value&, kxsim::Origin, Json::Value*);

// One object written "on the handset"; the store's answer object for it, null when refused.
Json::Value HandsetEdit(kxsim::Store& store, StoreWrite write, const Json::Value& object) {
    Json::Value list(Json::arrayValue);
    list.append(object);
    Json::Value answers;
    if (!(store.*write)(list, kxsim::Origin::kHandset, &answers).ok)
        return Json::Value();
    return answers[0];
}

Json::Value IdObject(const std::string& id) {
    Json::Value v(Json::objectValue);
    v["__id"] = id;
    return v;
}

bool Changed(const Json::Value& answer) {
    return answer["count"].asString() == "1";
}

} // namespace

SimFixture::SimFixture(const SimOptions& o) {
    store_ = kxsim::Store::Open(o.db, &error_);
    if (!store_) {
        if (error_.empty())
            error_ = "cannot open the store";
        return;
    }
    if ((o.contacts > 0 || o.events > 0) && store_->IsEmpty()) {
        kxsim::StoreResult r = kxsim::Seed(*store_, {o.contacts, o.events, o.seed});
        if (!r.ok) {
            error_ = "seeding failed: " + r.error;
            return;
        }
    }
    store_->SetFixedClock(o.clockMs);
    server_.reset(new kxsim::Server(*store_));
    server_->SetQuiet(o.quiet);
    if (!server_->Start(0, &error_) && error_.empty())
        error_ = "cannot start the server";
}

SimFixture::~SimFixture() {
    if (server_)
        server_->Stop();
    server_.reset();
}

int SimFixture::port() const {
    return server_ ? server_->port() : 0;
}

std::string SimFixture::BaseUrl() const {
    return "http://127.0.0.1:" + std::to_string(port());
}

std::u16string SimFixture::BaseUrl16() const {
    std::string url = BaseUrl();
    return std::u16string(url.begin(), url.end());
}

std::string SimFixture::AddContact(const Json::Value& contact) {
    return HandsetEdit(*store_, &kxsim::Store::CreateContacts, contact)["__id"].asString();
}

bool SimFixture::ModifyContact(const Json::Value& contact) {
    return Changed(HandsetEdit(*store_, &kxsim::Store::UpdateContacts, contact));
}

bool SimFixture::DeleteContact(const std::string& id) {
    return Changed(HandsetEdit(*store_, &kxsim::Store::DeleteContacts, IdObject(id)));
}

std::string SimFixture::AddEvent(const Json::Value& row) {
    return HandsetEdit(*store_, &kxsim::Store::CreateEvents, row)["__id"].asString();
}

bool SimFixture::ModifyEvent(const Json::Value& row) {
    return Changed(HandsetEdit(*store_, &kxsim::Store::UpdateEvents, row));
}

bool SimFixture::DeleteEvent(const std::string& id) {
    return Changed(HandsetEdit(*store_, &kxsim::Store::DeleteEvents, IdObject(id)));
}

bool SimFixture::AddFault(const std::string& spec) {
    kxsim::FaultRule rule;
    std::string error;
    if (!kxsim::Faults::ParseSpec(spec, &rule, &error))
        return false;
    server_->faults().Add(rule);
    return true;
}

std::vector<kxsim::JournalEntry> SimFixture::Requests(const std::string& path) {
    std::vector<kxsim::JournalEntry> out;
    for (kxsim::JournalEntry& e : server_->journal().Entries())
        if (path.empty() || e.path == path)
            out.push_back(std::move(e));
    return out;
}

std::vector<size_t> SimFixture::ObjectCounts(const std::string& path) {
    std::vector<size_t> counts;
    for (const kxsim::JournalEntry& e : Requests(path))
        counts.push_back(ParseJson(e.body)["objects"].size());
    return counts;
}

Json::Value NamedContact(const std::string& given, const std::string& account) {
    Json::Value name(Json::objectValue), contact(Json::objectValue);
    name["mimetype"] = "vnd.android.cursor.item/name";
    name["data2"] = given;
    contact["account_name"] = account;
    contact["account_type"] = "com.vexo.android.pcsc";
    contact["__data"].append(name);
    return contact;
}

} // namespace kxtest
