#!/usr/bin/python3
"""Peer of bench_mime: Python's base64.encodebytes (Base64 folded at 76
characters) on the same bytes. Prints RESULT <median seconds> like bench_mime.

    /usr/bin/python3 peer_mime.py FILE [REPEAT]
"""
import base64
import statistics
import sys
import time


def main():
    data = open(sys.argv[1], "rb").read()
    repeat = int(sys.argv[2]) if len(sys.argv) > 2 else 3
    base64.encodebytes(data)  # warm-up
    times = []
    for _ in range(repeat):
        start = time.perf_counter()
        out = base64.encodebytes(data)
        times.append(time.perf_counter() - start)
    assert len(out) >= len(data) * 4 // 3
    median = statistics.median(times)
    print("RESULT %.6f bytes=%d mbps=%.1f" % (median, len(data), len(data) / median / 1e6))


if __name__ == "__main__":
    main()
