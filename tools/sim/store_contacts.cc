// The contacts provider: raw contacts with their data rows, and groups.
#include <cstring>

#include "json_text.h"
#include "platform/utf.h"
#include "store_sql.h"
#include "transport/base64.h"

namespace kxsim {

namespace {

const char* const kPhotoMime = "vnd.android.cursor.item/photo";
const char* const kSystemPrefix = "System Group: ";
const char* const kDataKeys[15] = {"data1",  "data2",  "data3",  "data4",  "data5",
                                   "data6",  "data7",  "data8",  "data9",  "data10",
                                   "data11", "data12", "data13", "data14", "data15"};
// The data columns in JsonCpp's key order: data1, data10..data15, data2..data9.
const int kDataKeyOrder[15] = {0, 9, 10, 11, 12, 13, 14, 1, 2, 3, 4, 5, 6, 7, 8};

} // namespace

// --- groups ------------------------------------------------------------------------------------

StoreResult Store::AddGroup(const std::string& title, const std::string& systemId, int64_t* id) {
    std::lock_guard<std::recursive_mutex> lock(mu_);
    Stmt s(*this, "INSERT INTO groups(title, system_id, account_name, account_type)"
                  " VALUES(?, ?, 'pcsc', 'com.vexo.android.pcsc')");
    if (!s.Text(1, title).TextOrNull(2, systemId).Done())
        return StoreResult::Fail(LastError());
    *id = sqlite3_last_insert_rowid(db_);
    return {};
}

StoreResult Store::GroupIdForTitle(const std::string& rawTitle, std::string* id) {
    std::lock_guard<std::recursive_mutex> lock(mu_);
    id->clear();
    if (!platform::IsValidUtf8(rawTitle.data(), rawTitle.size()))
        return StoreResult::Fail("group title that is not valid UTF-8");
    std::string title = rawTitle;
    if (title.compare(0, std::strlen(kSystemPrefix), kSystemPrefix) == 0)
        title.erase(0, std::strlen(kSystemPrefix));
    if (title.empty())
        return {};
    {
        Stmt q(*this, "SELECT _id FROM groups WHERE title=? ORDER BY system_id IS NULL, _id LIMIT 1");
        if (q.Text(1, title).Row()) {
            *id = NumberText(q.ColInt(0));
            return {};
        }
    }
    int64_t created;
    StoreResult r = AddGroup(title, "", &created);
    if (r.ok)
        *id = NumberText(created);
    return r;
}

std::string Store::GroupTitleForId(const std::string& idText) {
    std::lock_guard<std::recursive_mutex> lock(mu_);
    int64_t id;
    if (!ParseInt(idText, &id))
        return {};
    Stmt q(*this, "SELECT title, system_id FROM groups WHERE _id=?");
    if (!q.Int(1, id).Row())
        return {};
    return q.ColNull(1) ? q.ColText(0) : kSystemPrefix + q.ColText(0);
}

// --- reads -------------------------------------------------------------------------------------

Json::Value Store::ContactIds() {
    return IdList("SELECT _id FROM raw_contacts ORDER BY _id");
}

void Store::ContactObject(int64_t id, TextOut& out) {
    Stmt c(*this,
           "SELECT account_name, account_type, sourceid, starred, sync4 FROM raw_contacts WHERE _id=?");
    if (!c.Int(1, id).Row())
        return;
    std::string& text = out.out();
    out.Separate();
    text.append("{\"__data\":[");
    Stmt d(*this, "SELECT mimetype, is_primary, is_super_primary, data1, data2, data3, data4, data5, data6,"
                  " data7, data8, data9, data10, data11, data12, data13, data14, data15"
                  " FROM data WHERE raw_contact_id=? ORDER BY _id");
    d.Int(1, id);
    std::string picture;
    while (d.Row()) {
        out.Separate();
        text.push_back('{');
        for (int k : kDataKeyOrder) {
            int col = 3 + k;
            if (d.ColNull(col))
                continue;
            std::string_view v = d.ColView(col);
            if (d.ColBlob(col)) {
                // Pictures are kept as bytes, the way the provider keeps them.
                picture = Base64Encode(v.data(), v.size());
                v = picture;
            }
            out.Member(kDataKeys[k], v);
        }
        out.Member("is_primary", d.ColInt(1) ? "1" : "0");
        out.Member("is_super_primary", d.ColInt(2) ? "1" : "0");
        out.Member("mimetype", d.ColView(0));
        text.push_back('}');
    }
    text.push_back(']');
    out.Member("__id", NumberText(id));
    out.Member("account_name", c.ColView(0));
    out.Member("account_type", c.ColView(1));
    if (!c.ColNull(2))
        out.Member("sourceid", c.ColView(2));
    out.Member("starred", c.ColInt(3) ? "1" : "0");
    out.Member("sync4", NumberText(c.ColInt(4)));
    text.push_back('}');
}

StoreResult Store::ReadContactsText(const Json::Value& ids, std::string* out, std::string* badText) {
    TextOut text(out, badText);
    out->push_back('[');
    StoreResult r = ForEachId(ids, [&](int64_t id) { ContactObject(id, text); });
    out->push_back(']');
    return r;
}

StoreResult Store::ReadContacts(const Json::Value& ids, Json::Value* objects) {
    std::string text, bad;
    return TreeOf(ReadContactsText(ids, &text, &bad), text, bad, objects);
}

StoreResult Store::ContactTimes(const Json::Value& ids, Json::Value* objects) {
    return FastRead(ids, "SELECT sync4 FROM raw_contacts WHERE _id=?", {"sync4"}, objects);
}

// --- writes ------------------------------------------------------------------------------------

StoreResult Store::InsertDataRows(int64_t contactId, const Json::Value& data) {
    if (data.isNull())
        return {};
    if (!data.isArray())
        return StoreResult::Fail("\"__data\" is not an array");
    for (const Json::Value& row : data) {
        std::string mime, primary, superPrimary;
        if (!row.isObject() || !TextOf(row, "mimetype", &mime) || mime.empty())
            return StoreResult::Fail("a data row without \"mimetype\"");
        if (!TextOf(row, "is_primary", &primary) || !TextOf(row, "is_super_primary", &superPrimary))
            return StoreResult::Fail("a data row with a malformed primary flag");
        Stmt s(*this,
               "INSERT INTO data(raw_contact_id, mimetype, is_primary, is_super_primary, data1, data2,"
               " data3, data4, data5, data6, data7, data8, data9, data10, data11, data12, data13, data14,"
               " data15) VALUES(?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?)");
        s.Int(1, contactId).Text(2, mime).Int(3, primary == "1").Int(4, superPrimary == "1");
        // The row's members looked at once: which of data1..data15 it has.
        const Json::Value* columns[15] = {};
        for (auto it = row.begin(); it != row.end(); ++it) {
            const char* end;
            const char* name = it.memberName(&end);
            if (end - name < 5 || end - name > 6 || std::strncmp(name, "data", 4) != 0)
                continue;
            for (int k = 0; k < 15; ++k)
                if (std::strlen(kDataKeys[k]) == static_cast<size_t>(end - name) &&
                    std::memcmp(kDataKeys[k], name, static_cast<size_t>(end - name)) == 0)
                    columns[k] = &*it;
        }
        for (int k = 0; k < 15; ++k) {
            const Json::Value* present = columns[k];
            const char *b, *e;
            if (present == nullptr || present->isNull()) {
                s.Null(5 + k);
                continue;
            }
            if (!(k == 14 && mime == kPhotoMime) && present->getString(&b, &e)) {
                // The request's own bytes, bound without a copy: the request outlives the step.
                s.View(5 + k, b, static_cast<size_t>(e - b));
                continue;
            }
            std::string v;
            if (!TextOf(row, kDataKeys[k], &v))
                return StoreResult::Fail(std::string("\"") + kDataKeys[k] + "\" is not a scalar");
            if (k == 14 && mime == kPhotoMime)
                s.Blob(5 + k, Base64Decode(v.data(), v.size()));
            else
                s.Text(5 + k, v);
        }
        if (!s.Done())
            return StoreResult::Fail(LastError());
    }
    return {};
}

StoreResult Store::CreateContact(const Json::Value& obj, Origin origin, Json::Value* answer) {
    std::string account, type, source, starred;
    if (!TextOf(obj, "account_name", &account) || !TextOf(obj, "account_type", &type) ||
        !TextOf(obj, "sourceid", &source) || !TextOf(obj, "starred", &starred))
        return StoreResult::Fail("a contact with a malformed account or \"starred\"");
    if (!obj.isMember("account_name")) {
        account = "pcsc";
        type = "com.vexo.android.pcsc";
    }
    int64_t star = 0;
    ParseInt(starred, &star);
    Stmt s(*this, "INSERT INTO raw_contacts(account_name, account_type, sourceid, starred, sync4)"
                  " VALUES(?, ?, ?, ?, ?)");
    if (!s.Text(1, account).Text(2, type).TextOrNull(3, source).Int(4, star != 0).Int(5, NowMs()).Done())
        return StoreResult::Fail(LastError());
    const int64_t id = sqlite3_last_insert_rowid(db_);
    StoreResult r = InsertDataRows(id, obj["__data"]);
    if (!r.ok)
        return r;
    LogChange(origin, "contact", id, 'a');
    (*answer)["__id"] = NumberText(id);
    (*answer)["count"] = "1";
    return {};
}

StoreResult Store::UpdateContact(const Json::Value& obj, Origin origin, Json::Value* answer) {
    std::string starred;
    if (!TextOf(obj, "starred", &starred))
        return StoreResult::Fail("a contact with a malformed \"starred\"");
    // An update of a row that does not exist touches nothing, as a content provider's does.
    int64_t id = 0;
    {
        Stmt q(*this, "SELECT 1 FROM raw_contacts WHERE _id=?");
        if (!IdOf(obj, &id) || !q.Int(1, id).Row())
            return {};
    }
    // The driver sends whole contacts ("starred" only when set); a handset edit names only
    // what it changes.
    bool full = origin == Origin::kDriver;
    if (full || obj.isMember("starred")) {
        int64_t star = 0;
        ParseInt(starred, &star);
        Stmt s(*this, "UPDATE raw_contacts SET starred=? WHERE _id=?");
        s.Int(1, star != 0).Int(2, id).Done();
    }
    Stmt touch(*this, "UPDATE raw_contacts SET sync4=? WHERE _id=?");
    touch.Int(1, NowMs()).Int(2, id).Done();
    if (full || obj.isMember("__data")) {
        Stmt d(*this, "DELETE FROM data WHERE raw_contact_id=?");
        d.Int(1, id).Done();
        StoreResult r = InsertDataRows(id, obj["__data"]);
        if (!r.ok)
            return r;
    }
    LogChange(origin, "contact", id, 'm');
    (*answer)["count"] = "1";
    return {};
}

StoreResult Store::DeleteContact(const Json::Value& obj, Origin origin, Json::Value* answer) {
    int64_t id;
    if (!IdOf(obj, &id))
        return {};
    Stmt d(*this, "DELETE FROM raw_contacts WHERE _id=?"); // its data rows go too
    if (!d.Int(1, id).Done())
        return StoreResult::Fail(LastError());
    if (sqlite3_changes(db_) == 0)
        return {};
    LogChange(origin, "contact", id, 'd');
    (*answer)["count"] = "1";
    return {};
}

StoreResult Store::CreateContacts(const Json::Value& objects, Origin origin, Json::Value* answers) {
    return WriteEach(objects, origin, answers, "a contact", &Store::CreateContact);
}

StoreResult Store::UpdateContacts(const Json::Value& objects, Origin origin, Json::Value* answers) {
    return WriteEach(objects, origin, answers, "a contact", &Store::UpdateContact);
}

StoreResult Store::DeleteContacts(const Json::Value& objects, Origin origin, Json::Value* answers) {
    return WriteEach(objects, origin, answers, "a contact", &Store::DeleteContact);
}

} // namespace kxsim
