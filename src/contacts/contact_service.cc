// The contact code's plain-text exchange with the handset service.
#include <string>

#include "transport/service_request.h"

// "/contact/build_group_id": the "cmd=" text out, the answer text back unchanged.
bool SendGroupRequest(const std::string& body, std::string* answer) {
    ServiceReply reply = ServiceCallPlain(service::kBuildGroupId, body);
    if (!reply.ok())
        return false;
    answer->swap(reply.text);
    return true;
}
