// What an update keeps of the handset's contact: the rows and columns the host's record cannot
// hold go back to the handset unchanged beside what the record gives, so editing one field on the
// desktop loses nothing the phone had.
#pragma once

#include <json/json.h>

class ContactGroupCache;
class ContactRecord;

namespace kxconv {

// object: what FromContactEx made of host (its "__data" rows); handset: the handset's current
// contact. Rows the mapping does not read, rows beyond what the record holds of their kind, and
// the unread columns of rows the host kept are added to object; a row the host could hold but
// left out stays out (the host removed it). *fields grows by the rows carried over.
void CarryOverContact(const Json::Value& handset, const ContactRecord& host, ContactGroupCache& groups,
                      Json::Value* object, int* fields);

} // namespace kxconv
