#!/usr/bin/env python3
"""Writes N deterministic test messages into a Maildir.

usage: gen_maildir.py MAILDIR N [--seed S] [--manifest F.json] [--tsv F.tsv]
                      [--cur] [--no-sizes]

The same seed and N give byte-identical files and names. File names are
<epoch>.M<seq>P<seed>.testgen,S=<size>,W=<crlf size> and sort in delivery
order, so POP3 message n is generated message n. Bodies use LF; sizes in the
manifest are those on the wire (CR LF).

The manifest holds the intended values of every message in POP3 order: size
(= LIST), header_size (= octets of TOP n 0, blank line included), the decoded
sender name and address, the decoded subject (null without a Subject header),
the date (null when missing or garbage) and the tags of the forms used. The
TSV form carries the same for programs without a JSON reader: tab-separated,
with \\t, \\n and \\\\ escaped and \\N for null.
"""

import argparse
import base64
import datetime
import json
import os
import random
import sys

BASE_EPOCH = 1700000000

FIRST = ["Anna", "Marco", "Giulia", "Luca", "Sara", "Paolo", "Elena", "Davide",
         "Chiara", "Stefano", "Laura", "Matteo", "Irene", "Andrea", "Marta"]
LAST = ["Rossi", "Bianchi", "Colombo", "Ricci", "Marino", "Greco", "Bruno",
        "Gallo", "Conti", "De Luca", "Costa", "Fontana", "Moretti", "Barbieri"]
LATIN_NAMES = ["José García", "François Müller", "Zoë Ångström", "Niccolò Località",
               "Renée Dubois", "Jürgen Weiß", "Søren Kierkegård"]
UTF8_NAMES = ["Αλέξανδρος Παππάς", "Иван Петров", "山田 太郎", "Ελένη Γεωργίου",
              "Мария Иванова", "Ólafur Þórsson", "Łukasz Żółć"]
DOMAINS = ["example.com", "mail.example.org", "posta.example.it", "corp.example.net",
           "lists.example.edu"]
SPAM_DOMAINS = ["cheap-pills.example", "winner-prize.example", "crypto-gains.example"]
SPAM_NAMES = ["Prize Department", "Online Pharmacy", "Crypto Advisor", "Lottery Office"]

ASCII_SUBJECTS = ["Meeting notes for week {n}", "Invoice {n} attached",
                  "Re: lunch on Friday?", "Project status update #{n}",
                  "Your order {n} has shipped", "Minutes of the board meeting",
                  "Question about the contract", "Weekly report {n}"]
LATIN_SUBJECTS = ["Caffè e cornetto alle {n}?", "Perché non rispondi?",
                  "Réunion à l'hôtel de ville", "Grüße aus München",
                  "Prezzo speciale: 50% più sconto"]
UTF8_SUBJECTS = ["Привет из Москвы {n}", "会議の議事録 {n}", "Καλημέρα από την Αθήνα",
                 "Party tonight 🎉 {n}", "Ciao 👋 come stai?", "Отчёт за неделю {n}"]
SPAM_SUBJECTS = ["You have WON a FREE iPhone!!! {n}", "Cheap meds online - 90% off",
                 "URGENT: claim your lottery prize now", "Make $5000 a week from home",
                 "Double your bitcoin in 24 hours"]
LONG_WORDS = ("the quarterly planning review for the northern region has been moved to "
              "next Thursday afternoon so that everyone from the field offices can attend "
              "and present their figures in person").split()

MONTHS = ["Jan", "Feb", "Mar", "Apr", "May", "Jun", "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"]
DAYS = ["Mon", "Tue", "Wed", "Thu", "Fri", "Sat", "Sun"]
OBS_ZONES = {"GMT": 0, "UT": 0, "EST": -300, "EDT": -240, "CST": -360, "CDT": -300,
             "MST": -420, "MDT": -360, "PST": -480, "PDT": -420}
BODY_LINES = ["Hello,", "", "please find below the details we talked about.",
              "The figures are in the usual folder.", "Best regards,"]


def q_encode(text, charset):
    out = []
    for b in text.encode(charset):
        c = chr(b)
        if c == " ":
            out.append("_")
        elif c.isascii() and (c.isalnum() or c in "!*+-/"):
            out.append(c)
        else:
            out.append("=%02X" % b)
    return "".join(out)


def encoded_word(text, charset, enc, label=None):
    label = label or charset.upper()
    if enc == "Q":
        payload = q_encode(text, charset)
    else:
        payload = base64.b64encode(text.encode(charset)).decode("ascii")
    return "=?%s?%s?%s?=" % (label, enc if label.isupper() else enc.lower(), payload)


