#include "driver/record_verify.h"

#include <algorithm>
#include <cmath>

#include "driver/app.h"
#include "driver/profile_store.h"
#include "platform/env.h"
#include "platform/format.h"
#include "trace/trace.h"

namespace kxverify {
namespace {

constexpr double kLastUsableDay = 2958465.0; // 9999-12-31

// What the handset's calendar takes in its texts.
constexpr char16_t kCalendarCharset[] =
    u"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789 .@/:'\",?-&;()!_{}[]^$~\\#*%+<>=";

const TextRule kCalendarText[] = {
    {KX_CAL_TITLE, 128, kCalendarCharset, u"NO DATA"},
    {KX_CAL_DESCRIPTION, 128, kCalendarCharset, nullptr},
    {KX_CAL_LOCATION, 32, kCalendarCharset, nullptr},
    {3004, 32, kCalendarCharset, nullptr},
    {3012, 16, u"0123456789*p#", nullptr},
};

// The dates of an event; the recurrence end only counts when the rule has one.
const struct {
    int32_t itemType;
    platform::OleDate CalendarRecord::*date;
    bool required;
    bool onlyWithRecurrenceEnd;
} kCalendarDates[] = {
    {KX_VERIFY_START_DATE, &CalendarRecord::dtStart, true, false},
    {KX_VERIFY_END_DATE, &CalendarRecord::dtEnd, false, false},
    {KX_VERIFY_RECURRENCE_END, &CalendarRecord::dtRecurEnd, false, true},
};

int64_t CivilSeconds(int year, int month, int day, int hour, int minute, int second) {
    return platform::OleDate::FromCivil(year, month, day, hour, minute, second).TotalSeconds();
}

bool InCharset(char16_t c, const char16_t* charset) {
    for (const char16_t* p = charset; *p; ++p) {
        if (*p == c)
            return true;
    }
    return false;
}

KXRecordVerifyItem CheckText(const TextRule& rule, const std::u16string& text) {
    KXRecordVerifyItem item;
    item.fieldType = rule.fieldType;
    if (text.empty() && rule.whenEmpty) {
        item.text = rule.whenEmpty;
        item.verdict = KX_FIELD_CHANGED;
        return item;
    }
    item.text = text;
    if (rule.maxLength > 0 && item.text.size() > static_cast<size_t>(rule.maxLength)) {
        size_t keep = static_cast<size_t>(rule.maxLength);
        // Never leave half of a surrogate pair at the end.
        if (item.text[keep - 1] >= 0xD800 && item.text[keep - 1] <= 0xDBFF)
            --keep;
        item.text.resize(keep);
        item.verdict = KX_FIELD_CHANGED;
    }
    if (rule.charset && std::any_of(item.text.begin(), item.text.end(),
                                    [&](char16_t c) { return !InCharset(c, rule.charset); }))
        item.verdict = KX_FIELD_REFUSED;
    return item;
}

// No item for an optional date that is not set (0.0, never sent).
bool CheckDate(const Rules& rules, const DateValue& value, KXRecordVerifyItem* item) {
    const platform::OleDate& date = value.date;
    item->fieldType = value.itemType;
    item->verdict = KX_FIELD_REFUSED;
    if (date.valid() && date.days == 0.0) {
        return value.required;
    }
    // Past the year 9999 (or not a number) the second arithmetic would overflow; no such date
    // can be sent anyway.
    if (!date.valid() || !std::isfinite(date.days) || std::fabs(date.days) > kLastUsableDay)
        return true;
    int64_t seconds = date.TotalSeconds();
    platform::CivilTime civil;
    if (date.ToCivil(&civil)) {
        item->text = platform::Format(u"%04d-%02d-%02d %02d:%02d:%02d", civil.year, civil.month, civil.day,
                                      civil.hour, civil.minute, civil.second);
    }
    if (seconds >= rules.earliest && seconds <= rules.latest)
        item->verdict = KX_FIELD_FITS;
    return true;
}

void Add(KXRecordVerifyItem item, int32_t options, int32_t* result, KXRecordVerifyList* out) {
    if (item.verdict != KX_FIELD_FITS)
        *result = 1;
    else if (options & KX_VERIFY_FAILED_ONLY)
        return;
    out->push_back(std::move(item));
}

} // namespace

int32_t Run(const Rules& rules, const std::vector<FieldText>& fields, const std::vector<DateValue>& dates,
            int32_t options, KXRecordVerifyList* out) {
    int32_t result = 0;
    std::vector<bool> seen(rules.textCount, false);
    for (const FieldText& field : fields) {
        for (size_t i = 0; i < rules.textCount; ++i) {
            if (rules.text[i].fieldType != field.type)
                continue;
            seen[i] = true;
            Add(CheckText(rules.text[i], *field.text), options, &result, out);
            break;
        }
    }
    for (size_t i = 0; i < rules.textCount; ++i) {
        if (!seen[i] && rules.text[i].whenEmpty)
            Add(CheckText(rules.text[i], std::u16string()), options, &result, out);
    }
    for (const DateValue& value : dates) {
        KXRecordVerifyItem item;
        if (CheckDate(rules, value, &item))
            Add(std::move(item), options, &result, out);
    }
    return result;
}

const Rules& ContactRules() {
    static const std::vector<TextRule> table = [] {
        size_t count = 0;
        const ContactFieldSpec* fields = ProfileStore::ContactFields(&count);
        std::vector<TextRule> rules;
        for (size_t i = 0; i < count; ++i)
            rules.push_back({fields[i].id, fields[i].maxLength, nullptr, nullptr});
        return rules;
    }();
    static const Rules rules{table.data(), table.size(), 0, 0};
    return rules;
}

const Rules& CalendarRules() {
    static const Rules rules{kCalendarText, std::size(kCalendarText), CivilSeconds(1990, 1, 1, 0, 0, 0),
                             CivilSeconds(2049, 12, 31, 23, 59, 59)};
    return rules;
}

int32_t VerifyContact(const ContactRecord& record, int32_t options, KXRecordVerifyList* out) {
    std::vector<FieldText> fields;
    for (int32_t i = 0; i < record.GetFieldCount(); ++i) {
        if (const ContactField* f = record.GetField(i))
            fields.push_back({f->nType, &f->strData});
    }
    return Run(ContactRules(), fields, {}, options, out);
}

int32_t VerifyCalendar(const CalendarRecord& record, int32_t options, KXRecordVerifyList* out) {
    std::vector<FieldText> fields;
    for (const CalendarField* f : record.fields) {
        if (f)
            fields.push_back({f->nType, &f->strData});
    }
    std::vector<DateValue> dates;
    for (const auto& d : kCalendarDates) {
        if (d.onlyWithRecurrenceEnd && !(record.lRecurType != 0 && record.bRecurHasEnd))
            continue;
        dates.push_back({d.itemType, record.*d.date, d.required});
    }
    return Run(CalendarRules(), fields, dates, options, out);
}

} // namespace kxverify

