#include "sync/batch_writer.h"

#include <algorithm>
#include <chrono>
#include <system_error>
#include <thread>

#include "platform/format.h"
#include "platform/host_window.h"
#include "sync/answer_cause.h"
#include "trace/trace.h"
#include "transport/text_encoding.h"
#include "transport/transport_context.h"

namespace {

// Handsets with this product id take only small requests.
constexpr int32_t kSmallProduct = 3574;
constexpr size_t kWorkers = 2;
// {"objects":[ ... ]}
constexpr size_t kBodyFrameBytes = sizeof("{\"objects\":[]}") - 1;

size_t RecordsPerRequest(int32_t productId, ServiceWrite op) {
    size_t n = productId == kSmallProduct ? 10 : 50;
    return op == ServiceWrite::Delete ? n * 10 : n;
}

} // namespace

WriteLimits ContactWriteLimits(int32_t productId, int32_t platformClass, ServiceWrite op) {
    size_t bytes = 81920;
    if (productId == kSmallProduct)
        bytes = std::min<size_t>(bytes, 51200);
    if (platformClass < 2)
        bytes = std::min<size_t>(bytes, 5120);
    return {RecordsPerRequest(productId, op), bytes, kMaxRecordFields};
}

WriteLimits CalendarWriteLimits(int32_t productId, int32_t platformClass, ServiceWrite op) {
    size_t bytes = 81920;
    if (platformClass >= 5)
        bytes = std::min<size_t>(bytes, 51200);
    if (platformClass <= 1)
        bytes = std::min<size_t>(bytes, 5120);
    return {RecordsPerRequest(productId, op), bytes, 0};
}

std::u16string AnswerText(const Json::Value& object, const char* key) {
    if (!object.isObject())
        return std::u16string();
    const Json::Value* v = object.find(key, key + std::char_traits<char>::length(key));
    if (!v)
        return std::u16string();
    if (v->isString())
        return Utf8ToWide(v->asString());
    if (v->isInt64())
        return platform::Widen(std::to_string(v->asInt64()));
    if (v->isUInt64())
        return platform::Widen(std::to_string(v->asUInt64()));
    return std::u16string();
}

std::u16string AnswerId(const Json::Value& object) {
    return AnswerText(object, "__id");
}

// ---------------------------------------------------------------------------------------------

struct BatchWriter::Request {
    std::string body;            // {"objects":[rows]} as sent
    std::vector<size_t> indexes; // the set's records in this request, in order
};

struct BatchWriter::Worker {
    std::thread thread;
    std::atomic<bool> done{false};
};

BatchWriter::BatchWriter(PhoneState& phone, const WriteKind& kind, ServiceWrite op, const WriteLimits& limits,
                         WriteReporter& reporter)
    : phone_(phone), kind_(kind), op_(op), limits_(limits), reporter_(reporter) {}

BatchWriter::~BatchWriter() {
    JoinFinished(true);
}

