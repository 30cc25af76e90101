// The full contact read behind CKXFakePhone::ReadContact: the change log names every contact id,
// then the contacts are fetched by id in batches, converted and handed over one by one.
#pragma once

#include <cstddef>
#include <cstdint>

#include <json/json.h>

#include <kxphone/contact_record.h>
#include <kxphone/record_list.h>

#include "contacts/contact_groups.h"
#include "sync/phone_state.h"
#include "sync/picture_file.h"
#include "transport/fast_json.h"

// list null: every record goes to the host (messages and callbacks); otherwise copies are
// collected into list and nothing is sent. Returns 0, 12, 21 or 1100. Runs on the caller's
// thread; phone.StopFlag may be raised from another.
int32_t ReadContacts(PhoneState& phone, ContactGroupCache& groups, RecordList<ContactRecord>* list);

// Ids per "/contact/do/read" for this handset.
size_t ContactReadBatch(const PhoneState& phone);

// The contacts of one batch answer's "objects", converted and appended to records; entries that
// are no object are traced for caller and passed over. passThrough: the records only pass through
// (their pictures get files of their own). pictures (may be null): where the host's records'
// picture files are noted.
void ToContactBatch(const Json::Value& objects, ContactGroupCache& groups, const char16_t* caller,
                    bool passThrough, PictureSession* pictures, RecordList<ContactRecord>* records);
// The same for an answer the fast reader took.
void ToContactBatch(const fastjson::Value& objects, ContactGroupCache& groups, const char16_t* caller,
                    bool passThrough, PictureSession* pictures, RecordList<ContactRecord>* records);
