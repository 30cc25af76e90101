#include "vcard.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <numeric>
#include <set>
#include <utility>

#include "codec_text.h"
#include "platform/utf.h"
#include "vcard_lines.h"

namespace kxsync {

namespace {

using Params = std::vector<std::pair<std::string, std::string>>;

// How a one-field property's value holds the field's text.
enum class Value { kText, kDate, kCategories, kImpp };

// One-field properties. Codes first..last share a property: on input the n-th such property of a
// card takes the n-th code (the last one for any further). TEL rows are told apart by TYPE.
struct Simple {
    int32_t first, last;
    const char* name;
    const char* types;
    Value value;
};
const Simple kSimple[] = {
    {104, 104, "TEL", "cell", Value::kText},
    {102, 103, "TEL", "home", Value::kText},
    {100, 101, "TEL", "work", Value::kText},
    {111, 111, "TEL", "fax,home", Value::kText},
    {112, 112, "TEL", "fax,work", Value::kText},
    {106, 106, "TEL", "pager", Value::kText},
    {108, 108, "TEL", "", Value::kText},
    {114, 114, "TEL", "x-car", Value::kText},
    {116, 116, "TEL", "x-company-main", Value::kText},
    {117, 117, "TEL", "x-assistant", Value::kText},
    {119, 119, "TEL", "x-radio", Value::kText},
    {1000, 1499, "EMAIL", "", Value::kText},
    {1500, 1500, "URL", "", Value::kText},
    {4005, 4005, "NICKNAME", "", Value::kText},
    {4004, 4004, "ORG", "", Value::kText},
    {4015, 4015, "TITLE", "", Value::kText},
    {3002, 3002, "NOTE", "", Value::kText},
    {4037, 4037, "X-PHONETIC-FIRST-NAME", "", Value::kText},
    {4038, 4038, "X-PHONETIC-LAST-NAME", "", Value::kText},
    {4003, 4003, "BDAY", "", Value::kDate},
    {4019, 4019, "ANNIVERSARY", "", Value::kDate},
    {3018, 3018, "CATEGORIES", "", Value::kCategories},
    {4022, 4030, "IMPP", "", Value::kImpp},
};

// URI schemes of the handset's instant-messaging protocols 0..7.
const char* const kImSchemes[] = {"aim", "msnim", "ymsgr", "skype", "x-qq", "gtalk", "icq", "xmpp"};

// Fields gathered into one property: N (given names, then family names) and the ADR of each
// kind (the extended address holds the neighbourhood). Parts in the order a read adds them, with
// their component.
struct Block {
    const char* name;
    const char* types;
    std::vector<std::pair<int32_t, size_t>> parts; // field code, component
};
const Block kBlocks[] = {
    {"N", "", {{1, 1}, {2, 0}}},
    {"ADR", "home", {{2002, 2}, {2003, 1}, {2019, 0}, {2004, 3}, {2005, 4}, {2006, 5}, {2008, 6}}},
    {"ADR", "work", {{2010, 2}, {2011, 1}, {2021, 0}, {2012, 3}, {2013, 4}, {2014, 5}, {2016, 6}}},
    {"ADR", "", {{2032, 2}, {2033, 1}, {2030, 0}, {2034, 3}, {2035, 4}, {2036, 5}, {2038, 6}}},
};

struct IntMember {
    const char* name;
    int32_t ContactRecord::*member;
};
const IntMember kInts[] = {
    {"X-KX-FLAG", &ContactRecord::lFlag},
    {"X-KX-INDEX", &ContactRecord::lIndex},
    {"X-KX-UNIQUE-ID", &ContactRecord::lUniqueID},
    {"X-KX-PHONE-MEMORY", &ContactRecord::lPhoneMemory},
    {"X-KX-TOTAL-MEMORY-USED", &ContactRecord::nTotalMemoryUsed},
    {"X-KX-LOCATION", &ContactRecord::dtLocation},
    {"X-KX-CONTACT-ID", &ContactRecord::nContactID},
};
struct TextMember {
    const char* name;
    std::u16string ContactRecord::*member;
};
const TextMember kTexts[] = {{"X-KX-HANDSET-ID", &ContactRecord::strPIMID},
                             {"X-KX-FOLDER", &ContactRecord::csFolder}};

// The members of a field the contact code carries along unread, as the components of
// X-KX-FIELD-EXTRA (then the map as key;value pairs). The picture holder's path is the picture's.
const std::pair<int32_t ContactField::*, std::u16string ContactField::*> kExtras[] = {
    {&ContactField::nReserved, nullptr},   {&ContactField::nExtra1, nullptr},
    {&ContactField::nExtra2, nullptr},     {&ContactField::nExtra3, nullptr},
    {nullptr, &ContactField::strExtra1},   {&ContactField::nExtra4, nullptr},
    {nullptr, &ContactField::strFilePath}, {&ContactField::nExtra5, nullptr},
    {nullptr, &ContactField::strExtra2},   {nullptr, &ContactField::strExtra3},
    {&ContactField::nExtra6, nullptr},
};

std::string Lower(std::string text) {
    for (char& c : text)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

bool IsScheme(const std::string& text) {
    return !text.empty() && std::isalpha(static_cast<unsigned char>(text[0])) &&
           std::all_of(text.begin(), text.end(), [](char c) {
               return std::isalnum(static_cast<unsigned char>(c)) || c == '+' || c == '-' || c == '.';
           });
}

// Percent-encoding of a URI's address part: everything but unreserved characters and "@".
std::string PercentEncode(const std::string& text) {
    std::string out;
    for (char c : text) {
        if (std::isalnum(static_cast<unsigned char>(c)) || std::strchr("-._~@", c)) {
            out += c;
        } else {
            char code[4];
            std::snprintf(code, sizeof code, "%%%02X", static_cast<unsigned char>(c));
            out += code;
        }
    }
    return out;
}

std::string PercentDecode(const std::string& text) {
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        unsigned value;
        if (text[i] == '%' && i + 2 < text.size() && std::isxdigit(static_cast<unsigned char>(text[i + 1])) &&
            std::isxdigit(static_cast<unsigned char>(text[i + 2])) &&
            std::sscanf(text.c_str() + i + 1, "%2x", &value) == 1) {
            out += static_cast<char>(value);
            i += 2;
        } else {
            out += text[i];
        }
    }
    return out;
}

// TYPE values as a sorted, lower-case, comma-joined set; "voice" and "pref" say nothing here.
std::string TypeSet(const ContentLine& line) {
    std::set<std::string> types;
    for (const std::string& value : line.Param("TYPE"))
        for (const std::string& type : SplitEscaped(value, ','))
            if (Lower(type) != "voice" && Lower(type) != "pref" && !type.empty())
                types.insert(Lower(type));
    std::string joined;
    for (const std::string& type : types)
        joined += (joined.empty() ? "" : ",") + type;
    return joined;
}

const Simple* SimpleRowOfCode(int32_t code) {
    for (const Simple& row : kSimple)
        if (code >= row.first && code <= row.last)
            return &row;
    return nullptr;
}

// The row of a property on input (null: not a one-field property).
const Simple* SimpleRowOfLine(const ContentLine& line) {
    const Simple* match = nullptr;
    for (const Simple& row : kSimple)
        if (line.name == row.name && (!match || (line.name == "TEL" && TypeSet(line) == row.types)))
            match = &row;
    if (!match || line.name != "TEL" || TypeSet(line) == match->types)
        return match;
    // A TEL of other types: the nearest kind.
    std::string types = "," + TypeSet(line) + ",";
    auto has = [&](const char* type) {
        return types.find(std::string(",") + type + ",") != std::string::npos;
    };
    int32_t code = has("cell")    ? 104
                   : has("fax")   ? (has("home") ? 111 : 112)
                   : has("pager") ? 106
                   : has("home")  ? 102
                   : has("work")  ? 100
                                  : 108;
    return SimpleRowOfCode(code);
}

// "yyyy-mm-dd" and "--mm-dd" as vCard dates; other texts are written as text.
bool DateValue(const std::string& text, std::string* value) {
    auto digits = [&](size_t from, size_t n) {
        return std::all_of(text.begin() + from, text.begin() + from + n,
                           [](char c) { return std::isdigit(static_cast<unsigned char>(c)); });
    };
    if (text.size() == 10 && digits(0, 4) && text[4] == '-' && digits(5, 2) && text[7] == '-' && digits(8, 2))
        *value = text.substr(0, 4) + text.substr(5, 2) + text.substr(8, 2);
    else if (text.size() == 7 && text.compare(0, 2, "--") == 0 && digits(2, 2) && text[4] == '-' &&
             digits(5, 2))
        *value = "--" + text.substr(2, 2) + text.substr(5, 2);
    else
        return false;
    return true;
}

std::string DateFieldText(const ContentLine& line) {
    std::string value = UnescapeText(line.value);
    if (!line.Param("VALUE").empty() && Lower(line.Param("VALUE")[0]) == "text")
        return value;
    std::string date = value.substr(0, value.find('T'));
    bool digits = std::all_of(date.begin(), date.end(),
                              [](char c) { return std::isdigit(static_cast<unsigned char>(c)); });
    if (date.size() == 8 && digits)
        return date.substr(0, 4) + "-" + date.substr(4, 2) + "-" + date.substr(6, 2);
    if (date.size() == 6 && date.compare(0, 2, "--") == 0)
        return "--" + date.substr(2, 2) + "-" + date.substr(4, 2);
    return value;
}

// A one-field property's field: its code (counting the fields of its row already in record) and
// text. False with *what when the X-KX-FIELD parameter is not a number.
bool SimpleField(const ContentLine& line, const Simple& row, const ContactRecord& record, int32_t* code,
                 std::u16string* text, std::string* what) {
    int32_t before = 0;
    for (int32_t i = 0; i < record.GetFieldCount(); ++i)
        before += record.GetField(i)->nType >= row.first && record.GetField(i)->nType <= row.last;
    *code = std::min(row.last, row.first + before);
    switch (row.value) {
    case Value::kText:
        *text = FromLineText(UnescapeText(line.value));
        break;
    case Value::kDate:
        *text = FromLineText(DateFieldText(line));
        break;
    case Value::kCategories: {
        std::vector<std::string> items = SplitEscaped(line.value, ',');
        std::string joined = UnescapeText(items[0]);
        for (size_t i = 1; i < items.size(); ++i)
            joined += ";" + UnescapeText(items[i]);
        *text = FromLineText(joined);
        break;
    }
    case Value::kImpp: {
        size_t colon = line.value.find(':');
        std::string scheme = colon == std::string::npos ? "" : line.value.substr(0, colon);
        std::string address = PercentDecode(line.value.substr(colon == std::string::npos ? 0 : colon + 1));
        auto known = std::find(std::begin(kImSchemes), std::end(kImSchemes), Lower(scheme));
        *code = known != std::end(kImSchemes)
                    ? KX_CF_IM_FIRST + static_cast<int32_t>(known - std::begin(kImSchemes))
                    : KX_CF_IM_CUSTOM;
        *text = platform::Utf8ToUtf16(
            known != std::end(kImSchemes) || scheme.empty() ? address : scheme + ":" + address);
        break;
    }
    }
    std::vector<std::string> exact = line.Param("X-KX-FIELD");
    if (!exact.empty() && !ParseInt(exact[0], code)) {
        *what = "X-KX-FIELD must be a field code, not \"" + exact[0] + "\"";
        return false;
    }
    return true;
}

// The standard value of a field's text in its row's property ("" and false when there is none).
bool SimpleValue(const Simple& row, const ContactField& field, Params* params, std::string* value) {
    if (!IsLineText(field.strData))
        return false;
    std::string text = LineText(field.strData);
    switch (row.value) {
    case Value::kText:
        *value = EscapeText(text);
        return true;
    case Value::kDate:
        if (!DateValue(text, value)) {
            params->emplace_back("VALUE", "text");
            *value = EscapeText(text);
        }
        return true;
    case Value::kCategories: {
        value->clear();
        size_t start = 0;
        for (size_t end; (end = text.find(';', start)) != std::string::npos; start = end + 1)
            *value += EscapeText(text.substr(start, end - start)) + ",";
        *value += EscapeText(text.substr(start));
        return true;
    }
    case Value::kImpp: {
        if (field.nType != KX_CF_IM_CUSTOM) {
            *value = std::string(kImSchemes[field.nType - KX_CF_IM_FIRST]) + ":" + PercentEncode(text);
            return true;
        }
        size_t colon = text.find(':');
        if (colon == std::string::npos || !IsScheme(text.substr(0, colon)))
            return false;
        *value = text.substr(0, colon) + ":" + PercentEncode(text.substr(colon + 1));
        return true;
    }
    }
    return false;
}

bool DefaultExtras(const ContactField& f, bool holder) {
    static const ContactField fresh;
    for (const auto& extra : kExtras)
        if (extra.first ? f.*extra.first != fresh.*extra.first
                        : !(holder && extra.second == &ContactField::strFilePath) &&
                              f.*extra.second != fresh.*extra.second)
            return false;
    return f.mapExtra.empty();
}

std::string ExtrasValue(const ContactField& f, bool holder) {
    std::string value;
    for (const auto& extra : kExtras) {
        value += value.empty() && &extra == &kExtras[0] ? "" : ";";
        value += extra.first                                            ? std::to_string(f.*extra.first)
                 : holder && extra.second == &ContactField::strFilePath ? ""
                                                                        : ExactText(f.*extra.second);
    }
    for (const auto& entry : f.mapExtra)
        value += ";" + ExactText(entry.first) + ";" + ExactText(entry.second);
    return value;
}

bool ApplyExtras(const std::string& value, ContactField* f, std::string* what) {
    std::vector<std::string> parts = SplitEscaped(value, ';');
    const size_t n = std::size(kExtras);
    if (parts.size() < n || (parts.size() - n) % 2) {
        *what = "X-KX-FIELD-EXTRA must have " + std::to_string(n) + " parts and key;value pairs";
        return false;
    }
    for (size_t i = 0; i < n; ++i) {
        if (kExtras[i].second) {
            std::u16string text = FromExactText(parts[i]);
            if (kExtras[i].second != &ContactField::strFilePath || !text.empty())
                f->*kExtras[i].second = text;
        } else if (!ParseInt(parts[i], &(f->*kExtras[i].first))) {
            *what = "X-KX-FIELD-EXTRA part " + std::to_string(i + 1) + " must be a number";
            return false;
        }
    }
    for (size_t i = n; i < parts.size(); i += 2)
        f->mapExtra[FromExactText(parts[i])] = FromExactText(parts[i + 1]);
    return true;
}

// Pictures larger than this stay files (a path only): a vCard is read whole into memory.
constexpr uintmax_t kMaxPicture = 16 << 20;

// The bytes of a picture file; false when it cannot be read or is too large.
bool ReadPicture(const std::string& path, std::string* bytes) {
    std::error_code ec;
    uintmax_t size = std::filesystem::file_size(path, ec);
    std::ifstream in(path, std::ios::binary);
    if (ec || size > kMaxPicture || !in)
        return false;
    bytes->assign(std::istreambuf_iterator<char>(in), {});
    return !in.bad();
}

const char* MediaType(const std::string& bytes) {
    if (bytes.compare(0, 8, "\x89PNG\r\n\x1a\n") == 0)
        return "image/png";
    if (bytes.compare(0, 3, "\xff\xd8\xff") == 0)
        return "image/jpeg";
    if (bytes.compare(0, 4, "GIF8") == 0)
        return "image/gif";
    return "application/octet-stream";
}

// The name an N or FN-less reader shows: the names, else the first of a few fields.
std::string FormattedName(const ContactRecord& r) {
    std::string name;
    for (int32_t code : {1, 2})
        if (const ContactField* f = r.FindField(code))
            name += (name.empty() ? "" : " ") + LineText(f->strData);
    for (int32_t code : {4005, 4004, 1000, 104, 102, 100})
        if (const ContactField* f = r.FindField(code); f && name.empty())
            name = LineText(f->strData);
    for (char& c : name)
        c = static_cast<unsigned char>(c) < 0x20 || c == 0x7F ? ' ' : c;
    return name;
}

// Where a field goes on output.
const Block* BlockOf(const ContactField& f) {
    if (f.strData.empty() || !IsLineText(f.strData))
        return nullptr;
    for (const Block& block : kBlocks)
        for (const auto& part : block.parts)
            if (part.first == f.nType)
                return &block;
    return nullptr;
}

void WriteCard(const ContactRecord& r, std::string* out) {
    WriteContentLine("BEGIN", {}, "VCARD", out);
    WriteContentLine("VERSION", {}, "4.0", out);
    WriteContentLine("FN", {}, EscapeText(FormattedName(r)), out);
    const ContactField* holder = r.PictureHolder();
    std::string picture = holder ? platform::Utf16ToUtf8(holder->strFilePath) : "";
    // What an import would build so far, in its order: for the row counts and the field order.
    ContactRecord built;
    std::vector<int32_t> order;
    std::set<const Block*> written;
    for (int32_t i = 0; i < r.GetFieldCount(); ++i) {
        const ContactField& f = *r.GetField(i);
        bool plain = DefaultExtras(f, &f == holder);
        const Block* block = plain ? BlockOf(f) : nullptr;
        if (block) {
            if (!written.insert(block).second)
                continue;
            std::vector<std::vector<std::string>> components(block == &kBlocks[0] ? 5 : 7);
            for (const auto& part : block->parts)
                for (int32_t k = 0; k < r.GetFieldCount(); ++k) {
                    const ContactField& g = *r.GetField(k);
                    if (g.nType == part.first && BlockOf(g) && DefaultExtras(g, &g == holder)) {
                        components[part.second].push_back(EscapeText(LineText(g.strData)));
                        order.push_back(k);
                        built.AppendField(g);
                    }
                }
            std::string value;
            for (size_t c = 0; c < components.size(); ++c) {
                value += c ? ";" : "";
                for (size_t v = 0; v < components[c].size(); ++v)
                    value += (v ? "," : "") + components[c][v];
            }
            WriteContentLine(block->name, *block->types ? Params{{"TYPE", block->types}} : Params{}, value,
                             out);
            continue;
        }
        // One property for this field: its row's, when the text comes back from it unchanged.
        const Simple* row = SimpleRowOfCode(f.nType);
        Params params;
        std::string value;
        bool simple = row && SimpleValue(*row, f, &params, &value);
        if (simple) {
            if (*row->types)
                params.emplace_back("TYPE", row->types);
            ContentLine line;
            line.name = row->name;
            line.value = value;
            for (const auto& p : params)
                line.params.push_back({p.first, {p.second}});
            int32_t code;
            std::u16string text;
            std::string what;
            SimpleField(line, *row, built, &code, &text, &what);
            simple = text == f.strData;
            if (simple && code != f.nType)
                params.emplace_back("X-KX-FIELD", std::to_string(f.nType));
        }
        if (simple)
            WriteContentLine(row->name, params, value, out);
        else
            WriteContentLine("X-KX-FIELD-" + std::to_string(f.nType), {}, ExactText(f.strData), out);
        if (!plain)
            WriteContentLine("X-KX-FIELD-EXTRA", {}, ExtrasValue(f, &f == holder), out);
        order.push_back(i);
        built.AppendField(f);
    }
    std::vector<int32_t> identity(order.size());
    std::iota(identity.begin(), identity.end(), 0);
    if (order != identity) {
        std::string value;
        for (int32_t index : order)
            value += (value.empty() ? "" : ",") + std::to_string(index);
        WriteContentLine("X-KX-FIELD-ORDER", {}, value, out);
    }
    if (!picture.empty()) {
        std::string bytes;
        if (ReadPicture(picture, &bytes) && !bytes.empty())
            WriteContentLine("PHOTO", {},
                             std::string("data:") + MediaType(bytes) + ";base64," + Base64(bytes), out);
        WriteContentLine("X-KX-PICTURE-PATH", {}, ExactText(holder->strFilePath), out);
    }
    const ContactRecord fresh;
    for (const IntMember& m : kInts)
        if (r.*m.member != fresh.*m.member)
            WriteContentLine(m.name, {}, std::to_string(r.*m.member), out);
    for (const TextMember& m : kTexts)
        if (!(r.*m.member).empty())
            WriteContentLine(m.name, {}, ExactText(r.*m.member), out);
    if (!r.RawData().empty())
        WriteContentLine("X-KX-RAW", {}, Base64(std::string(r.RawData().begin(), r.RawData().end())), out);
    std::string rev = CivilText(r.strLastModify, false, true);
    platform::OleDate back;
    if (!rev.empty())
        WriteContentLine("REV", {}, rev, out);
    if (rev.empty() || !FromCivilText(rev, &back) || back != r.strLastModify)
        WriteContentLine("X-KX-MODIFIED", {}, ExactDate(r.strLastModify), out);
    WriteContentLine("X-KX-CREATED", {}, ExactDate(r.strCreated), out);
    WriteContentLine("END", {}, "VCARD", out);
}

// A card being read.
struct Card {
    int begin = 0;
    bool version = false;
    ContactRecord record;
    std::vector<int32_t> order;
    int orderLine = 0;
    std::string photo;
    std::u16string picturePath;
    int photoLine = 0;
    bool exactModified = false;
};

bool ReadProperty(const ContentLine& line, Card* card, std::string* what) {
    ContactRecord& r = card->record;
    const std::string& name = line.name;
    if (name == "VERSION") {
        if (card->version || line.value != "4.0") {
            *what = card->version ? "a second VERSION" : "VERSION " + line.value + " (only 4.0 is read)";
            return false;
        }
        card->version = true;
        return true;
    }
    if (const Simple* row = SimpleRowOfLine(line)) {
        int32_t code;
        std::u16string text;
        if (!SimpleField(line, *row, r, &code, &text, what))
            return false;
        r.AppendField(ContactField(code, text));
        return true;
    }
    for (const Block& block : kBlocks) {
        std::string types = line.name == "ADR" ? TypeSet(line) : "";
        bool home = types.find("home") != std::string::npos, work = types.find("work") != std::string::npos;
        const char* kind = home ? "home" : work ? "work" : "";
        if (name != block.name || (name == "ADR" && std::string(kind) != block.types))
            continue;
        std::vector<std::string> components = SplitEscaped(line.value, ';');
        for (const auto& part : block.parts)
            if (part.second < components.size())
                for (const std::string& item : SplitEscaped(components[part.second], ','))
                    if (!item.empty())
                        r.AppendField(ContactField(part.first, FromLineText(UnescapeText(item))));
        return true;
    }
    int32_t number;
    if (name.compare(0, 11, "X-KX-FIELD-") == 0 && ParseInt(name.substr(11), &number)) {
        r.AppendField(ContactField(number, FromExactText(line.value)));
        return true;
    }
    if (name == "X-KX-FIELD-EXTRA") {
        if (r.GetFieldCount() == 0) {
            *what = "X-KX-FIELD-EXTRA before any field";
            return false;
        }
        return ApplyExtras(line.value, r.GetField(r.GetFieldCount() - 1), what);
    }
    if (name == "X-KX-FIELD-ORDER") {
        card->order.clear();
        card->orderLine = line.line;
        for (const std::string& item : SplitEscaped(line.value, ','))
            if (!ParseInt(item, &number) || (card->order.push_back(number), false)) {
                *what = "X-KX-FIELD-ORDER must be field positions";
                return false;
            }
        return true;
    }
    if (name == "PHOTO") {
        std::string value = line.value;
        size_t comma = value.find(',');
        bool dataUri = Lower(value.substr(0, 5)) == "data:" && comma != std::string::npos &&
                       Lower(value.substr(0, comma)).size() >= 7 &&
                       Lower(value.substr(comma - 7, 7)) == ";base64";
        std::vector<std::string> encoding = line.Param("ENCODING");
        bool inline3 = !encoding.empty() && (Lower(encoding[0]) == "b" || Lower(encoding[0]) == "base64");
        if (!dataUri && !inline3)
            return true; // a link: nothing to fetch it with
        if (!FromBase64(dataUri ? value.substr(comma + 1) : value, &card->photo) || card->photo.empty()) {
            *what = "PHOTO is not base64 data";
            return false;
        }
        card->photoLine = line.line;
        return true;
    }
    if (name == "X-KX-PICTURE-PATH") {
        card->picturePath = FromExactText(line.value);
        return true;
    }
    for (const IntMember& m : kInts)
        if (name == m.name) {
            if (!ParseInt(line.value, &(r.*m.member))) {
                *what = name + " must be a number";
                return false;
            }
            return true;
        }
    for (const TextMember& m : kTexts)
        if (name == m.name) {
            r.*m.member = FromExactText(line.value);
            return true;
        }
    if (name == "X-KX-RAW") {
        std::string bytes;
        if (!FromBase64(line.value, &bytes)) {
            *what = "X-KX-RAW is not base64 data";
            return false;
        }
        r.SetRawData(bytes.data(), bytes.size());
        return true;
    }
    if (name == "REV" || name == "X-KX-MODIFIED" || name == "X-KX-CREATED") {
        // X-KX-MODIFIED is the exact form of REV: it wins wherever it stands.
        platform::OleDate date;
        if (!(name == "REV" ? FromCivilText(line.value, &date) : FromExactDate(line.value, &date))) {
            *what = name + " is not a date: \"" + line.value + "\"";
            return false;
        }
        if (name == "X-KX-CREATED")
            r.strCreated = date;
        else if (name == "X-KX-MODIFIED" || !card->exactModified)
            r.strLastModify = date;
        card->exactModified = card->exactModified || name == "X-KX-MODIFIED";
        return true;
    }
    return true; // a property no record member holds
}

// The card's END: the field order and the picture path (a PHOTO waits for the files, below).
bool FinishCard(Card* card, std::string* what, int* line) {
    ContactRecord& r = card->record;
    if (!card->version) {
        *what = "a vCard without VERSION";
        return false;
    }
    if (card->orderLine) {
        std::vector<int32_t> sorted = card->order;
        std::sort(sorted.begin(), sorted.end());
        std::vector<int32_t> identity(static_cast<size_t>(r.GetFieldCount()));
        std::iota(identity.begin(), identity.end(), 0);
        if (sorted != identity) {
            *line = card->orderLine;
            *what = "X-KX-FIELD-ORDER does not list each of the card's " + std::to_string(r.GetFieldCount()) +
                    " fields once";
            return false;
        }
        std::vector<ContactField> built;
        for (int32_t i = 0; i < r.GetFieldCount(); ++i)
            built.push_back(*r.GetField(i));
        std::vector<size_t> from(built.size());
        for (size_t j = 0; j < built.size(); ++j)
            from[card->order[j]] = j;
        r.RemoveAllFields();
        for (size_t k = 0; k < built.size(); ++k)
            r.AppendField(built[from[k]]);
    }
    if (card->photo.empty() && !card->picturePath.empty())
        r.SetPicturePath(card->picturePath);
    return true;
}

std::string Hex64(const std::string& bytes) {
    uint64_t hash = 14695981039346656037ull; // FNV-1a
    for (char c : bytes)
        hash = (hash ^ static_cast<uint8_t>(c)) * 1099511628211ull;
    char text[17];
    std::snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(hash));
    return text;
}

// A card's picture bytes into a file: the one it names when that holds them, else the folder's
// file named by the bytes. Files this import made are noted in *made.
bool PlacePicture(const Card& card, const std::string& folder, std::vector<std::string>* made,
                  std::u16string* path, std::string* what) {
    std::string hint = platform::Utf16ToUtf8(card.picturePath), bytes;
    if (!hint.empty() && ReadPicture(hint, &bytes) && bytes == card.photo) {
        *path = card.picturePath;
        return true;
    }
    if (folder.empty()) {
        *what = "a PHOTO, and no folder for picture files";
        return false;
    }
    std::string type = MediaType(card.photo);
    std::string file = folder + "/kxsync-" + Hex64(card.photo) + "." +
                       (type == "image/png"    ? "png"
                        : type == "image/jpeg" ? "jpg"
                        : type == "image/gif"  ? "gif"
                                               : "bin");
    *path = platform::Utf8ToUtf16(file);
    if (ReadPicture(file, &bytes) && bytes == card.photo)
        return true;
    // Whole or not at all: written beside it, then renamed.
    std::error_code ec;
    std::filesystem::create_directories(folder, ec);
    std::ofstream out(file + ".part", std::ios::binary | std::ios::trunc);
    out.write(card.photo.data(), static_cast<std::streamsize>(card.photo.size()));
    out.close();
    if (!out || (std::filesystem::rename(file + ".part", file, ec), ec)) {
        std::filesystem::remove(file + ".part", ec);
        *what = "the picture file " + file + " cannot be written";
        return false;
    }
    made->push_back(file);
    return true;
}

} // namespace