def fold(name, value, width=76):
    """Folds 'name: value' at blanks so that no line exceeds width."""
    words = value.split(" ")
    lines, line = [], name + ":"
    for w in words:
        if len(line) + 1 + len(w) > width and line.strip() and line != name + ":":
            lines.append(line)
            line = " " + w
        else:
            line += " " + w
    lines.append(line)
    return lines


def make_from(rng, i, spam):
    """Returns (header lines, name, address, form)."""
    if spam:
        name = rng.choice(SPAM_NAMES)
        addr = "noreply%d@%s" % (i, rng.choice(SPAM_DOMAINS))
        return ["From: %s <%s>" % (name, addr)], name, addr, "spam"
    first, last = rng.choice(FIRST), rng.choice(LAST)
    addr = "%s.%s%d@%s" % (first.lower(), last.lower().replace(" ", ""), i % 97,
                           rng.choice(DOMAINS))
    form = rng.choice(["plain", "plain", "quoted-comma", "escaped-quotes", "latin1-q",
                       "utf8-b", "utf8-q", "bare", "angle", "comment"])
    if form == "plain":
        name = "%s %s" % (first, last)
        value = "%s <%s>" % (name, addr)
    elif form == "quoted-comma":
        name = "%s, %s" % (last, first)
        value = '"%s" <%s>' % (name, addr)
    elif form == "escaped-quotes":
        name = '%s "%s" %s' % (first, first[:3], last)
        value = '"%s \\"%s\\" %s" <%s>' % (first, first[:3], last, addr)
    elif form == "latin1-q":
        name = rng.choice(LATIN_NAMES)
        value = "%s <%s>" % (encoded_word(name, "iso-8859-1", "Q"), addr)
    elif form == "utf8-b":
        name = rng.choice(UTF8_NAMES)
        value = "%s <%s>" % (encoded_word(name, "utf-8", "B"), addr)
    elif form == "utf8-q":
        name = rng.choice(UTF8_NAMES)
        head, _, tail = name.partition(" ")
        # Two adjacent words: the blank between them is not part of the name.
        value = "%s %s <%s>" % (encoded_word(head + " ", "utf-8", "Q"),
                                encoded_word(tail, "utf-8", "Q"), addr)
    elif form == "bare":
        name, value = "", addr
    elif form == "angle":
        name, value = "", "<%s>" % addr
    else:
        name = "%s %s" % (first, last)
        value = "%s (%s)" % (addr, name)
    return ["From: " + value], name, addr, form


def make_subject(rng, i, spam):
    """Returns (header lines, decoded subject or None, form)."""
    n = rng.randint(1, 999)
    if spam:
        s = rng.choice(SPAM_SUBJECTS).format(n=n)
        return ["Subject: " + s], s, "spam"
    form = rng.choice(["ascii", "ascii", "ascii", "latin1-q", "latin1-b", "utf8-q", "utf8-b",
                       "lower-charset", "adjacent", "re-encoded", "long-folded",
                       "multiline-encoded", "empty", "none"])
    if form == "ascii":
        s = rng.choice(ASCII_SUBJECTS).format(n=n)
        return ["Subject: " + s], s, form
    if form in ("latin1-q", "latin1-b"):
        s = rng.choice(LATIN_SUBJECTS).format(n=n)
        return ["Subject: " + encoded_word(s, "iso-8859-1", form[-1].upper())], s, form
    if form in ("utf8-q", "utf8-b"):
        s = rng.choice(UTF8_SUBJECTS).format(n=n)
        return ["Subject: " + encoded_word(s, "utf-8", form[-1].upper())], s, form
    if form == "lower-charset":
        s = rng.choice(LATIN_SUBJECTS).format(n=n)
        return ["Subject: " + encoded_word(s, "iso-8859-1", "Q", "iso-8859-1")], s, form
    if form == "adjacent":
        a, b = "Prezzo speciale ", "perché oggi %d" % n
        return ["Subject: %s %s" % (encoded_word(a, "iso-8859-1", "Q"),
                                   encoded_word(b, "iso-8859-1", "Q"))], a + b, form
    if form == "re-encoded":
        s = rng.choice(UTF8_SUBJECTS).format(n=n)
        return ["Subject: Re: " + encoded_word(s, "utf-8", "B")], "Re: " + s, form
    if form == "long-folded":
        start = rng.randint(0, 5)
        s = " ".join(LONG_WORDS[start:start + rng.randint(18, 25)])
        return fold("Subject", s), s, form
    if form == "multiline-encoded":
        s = rng.choice(UTF8_SUBJECTS).format(n=n) + " - " + rng.choice(UTF8_SUBJECTS).format(n=n)
        half = len(s) // 2
        return ["Subject: " + encoded_word(s[:half], "utf-8", "B"),
                " " + encoded_word(s[half:], "utf-8", "B")], s, form
    if form == "empty":
        return ["Subject:"], "", form
    return [], None, form


