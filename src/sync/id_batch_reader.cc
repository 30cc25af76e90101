#include "sync/id_batch_reader.h"

#include "trace/trace.h"
#include "transport/id_batch.h"

IdBatchReader::IdBatchReader(PhoneState& phone, const IdReadPlan& plan, bool collecting,
                             ServiceExchange exchange)
    : phone_(phone), plan_(plan), exchange_(exchange),
      reporter_(phone, plan.family, plan.caller, true, true, collecting) {}

int32_t IdBatchReader::Failed(const ServiceReply& reply, const ExchangeFailureTexts& texts) {
    const char16_t* text = reply.outcome == ServiceReply::kStopped     ? texts.stopped
                           : reply.outcome == ServiceReply::kBadAnswer ? texts.notJson
                           : reply.outcome == ServiceReply::kStatus    ? texts.status
                                                                       : texts.noAnswer;
    KX_TRACE_ERROR(plan_.caller, text);
    return reply.outcome == ServiceReply::kStopped ? KX_STOPPED : KX_FAILED;
}

void IdBatchReader::Fail(const char16_t* text) {
    KX_TRACE_ERROR(plan_.caller, text);
    result_ = KX_FAILED;
}

bool IdBatchReader::FetchIds() {
    ServiceReply reply = exchange_(plan_.idList, nullptr);
    if (!reply.ok()) {
        // Not even an undecipherable answer may pass for an empty phone.
        result_ = Failed(reply, plan_.idListFailed);
        return false;
    }
    Json::Value& objects = reply.document["objects"];
    if (objects.isArray()) {
        ids_ = std::move(objects); // only the ids are kept, the rest of the answer goes
    } else if (!(objects.isNull() && plan_.absentIdsAreEmpty)) {
        Fail(plan_.noIdList);
        return false;
    }
    return true;
}

std::optional<ServiceReply> IdBatchReader::NextBatch(size_t limit) {
    if (result_ != KX_OK || position_ >= ids_.size() || phone_.StopFlag.load())
        return std::nullopt;
    Json::Value body(Json::objectValue);
    Json::Value& batch = body["objects"] = NextIdBatch(ids_, &position_, limit, plan_.nullIdsCount);
    if (batch.empty())
        return std::nullopt;
    ServiceReply answer = exchange_(plan_.read, &body);
    if (!answer.ok()) {
        // A batch lost to a failed or unreadable answer fails the read: the host must not take
        // an incomplete read for the whole.
        result_ = Failed(answer, plan_.readFailed);
        return std::nullopt;
    }
    if (plan_.noRowList && !answer.objects().isArray() && !answer.objects().isNull()) {
        Fail(plan_.noRowList);
        return std::nullopt;
    }
    return answer;
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
