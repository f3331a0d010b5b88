#!/usr/bin/env python3
"""Writes a home folder for the check benchmark: kalmuro.ini with one account
and the four rule lists with COUNT entries each (Windows-1252, CR LF).

    make_check_home.py HOME PORT USER PASSWORD [--count 1000]
                       [--setup KEY=VALUE]... [--blocked-senders FILE] [--imap]

Most entries match nothing, so every message is compared with every list;
the last entry of each blocked list catches the generator's spam.
--setup adds a key to the [Setup] section (repeatable). --blocked-senders
makes the blocked-sender list exactly the lines of FILE and leaves the other
three lists empty, so that just the messages those lines catch are ticked.
--imap makes the account an IMAP one (its INBOX).
"""
import argparse
import os
import random

# The stored password format: five filler digits, the password, five more,
# every byte shifted by the low byte of the key and its 1-based position,
# written as upper-case hexadecimal.
PASSWORD_KEY = 71829


def scrambled(password):
    raw = b"12345" + password.encode("cp1252") + b"67890"
    k = PASSWORD_KEY & 0xFF
    return bytes((c + k + j) % 256 for j, c in enumerate(raw, 1)).hex().upper()


def write_lines(path, lines):
    with open(path, "wb") as f:
        f.write("".join(line + "\r\n" for line in lines).encode("cp1252"))


def main():
    p = argparse.ArgumentParser()
    p.add_argument("home")
    p.add_argument("port", type=int)
    p.add_argument("user")
    p.add_argument("password")
    p.add_argument("--count", type=int, default=1000)
    p.add_argument("--setup", action="append", default=[], metavar="KEY=VALUE")
    p.add_argument("--blocked-senders", metavar="FILE")
    p.add_argument("--imap", action="store_true")
    a = p.parse_args()
    if any("=" not in kv for kv in a.setup):
        p.error("--setup wants KEY=VALUE")
    os.makedirs(a.home, exist_ok=True)
    rng = random.Random(5)
    n = a.count
    words = ["promo", "offerta", "saldi", "newsletter", "vincita", "bonus", "gratis", "sconto"]

    def word(i):
        return "%s%d%s" % (rng.choice(words), i, rng.choice(["", "-x", "_it"]))

    if a.blocked_senders:
        with open(a.blocked_senders, encoding="utf-8") as f:
            write_lines(os.path.join(a.home, "Mittenti.txt"), f.read().splitlines())
        for name in ("MittentiOk.txt", "Oggetti.txt", "OggettiOk.txt"):
            write_lines(os.path.join(a.home, name), [])
    else:
        write_lines(os.path.join(a.home, "Mittenti.txt"),
                    ["@%s.spam-%d.example" % (word(i), i) for i in range(n - 1)] + ["cheap-pills"])
        write_lines(os.path.join(a.home, "MittentiOk.txt"),
                    ["amico%d@fidato-%d.example" % (i, i) for i in range(n)])
        write_lines(os.path.join(a.home, "Oggetti.txt"),
                    ["%s imperdibile %d" % (word(i), i) for i in range(n - 1)] + ["90% off"])
        write_lines(os.path.join(a.home, "OggettiOk.txt"),
                    ["fattura n. %d del cliente" % i for i in range(n)])
    setup = "".join("%s\r\n" % kv for kv in ["NotifyBalloon=1"] + a.setup)
    ini = ("[Setup]\r\n%s[Accounts]\r\nPopServer1=127.0.0.1\r\nUserId1=%s\r\n"
           "UserPwd1=%s\r\nPorta1=%d\r\nAPOP1=0\r\nAttivo1=1\r\nAccount1=Benchmark\r\n"
           % (setup, a.user, scrambled(a.password), a.port))
    if a.imap:
        ini += "Protocollo1=1\r\n"
    with open(os.path.join(a.home, "kalmuro.ini"), "wb") as f:
        f.write(ini.encode("cp1252"))


if __name__ == "__main__":
    main()