void BatchWriter::Run(WriteSet& set) {
    set_ = &set;
    const size_t n = set.size();
    confirmed_.assign(n, false);
    KX_TRACE_INFO(kind_.caller, platform::Format(u"do write v3 item count = %d", static_cast<int>(n)));

    size_t i = 0, taken = 0;
    CompactJsonWriter json;
    while (i < n && !phone_.StopFlag.load()) {
        auto request = std::make_unique<Request>();
        request->body = "{\"objects\":[";
        size_t size = kBodyFrameBytes;
        int budget = limits_.fieldBudget;
        while (i < n && !phone_.StopFlag.load()) {
            Json::Value rows(Json::arrayValue);
            int fields = 0;
            if (!set.Rows(i, &rows, &fields)) {
                KX_TRACE_ERROR(kind_.caller, kind_.convertFail);
                incomplete_ = true;
                ++i;
                continue;
            }
            if (fields > kMaxRecordFields) {
                KX_ERROR_LINE(kind_.caller);
                incomplete_ = true;
                ++i;
                continue;
            }
            if (rows.empty()) { // nothing of this record to send
                ++i;
                continue;
            }
            std::string text;
            for (const Json::Value& row : rows) {
                if (!text.empty())
                    text += ',';
                text += json.Write(row);
            }
            // A record that cannot share a request still gets one of its own: the checks apply
            // only to a request that already holds something.
            const bool first = request->indexes.empty();
            if (!first && limits_.fieldBudget > 0 && fields >= budget) {
                KX_TRACE_INFO(kind_.caller, u"field count limitation break;");
                break;
            }
            if (!first && size + 1 + text.size() > limits_.bytes) {
                KX_TRACE_INFO(kind_.caller, u"json size limitation break;");
                break;
            }
            if (!first)
                request->body += ',';
            request->body += text;
            size += text.size() + (first ? 0 : 1);
            budget -= fields;
            request->indexes.push_back(i++);
            if (request->indexes.size() >= limits_.records)
                break;
        }
        if (request->indexes.empty())
            break; // every record is walked, or the stop flag ended the walk
        request->body += "]}";
        KX_TRACE_INFO(kind_.caller, platform::Format(u" #################### Item %d #################### ",
                                                     static_cast<int>(i)));
        taken += request->indexes.size();
        if (!Send(std::move(request)))
            break;
        reporter_.BatchBegin(
            WriteReporter::BatchPercent(static_cast<int64_t>(taken), static_cast<int64_t>(n)));
        if (phone_.StopFlag.load()) {
            kxtrace::DebugPrint(u"\r\n orlen do_write cancel\r\n");
            break;
        }
        if (phone_.WriteRefused.load() || phone_.WriteResult.load() != 0) {
            KX_ERROR_LINE(kind_.caller);
            break;
        }
    }
    JoinFinished(true);
}

bool BatchWriter::Send(std::unique_ptr<Request> request) {
    for (;;) {
        if (phone_.WriteRefused.load() || phone_.WriteResult.load() != 0 || phone_.StopFlag.load()) {
            KX_ERROR_LINE(kind_.caller);
            return false;
        }
        JoinFinished(false);
        if (workers_.size() < kWorkers)
            break;
        // Both workers busy: the host's window keeps handling its messages meanwhile, every 10 ms
        // at the least; the wait ends as soon as a worker is done.
        platform::PumpWindowMessages();
        std::unique_lock<std::mutex> wait(doneLock_);
        doneSignal_.wait_for(wait, std::chrono::milliseconds(10), [this] {
            for (const auto& w : workers_)
                if (w->done.load())
                    return true;
            return false;
        });
    }
    const unsigned count = static_cast<unsigned>(request->indexes.size());
    auto worker = std::make_unique<Worker>();
    Worker* slot = worker.get();
    Request* owned = request.release();
    try {
        worker->thread = std::thread([this, slot, owned] {
            std::unique_ptr<Request> request(owned);
            ServiceReply reply = ServiceCallText(service::Write(kind_.service, op_), request->body);
            Answer(*request, reply);
            {
                std::lock_guard<std::mutex> hold(doneLock_);
                slot->done = true;
            }
            doneSignal_.notify_all();
        });
    } catch (const std::system_error&) {
        delete owned;
        KX_TRACE_ERROR(kind_.caller, u"CreateThread Error!");
        int32_t none = 0;
        phone_.WriteResult.compare_exchange_strong(none, KX_FAILED);
        incomplete_ = true;
        return false;
    }
    workers_.push_back(std::move(worker));
    sentTotal_ += count;
    KX_TRACE_INFO(
        kind_.caller,
        platform::Format(u" #################### Sent Count: %u ,Total Sent:%u #################### ", count,
                         static_cast<unsigned>(sentTotal_)));
    return true;
}

