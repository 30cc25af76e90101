// Contacts as vCard 4.0 (RFC 6350) and back. Every member of a record travels: what vCard has a
// property for goes there (N, TEL, EMAIL, ADR, IMPP, BDAY, NOTE, CATEGORIES, PHOTO, REV, ...),
// the rest goes to X-KX- properties, so ContactsFromVcard(ContactsToVcard(r)) gives r again
// (field order and the fields' unused members included).
//
// One change to the plain text-to-records form: a record holds its picture as a file path, so
// reading a PHOTO needs a folder to put the picture file in (picture_folder).
#pragma once

#include <string>
#include <vector>

#include <kxphone/contact_record.h>

namespace kxsync {

// Every record as one vCard 4.0: CRLF line ends, lines folded at 75 octets without splitting a
// UTF-8 sequence, text values escaped. The picture is read from the holder's file (a PHOTO data:
// URI); a file that cannot be read or is over 16 MiB leaves only its path (X-KX-PICTURE-PATH).
// A text ends at a NUL unit, as everywhere in the product.
std::string ContactsToVcard(const std::vector<ContactRecord>& records);

// A whole .vcf file. All or nothing: on any error false, *records left empty, no picture file
// left behind, *error = "line N: what is wrong". A PHOTO becomes a file in picture_folder named by
// its bytes ("kxsync-<hash>.<ext>", so importing the same picture again reuses it), unless the
// card's X-KX-PICTURE-PATH names a file that holds those bytes already. Properties that no record
// member holds (e.g. N's prefixes, GEO) are skipped.
bool ContactsFromVcard(const std::string& text, const std::string& picture_folder,
                       std::vector<ContactRecord>* records, std::string* error);

} // namespace kxsync
