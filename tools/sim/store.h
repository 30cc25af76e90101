// The simulated handset's providers: raw contacts with their data rows and groups, calendar
// events with reminders and exception rows, and one change log per kind, in one SQLite file
// (or in memory). Rows go in and out as the service's JSON objects, so the protocol layer
// never sees SQL.
//
// Every public operation is one transaction: it either applies completely or, when it reports
// a failure, leaves the store as it was. Operations are serialised by an internal mutex (one
// connection, one operation at a time), so a test thread may edit the store while both server
// threads answer requests, and no request ever sees another's transaction half done.
#pragma once

#include <json/value.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <initializer_list>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>

struct sqlite3;
struct sqlite3_stmt;

namespace kxsim {

class TextOut;

// Who made a change: the driver's own writes stay out of the change logs, edits made "on the
// handset" go in.
enum class Origin { kDriver, kHandset };

// Outcome of a store operation. A failed operation changed nothing.
struct StoreResult {
    bool ok = true;
    std::string error; // why it failed, for the trace on stderr
    static StoreResult Fail(std::string why) { return StoreResult{false, std::move(why)}; }
};

struct StoreCounts {
    int64_t contacts = 0, dataRows = 0, groups = 0, events = 0, exceptions = 0, reminders = 0;
    int64_t contactLog = 0, calendarLog = 0;
};

class Store {
public:
    ~Store();
    // path ":memory:" gives a private in-memory store. nullptr with *error set on failure.
    static std::unique_ptr<Store> Open(const std::string& path, std::string* error);

    bool IsEmpty();
    StoreCounts Counts();

    // Milliseconds since the epoch used for "sync4" and "last_update_time"; 0 = the real clock.
    void SetFixedClock(int64_t ms) { fixedClockMs_ = ms; }
    int64_t FixedClock() const { return fixedClockMs_; }
    int64_t NowMs() const;

    // --- contacts ---
    // Every contact id, ascending: [{"__id": "12"}, ...].
    Json::Value ContactIds();
    // The contacts among ids (array of {"__id"}), in request order, each once; unknown ids are
    // left out.
    StoreResult ReadContacts(const Json::Value& ids, Json::Value* objects);
    // The same array written as JSON text straight from the rows (compact, members in JsonCpp's
    // key order, as the service writes a tree), appended to *out; the answers to the driver's
    // reads are written this way, without a tree. *badText (empty on entry) receives the member
    // name of the first text that is not valid UTF-8, in the order ValidText would find it.
    StoreResult ReadContactsText(const Json::Value& ids, std::string* out, std::string* badText);
    // [{"__id", "sync4"}] for the known ids.
    StoreResult ContactTimes(const Json::Value& ids, Json::Value* objects);
    // One answer object per given contact object, in order: {"__id", "count"}.
    StoreResult CreateContacts(const Json::Value& objects, Origin origin, Json::Value* answers);
    StoreResult UpdateContacts(const Json::Value& objects, Origin origin, Json::Value* answers);
    StoreResult DeleteContacts(const Json::Value& objects, Origin origin, Json::Value* answers);

    // --- groups ---
    // The id of the group with this title, creating a user group on first use; "" for an
    // empty title. A "System Group: " prefix is accepted in the title.
    StoreResult GroupIdForTitle(const std::string& title, std::string* id);
    // The title, with "System Group: " in front for system groups; "" when unknown.
    std::string GroupTitleForId(const std::string& id);
    // A system group (created when the store is created) or a user group.
    StoreResult AddGroup(const std::string& title, const std::string& systemId, int64_t* id);

    // --- calendar ---
    // Ids of every event that is not an exception row, ascending.
    Json::Value EventIds();
    // The events among ids, in request order; each event is followed by its exception rows.
    StoreResult ReadEvents(const Json::Value& ids, Json::Value* objects);
    // As ReadContactsText, for ReadEvents.
    StoreResult ReadEventsText(const Json::Value& ids, std::string* out, std::string* badText);
    // [{"__id", "last_update_time", "iCalGUID"}] for the known ids.
    StoreResult EventTimes(const Json::Value& ids, Json::Value* objects);
    // Answer objects {"__id", "iCalGUID", "count"}, one per given row, in order.
    StoreResult CreateEvents(const Json::Value& objects, Origin origin, Json::Value* answers);
    StoreResult UpdateEvents(const Json::Value& objects, Origin origin, Json::Value* answers);
    StoreResult DeleteEvents(const Json::Value& objects, Origin origin, Json::Value* answers);

