#include "sync/current_rows.h"

#include <algorithm>

#include "platform/format.h"
#include "sync/batch_writer.h"
#include "trace/trace.h"
#include "transport/text_encoding.h"

bool ReadCurrentRows(const ServiceRequest& read, const std::vector<std::u16string>& ids, size_t perRequest,
                     const char16_t* caller, std::map<std::u16string, Json::Value>* rows) {
    for (size_t start = 0; start < ids.size(); start += perRequest) {
        Json::Value body(Json::objectValue);
        Json::Value& objects = body["objects"] = Json::Value(Json::arrayValue);
        for (size_t i = start; i < ids.size() && i < start + perRequest; ++i) {
            Json::Value id(Json::objectValue);
            id["__id"] = WideToUtf8(ids[i]);
            objects.append(std::move(id));
        }
        ServiceReply reply = ServiceCall(read, body);
        KX_TRACE_INFO(
            caller, platform::Format(u" #################### Read Before Update:%u /%u #################### ",
                                     static_cast<unsigned>(std::min(start + perRequest, ids.size())),
                                     static_cast<unsigned>(ids.size())));
        if (!reply.ok() || !(reply.objects().isArray() || reply.objects().isNull())) {
            KX_TRACE_ERROR(caller, u"current rows could not be read: the update is not sent");
            return false;
        }
        for (Json::Value& object : reply.document["objects"]) {
            std::u16string id = AnswerId(object);
            if (!id.empty())
                (*rows)[id] = std::move(object);
        }
    }
    return true;
}
