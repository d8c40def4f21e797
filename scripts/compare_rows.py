#!/usr/bin/env python3
"""Compares the rows of examples/minimal_host.c with those of kestrel-host --format json.

usage: compare_rows.py HOST.jsonl MINIMAL.txt [--ignore NAME]...

The minimal host prints a row as tab-separated name=value fields: texts with \\uXXXX for
what is not ASCII, dates as days since 1899-12-30, numbers as C prints them. Every row must
have the same names in the same order and the same values, read by type."""
import datetime
import json
import re
import sys

EPOCH = datetime.datetime(1899, 12, 30)


def ole_days(text):
    for layout in ("%Y-%m-%d %H:%M:%S.%f", "%Y-%m-%d %H:%M:%S", "%Y-%m-%d"):
        try:
            moment = datetime.datetime.strptime(text, layout)
            return (moment - EPOCH).total_seconds() / 86400.0
        except ValueError:
            pass
    raise ValueError(f"not a date: {text!r}")


def same(kind, expected, printed):
    if kind == "String":
        return re.sub(r"\\u([0-9a-f]{4})", lambda m: chr(int(m.group(1), 16)), printed) == expected
    if kind == "Boolean":
        return printed == ("true" if expected else "false")
    if kind == "DateTime":
        return abs(float(printed) - ole_days(expected)) < 1e-6  # well under 0.1 s
    if kind in ("Float", "Integer"):
        return abs(float(printed) - float(expected)) <= 1e-12 * max(1.0, abs(float(expected)))
    return printed == str(expected)


def main(argv):
    ignored = {argv[i + 1] for i, arg in enumerate(argv) if arg == "--ignore"}
    with open(argv[1], encoding="utf-8") as host_file:
        host = [json.loads(line) for line in host_file if line.strip()]
    with open(argv[2], encoding="utf-8") as minimal_file:
        minimal = [line.rstrip("\n").split("\t") for line in minimal_file if line.strip()]
    problems = []
    if len(host) != len(minimal):
        problems.append(f"{len(host)} rows from kestrel-host, {len(minimal)} from the minimal host")
    for number, (record, fields) in enumerate(zip(host, minimal), 1):
        values = [v for v in record["values"] if v["name"] not in ignored]
        pairs = [f.split("=", 1) for f in fields]
        pairs = [p for p in pairs if p[0] not in ignored]
        if [v["name"] for v in values] != [p[0] for p in pairs]:
            problems.append(f"row {number}: names {[v['name'] for v in values]} "
                            f"against {[p[0] for p in pairs]}")
            continue
        for value, (name, printed) in zip(values, pairs):
            if not same(value["type"], value["value"], printed):
                problems.append(f"row {number}: {name} is {value['value']!r} ({value['type']}), "
                                f"the minimal host printed {printed!r}")
    for problem in problems:
        print(f"compare_rows: {problem}", file=sys.stderr)
    print(f"compare_rows: {len(host)} rows compared, {len(problems)} differences")
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
