// A kxphone-sim server running in-process on 127.0.0.1 (ephemeral port) for the length of one
// object's life: an in-memory store (or a file), seeded on request, with the fault rules, the
// journal and handset-side edits at hand. The destructor stops the server and joins its thread.
#pragma once

#include <json/value.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "faults.h"
#include "journal.h"
#include "seed.h"
#include "server.h"
#include "store.h"

namespace kxtest {

struct SimOptions {
    int contacts = 0;
    int events = 0;
    uint64_t seed = 1;
    std::string db = ":memory:";
    int64_t clockMs = 0; // fixed "now" of the handset; 0 = the real clock
    bool quiet = true;   // bad requests are not traced on stderr
};

// A contact of the driver's account type holding only a given name, in the service's row format.
Json::Value NamedContact(const std::string& given, const std::string& account = "pcsc");

class SimFixture {
public:
    explicit SimFixture(const SimOptions& options = SimOptions());
    ~SimFixture();
    SimFixture(const SimFixture&) = delete;
    SimFixture& operator=(const SimFixture&) = delete;

    bool ok() const { return error_.empty(); }
    const std::string& error() const { return error_; }
    int port() const;
    std::string BaseUrl() const;      // "http://127.0.0.1:PORT"
    std::u16string BaseUrl16() const; // the same for the driver's UTF-16 settings

    kxsim::Store& store() { return *store_; }
    kxsim::Faults& faults() { return server_->faults(); }
    kxsim::Journal& journal() { return server_->journal(); }

    // Edits made "on the handset": they enter the change logs. The add forms return the new id
    // ("" on failure); objects use the service's row format.
    std::string AddContact(const Json::Value& contact);
    bool ModifyContact(const Json::Value& contact);
    bool DeleteContact(const std::string& id);
    std::string AddEvent(const Json::Value& row);
    bool ModifyEvent(const Json::Value& row);
    bool DeleteEvent(const std::string& id);

    // A fault rule in the command-line form: "status:-4:/contact/do/create:1", "refuse:2",
    // "stall:0.2:/contact/do/read:1", "drop:/session_ctrl:3"; "status:-4:/contact/do/create:1:skip=2"
    // refuses exactly the third create. False when it does not parse.
    bool AddFault(const std::string& spec);

    // Journal entries of one path (all when empty), oldest first.
    std::vector<kxsim::JournalEntry> Requests(const std::string& path = "");
    // The number of objects each request of path carried, oldest first.
    std::vector<size_t> ObjectCounts(const std::string& path);

private:
    std::unique_ptr<kxsim::Store> store_;
    std::unique_ptr<kxsim::Server> server_;
    std::string error_;
};

} // namespace kxtest