std::string ContactsToVcard(const std::vector<ContactRecord>& records) {
    std::string out;
    for (const ContactRecord& r : records)
        WriteCard(r, &out);
    return out;
}

bool ContactsFromVcard(const std::string& text, const std::string& picture_folder,
                       std::vector<ContactRecord>* records, std::string* error) {
    records->clear();
    std::vector<ContentLine> lines;
    if (!ReadContentLines(text, &lines, error))
        return false;
    std::vector<Card> cards;
    bool open = false;
    auto fail = [&](int line, const std::string& what) {
        *error = "line " + std::to_string(line) + ": " + what;
        return false;
    };
    for (const ContentLine& line : lines) {
        bool card = Lower(line.value) == "vcard";
        std::string what;
        if (line.name == "BEGIN" && card) {
            if (open)
                return fail(line.line,
                            "BEGIN:VCARD inside the vCard of line " + std::to_string(cards.back().begin));
            cards.emplace_back();
            cards.back().begin = line.line;
            open = true;
        } else if (line.name == "END" && card) {
            if (!open)
                return fail(line.line, "END:VCARD without BEGIN:VCARD");
            int at = line.line;
            if (!FinishCard(&cards.back(), &what, &at))
                return fail(at, what);
            open = false;
        } else if (!open) {
            return fail(line.line, line.name + " outside BEGIN:VCARD ... END:VCARD");
        } else if (line.name == "BEGIN" || line.name == "END") {
            return fail(line.line, line.name + ":" + line.value + " inside a vCard");
        } else if (!ReadProperty(line, &cards.back(), &what)) {
            return fail(line.line, what);
        }
    }
    if (open)
        return fail(cards.back().begin, "BEGIN:VCARD without END:VCARD");
    if (cards.empty())
        return fail(lines.empty() ? 1 : lines.back().line, "no vCard");
    std::vector<std::string> made;
    for (Card& card : cards) {
        if (card.photo.empty())
            continue;
        std::u16string path;
        std::string what;
        if (!PlacePicture(card, picture_folder, &made, &path, &what)) {
            std::error_code ec;
            for (const std::string& file : made)
                std::filesystem::remove(file, ec);
            return fail(card.photoLine, what);
        }
        card.record.SetPicturePath(path);
    }
    for (Card& card : cards)
        records->push_back(std::move(card.record));
    return true;
}

} // namespace kxsync
