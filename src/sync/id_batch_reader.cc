#include "sync/id_batch_reader.h"

#include "platform/format.h"
#include "platform/utf.h"
#include "sync/answer_cause.h"
#include "trace/trace.h"
#include "transport/id_batch.h"

IdBatchReader::IdBatchReader(PhoneState& phone, const IdReadPlan& plan, bool collecting,
                             ServiceExchange exchange)
    : phone_(phone), plan_(plan), exchange_(exchange),
      reporter_(phone, plan.family, plan.caller, plan.recordCallback, plan.progressCallback, collecting) {}

int32_t IdBatchReader::Failed(const ServiceReply& reply, const ExchangeFailureTexts& texts) {
    const char16_t* text = reply.outcome == ServiceReply::kStopped     ? texts.stopped
                           : reply.outcome == ServiceReply::kBadAnswer ? texts.notJson
                           : reply.outcome == ServiceReply::kStatus    ? texts.status
                                                                       : texts.noAnswer;
    KX_TRACE_ERROR(plan_.caller, text);
    TraceAnswerCause(plan_.caller, reply);
    return reply.outcome == ServiceReply::kStopped ? KX_STOPPED : KX_FAILED;
}

void IdBatchReader::Fail(const char16_t* text) {
    KX_TRACE_ERROR(plan_.caller, text);
    result_ = KX_FAILED;
}

bool IdBatchReader::FetchIds() {
    Json::Value body;
    if (plan_.changeLogBody)
        Json::Reader().parse(plan_.changeLogBody, body);
    // A plain id list (thousands of entries) goes through the fast reader too.
    const bool fast =
        fast_ && exchange_ == static_cast<ServiceExchange>(&ServiceCall) && !plan_.changeLogBody;
    ServiceReply reply = fast ? ServiceCallFast(plan_.idList, nullptr, fast_)
                              : exchange_(plan_.idList, plan_.changeLogBody ? &body : nullptr);
    if (!reply.ok()) {
        // Not even an undecipherable answer may pass for an empty phone.
        result_ = Failed(reply, plan_.idListFailed);
        return false;
    }
    // The same verdict from whichever parser took the answer.
    auto take = [this](const auto& objects) {
        if (objects.isArray()) {
            ids_ = IdEntries(objects);
            return true;
        }
        if (objects.isNull() && plan_.absentIdsAreEmpty)
            return true;
        Fail(plan_.noIdList);
        return false;
    };
    return reply.fast ? take(reply.fast->objects()) : take(reply.objects());
}

std::optional<ServiceReply> IdBatchReader::NextBatch(size_t limit, const DeletionSink& deleted) {
    if (result_ != KX_OK || position_ >= ids_.size() || phone_.StopFlag.load())
        return std::nullopt;
    Json::Value body(Json::objectValue);
    Json::Value& batch = body["objects"] = plan_.changeLogBody
                                               ? NextChangeBatch(limit, deleted)
                                               : NextIdBatch(ids_, &position_, limit, plan_.nullIdsCount);
    if (batch.empty())
        return std::nullopt;
    return Ask(body);
}

std::optional<ServiceReply> IdBatchReader::ReadIds(Json::Value ids) {
    if (result_ != KX_OK || ids.empty())
        return std::nullopt;
    pending_.clear();
    Json::Value body(Json::objectValue);
    body["objects"] = std::move(ids);
    return Ask(body);
}

Json::Value IdBatchReader::NextChangeBatch(size_t limit, const DeletionSink& deleted) {
    Json::Value batch(Json::arrayValue);
    pending_.clear();
    // Deletions do not count: a run of them longer than a batch must not end the read early.
    while (position_ < ids_.size() && batch.size() < limit) {
        // Per entry: a log of thousands of deletions is a single pass.
        if (phone_.StopFlag.load())
            return Json::Value(Json::arrayValue);
        const IdEntry& entry = ids_[position_++];
        if (entry.kind == IdEntry::kOther || (entry.kind == IdEntry::kNull && !plan_.nullIdsCount))
            continue;
        const std::string& id = entry.id;
        const std::string flags(entry.flags, 3);
        if (flags[2] == '1') {
            // Nothing the host could match a deletion without an id to; it stays taken all the same,
            // or it would hold up every clear.
            if (memory_)
                memory_->Take(id, TakenChange{flags, std::string()});
            if (id.empty())
                KX_TRACE_ERROR(plan_.caller, plan_.deletionWithoutId);
            else if (deleted)
                deleted(id);
            continue;
        }
        // Added alone is no mark: the handset logs an add as added and modified.
        marks_[id] = flags[0] == '1' && flags[1] == '1' ? KX_RECORD_CREATE
                     : flags[1] == '1'                  ? KX_RECORD_UPDATE
                                                        : 0;
        pending_.emplace_back(id, flags);
        Json::Value item(Json::objectValue);
        item["__id"] = id;
        batch.append(std::move(item));
    }
    return batch;
}

std::optional<ServiceReply> IdBatchReader::Ask(const Json::Value& body) {
    const bool fast = fast_ && exchange_ == static_cast<ServiceExchange>(&ServiceCall) && !memory_;
    ServiceReply answer = fast ? ServiceCallFast(plan_.read, &body, fast_) : exchange_(plan_.read, &body);
    if (!answer.ok()) {
        // A batch lost to a failed or unreadable answer fails the read: the host must not take
        // an incomplete read for the whole.
        result_ = Failed(answer, plan_.readFailed);
        return std::nullopt;
    }
    const bool rowList = answer.fast ? answer.fast->objects().isArray() || answer.fast->objects().isNull()
                                     : answer.objects().isArray() || answer.objects().isNull();
    if (plan_.noRowList && !rowList) {
        Fail(plan_.noRowList);
        return std::nullopt;
    }
    if (memory_ && !pending_.empty()) {
        // The batch has been answered: its entries count as taken, with the time the handset
        // gave for each record (none when the record is gone).
        std::unordered_map<std::string, std::string> modified;
        if (answer.objects().isArray()) {
            for (const Json::Value& row : answer.objects())
                modified[MemberText(row, "__id")] =
                    plan_.modifiedKey ? MemberText(row, plan_.modifiedKey) : "";
        }
        for (const auto& [id, flags] : pending_) {
            auto it = modified.find(id);
            memory_->Take(id, TakenChange{flags, it != modified.end() ? it->second : std::string()});
        }
        pending_.clear();
    }
    return answer;
}

int32_t IdBatchReader::Mark(const std::u16string& id) const {
    auto it = marks_.find(platform::Utf16ToUtf8(id));
    return it != marks_.end() ? it->second : 0;
}

void IdBatchReader::Remember(ChangeLogMemory* memory) {
    memory_ = memory;
    if (memory_)
        memory_->Begin();
}

bool IdBatchReader::Stopped() {
    if (!stopped_)
        stopped_ = phone_.StopFlag.load();
    return *stopped_;
}

int32_t IdBatchReader::Finish() {
    if (Stopped() && (result_ == KX_OK || plan_.stopOverridesFailure))
        result_ = KX_STOPPED;
    int32_t result = NormaliseResult(result_);
    if (result != KX_OK && result != KX_WRITE_REFUSED && result != KX_STOPPED)
        phone_.CheckPhoneReady();
    return reporter_.Finish(result);
}
