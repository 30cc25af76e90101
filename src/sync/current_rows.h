// The handset's current rows of records about to be updated, fetched by id in batches before the
// update goes out, so that what the host's record cannot hold can be sent back unchanged.
#pragma once

#include <cstddef>
#include <map>
#include <string>
#include <vector>

#include <json/json.h>

#include "transport/service_request.h"

// Asks read for ids, perRequest at a time, and keeps each answered object by its "__id" (with the
// rows the handset adds of its own, such as an event's modified instances). False when a request
// failed: the caller must not update what it could not see. caller: the trace caller of the
// read's own line.
bool ReadCurrentRows(const ServiceRequest& read, const std::vector<std::u16string>& ids, size_t perRequest,
                     const char16_t* caller, std::map<std::u16string, Json::Value>* rows);
