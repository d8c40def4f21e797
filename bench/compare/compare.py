#!/usr/bin/env python3
"""Runs the comparison that run.sh has built and prints its tables.

Bytes to flat rows: Kestrel through ProcessData (kestrel_compare_driver) against a yajl stream
program, a Python raw_decode loop, Node's JSON.parse and jq, on the same streams with the same
flattening; every tool must report the same rows and values for the same blocks. Then the
reader alone (bench/json), instruction counts under callgrind and allocations per block/row.
"""
import argparse
import hashlib
import json
import os
import resource
import re
import subprocess
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
KINDS = ["mixed", "small", "medium", "large"]
KIND_LABEL = {"mixed": "mixed", "small": "200 B", "medium": "2 KB", "large": "16 KB"}
PACKETS = [64, 1500, 16384]
# Kestrel names nested values "parent_child" only with "Add node name"; everything else stays
# at its default.
INI = "[Common]\r\nAdd node name=True\r\n"


def log(text):
    print(text, file=sys.stderr, flush=True)


class Runner:
    def __init__(self, args):
        self.args = args
        self.build = args.build
        self.out = os.path.join(self.build, "bench", "compare")
        self.data = os.path.join(self.out, "data")
        os.makedirs(self.data, exist_ok=True)
        self.ini = os.path.join(self.data, "compare.ini")
        self.mismatches = []
        self.targets = []  # (what, measured, met)
        with open(os.path.join(HERE, "make_stream.py"), "rb") as f:
            self.generator = hashlib.sha1(f.read()).hexdigest()[:8]

    def tool(self, name):
        return os.path.join(self.out, name)

    def stream(self, kind, size, garbage=True):
        # Named after the generator's own text too, so a changed generator makes new streams.
        name = "%s-%d-%d-%s%s.json" % (kind, size, self.args.seed, self.generator,
                                       "" if garbage else "-clean")
        path = os.path.join(self.data, name)
        if not os.path.exists(path):
            log("generating %s" % name)
            cmd = [sys.executable, os.path.join(HERE, "make_stream.py"), "--kind", kind,
                   "--bytes", str(size), "--seed", str(self.args.seed), path + ".tmp"]
            if not garbage:
                cmd.insert(-1, "--no-garbage")
            subprocess.run(cmd, check=True)
            os.replace(path + ".tmp", path)
        return path

    def driver(self, path, packet=1500, clients=1, extra=()):
        with open(self.ini, "w") as f:  # LOAD may rewrite it; it starts the same every time
            f.write(INI)
        return [self.tool("kestrel_compare_driver"), "--ini", self.ini, "--packet", str(packet),
                "--clients", str(clients), *extra, path]

    def measure(self, cmd, shell=False, runs=None):
        """Best of --repeat runs: (bytes, seconds, rows, values, extras, cpu seconds). A
        program that does not report its CPU time is charged its children's whole run."""
        best = None
        for _ in range(runs or self.args.repeat):
            before = resource.getrusage(resource.RUSAGE_CHILDREN)
            done = subprocess.run(cmd, shell=shell, capture_output=True, text=True)
            after = resource.getrusage(resource.RUSAGE_CHILDREN)
            lines = done.stdout.strip().splitlines()
            if done.returncode != 0 or not lines:
                raise RuntimeError("%s failed: %s" % (cmd, done.stderr.strip()[-500:]))
            fields = lines[-1].split()
            plain = [f for f in fields[4:] if "=" not in f]
            cpu = float(plain[0]) if plain else (after.ru_utime + after.ru_stime -
                                                 before.ru_utime - before.ru_stime)
            result = (int(fields[0]), float(fields[1]), int(fields[2]), int(fields[3]),
                      extras(fields[4:]), cpu)
            if best is None:
                best = result
            elif result[2:4] != best[2:4]:
                self.mismatches.append("%s: %d rows / %d values, before %d / %d" %
                                       (cmd, result[2], result[3], best[2], best[3]))
            else:  # the best wall time and the best CPU time, each on its own
                best = best[:1] + (min(best[1], result[1]),) + best[2:5] + (min(best[5], cpu),)
        return best


