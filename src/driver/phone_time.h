// The handset's clock: the "/info/abc" exchange and the reading of its "now" value.
#pragma once

#include <json/json.h>

#include <string>

// GET "/info/abc" (no body, 600 s) to the phone's BaseUrl through the service frame; the parsed
// answer document in *answer. False when the handset gave no usable answer.
bool RequestPhoneInfo(Json::Value* answer);

// "now" (epoch milliseconds, or "yyyy-mm-dd hh:mm:ss", both UTC) as local time in
// "%04d-%02d-%02d %02d:%02d:%02d"; empty when the text is neither.
std::u16string PhoneTimeText(const std::string& now);
