// The contact code's plain-text exchange with the handset service.
#include <string>

// "/contact/build_group_id": the frame lands with the transport; until then no group answers.
bool SendGroupRequest(const std::string&, std::string*) {
    return false;
}