void BatchWriter::Answer(const Request& request, const ServiceReply& reply) {
    const size_t sent = request.indexes.size();
    if (reply.outcome == ServiceReply::kTransport || reply.outcome == ServiceReply::kStopped) {
        int32_t none = 0;
        phone_.WriteResult.compare_exchange_strong(none, reply.transportCode);
        incomplete_ = true;
        return;
    }
    std::lock_guard<std::mutex> hold(lock_);
    if (reply.refused()) {
        TraceAnswerCause(kind_.caller, reply);
        phone_.WriteRefused = true;
        incomplete_ = true;
        return;
    }
    if (!reply.ok()) {
        // No answer, an answer that is no JSON, or another status: none of these records is known
        // to be stored.
        KX_TRACE_ERROR(kind_.caller, platform::Format(u"write answer not usable: outcome %d, status %d",
                                                      static_cast<int>(reply.outcome), reply.status));
        TraceAnswerCause(kind_.caller, reply);
        incomplete_ = true;
        return;
    }
    const Json::Value& objects = reply.objects();
    const size_t got = objects.isArray() ? objects.size() : 0;
    KX_TRACE_INFO(kind_.caller,
                  platform::Format(u" #################### Return Result: %u / %u #################### ",
                                   static_cast<unsigned>(got), static_cast<unsigned>(sent)));
    if (got < sent) {
        KX_ERROR_LINE(kind_.caller);
        kxtrace::Output(Utf8ToWide(reply.text));
    }
    if (!kind_.oneRowPerRecord) {
        for (size_t index : request.indexes)
            confirmed_[index] = true;
        saved_ += sent;
    } else if (got != sent) {
        incomplete_ = true;
    } else {
        for (size_t k = 0; k < sent; ++k) {
            const size_t index = request.indexes[k];
            if (set_->Confirm(index, objects[static_cast<Json::ArrayIndex>(k)])) {
                confirmed_[index] = true;
                ++saved_;
            } else {
                incomplete_ = true;
            }
        }
    }
    KX_TRACE_INFO(kind_.caller,
                  platform::Format(u" #################### Saved Item: %u #################### ",
                                   static_cast<unsigned>(saved_)));
}

void BatchWriter::JoinFinished(bool all) {
    for (auto it = workers_.begin(); it != workers_.end();) {
        if (all || (*it)->done.load()) {
            (*it)->thread.join();
            it = workers_.erase(it);
        } else {
            ++it;
        }
    }
}

// ---------------------------------------------------------------------------------------------

ModifyTimes GetLastModifyTime(const PhoneState& phone, ServiceKind kind,
                              const std::vector<std::u16string>& ids) {
    const size_t perRequest = phone.ProductId.load() == kSmallProduct ? 250 : 500;
    constexpr size_t kIdBytes = 20480;
    const char* key = kind == ServiceKind::Contact ? "sync4" : "last_update_time";
    const char16_t* caller =
        kind == ServiceKind::Contact ? u"CKXFakePhone::WriteContact" : u"CKXFakePhone::WriteCalendar";
    ModifyTimes times;
    CompactJsonWriter json;
    size_t i = 0;
    while (i < ids.size()) {
        Json::Value body(Json::objectValue);
        Json::Value& objects = body["objects"] = Json::Value(Json::arrayValue);
        size_t bytes = 0;
        while (i < ids.size() && objects.size() < perRequest) {
            if (ids[i].empty()) {
                ++i;
                continue;
            }
            Json::Value object(Json::objectValue);
            object["__id"] = WideToUtf8(ids[i]);
            const size_t length = json.Write(object).size() + (objects.empty() ? 0 : 1);
            // An id too long to share a request goes alone, so the walk always advances.
            if (!objects.empty() && bytes + length >= kIdBytes)
                break;
            objects.append(std::move(object));
            bytes += length;
            ++i;
        }
        if (objects.empty())
            break;
        ServiceReply reply = ServiceCall(service::FastRead(kind), body);
        if (reply.ok() && reply.objects().isArray()) {
            for (const Json::Value& object : reply.objects()) {
                std::u16string id = AnswerId(object);
                if (!id.empty())
                    times[id] = {AnswerText(object, key), AnswerText(object, "iCalGUID")};
            }
        }
        KX_TRACE_INFO(caller,
                      platform::Format(u" #################### GetLastModifyTime %u #################### ",
                                       static_cast<unsigned>(times.size())));
    }
    return times;
}
