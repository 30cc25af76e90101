// The batched writer that contacts, calendar events and calendar exception rows share: records
// are converted, packed into requests bounded by record count, field budget and JSON bytes, and
// sent by at most two worker threads while the calling thread keeps building requests and
// watches the stop flag. What differs between the kinds is data (WriteKind, WriteLimits) and the
// record set that converts and confirms its records (WriteSet).
//
// Runs on the thread of the Write call. Nothing the host asked to write is forgotten: every
// record that did not get confirmed by the handset is reported as such (the caller gives its
// status bit back), and a request that was not wholly confirmed marks the write incomplete.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include <json/json.h>

#include "sync/host_messages.h"
#include "sync/phone_state.h"
#include "transport/service_request.h"

// The records of one operation, seen by the writer by index.
class WriteSet {
public:
    virtual ~WriteSet() = default;
    virtual size_t size() const = 0;
    // Appends the rows that write record i to the array *rows and sets *fields to what they count
    // against a field budget. False when the record cannot be converted.
    virtual bool Rows(size_t i, Json::Value* rows, int* fields) = 0;
    // A worker thread, under the writer's lock: the handset stored record i and answered with
    // object. False when object names no usable id (the record is then not confirmed).
    virtual bool Confirm(size_t i, const Json::Value& object) = 0;
};

// What one kind of record needs of the writer.
struct WriteKind {
    ServiceKind service;
    uint32_t family;             // data type of the host messages
    const char16_t* caller;      // trace caller
    const char16_t* convertFail; // traced for a record that cannot be converted
    // A record's single row is confirmed by the answer object at its position. Otherwise (rows of
    // exception instances) an answer with status 0 confirms every record of the request.
    bool oneRowPerRecord;
};

struct WriteLimits {
    size_t records;  // records per request
    size_t bytes;    // compact JSON bytes of a request body
    int fieldBudget; // fields per request; 0: no budget
};

// Requests and records of one handset: the smallest limit of those the kind names applies.
// delete: ten times as many records per request.
WriteLimits ContactWriteLimits(int32_t productId, int32_t platformClass, ServiceWrite op);
WriteLimits CalendarWriteLimits(int32_t productId, int32_t platformClass, ServiceWrite op);

// A record set writes no record with more fields than this.
constexpr int kMaxRecordFields = 500;

class BatchWriter {
public:
    // reporter: the write's messages (silent for a restore). The phone's WriteResult and
    // WriteRefused are the write's shared outcome: a worker sets them, the walk stops on them.
    BatchWriter(PhoneState& phone, const WriteKind& kind, ServiceWrite op, const WriteLimits& limits,
                WriteReporter& reporter);
    ~BatchWriter();
    BatchWriter(const BatchWriter&) = delete;
    BatchWriter& operator=(const BatchWriter&) = delete;

    // Sends every record of set (while the stop flag, the refusal and the write result allow)
    // and waits for every worker. Afterwards confirmed() names the records the handset stored.
    void Run(WriteSet& set);

    const std::vector<bool>& confirmed() const { return confirmed_; }
    // A record was skipped, or a request was not wholly confirmed: the write did not fully happen.
    bool incomplete() const { return incomplete_.load(); }

private:
    struct Request;
    bool Send(std::unique_ptr<Request> request);
    void Answer(const Request& request, const ServiceReply& reply);
    void JoinFinished(bool all);

    PhoneState& phone_;
    const WriteKind& kind_;
    const ServiceWrite op_;
    const WriteLimits limits_;
    WriteReporter& reporter_;
    WriteSet* set_ = nullptr;

    std::mutex lock_; // held by a worker while it reads its answer and records the results
    std::vector<bool> confirmed_;
    size_t saved_ = 0;     // records confirmed so far (workers, under lock_)
    size_t sentTotal_ = 0; // records handed to workers so far
    std::atomic<bool> incomplete_{false};
    struct Worker;
    std::vector<std::unique_ptr<Worker>> workers_;
    // A worker that ends says so here, so a request waiting for a free worker goes at once.
    std::mutex doneLock_;
    std::condition_variable doneSignal_;
};

// The id an answer object names: its "__id" as text ("" when it has none a record could keep).
std::u16string AnswerId(const Json::Value& object);
// The text of a member of an answer object ("" when absent or not a string or number).
std::u16string AnswerText(const Json::Value& object, const char* key);

// The handset's modification time (and, for events, identifier) of each id, by id text. A request
// that failed leaves its ids out.
struct ModifyTime {
    std::u16string time;
    std::u16string guid;
};
typedef std::map<std::u16string, ModifyTime> ModifyTimes;
ModifyTimes GetLastModifyTime(const PhoneState& phone, ServiceKind kind,
                              const std::vector<std::u16string>& ids);
