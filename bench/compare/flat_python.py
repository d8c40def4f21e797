#!/usr/bin/env python3
"""Flat rows from a stream of concatenated JSON blocks with json.JSONDecoder.raw_decode: each
block from the next '{' or '[' on, nested names joined with "_", an array one value, the
elements of a top-level array one row each. Prints "bytes seconds rows values cpu-seconds"."""
import json
import re
import sys
import time


def flatten(obj, prefix, row):
    nested = []
    for key, value in obj.items():
        name = prefix + "_" + key if prefix else key
        if isinstance(value, dict):
            nested.append((name, value))
        else:
            row.append((name, value))
    for name, value in nested:
        flatten(value, name, row)


def main():
    with open(sys.argv[1], "rb") as f:
        data = f.read()
    start = time.perf_counter()
    cpu = time.process_time()
    text = data.decode("utf-8")
    decode = json.JSONDecoder().raw_decode
    find_start = re.compile(r"[{\[]").search
    rows = values = 0
    at = 0
    while True:
        m = find_start(text, at)
        if not m:
            break
        try:
            block, at = decode(text, m.start())
        except ValueError:
            at = m.start() + 1
            continue
        for obj in block if isinstance(block, list) else (block,):
            if isinstance(obj, dict):
                row = []
                flatten(obj, "", row)
                if row:
                    rows += 1
                    values += len(row)
    seconds = time.perf_counter() - start
    cpu = time.process_time() - cpu
    print(len(data), "%.6f" % seconds, rows, values, "%.6f" % cpu)


if __name__ == "__main__":
    main()