    // --- change logs ---
    // kind "contact" or "calendar": [{"__id", "_add", "_modify", "_delete"}] ascending by id.
    Json::Value ChangeLog(const std::string& kind);
    // Clears the whole log of a kind, or only the given ids (array of {"__id"}).
    StoreResult ClearChangeLog(const std::string& kind, const Json::Value* ids);
    // Calendar edits on the handset are logged only while tracking is on (on in a new store).
    StoreResult SetCalendarTracking(bool on);
    bool CalendarTracking();

    // Runs fn inside one transaction (for seeding); rolled back when fn returns false.
    StoreResult Batch(const std::function<bool(Store&)>& fn);

private:
    class Stmt;
    friend class Stmt;
    friend class Transaction;
    Store() = default;

    sqlite3_stmt* Prepare(const char* sql);
    bool Exec(const char* sql);
    std::string LastError() const;

    // The frames the requests share; they take the lock, the reads and writes a transaction.
    // [{"__id"}] of the rows sql selects.
    Json::Value IdList(const char* sql);
    // Calls read once for each distinct well-formed id among ids ([{"__id"}]), in request order,
    // as a query for "_id IN (...)" would; read appends what it finds to *objects.
    StoreResult ReadEach(const Json::Value& ids, Json::Value* objects,
                         const std::function<void(int64_t id)>& read);
    // The same walk, for readers that write text.
    StoreResult ForEachId(const Json::Value& ids, const std::function<void(int64_t id)>& read);
    // The array a text reader wrote, as a tree (the tree readers are made of the text ones).
    static StoreResult TreeOf(StoreResult r, const std::string& text, const std::string& badText,
                              Json::Value* objects);
    // {"__id", keys...} for each known id among ids: sql selects the row by _id, its columns in
    // the order of keys, and each is answered as text.
    StoreResult FastRead(const Json::Value& ids, const char* sql, std::initializer_list<const char*> keys,
                         Json::Value* objects);
    // One write request: the objects in order, one answer object each; the first object that
    // fails undoes the whole request. Each answer starts as {"__id": the request's, "count": "0"}
    // and write changes what it did. what names an object in messages ("a contact").
    using ObjectWrite = StoreResult (Store::*)(const Json::Value& obj, Origin origin, Json::Value* answer);
    StoreResult WriteEach(const Json::Value& objects, Origin origin, Json::Value* answers, const char* what,
                          ObjectWrite write);

    // Unlocked helpers; the caller holds mu_ and a transaction.
    StoreResult CreateContact(const Json::Value& obj, Origin origin, Json::Value* answer);
    StoreResult UpdateContact(const Json::Value& obj, Origin origin, Json::Value* answer);
    StoreResult DeleteContact(const Json::Value& obj, Origin origin, Json::Value* answer);
    StoreResult InsertDataRows(int64_t contactId, const Json::Value& data);
    void ContactObject(int64_t id, TextOut& out);
    StoreResult CreateEvent(const Json::Value& row, Origin origin, Json::Value* answer);
    StoreResult UpdateEvent(const Json::Value& row, Origin origin, Json::Value* answer);
    StoreResult DeleteEvent(const Json::Value& row, Origin origin, Json::Value* answer);
    StoreResult InsertEvent(const Json::Value& row, int64_t* id, int64_t* parent, std::string* guid);
    StoreResult WriteEventColumns(int64_t id, const Json::Value& row, bool creating);
    StoreResult WriteReminders(int64_t id, const Json::Value& data);
    bool EventRow(int64_t id, TextOut& out, int64_t* parent);
    // what: 'a' added, 'm' modified, 'd' deleted. Only handset edits are logged.
    void LogChange(Origin origin, const char* kind, int64_t id, char what);
    // An exception row's change shows up as a change of its recurring event.
    void LogEventChange(Origin origin, int64_t id, int64_t parent, char what);

    sqlite3* db_ = nullptr;
    std::unordered_map<const char*, sqlite3_stmt*> stmts_;
    std::recursive_mutex mu_;
    std::atomic<int64_t> fixedClockMs_{0};
    int depth_ = 0; // nesting of Transaction: only the outermost begins and commits
};

// Id text of a request object ("__id" as a string or a number); false when absent or not a
// plain decimal.
bool IdOf(const Json::Value& obj, int64_t* id);
// A scalar member as text ("" when absent or null); false when it is an object or an array.
bool TextOf(const Json::Value& obj, const char* key, std::string* out);

} // namespace kxsim
