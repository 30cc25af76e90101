// One calendar event as the host sees it: a fixed block of numbers and dates and an owned array
// of typed text items. Dates are platform::OleDate values (days since 1899-12-30, local time;
// 0.0 stands for "no date"). The layout is shared with the host, so the member order is part of the
// interface; everything is inline so that a host can copy records without linking the driver.
//
// Ownership: a record owns its CalendarField items (destroying or resetting it destroys them).
// Records the driver hands to the host in a message or callback stay the driver's and live only
// for that call. Not thread-safe; one thread works on a record at a time.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include <kxphone/ole_date.h>

// Type codes of CalendarField::nType.
enum KXCalendarFieldType : int32_t {
    KX_CAL_TITLE = 3000,
    KX_CAL_DESCRIPTION = 3002,
    KX_CAL_LOCATION = 3003,
    KX_CAL_EXCEPTIONS = 3024, // XML list of modified and removed instances
    KX_CAL_TIMEZONE = 3037,   // "GMT:<bias>;DST:<daylight>[;STD:..;DLT:..]"
    KX_CAL_ICAL_GUID = 5000,
};

class CalendarField {
public:
    CalendarField() : nVersion(100) { Reset(); }
    CalendarField(int32_t type, const std::u16string& data) : CalendarField() {
        nType = type;
        strData = data;
    }
    CalendarField(const CalendarField& o) : nVersion(100) { CopyFrom(o); }
    CalendarField& operator=(const CalendarField& o) {
        if (this != &o)
            CopyFrom(o);
        return *this;
    }
    virtual ~CalendarField() = default;

    void Reset() {
        strData.clear();
        nType = 0;
        nAux1 = -1;
        nAux2 = 0;
        nAux3 = -1;
        lAux4 = 0;
        strAux.clear();
    }

    int32_t nVersion;
    std::u16string strData;
    int32_t nType;
    int32_t nAux1;
    int32_t nAux2;
    int32_t nAux3;
    int32_t lAux4;
    std::u16string strAux;

private:
    // nVersion belongs to the item, not to what it holds.
    void CopyFrom(const CalendarField& o) {
        strData = o.strData;
        nType = o.nType;
        nAux1 = o.nAux1;
        nAux2 = o.nAux2;
        nAux3 = o.nAux3;
        lAux4 = o.lAux4;
        strAux = o.strAux;
    }
};

class CalendarRecord {
public:
    static constexpr int32_t kVersion = 103;

    CalendarRecord() : nVersion(kVersion) { Reset(); }
    CalendarRecord(const CalendarRecord& o) : nVersion(kVersion) {
        Reset();
        CopyFrom(o);
    }
    CalendarRecord& operator=(const CalendarRecord& o) {
        if (this != &o) {
            Reset();
            CopyFrom(o);
        }
        return *this;
    }
    virtual ~CalendarRecord() { ClearFields(); }

    // Destroys the items and sets every member to its starting value; nVersion stays.
    void Reset() {
        ClearFields();
        lState = -1;
        lFlag = 0;
        nCalendarId = 0;
        strId.clear();
        dtStart = platform::OleDate();
        dtEnd = platform::OleDate();
        dtLastModified = platform::OleDate();
        dtAux = platform::OleDate();
        lAux1 = -1;
        lPhoneId = -1;
        nAux2 = 0;
        strAux1.clear();
        nAux3 = 0;
        nAux4 = 0;
        strAux2.clear();
        lAux5 = 0;
        lRecurType = 0;
        lRecurDay = 0;
        lRecurMonth = 0;
        lRecurByWeekday = 0;
        lRecurWeek = 0;
        lRecurDayMask = 0;
        lRecurInterval = 1;
        lAux6 = 0;
        dtRecurEnd = platform::OleDate();
        bRecurHasEnd = 0;
        lReminderMinutes = 0;
        lAux7 = 1;
        lAux8 = 0;
        pSource = 0;
        lAux9 = 0;
        lAux10 = 0;
        bAllDay = 0;
        lAux11 = 0;
    }

