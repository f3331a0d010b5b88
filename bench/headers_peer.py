#!/usr/bin/env python3
"""Header interpretation speed with Python's standard library.

usage: headers_peer.py CORPUS [--runs R]

Every header block of the corpus (written by gen_headers.py) is parsed with
BytesHeaderParser(policy=email.policy.default), and the sender's name and
address, the decoded subject and the date are read, as a check needs them.
Each run prints "run=i headers=N seconds=S"; the last line is
  headers=N headers_per_s=X runs=R        (X from the median run)
"""

import argparse
import email.policy
import statistics
import time
from email.parser import BytesHeaderParser

from header_fields import fields_checksum


def one_pass(blocks):
    parser = BytesHeaderParser(policy=email.policy.default)
    checksum = 0
    for block in blocks:
        msg = parser.parsebytes(block)
        checksum += fields_checksum(msg)
    return checksum


def main():
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("corpus")
    ap.add_argument("--runs", type=int, default=3)
    args = ap.parse_args()
    with open(args.corpus, "rb") as f:
        blocks = [b for b in f.read().split(b"\r\n\r\n") if b.strip()]
    blocks = [b + b"\r\n" for b in blocks]
    times = []
    for run in range(1, max(1, args.runs) + 1):
        start = time.perf_counter()
        one_pass(blocks)
        seconds = time.perf_counter() - start
        times.append(seconds)
        print("run=%d headers=%d seconds=%.4f" % (run, len(blocks), seconds), flush=True)
    print("headers=%d headers_per_s=%.0f runs=%d" % (len(blocks), len(blocks) / statistics.median(times), len(times)))


if __name__ == "__main__":
    main()