int32_t CKXFakePhone::VerifyRecord(int32_t type, uintptr_t param) {
    KXRecordVerifyBlock* block = reinterpret_cast<KXRecordVerifyBlock*>(param);
    m_VerifyResults.clear();
    if (!block) {
        KX_TRACE_ERROR(u"CKXFakePhone::Verify", u"Verify without a block");
        return 2;
    }
    block->results = &m_VerifyResults;
    if (!block->record) {
        KX_TRACE_ERROR(u"CKXFakePhone::Verify", u"Verify without a record");
        return 2;
    }
    int32_t result;
    if (type == KX_TYPE_CONTACT) {
        const auto* record = static_cast<const ContactRecord*>(block->record);
        if (record->version != 100) {
            KX_TRACE_ERROR(u"CKXFakePhone::Verify",
                           platform::Format(u"Contact record of unknown version %d", record->version));
            return 2;
        }
        result = kxverify::VerifyContact(*record, block->options, &m_VerifyResults);
    } else {
        const auto* record = static_cast<const CalendarRecord*>(block->record);
        // Older hosts hand in shorter records (100 to 102); nothing newer is known.
        if (record->nVersion < 100 || record->nVersion > CalendarRecord::kVersion) {
            KX_TRACE_ERROR(u"CKXFakePhone::Verify",
                           platform::Format(u"Calendar record of unknown version %d", record->nVersion));
            return 2;
        }
        result = kxverify::VerifyCalendar(*record, block->options, &m_VerifyResults);
    }
    if (result != 0) {
        KX_TRACE_INFO(u"CKXFakePhone::Verify",
                      platform::Format(u"Record does not fit as it is (%d items)",
                                       static_cast<int32_t>(m_VerifyResults.size())));
    }
    return result;
}