def flat_rows(r, size):
    """The bytes-to-rows table; returns the allocation counts of Kestrel's 1500 B runs."""
    rows_out = []
    allocs = {}
    for kind in KINDS:
        path = r.stream(kind, size)
        clean = r.stream(kind, size, garbage=False)
        runs = []
        # Eight clients feed eight times the bytes: they run once, with 1500 B packets only. The
        # lean host list (one list kept across packets, nothing allocated per value) shows what
        # the plug-in itself costs.
        for packet, clients, lean in ([(p, 1, False) for p in PACKETS] + [(1500, 8, False)] +
                                      [(1500, 1, True)]):
            log("Kestrel %s, %d B packets, %d client(s)%s" %
                (kind, packet, clients, ", lean list" if lean else ""))
            extra = ["--allocs"] if clients == 1 and packet == 1500 else []
            if lean:
                extra.append("--lean")
            res = r.measure(r.driver(path, packet, clients, extra), runs=1 if clients > 1 else None)
            if extra:
                allocs[(kind, lean)] = res
            label = "Kestrel %d B, %d client%s" % (packet, clients, "s" if clients > 1 else "")
            if lean:
                label = "Kestrel %d B, lean list" % packet
            runs.append((label, res, clients, packet == 1500 and clients == 1 and not lean))
        log("peers on %s" % kind)
        peers = [
            ("yajl (C, 1500 B chunks)", [r.tool("flat_yajl"), "--chunk", "1500", path]),
            ("Python raw_decode", [sys.executable, os.path.join(HERE, "flat_python.py"), path]),
            ("Node JSON.parse", ["node", os.path.join(HERE, "flat_node.js"), path]),
        ]
        # jq reads only valid JSON: it gets the same blocks without the noise between them,
        # and its time includes starting up and reading the file.
        jq = ("s=$(date +%%s.%%N); jq -c -f %s %s | awk -v s=$s -v b=%d "
              "'{r++; v+=$1} END {\"date +%%s.%%N\" | getline e; print b, e-s, r+0, v+0}'"
              % (os.path.join(HERE, "flat.jq"), clean, os.path.getsize(clean)))
        peers.append(("jq (input without noise)", jq))
        for label, cmd in peers:
            try:
                runs.append((label, r.measure(cmd, shell=isinstance(cmd, str)), 1, False))
            except RuntimeError as failure:
                r.mismatches.append("%s on %s failed: %s" % (label, kind, failure))

        base = next(res for _, res, _, is_base in runs if is_base)
        peer_rates = {label: res[0] / res[5] for label, res, _, _ in runs
                      if not label.startswith("Kestrel")}
        if peer_rates:
            fastest = max(peer_rates, key=peer_rates.get)
            ratio = (base[0] / base[5]) / peer_rates[fastest]
            r.targets.append(("ProcessData (1500 B, 1 client) at least the fastest peer on %s"
                              % KIND_LABEL[kind], "%.2fx %s (CPU time)" % (ratio, fastest),
                              ratio >= 1.0))
        scripts = {label: rate for label, rate in peer_rates.items()
                   if label.startswith(("Python", "Node"))}
        if scripts:
            slowest_ratio = min((base[0] / base[5]) / rate for rate in scripts.values())
            r.targets.append(("ProcessData into the reference list (1500 B) ahead of Node and "
                              "Python on %s" % KIND_LABEL[kind],
                              "%.2fx the faster of them (CPU time)" % slowest_ratio,
                              slowest_ratio >= 1.0))
        small = next((res for label, res, _, _ in runs if label == "Kestrel 64 B, 1 client"), None)
        if small:
            ratio = (small[0] / small[5]) / (base[0] / base[5])
            r.targets.append(("64 B packets at least 0.7x the MB/s of 1500 B ones on %s"
                              % KIND_LABEL[kind], "%.2fx (CPU time)" % ratio, ratio >= 0.7))
        eight = next((res for label, res, _, _ in runs if label == "Kestrel 1500 B, 8 clients"),
                     None)
        if eight:
            ratio = (eight[0] / eight[5]) / (base[0] / base[5])
            r.targets.append(("8 clients at least as fast per CPU-second as 1 client on %s"
                              % KIND_LABEL[kind], "%.2fx (CPU time)" % ratio, ratio >= 1.0))
        yajl = next((res for label, res, _, _ in runs if label.startswith("yajl")), None)
        lean_run = next((res for label, res, _, _ in runs if label.endswith("lean list")), None)
        if yajl and lean_run:
            ratio = (lean_run[0] / lean_run[5]) / (yajl[0] / yajl[5])
            r.targets.append(("ProcessData into the lean list (1500 B) at least yajl on %s"
                              % KIND_LABEL[kind], "%.2fx (CPU time)" % ratio, ratio >= 1.0))
        for label, res, clients, _ in runs:
            nbytes, seconds, rows, values, _, cpu = res
            ok = rows == base[2] * clients and values == base[3] * clients
            if not ok:
                r.mismatches.append("%s on %s: %d rows / %d values, Kestrel: %d / %d" %
                                    (label, kind, rows, values, base[2] * clients,
                                     base[3] * clients))
            rows_out.append((KIND_LABEL[kind], label, nbytes / seconds / 1e6, rows / seconds,
                             (nbytes / seconds) / (base[0] / base[1]), nbytes / cpu / 1e6,
                             (nbytes / cpu) / (base[0] / base[5]), rows // clients,
                             values // clients, "ok" if ok else "MISMATCH"))

    print("\nBytes to flat rows: %g MB streams of concatenated blocks, best of %d. "
          "x Kestrel: MB/s over Kestrel's (1500 B packets, 1 client) on the same input; "
          "CPU: MB per CPU-second of the process (all its threads)." % (size / 1e6,
                                                                       r.args.repeat))
    header = ("input", "tool", "MB/s", "rows/s", "x Kestrel", "CPU MB/s", "x Kestrel",
              "rows", "values", "counts")
    fmt = "%-6s  %-26s %7s %9s %9s %9s %9s %7s %8s  %s"
    print(fmt % header)
    for row in rows_out:
        print(fmt % (row[0], row[1], "%.1f" % row[2], "%.0f" % row[3], "%.2f" % row[4],
                     "%.1f" % row[5], "%.2f" % row[6], row[7], row[8], row[9]))
    print("(8 clients: one run, each client feeds the whole stream on a thread of its own; MB/s "
          "counts all clients' bytes, rows and values are per client. jq's time includes its "
          "start and reading the file.)")
    return allocs


def reader_alone(r):
    log("reader benchmark")
    bench = os.path.join(r.build, "bench", "json", "kestrel_json_bench")
    done = subprocess.run([bench, "--benchmark_filter=^(Kestrel|RapidJson|Nlohmann|Simdjson|Yajl)/",
                           "--benchmark_format=json",
                           "--benchmark_min_time=%s" % ("0.1" if r.args.quick else "0.5")],
                          capture_output=True, text=True, check=True)
    results = {}
    for b in json.loads(done.stdout)["benchmarks"]:
        reader, _, input_name = b["name"].partition("/")
        results.setdefault(input_name, {})[reader] = b["bytes_per_second"] / 1e6
    readers = ["Kestrel", "RapidJson", "Nlohmann", "Simdjson", "Yajl"]
    print("\nReader alone (bench/json, same inputs for every reader): MB/s (x RapidJSON DOM)")
    print("%-12s" % "input" + "".join("%20s" % name for name in readers))
    for input_name, rates in results.items():
        base = rates.get("RapidJson")
        if base and "Kestrel" in rates:
            r.targets.append(("Reader at least RapidJSON's DOM parse on %s" % input_name,
                              "%.2fx" % (rates["Kestrel"] / base), rates["Kestrel"] >= base))
        cells = []
        for name in readers:
            rate = rates.get(name)
            cells.append("%20s" % ("-" if rate is None else "%.1f (%.2fx)" % (rate, rate / base)
                                   if base else "%.1f" % rate))
        print("%-12s" % input_name + "".join(cells))


def extras(fields):
    """The "name=number" fields of a driver's line."""
    return {k: int(v) for k, v in (f.split("=") for f in fields if "=" in f)}


def callgrind(cmd, function):
    out = "/tmp/kestrel-compare-%d.callgrind" % os.getpid()
    done = subprocess.run(["valgrind", "--tool=callgrind", "--toggle-collect=*%s*" % function,
                           "--callgrind-out-file=" + out] + cmd, capture_output=True, text=True)
    if done.returncode != 0:
        raise RuntimeError("callgrind on %s failed: %s" % (cmd, done.stderr[-500:]))
    with open(out) as f:
        text = f.read()
    os.remove(out)
    total = re.search(r"^(?:totals|summary): (\d+)", text, re.M)
    return int(total.group(1)), done.stdout.strip().splitlines()[-1].split()


def instruction_counts(r):
    print("\nInstruction counts (callgrind Ir, no machine noise)")
    print("Reader alone, one pass over each bench/json input:")
    probe = r.tool("kestrel_reader_probe")
    for input_name in ["small", "medium", "large"]:
        cells = []
        for reader in ["kestrel", "rapidjson"]:
            log("callgrind: %s reader on %s" % (reader, input_name))
            try:
                ir, out = callgrind([probe, reader, input_name], "MeasuredParse")
            except RuntimeError:
                cells.append("%-9s -" % reader)
                continue
            cells.append("%-9s %6.1f Ir/byte" % (reader, ir / int(out[0])))
        print("  %-7s %s" % (input_name, "   ".join(cells)))

    print("ProcessData calls only (the host's side excluded), one packet holding one block of "
          "each kind after a warm-up of 64 KB; allocs: the library's own, host allocs: the host "
          "list's for the rows:")
    fmt = "  %-29s %6s %5s %7s %10s %8s %9s %7s %12s %11s"
    print(fmt % ("block", "bytes", "rows", "values", "Ir", "Ir/byte", "Ir/value", "allocs",
                 "allocs/value", "host allocs"))
    for label, path, size, packet in one_block_streams(r):
        log("callgrind: ProcessData, one %s" % label)
        ir, out = callgrind(r.driver(path, packet, 1, ["--measure", str(size), "--allocs"]),
                            "MeasuredProcessData")
        values, allocs = int(out[3]), extras(out)["allocs"]
        print(fmt % (label, out[0], out[2], values, ir, "%.0f" % (ir / size),
                     "%.0f" % (ir / max(values, 1)), allocs, "%.2f" % (allocs / max(values, 1)),
                     extras(out)["host_allocs"]))
        if packet == 1:
            ratio = ir / one_packet_ir
            r.targets.append(("A 16 KB block in 1 B packets at most 2x one packet (whole calls)",
                              "%.1fx (Ir)" % ratio, ratio <= 2.0))
        one_packet_ir = ir

    measured = r.args.callgrind_kb * 1024
    print("ProcessData calls only, the last %d KB of a mixed stream in packets, after a "
          "warm-up on its start:" % r.args.callgrind_kb)
    fmt = "  %7s %8s %11s %8s %8s %17s"
    print(fmt % ("packet", "packets", "Ir/packet", "Ir/byte", "Ir/row", "own allocs/packet"))
    path = r.stream("mixed", measured * 3)
    for packet in PACKETS:
        log("callgrind: ProcessData, %d B packets" % packet)
        ir, out = callgrind(r.driver(path, packet, 1, ["--measure", str(measured), "--allocs"]),
                            "MeasuredProcessData")
        nbytes, rows, allocs = int(out[0]), int(out[2]), extras(out)["allocs"]
        packets = (nbytes + packet - 1) // packet
        print(fmt % (packet, packets, "%.0f" % (ir / packets), "%.1f" % (ir / nbytes),
                     "%.0f" % (ir / max(rows, 1)), "%.1f" % (allocs / packets)))


def one_block_streams(r):
    """(label, path, block size, packet size): 64 KB of whole blocks, then the one block to
    measure."""
    blocks = []  # (bytes, value) of the blocks of a stream without noise
    for kind in ["mixed", "large"]:
        text = open(r.stream(kind, 1 << 20, garbage=False), encoding="utf-8").read()
        decode = json.JSONDecoder().raw_decode
        at = 0
        while at < len(text):
            value, end = decode(text, at)
            blocks.append((text[at:end].encode("utf-8"), value))
            at = end + 1  # the line break between blocks
    warm_up = b""
    for block, _ in blocks:
        if len(warm_up) >= 64 << 10:
            break
        warm_up += block + b"\n"
    kinds = [
        ("200 B object", lambda b, v: isinstance(v, dict) and b"\n" not in b and len(b) < 400),
        ("2 KB object", lambda b, v: isinstance(v, dict) and b"\n" not in b
         and 1500 < len(b) < 3000),
        ("2 KB pretty", lambda b, v: isinstance(v, dict) and b"\n" in b and 1500 < len(b) < 4000),
        ("16 KB object", lambda b, v: isinstance(v, dict) and b"\n" not in b and len(b) > 12000),
        ("array", lambda b, v: isinstance(v, list)),
    ]
    for label, fits in kinds:
        block = next((b for b, v in blocks if fits(b, v)), None)
        if block is None:
            continue
        path = os.path.join(r.data, "one-%s.json" % label.replace(" ", "-"))
        with open(path, "wb") as f:
            f.write(warm_up + block)
        yield label, path, len(block), 16384
        if label.startswith("16 KB"):  # block assembly per byte, the worst split against one
            yield label + " in 1 B packets", path, len(block), 1


def host_csv(r, size):
    """The reference host writing CSV to /dev/null: its CPU MB/s on the mixed stream."""
    path = r.stream("mixed", size)
    host = os.path.join(r.build, "tools", "kestrel-host", "kestrel-host")
    best = None
    for _ in range(r.args.repeat):
        with open(r.ini, "w") as f:
            f.write(INI)
        before = resource.getrusage(resource.RUSAGE_CHILDREN)
        with open(os.devnull, "w") as sink:
            done = subprocess.run([host, "--ini", r.ini, "--format", "csv", "--no-progress", path],
                                  stdout=sink, stderr=subprocess.PIPE, text=True)
        after = resource.getrusage(resource.RUSAGE_CHILDREN)
        if done.returncode != 0:
            r.mismatches.append("kestrel-host --format csv failed: %s" % done.stderr[-300:])
            return
        cpu = after.ru_utime + after.ru_stime - before.ru_utime - before.ru_stime
        best = cpu if best is None else min(best, cpu)
    rate = os.path.getsize(path) / best / 1e6
    print("\nkestrel-host --format csv > /dev/null on the %g MB mixed stream: %.1f MB per "
          "CPU-second (output formatting included)" % (size / 1e6, rate))
    r.targets.append(("kestrel-host --format csv to /dev/null at least 60 MB/s (mixed)",
                      "%.1f MB/s (CPU time)" % rate, rate >= 60))


def allocations(allocs, r_targets):
    print("\nAllocations inside ProcessData (1500 B packets, 1 client): the library's own, and "
          "the host list's for holding the rows it delivers (lean: the lean list's, which keeps "
          "its memory across packets)")
    fmt = "  %-11s %12s %10s %10s %10s %10s %16s"
    print(fmt % ("input", "library's", "per packet", "per block", "per row", "per value",
                 "host per value"))
    for (kind, lean), res in allocs.items():
        count, blocks = res[4]["allocs"], res[4]["blocks"]
        packets = (res[0] + 1499) // 1500
        label = KIND_LABEL[kind] + (" lean" if lean else "")
        print(fmt % (label, count, "%.1f" % (count / packets),
                     "%.1f" % (count / max(blocks, 1)), "%.1f" % (count / max(res[2], 1)),
                     "%.2f" % (count / max(res[3], 1)),
                     "%.2f" % (res[4]["host_allocs"] / max(res[3], 1))))
        if not lean:
            per_value = count / max(res[3], 1)
            r_targets.append(("At most 1 library allocation per delivered value on %s"
                              % KIND_LABEL[kind], "%.2f" % per_value, per_value <= 1.0))


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--build", required=True)
    ap.add_argument("--quick", action="store_true")
    ap.add_argument("--mb", type=float)
    ap.add_argument("--repeat", type=int)
    ap.add_argument("--seed", type=int, default=17)
    ap.add_argument("--callgrind-kb", type=int, default=128)
    ap.add_argument("--no-flat", action="store_true")
    ap.add_argument("--no-reader", action="store_true")
    ap.add_argument("--no-callgrind", action="store_true")
    args = ap.parse_args()
    if args.repeat is None:
        args.repeat = 1 if args.quick else 3
    size = int((args.mb or (2 if args.quick else 20)) * 1e6)
    r = Runner(args)
    print("Kestrel side-by-side comparison; machine: %d cores, load %.1f" %
          (os.cpu_count(), os.getloadavg()[0]))
    if not args.no_flat:
        allocations(flat_rows(r, size), r.targets)
        host_csv(r, size)
    if not args.no_reader:
        reader_alone(r)
    if not args.no_callgrind:
        instruction_counts(r)
    if r.targets:
        print("\nTargets")
        for what, measured, met in r.targets:
            print("  %-8s %-72s %s" % ("met" if met else "NOT MET", what, measured))
    if r.mismatches:
        print("\n" + "!" * 72)
        print("COUNT MISMATCH: the tools do not agree on the rows and values:")
        for line in r.mismatches:
            print("  " + line)
        print("!" * 72)
        return 1
    print("\nAll tools report the same rows and values on every input.")
    return 0


if __name__ == "__main__":
    sys.exit(main())
