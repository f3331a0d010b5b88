#!/usr/bin/env python3
"""Writes a corpus of generated mail headers for the header benchmark.

Each header block is a run of CR LF terminated lines, as a POP3 server sends
it after TOP n 0; blocks are separated by one empty line. The corpus is the
same for a given count and seed, so our figures and Python's are comparable.
"""
import argparse
import base64
import random

FIRST = ["Anna", "Marco", "Giulia", "Luca", "Sofia", "Matteo", "Chiara", "Paolo", "Elena", "Davide",
         "Francesca", "Andr\xe9", "Jos\xe9", "Ren\xe9e", "Bj\xf6rn", "M\xfcller", "Nicol\xf2", "Zo\xeb"]
LAST = ["Rossi", "Bianchi", "Esposito", "Ferrari", "Romano", "Colombo", "Ricci", "Marino", "Greco",
        "Bruno", "Gallo", "Conti", "De Luca", "Costa", "Giordano", "Mancini"]
DOMAINS = ["example.com", "example.org", "mail.example.net", "posta.example.it", "news.example.co.uk",
           "lists.example.org", "shop.example.com"]
WORDS = ["offerta", "riunione", "fattura", "sconto", "promozione", "aggiornamento", "conferma",
         "ordine", "spedizione", "newsletter", "invito", "caff\xe8", "citt\xe0", "perch\xe9",
         "meeting", "report", "urgent", "weekly", "free", "winner", "account", "security"]
DAYS = ["Mon", "Tue", "Wed", "Thu", "Fri", "Sat", "Sun"]
MONTHS = ["Jan", "Feb", "Mar", "Apr", "May", "Jun", "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"]


def q_encode(text, charset):
    out = []
    for ch in text.encode("latin-1"):
        if ch == 0x20:
            out.append("_")
        elif 0x30 <= ch <= 0x39 or 0x41 <= ch <= 0x5A or 0x61 <= ch <= 0x7A:
            out.append(chr(ch))
        else:
            out.append("=%02X" % ch)
    return "=?%s?Q?%s?=" % (charset, "".join(out))


def b_encode(text, charset):
    return "=?%s?B?%s?=" % (charset, base64.b64encode(text.encode("latin-1")).decode("ascii"))


def address(r):
    first, last = r.choice(FIRST), r.choice(LAST)
    local = "%s.%s" % (first, last)
    local = "".join(c for c in local.lower() if c.isascii() and (c.isalnum() or c == ".")) or "user"
    return first, last, "%s%d@%s" % (local, r.randrange(100), r.choice(DOMAINS))


def from_value(r):
    first, last, addr = address(r)
    name = "%s %s" % (first, last)
    form = r.randrange(7)
    if form == 0:
        return "%s <%s>" % (name, addr) if name.isascii() else "%s <%s>" % (q_encode(name, "ISO-8859-1"), addr)
    if form == 1:
        return '"%s, %s" <%s>' % (last, first, addr) if name.isascii() else "%s <%s>" % (b_encode(name, "ISO-8859-1"), addr)
    if form == 2:
        return addr
    if form == 3:
        return "<%s>" % addr
    if form == 4:
        return "%s (%s)" % (addr, first) if first.isascii() else addr
    if form == 5:
        return "%s <%s>" % (q_encode(name, "iso-8859-1"), addr)
    return "%s <%s>" % (b_encode(name, "windows-1252"), addr)


def subject_lines(r):
    text = " ".join(r.choice(WORDS) for _ in range(r.randrange(2, 9)))
    if r.random() < 0.3:
        text = "Re: " + text
    form = r.randrange(5)
    if form == 0 and text.isascii():
        value = text
    elif form <= 1:
        value = q_encode(text, "ISO-8859-1")
    elif form == 2:
        value = b_encode(text, "ISO-8859-1")
    elif form == 3:
        half = len(text) // 2
        return ["Subject: " + q_encode(text[:half], "ISO-8859-1"), "\t" + q_encode(text[half:], "windows-1252")]
    else:
        value = b_encode(text, "windows-1252")
    line = "Subject: " + value
    if len(line) > 76 and " " in value:
        cut = value.rfind(" ", 0, 60)
        if cut > 0:
            return [line[:9 + cut], " " + value[cut + 1:]]
    return [line]


def date_value(r):
    day, month = r.randrange(1, 29), r.randrange(12)
    year = r.randrange(1998, 2026)
    hh, mm, ss = r.randrange(24), r.randrange(60), r.randrange(60)
    zone = r.choice(["+0000", "+0100", "+0200", "-0500", "-0800", "+0530", "+0900"])
    form = r.randrange(5)
    if form == 0:
        return "%s, %d %s %d %02d:%02d:%02d %s" % (DAYS[r.randrange(7)], day, MONTHS[month], year, hh, mm, ss, zone)
    if form == 1:
        return "%s, %d %s %d %02d:%02d:%02d %s (CEST)" % (DAYS[r.randrange(7)], day, MONTHS[month], year, hh, mm, ss, zone)
    if form == 2:
        return "%d %s %d %02d:%02d:%02d GMT" % (day, MONTHS[month], year, hh, mm, ss)
    if form == 3:
        return "%s, %02d %s %02d %02d:%02d:%02d %s" % (DAYS[r.randrange(7)], day, MONTHS[month], year % 100, hh, mm, ss, zone)
    return "%s, %d %s %d %02d:%02d %s" % (DAYS[r.randrange(7)], day, MONTHS[month], year, hh, mm, zone)


def header(r, n):
    lines = ["Return-Path: <bounce-%d@%s>" % (n, r.choice(DOMAINS))]
    for hop in range(r.randrange(1, 4)):
        lines.append("Received: from mx%d.%s (mx%d.%s [192.0.2.%d])" % (hop, r.choice(DOMAINS), hop, r.choice(DOMAINS), r.randrange(1, 255)))
        lines.append("\tby pop.example.net (Postfix) with ESMTP id %08X" % r.getrandbits(32))
        lines.append("\tfor <user@example.net>; %s" % date_value(r))
    lines.append("From: " + from_value(r))
    lines.append("To: " + ", ".join(address(r)[2] for _ in range(r.randrange(1, 4))))
    if r.random() < 0.3:
        lines.append("Cc: %s <%s>" % (r.choice(LAST), address(r)[2]))
    lines.extend(subject_lines(r))
    lines.append("Date: " + date_value(r))
    lines.append("Message-ID: <%d.%08x@%s>" % (n, r.getrandbits(32), r.choice(DOMAINS)))
    lines.append("MIME-Version: 1.0")
    lines.append('Content-Type: text/plain; charset="iso-8859-1"')
    lines.append("Content-Transfer-Encoding: quoted-printable")
    if r.random() < 0.5:
        lines.append("X-Mailer: Mailer %d.%d" % (r.randrange(1, 9), r.randrange(10)))
    return lines


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("output")
    parser.add_argument("--count", type=int, default=10000)
    parser.add_argument("--seed", type=int, default=1)
    args = parser.parse_args()
    r = random.Random(args.seed)
    with open(args.output, "wb") as f:
        for n in range(args.count):
            for line in header(r, n):
                f.write(line.encode("latin-1") + b"\r\n")
            f.write(b"\r\n")


if __name__ == "__main__":
    main()