    // Appends a new item; the record owns it.
    CalendarField* AddField(int32_t type, const std::u16string& data) {
        fields.push_back(new CalendarField(type, data));
        return fields.back();
    }
    // The first item of that type, or null.
    const CalendarField* FirstField(int32_t type) const {
        for (const CalendarField* f : fields)
            if (f && f->nType == type)
                return f;
        return nullptr;
    }
    // The last item of that type (the one whose value is sent), or null.
    const CalendarField* LastField(int32_t type) const {
        for (auto it = fields.rbegin(); it != fields.rend(); ++it)
            if (*it && (*it)->nType == type)
                return *it;
        return nullptr;
    }

    int32_t nVersion;
    std::vector<CalendarField*> fields;
    int32_t lState;
    int32_t lFlag; // 8 create, 4 update, 0x20 delete
    int32_t nCalendarId;
    std::u16string strId;
    platform::OleDate dtStart;
    platform::OleDate dtEnd;
    platform::OleDate dtLastModified;
    platform::OleDate dtAux;
    int32_t lAux1;
    int32_t lPhoneId;
    int32_t nAux2;
    std::u16string strAux1;
    int32_t nAux3;
    int32_t nAux4;
    std::u16string strAux2;
    int32_t lAux5;
    int32_t lRecurType; // 0 none, 1 daily, 2 weekly, 3 monthly, 4 yearly
    int32_t lRecurDay;
    int32_t lRecurMonth;
    int32_t lRecurByWeekday;
    int32_t lRecurWeek;
    int32_t lRecurDayMask; // 1 Sunday .. 64 Saturday
    int32_t lRecurInterval;
    int32_t lAux6;
    platform::OleDate dtRecurEnd;
    int32_t bRecurHasEnd;
    int32_t lReminderMinutes; // -1: no alarm
    int32_t lAux7;
    int32_t lAux8;
    uintptr_t pSource; // on the writer's working copies: the host record they came from
    int32_t lAux9;
    int32_t lAux10;  // version 101 and later
    int32_t bAllDay; // version 102 and later
    int32_t lAux11;  // version 103 and later

private:
    void ClearFields() {
        for (CalendarField* f : fields)
            delete f;
        fields.clear();
    }

    // Older hosts hand in shorter records: members beyond the source's version are not read.
    void CopyFrom(const CalendarRecord& o) {
        lState = o.lState;
        lFlag = o.lFlag;
        nCalendarId = o.nCalendarId;
        strId = o.strId;
        dtStart = o.dtStart;
        dtEnd = o.dtEnd;
        dtLastModified = o.dtLastModified;
        dtAux = o.dtAux;
        lAux1 = o.lAux1;
        lPhoneId = o.lPhoneId;
        nAux2 = o.nAux2;
        strAux1 = o.strAux1;
        nAux3 = o.nAux3;
        nAux4 = o.nAux4;
        strAux2 = o.strAux2;
        lAux5 = o.lAux5;
        lRecurType = o.lRecurType;
        lRecurDay = o.lRecurDay;
        lRecurMonth = o.lRecurMonth;
        lRecurByWeekday = o.lRecurByWeekday;
        lRecurWeek = o.lRecurWeek;
        lRecurDayMask = o.lRecurDayMask;
        lRecurInterval = o.lRecurInterval;
        lAux6 = o.lAux6;
        dtRecurEnd = o.dtRecurEnd;
        bRecurHasEnd = o.bRecurHasEnd;
        lReminderMinutes = o.lReminderMinutes;
        lAux7 = o.lAux7;
        lAux8 = o.lAux8;
        pSource = o.pSource;
        lAux9 = o.lAux9;
        lAux10 = o.nVersion >= 101 ? o.lAux10 : 0;
        bAllDay = o.nVersion >= 102 ? o.bAllDay : 0;
        lAux11 = o.nVersion >= 103 ? o.lAux11 : 0;
        fields.reserve(o.fields.size());
        for (const CalendarField* f : o.fields)
            if (f)
                fields.push_back(new CalendarField(*f));
    }
};

// What a host hands to Write(8): its own records, in order, under the same rules as the contact
// list of Write(2); a confirmed record also receives the handset's event identifier (field 5000).
typedef std::vector<CalendarRecord*> KXCalendarList;

// What a host hands to ClearChangeLog(8): the ids (strId) of the events whose change-log
// entries it has taken. Read during the call only; the host keeps ownership.
typedef std::vector<std::u16string> KXCalendarIdList;
