#include "contacts/contact_carry.h"

#include <kxphone/contact_record.h>

#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "contacts/contact_groups.h"
#include "transport/text_encoding.h"

namespace kxconv {

namespace {

// How the mapping sees the rows of one mimetype. A handset row is matched to the host's row of the
// same mimetype and kind (kindColumn): by value first, then by position; the host's row then
// receives the handset's columns the record does not hold.
struct RowRule {
    const char* mimetype;
    const char* kindColumn; // null: all rows of the mimetype are one kind
    const char* readKinds;  // kinds the record can hold, ",1,2,"; null: every kind
    const char* twoKinds;   // kinds of which the record holds two rows at most; null: all rows
    const char* owned;      // columns the record holds, ",data1,data2,"
    bool needsData1;        // a row without data1 is not read
    const char* derived;    // columns the handset derives from the owned ones: kept while those are
};

// Columns every row has that the host decides.
const char kAlwaysOwned[] = ",mimetype,";
// Which row is the primary one the record cannot say (it follows from the types): a row the host
// kept stays primary or not as on the handset.
const char kHandsetDecides[] = ",is_primary,is_super_primary,";

const RowRule kRules[] = {
    {"vnd.android.cursor.item/name", nullptr, nullptr, nullptr, ",data1,data2,data3,data7,data9,", false,
     ",data1,"},
    {"vnd.android.cursor.item/phone_v2", "data2", ",1,2,3,4,5,6,7,9,10,14,19,", ",1,3,", ",data1,data2,",
     true, nullptr},
    {"vnd.android.cursor.item/email_v2", nullptr, nullptr, nullptr, ",data1,", true, nullptr},
    {"vnd.android.cursor.item/organization", nullptr, nullptr, nullptr, ",data1,data4,", false, nullptr},
    {"vnd.android.cursor.item/postal-address_v2", "data2", ",1,2,3,", ",1,2,3,",
     ",data1,data2,data4,data5,data6,data7,data8,data9,data10,", false, ",data1,"},
    {"vnd.android.cursor.item/im", nullptr, nullptr, nullptr, ",data1,data5,data6,", false, nullptr},
    {"vnd.android.cursor.item/nickname", nullptr, nullptr, nullptr, ",data1,", false, nullptr},
    {"vnd.android.cursor.item/website", nullptr, nullptr, nullptr, ",data1,", false, nullptr},
    {"vnd.android.cursor.item/contact_event", "data2", ",1,3,", nullptr, ",data1,data2,", false, nullptr},
    {"vnd.android.cursor.item/note", nullptr, nullptr, nullptr, ",data1,", false, nullptr},
};

bool Listed(const char* list, const std::string& item) {
    return std::strstr(list, ("," + item + ",").c_str()) != nullptr;
}

std::string Text(const Json::Value& row, const char* key) {
    const Json::Value& v = row[key];
    return v.isString() ? v.asString() : v.isNumeric() ? v.asString() : std::string();
}

const RowRule* RuleOf(const std::string& mimetype) {
    for (const RowRule& rule : kRules)
        if (mimetype == rule.mimetype)
            return &rule;
    return nullptr;
}

std::string KindOf(const RowRule& rule, const Json::Value& row) {
    return rule.mimetype + std::string("|") + (rule.kindColumn ? Text(row, rule.kindColumn) : std::string());
}

// A row the host's record holds, as the mapping reads it.
bool Read(const RowRule& rule, const Json::Value& row) {
    if (rule.needsData1 && Text(row, "data1").empty())
        return false;
    return !rule.readKinds || Listed(rule.readKinds, Text(row, rule.kindColumn));
}

} // namespace

void CarryOverContact(const Json::Value& handset, const ContactRecord& host, ContactGroupCache& groups,
                      Json::Value* object, int* fields) {
    const Json::Value& current = handset["__data"];
    if (!handset.isObject() || !current.isArray())
        return;
    Json::Value& rows = (*object)["__data"];
    if (!rows.isArray())
        rows = Json::Value(Json::arrayValue);

    // The host's rows by kind, in order; groups by id; whether it sends a picture.
    std::map<std::string, std::vector<Json::ArrayIndex>> hostRows;
    bool hostPhoto = false;
    std::map<std::string, bool> hostGroups;
    for (Json::ArrayIndex i = 0; i < rows.size(); ++i) {
        const std::string mimetype = Text(rows[i], "mimetype");
        if (const RowRule* rule = RuleOf(mimetype))
            hostRows[KindOf(*rule, rows[i])].push_back(i);
        else if (mimetype == "vnd.android.cursor.item/photo")
            hostPhoto = true;
        else if (mimetype == "vnd.android.cursor.item/group_membership")
            hostGroups[Text(rows[i], "data1")] = true;
    }

    std::map<std::string, size_t> seen;
    std::vector<bool> used(rows.size(), false);
    std::vector<std::pair<const Json::Value*, const RowRule*>> unmatched; // by kind, in order
    Json::Value carried(Json::arrayValue);
    auto copyColumns = [&](const Json::Value& from, const RowRule& rule, Json::ArrayIndex to) {
        used[to] = true;
        Json::Value& mine = rows[to];
        bool unchanged = true;
        for (const std::string& column : from.getMemberNames())
            if (Listed(rule.owned, column) && !(rule.derived && Listed(rule.derived, column)))
                unchanged = unchanged && Text(mine, column.c_str()) == Text(from, column.c_str());
        for (const std::string& column : from.getMemberNames()) {
            const bool derived = rule.derived && Listed(rule.derived, column);
            // What the writer put in a column the record does not hold is a default: the
            // handset's value replaces it.
            if (Listed(kHandsetDecides, column) ||
                (derived ? unchanged : !Listed(rule.owned, column) && !Listed(kAlwaysOwned, column)))
                mine[column] = from[column];
        }
    };
    for (const Json::Value& row : current) {
        if (!row.isObject())
            continue;
        const std::string mimetype = Text(row, "mimetype");
        if (mimetype == "vnd.android.cursor.item/photo") {
            // A picture the host holds but could not send (too large) stays; one it dropped goes.
            const ContactField* holder = host.PictureHolder();
            if (!hostPhoto && holder && !holder->strFilePath.empty())
                carried.append(row);
            continue;
        }
        if (mimetype == "vnd.android.cursor.item/group_membership") {
            std::u16string title;
            const std::string id = Text(row, "data1");
            // A group whose title the host never got it could not keep; one it knew it removed.
            if (!hostGroups.count(id) && !(groups.TitleOfId(Utf8ToWide(id), &title) && !title.empty()))
                carried.append(row);
            continue;
        }
        const RowRule* rule = RuleOf(mimetype);
        if (!rule || !Read(*rule, row)) {
            carried.append(row); // a row the record cannot hold at all
            continue;
        }
        const std::string kind = KindOf(*rule, row);
        if (rule->twoKinds && Listed(rule->twoKinds, Text(row, rule->kindColumn)) && seen[kind]++ >= 2) {
            carried.append(row); // beyond what the record holds of this kind
            continue;
        }
        // The host's row with the same value first; what is left is matched in order below.
        bool matched = false;
        for (Json::ArrayIndex i : hostRows[kind]) {
            if (!used[i] && Text(rows[i], "data1") == Text(row, "data1")) {
                copyColumns(row, *rule, i);
                matched = true;
                break;
            }
        }
        if (!matched)
            unmatched.push_back({&row, rule});
    }
    // A row the host changed takes the place of the handset's row in the same position; a row
    // the host could hold but has no row for any more was removed by the host.
    for (const auto& [row, rule] : unmatched) {
        for (Json::ArrayIndex i : hostRows[KindOf(*rule, *row)]) {
            if (!used[i]) {
                copyColumns(*row, *rule, i);
                break;
            }
        }
    }
    for (Json::Value& row : carried)
        rows.append(std::move(row));
    *fields += static_cast<int>(carried.size());
}

} // namespace kxconv
