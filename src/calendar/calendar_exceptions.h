// The exception list's XML (its form is described with the public conversions): the pieces the
// row mapping, the exdate conversion and the merge share.
#pragma once

#include <string>

#include <json/value.h>
#include <pugixml.hpp>

#include "platform/oledate.h"
#include "transport/fast_json.h"

namespace CalConv {

// A modified instance row as its "modification" element; empty when its start is no date, as
// such an instance cannot be placed in its series (nor sent back).
std::string ModificationElement(const Json::Value& row);
std::string ModificationElement(const fastjson::Value& row);

// Parses an exception list. False, traced for caller, when it is not XML.
bool LoadExceptionList(const std::u16string& text, pugi::xml_document* doc, const char16_t* caller);

// The "time" attribute of an exception element: the local day of the instance it replaces or
// removes. False when it is absent or no date.
bool ReadDayAttribute(const pugi::xml_node& e, platform::CivilTime* day);

// Unindented UTF-8 without a declaration, as the host keeps the list.
std::string SerialiseDocument(const pugi::xml_document& doc);

} // namespace CalConv
