"""Reads kxsync's vCard and iCalendar exports with independent parsers (python3-vobject,
python3-icalendar) and checks that they find what the test records hold. Arguments: the .vcf, the
.ics and the picture file the first contact refers to."""
import base64
import datetime
import io
import sys

import icalendar
import vobject

vcf, ics, picture = sys.argv[1:4]
failures = []


def expect(what, got, wanted):
    if got != wanted:
        failures.append(f"{what}: {got!r} != {wanted!r}")


text = open(vcf, encoding="utf-8", newline="").read()
cards = list(vobject.readComponents(text))
expect("cards", len(cards), 3)
a = cards[0]
expect("N", (a.n.value.given, a.n.value.family), ("José", "García-Müller"))
expect("FN", a.fn.value, "José García-Müller")
expect("ORG TITLE NICKNAME", (a.org.value, a.title.value, a.nickname.value),
       (["Acme; Inc."], "Jefe\\de sección", "Pepe, el 🎈"))
tels = {tuple(sorted(t.params.get("TYPE", []))): t.value for t in a.tel_list}
expect("cell", tels[("cell",)], "+34 600 000 001")
expect("work fax", tels[("fax", "work")], "+34 93 9")
expect("emails", [e.value for e in a.email_list], ["jose@example.com", "pepe@example.org", "j.g+x@example.net"])
expect("URL", a.url.value, "https://example.com/~jose?a=1;b=2")
home = [adr.value for adr in a.adr_list if adr.params.get("TYPE") == ["home"]][0]
expect("home ADR", (home.box, home.extended, home.street, home.city, home.region, home.code, home.country),
       ("Apdo 7", "Centro", "Calle Mayor 1, 2º", "Madrid", "M", "28001", "España"))
expect("NOTE", a.note.value, "Line one\nLínea dos 🎈\n" + "x" * 200 + " ñ end")
expect("CATEGORIES", a.categories.value, ["Friends", "Work, Inc"])
expect("BDAY", a.bday.value, "19800517")
expect("IMPP", [i.value for i in a.impp_list][-2:], ["xmpp:j@jabber.org%2Fres", "matrix:@j%3Am.org"])
# vobject reads PHOTO as vCard 3 text (up to the first comma): its line parser has the whole URI.
photo = [vobject.base.parseLine(line)[2] for line, _ in vobject.base.getLogicalLines(io.StringIO(text))
         if line.startswith("PHOTO:")][0]
expect("PHOTO", photo.split(",", 1)[0], "data:image/png;base64")
expect("PHOTO bytes", base64.b64decode(photo.split(",", 1)[1]), open(picture, "rb").read())
expect("REV", a.rev.value, "20260228T180100Z")  # 19:01 in Madrid
expect("second card TEL, third card ORG", (cards[1].tel.value, cards[2].org.value), ("1", ["Solo"]))

cal = icalendar.Calendar.from_ical(open(ics, "rb").read())
events = [c for c in cal.walk("VEVENT") if "RECURRENCE-ID" not in c]
expect("events", len(events), 4)
moved = [c for c in cal.walk("VEVENT") if "RECURRENCE-ID" in c]
expect("overrides", [(str(c["UID"]), c.decoded("RECURRENCE-ID"), str(c["SUMMARY"]), c.decoded("DTSTART")) for c in moved],
       [("guid-1@example.com", datetime.datetime(2026, 1, 14, 9, 30), "Moved", datetime.datetime(2026, 1, 14, 11))])
e = events[0]
expect("SUMMARY DESCRIPTION LOCATION UID", [str(e[k]) for k in ("SUMMARY", "DESCRIPTION", "LOCATION", "UID")],
       ["Stand-up 🎈 ñ, ok; fine\\", "Two\nlines " + "d" * 150 + " é", "Room 1", "guid-1@example.com"])
expect("DTSTART DTEND", (e.decoded("DTSTART"), e.decoded("DTEND")),
       (datetime.datetime(2026, 1, 5, 9, 30), datetime.datetime(2026, 1, 5, 9, 45)))
rule = e["RRULE"]
expect("RRULE", (rule["FREQ"], rule["INTERVAL"], rule["BYDAY"], rule["UNTIL"]),
       (["WEEKLY"], [2], ["MO", "WE"], [datetime.datetime(2026, 6, 29, 9, 30)]))
exdates = e["EXDATE"] if isinstance(e["EXDATE"], list) else [e["EXDATE"]]
expect("EXDATE", [d.dt for x in exdates for d in x.dts], [datetime.datetime(2026, 1, 19, 9, 30)])
alarms = [c for c in e.walk("VALARM")]
expect("TRIGGER", alarms[0].decoded("TRIGGER"), datetime.timedelta(minutes=-15))
b = events[1]
expect("all-day DTSTART DTEND", (b.decoded("DTSTART"), b.decoded("DTEND")),
       (datetime.date(2026, 1, 1), datetime.date(2026, 1, 2)))
expect("yearly RRULE", (b["RRULE"]["FREQ"], b["RRULE"]["BYMONTH"], b["RRULE"]["BYMONTHDAY"]), (["YEARLY"], [1], [1]))
expect("no alarm", len(list(b.walk("VALARM"))), 0)
expect("monthly RRULE", (events[2]["RRULE"]["FREQ"], events[2]["RRULE"]["BYDAY"]), (["MONTHLY"], ["-1FR"]))
expect("daily RRULE", events[3]["RRULE"]["FREQ"], ["DAILY"])

for f in failures:
    print("read_exports:", f, file=sys.stderr)
sys.exit(1 if failures else 0)
