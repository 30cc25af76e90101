// The two-stage read that the contact and calendar readers share: a change log fetched only to
// learn every id, then the rows fetched by id, a bounded number per request, then the final
// outcome (stop, result mapping, readiness check, final message). What differs between the
// kinds is data (IdReadPlan); what becomes of a batch's rows is the reader's own business.
//
// The incremental reads use it too: their id list is the handset's tracking log, whose entries
// say whether a record was added, modified or deleted. Deletions never join a batch (there is
// nothing to read); they go to the caller as they are met, and each batch's entries are
// remembered (with the modification time the answer gave) for the clear that follows.
//
// Runs on the thread of the Read (or backup) call; the stop flag may be raised from another.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include <json/json.h>
#include <kxphone/record_list.h>

#include "sync/change_log_memory.h"
#include "sync/host_messages.h"
#include "transport/id_batch.h"
#include "transport/service_request.h"

// One exchange with the handset service. ServiceCall is the real one; tests pass scripted ones.
typedef ServiceReply (*ServiceExchange)(const ServiceRequest& request, const Json::Value* body);

// The trace texts for an exchange that did not succeed, by how it failed.
struct ExchangeFailureTexts {
    const char16_t* noAnswer; // the transport failed, or the answer was empty
    const char16_t* stopped;  // the transport was cancelled
    const char16_t* notJson;  // the answer is not a JSON document
    const char16_t* status;   // "status" is not 0
};

struct IdReadPlan {
    uint32_t family; // data type of the host messages
    const char16_t* caller;
    const ServiceRequest& idList;
    const ServiceRequest& read;
    // Null entries of the id list ask for the id "" (other entries that are not objects are
    // skipped without counting).
    bool nullIdsCount;
    // An id list without "objects" is a handset without records; otherwise it fails the read.
    bool absentIdsAreEmpty;
    // A raised stop flag ends the read with 21 even when something failed before.
    bool stopOverridesFailure;
    ExchangeFailureTexts idListFailed;
    const char16_t* noIdList; // "objects" of the id list is no array
    ExchangeFailureTexts readFailed;
    // A batch answer whose "objects" is present but no array fails the read with this text; null:
    // such an answer only brings no rows.
    const char16_t* noRowList;
    // Whether the read's records and percentages are repeated through the host's callbacks.
    bool recordCallback;
    bool progressCallback;
    // Change-log reads: the id list is asked for with this body (compact JSON) and its entries
    // carry "_add", "_modify" and "_delete". Null: a plain id list.
    const char* changeLogBody;
    // Change-log reads: the row member with the record's modification time, and the trace text
    // of a deletion that names no record.
    const char* modifiedKey;
    const char16_t* deletionWithoutId;
};

// A deletion taken out of a change-log batch; id is never empty.
typedef std::function<void(const std::string& id)> DeletionSink;

class IdBatchReader {
public:
    // collecting: the records go to the caller's list, so no message or callback is sent at all.
    IdBatchReader(PhoneState& phone, const IdReadPlan& plan, bool collecting,
                  ServiceExchange exchange = &ServiceCall);

    // Fetches the id list. False when it failed (traced; the result is set).
    bool FetchIds();

    // Asks for the rows of the next batch of up to limit ids. Nothing when no id is left, the stop
    // flag is raised, or the request failed (traced; the result is set). An answer it gives is
    // "status" 0, and its "objects" is an array or absent when the plan checks it. Change-log
    // reads: limit counts the ids asked for; the deletions met on the way go to deleted (in log
    // order, before the batch is sent), and the stop flag is polled per entry.
    std::optional<ServiceReply> NextBatch(size_t limit, const DeletionSink& deleted = nullptr);
    // Asks for the rows of ids outside the batches of the list (an array of {"__id": text});
    // failures as for NextBatch.
    std::optional<ServiceReply> ReadIds(Json::Value ids);

    // Change-log reads: KX_RECORD_CREATE for an id added (and so modified) since the last
    // clear, KX_RECORD_UPDATE for one only modified, 0 otherwise.
    int32_t Mark(const std::u16string& id) const;
    // Change-log reads: where the entries taken are remembered (started afresh here).
    void Remember(ChangeLogMemory* memory);
    // The batches' answers go through the fast reader into fast (kept by the caller for the
    // whole read) when the exchange is the real one and no change log is remembered: an answer
    // NextBatch gives then has fast set, or is one the fast reader left to JsonCpp.
    void UseFastAnswers(FastAnswer* fast) { fast_ = fast; }

    // A failure the reader found itself: traced with text, the result becomes 1.
    void Fail(const char16_t* text);

    // Number of entries in the id list, and how many of them the batches have looked at.
    size_t total() const { return ids_.size(); }
    size_t position() const { return position_; }
    // The reporter of the read's record and progress messages (silent when collecting).
    ReadReporter& reporter() { return reporter_; }

    // The stop flag as the read's end sees it, read once (the first call decides).
    bool Stopped();
    // Applies the stop, maps the result, checks the phone's readiness after a failure and sends
    // the final message. Returns 0, 12, 21 or 1100.
    int32_t Finish();

private:
    int32_t Failed(const ServiceReply& reply, const ExchangeFailureTexts& texts);
    Json::Value NextChangeBatch(size_t limit, const DeletionSink& deleted);
    std::optional<ServiceReply> Ask(const Json::Value& body);

    PhoneState& phone_;
    const IdReadPlan& plan_;
    ServiceExchange exchange_;
    ReadReporter reporter_;
    int32_t result_ = 0;
    IdList ids_;
    size_t position_ = 0;
    std::optional<bool> stopped_;
    std::unordered_map<std::string, int32_t> marks_;
    ChangeLogMemory* memory_ = nullptr;
    FastAnswer* fast_ = nullptr;
    std::vector<std::pair<std::string, std::string>> pending_; // the batch's ids and flags
};

// Collecting mode: the records of from go to the end of the caller's list, in order; from is left
// empty.
template <class T> void HandOverRecords(RecordList<T>* from, RecordList<T>* to) {
    if (to->empty()) {
        *to = std::move(*from);
        return;
    }
    to->Reserve(to->size() + from->size());
    while (!from->empty())
        to->Add(from->Detach(0));
}