def make_date(rng, i):
    """Returns (header lines, aware datetime or None, form)."""
    base = datetime.datetime(2023, 11, 1, tzinfo=datetime.timezone.utc)
    moment = base + datetime.timedelta(seconds=i * 3671 + rng.randint(0, 3600))
    offset = rng.choice([0, 60, 120, -300, -420, 330, 540])
    form = rng.choice(["rfc5322", "rfc5322", "rfc5322", "no-weekday", "one-digit-day",
                       "comment", "obs-zone", "minus-zero", "no-seconds", "two-digit-year",
                       "double-spaces", "missing", "garbage"])
    if form == "obs-zone":
        zone = rng.choice(sorted(OBS_ZONES))
        offset = OBS_ZONES[zone]
    elif form == "minus-zero":
        offset = 0
    tz = datetime.timezone(datetime.timedelta(minutes=offset))
    local = moment.astimezone(tz)
    if form == "no-seconds":
        local = local.replace(second=0)
    if form == "one-digit-day":
        local = local.replace(day=rng.randint(1, 9))
    sign = "-" if offset < 0 else "+"
    zone_text = "%s%02d%02d" % (sign, abs(offset) // 60, abs(offset) % 60)
    if form == "obs-zone":
        zone_text = zone
    elif form == "minus-zero":
        zone_text = "-0000"
    wd, mon = DAYS[local.weekday()], MONTHS[local.month - 1]
    hms = "%02d:%02d:%02d" % (local.hour, local.minute, local.second)
    if form == "rfc5322" or form == "obs-zone" or form == "minus-zero":
        text = "%s, %02d %s %d %s %s" % (wd, local.day, mon, local.year, hms, zone_text)
    elif form == "no-weekday":
        text = "%02d %s %d %s %s" % (local.day, mon, local.year, hms, zone_text)
    elif form == "one-digit-day":
        text = "%s, %d %s %d %s %s" % (wd, local.day, mon, local.year, hms, zone_text)
    elif form == "comment":
        text = "%s, %02d %s %d %s %s (CET)" % (wd, local.day, mon, local.year, hms, zone_text)
    elif form == "no-seconds":
        text = "%s, %02d %s %d %02d:%02d %s" % (wd, local.day, mon, local.year, local.hour,
                                               local.minute, zone_text)
    elif form == "two-digit-year":
        text = "%s, %02d %s %02d %s %s" % (wd, local.day, mon, local.year % 100, hms, zone_text)
    elif form == "double-spaces":
        text = "%s,  %02d %s %d  %s %s" % (wd, local.day, mon, local.year, hms, zone_text)
    elif form == "missing":
        return [], None, form
    else:
        return ["Date: not a date at all"], None, form
    return ["Date: " + text], local, form


def make_message(rng, i, seed):
    spam = rng.random() < 0.12
    from_lines, from_name, from_addr, from_form = make_from(rng, i, spam)
    subj_lines, subject, subj_form = make_subject(rng, i, spam)
    date_lines, date, date_form = make_date(rng, i)
    msg_id = "<%d.%d.%d@testgen.example>" % (BASE_EPOCH + i, seed, rng.randint(1000, 99999))
    header = [
        "Return-Path: <%s>" % from_addr,
        "Received: from mx%d.example.net (mx%d.example.net [192.0.2.%d])" % (i % 7, i % 7,
                                                                           i % 250 + 1),
        "\tby mail.example.com (Postfix) with ESMTP id %08X" % rng.getrandbits(32),
        "\tfor <rcpt@example.com>; Wed, 01 Nov 2023 10:00:00 +0100",
    ]
    header += from_lines
    header.append("To: Mailbox Owner <rcpt@example.com>")
    header += subj_lines
    header += date_lines
    header.append("Message-ID: " + msg_id)
    folded = len(subj_lines) > 1  # (Received and Content-Type always fold)
    if rng.random() < 0.2:
        refs = " ".join("<%d.%d@thread.example.com>" % (BASE_EPOCH - k, k)
                        for k in range(1, 14))
        header.append("References: " + refs)
    header.append("MIME-Version: 1.0")
    header += ["Content-Type: text/plain;", '\tcharset="us-ascii"']
    header.append("Content-Transfer-Encoding: 7bit")
    if spam:
        header.append("X-Spam-Flag: YES")
        header += ["X-Spam-Status: Yes, score=%d.%d required=5.0" % (rng.randint(6, 20),
                                                                   rng.randint(0, 9)),
                   "\ttests=BAYES_99,FREEMAIL_FROM,HTML_MESSAGE autolearn=spam"]
    body = list(BODY_LINES)
    dot_lines = 0
    if rng.random() < 0.25:
        body += ["Lines that begin with a dot:", ".hidden", "..two dots", ".", "after the dot"]
        dot_lines = 3
    body.append("%s #%d" % (rng.choice(FIRST), i))
    text_lines = header + [""] + body
    lf = "\n".join(text_lines) + "\n"
    crlf_size = len(lf.encode("ascii")) + len(text_lines)
    header_size = sum(len(l) + 2 for l in header) + 2
    return {
        "lf": lf.encode("ascii"),
        "size": crlf_size,
        "header_size": header_size,
        "from_name": from_name,
        "from_addr": from_addr,
        "subject": subject,
        "date": date.isoformat() if date else None,
        "date_utc": int(date.timestamp()) if date else None,
        "date_offset": int(date.utcoffset().total_seconds() // 60) if date else 0,
        "from_form": from_form,
        "subject_form": subj_form,
        "date_form": date_form,
        "spam": spam,
        "folded": folded,
        "dot_lines": dot_lines,
    }


def chown_like_parent(path):
    """As root, gives what we create to the owner of the nearest existing parent."""
    if os.geteuid() != 0:
        return
    parent = os.path.dirname(os.path.abspath(path))
    while not os.path.isdir(parent):
        parent = os.path.dirname(parent)
    st = os.stat(parent)
    os.chown(path, st.st_uid, st.st_gid)


def makedirs_owned(path):
    missing = []
    p = os.path.abspath(path)
    while not os.path.isdir(p):
        missing.append(p)
        p = os.path.dirname(p)
    for d in reversed(missing):
        os.mkdir(d, 0o700)
        chown_like_parent(d)


def tsv_field(value):
    if value is None:
        return "\\N"
    if isinstance(value, bool):
        return "1" if value else "0"
    return str(value).replace("\\", "\\\\").replace("\t", "\\t").replace("\n", "\\n")


def main():
    ap = argparse.ArgumentParser(description="Deterministic test mail for a Maildir.")
    ap.add_argument("maildir")
    ap.add_argument("count", type=int)
    ap.add_argument("--seed", type=int, default=1)
    ap.add_argument("--manifest", help="JSON file of intended values")
    ap.add_argument("--tsv", help="tab-separated file of intended values")
    ap.add_argument("--cur", action="store_true", help="write cur/NAME:2, instead of new/")
    ap.add_argument("--no-sizes", action="store_true", help="omit ,S=,W= from the names")
    args = ap.parse_args()
    if args.count < 0:
        ap.error("count must not be negative")

    for sub in ("cur", "new", "tmp"):
        makedirs_owned(os.path.join(args.maildir, sub))
    rng = random.Random(args.seed)
    manifest = []
    for i in range(1, args.count + 1):
        m = make_message(rng, i, args.seed)
        name = "%d.M%06dP%d.testgen" % (BASE_EPOCH + i, i, args.seed)
        if not args.no_sizes:
            name += ",S=%d,W=%d" % (len(m["lf"]), m["size"])
        path = os.path.join(args.maildir, "cur" if args.cur else "new",
                            name + (":2," if args.cur else ""))
        with open(path, "wb") as f:
            f.write(m["lf"])
        os.utime(path, (BASE_EPOCH + i, BASE_EPOCH + i))
        chown_like_parent(path)
        entry = {k: v for k, v in m.items() if k != "lf"}
        entry["number"] = i
        entry["file"] = name
        manifest.append(entry)

    if args.manifest:
        with open(args.manifest, "w", encoding="utf-8") as f:
            json.dump(manifest, f, ensure_ascii=False, indent=1)
    if args.tsv:
        cols = ["number", "size", "header_size", "from_name", "from_addr", "subject",
                "date_utc", "date_offset", "spam", "folded", "dot_lines", "from_form",
                "subject_form", "date_form", "file"]
        with open(args.tsv, "w", encoding="utf-8", newline="\n") as f:
            f.write("\t".join(cols) + "\n")
            for e in manifest:
                f.write("\t".join(tsv_field(e[c]) for c in cols) + "\n")
    return 0


if __name__ == "__main__":
    sys.exit(main())
