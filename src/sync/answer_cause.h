// One trace line that says why an answer of the handset could not be used, in words a host's log
// reader can act on: the status the service gave, an answer that did not decipher into text, or
// text that is not JSON. Transport failures are named by the transport's own lines.
#pragma once

#include "transport/service_request.h"

// "answer status -4", "answer not decipherable", "answer is not JSON"; nothing for other outcomes.
void TraceAnswerCause(const char16_t* caller, const ServiceReply& reply);
