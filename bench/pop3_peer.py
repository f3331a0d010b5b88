#!/usr/bin/env python3
"""The header-only road of a mailbox check with Python's standard library.

usage: pop3_peer.py --port P --user U --password PW [--host H]
                    [--mode parse|floor] [--runs R] [--tls-ca CAFILE]

Connects, logs in with USER/PASS, sends STAT, then for n = 1..count sends
TOP n 0, LIST n and UIDL n, each after the previous reply, then QUIT. The
timing covers all of it.

  parse  poplib, and every header parsed with
         BytesHeaderParser(policy=email.policy.default): the sender's name
         and address, the subject and the date, as a check needs them.
  floor  poplib with the same commands and no parsing.

With --tls-ca the session is POP3 over TLS (POP3_SSL), the server's
certificate verified against that authority file.

Each run prints "run=i seconds=S"; the last line is
  mode=M messages=N median_s=S runs=R
"""

import argparse
import email.policy
import poplib
import ssl
import statistics
import sys
import time
from email.parser import BytesHeaderParser

from header_fields import fields_checksum


def road(args, parse):
    parser = BytesHeaderParser(policy=email.policy.default)
    checksum = 0
    if args.tls_ca:
        context = ssl.create_default_context(cafile=args.tls_ca)
        pop = poplib.POP3_SSL(args.host, args.port, timeout=60, context=context)
    else:
        pop = poplib.POP3(args.host, args.port, timeout=60)
    pop.user(args.user)
    pop.pass_(args.password)
    count, _ = pop.stat()
    for n in range(1, count + 1):
        _, lines, _ = pop.top(n, 0)
        if parse:
            msg = parser.parsebytes(b"\r\n".join(lines))
            checksum += fields_checksum(msg)
        size = pop.list(n).split()[2]
        uid = pop.uidl(n).split()[2]
        checksum += int(size) + len(uid)
    pop.quit()
    return count, checksum


def main():
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("--host", default="127.0.0.1")
    ap.add_argument("--port", type=int, required=True)
    ap.add_argument("--user", required=True)
    ap.add_argument("--password", required=True)
    ap.add_argument("--mode", choices=["parse", "floor"], default="parse")
    ap.add_argument("--runs", type=int, default=1)
    ap.add_argument("--tls-ca", default="")
    args = ap.parse_args()
    times = []
    count = 0
    for run in range(1, max(1, args.runs) + 1):
        start = time.perf_counter()
        count, _ = road(args, args.mode == "parse")
        seconds = time.perf_counter() - start
        times.append(seconds)
        print("run=%d seconds=%.4f" % (run, seconds), flush=True)
    print("mode=%s messages=%d median_s=%.4f runs=%d" % (args.mode, count,
                                                         statistics.median(times), len(times)))
    return 0


if __name__ == "__main__":
    sys.exit(main())
