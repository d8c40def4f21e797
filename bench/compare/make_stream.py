#!/usr/bin/env python3
"""Writes a deterministic stream of concatenated JSON blocks, as a data logger receives them.

  make_stream.py --kind mixed|small|medium|large --bytes N --seed S [--no-garbage] OUT

mixed: 72% objects of about 200 B, 25% of about 2 KB, 3% top-level arrays of small objects;
15% of the blocks pretty-printed; bracket-free noise between some blocks. small / medium /
large: only objects of about 200 B / 2 KB / 16 KB. The blocks do not depend on --no-garbage,
so the stream without noise holds the same rows as the one with it.

Objects have no duplicate or underscore names and no empty nested objects outside arrays, so
every flattening that joins nested names with "_" gives the same names and counts.
"""
import argparse
import json
import random

WORDS = ["id", "temp", "hum", "ok", "at", "dev", "name", "state", "rpm", "seq", "msg", "code",
         "tags", "level", "unit", "value", "min", "max", "avg", "pos", "lat", "lon", "alt",
         "speed", "mode", "note", "serial", "fw", "battery", "signal", "ts", "count", "err",
         "température", "влажность", "zone", "room", "floor", "pump", "valve", "flow"]
TEXTS = ["ok", "pump-7 {on} [2]", "said \"stop\" \\ now", "line\nbreak\ttab", "Grüße aus Köln",
         "Ωμέγα", "温度センサー", "emoji \U0001F600", "", "2024-05-01T12:00:00",
         "12:30:45", "a/b\\c", "ctrl \u0001 \u001f", "path C:\\data\\log", "x" * 40]
NOISE = ["# reconnect\r\n", "!! checksum error 0x3f\n", "~~~ noise ~~~", "*garbage* ;; ok\n",
         "<< lost 12 bytes >>\n", "#\n"]


class Maker:
    def __init__(self, rnd):
        self.r = rnd

    def number(self):
        r = self.r
        k = r.randrange(9)
        if k == 0:
            return r.randrange(100)
        if k == 1:
            return -r.randrange(1 << 31)
        if k == 2:
            return r.randrange(1 << 62)  # beyond 32 bits
        if k == 3:
            return round(r.uniform(-100, 100), r.randrange(1, 6))
        if k == 4:
            return r.uniform(-1, 1) * 10.0 ** r.randrange(-30, 30)  # exponents
        if k == 5:
            return 0
        if k == 6 and r.random() < 0.3:
            return r.randrange(1, 10) * 10 ** r.randrange(19, 25)  # beyond 64 bits
        if k == 7:
            return -0.0
        return r.random()

    def scalar(self):
        r = self.r
        k = r.randrange(10)
        if k < 4:
            return self.number()
        if k < 7:
            return r.choice(TEXTS) if r.random() < 0.6 else "s%06d" % r.randrange(10 ** 6)
        return [True, False, None][k - 7]

    def array(self, depth):
        r = self.r
        n = r.randrange(0, 8)
        k = r.randrange(4)
        if k == 0 and depth < 3:  # objects and arrays inside arrays are part of the value
            return [self.obj(60, depth + 1, allow_empty=True) for _ in range(n)]
        if k == 1:
            return [[self.scalar() for _ in range(r.randrange(3))] for _ in range(n)]
        return [self.scalar() for _ in range(n)]

    def obj(self, size, depth=0, allow_empty=False):
        """A dict whose compact text is about `size` bytes."""
        r = self.r
        d = {}
        if allow_empty and r.random() < 0.1:
            return d
        used = 2
        n = 0
        while used < size or not d:
            n += 1
            suffix = str(n) if r.random() < 0.7 else chr(96 + n % 26) * (1 + n // 26)
            key = r.choice(WORDS) + suffix
            if key in d:
                continue
            k = r.random()
            if k < 0.12 and depth < 4 and size - used > 40:
                v = self.obj(min(size - used, r.randrange(30, 400)), depth + 1)
            elif k < 0.22:
                v = self.array(depth)
            else:
                v = self.scalar()
            d[key] = v
            used += len(key) + 4 + len(json.dumps(v, ensure_ascii=False).encode())
        return d


def block(maker, rnd, kind):
    pretty = rnd.random() < 0.15
    ascii_only = rnd.random() < 0.3
    if kind == "mixed":
        k = rnd.random()
        if k < 0.72:
            value = maker.obj(rnd.randrange(120, 280))
        elif k < 0.97:
            value = maker.obj(rnd.randrange(1500, 2500))
        else:
            value = [maker.obj(rnd.randrange(80, 300)) for _ in range(rnd.randrange(2, 20))]
    else:
        size = {"small": 200, "medium": 2000, "large": 15000}[kind]
        value = maker.obj(rnd.randrange(size * 3 // 4, size * 5 // 4) if kind != "large" else size)
    indent, separators = (2, None) if pretty else (None, (",", ":"))
    text = json.dumps(value, ensure_ascii=ascii_only, indent=indent, separators=separators)
    # One block must fit the client buffer of 16384 bytes; a bigger one is drawn again smaller.
    target = 12000
    while len(text.encode()) > 16000:
        text = json.dumps(maker.obj(target), ensure_ascii=ascii_only, indent=indent,
                          separators=separators)
        target = target * 2 // 3
    return text.encode()


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--kind", default="mixed", choices=["mixed", "small", "medium", "large"])
    ap.add_argument("--bytes", type=int, default=20 << 20)
    ap.add_argument("--seed", type=int, default=17)
    ap.add_argument("--no-garbage", action="store_true")
    ap.add_argument("out")
    a = ap.parse_args()
    rnd = random.Random(a.seed)
    noise = random.Random(a.seed + 1)  # its own sequence: the blocks stay the same without it
    maker = Maker(rnd)
    parts = []
    total = 0
    while total < a.bytes:
        text = block(maker, rnd, a.kind)
        gap = noise.choice([b"\n", b"\r\n", b"", b" "])
        if noise.random() < 0.05:
            gap += noise.choice(NOISE).encode()
        if a.no_garbage:
            gap = b"\n"
        parts.append(text)
        parts.append(gap)
        total += len(text)  # blocks only: the same blocks with or without noise
    with open(a.out, "wb") as f:
        f.write(b"".join(parts))


if __name__ == "__main__":
    main()
