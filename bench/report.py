#!/usr/bin/env python3
"""Prints the benchmark results as a short table: for each measurement the
median of ours, the median of the byte-at-a-time reference from the same run,
their ratio, and the target the benchmark states; then what the journal costs,
journaled beside plain record writes, with and without flushing to disk.

    bench/report.py build/bench/results.json
"""
import json
import platform
import re
import sys

UNIT_NS = {"ns": 1.0, "us": 1e3, "ms": 1e6, "s": 1e9}
ORDER = ["show", "change", "sweep", "export", "writeback", "startup", "gallery", "stroke"]
JOURNAL = ["journal-writeback", "journal-batch"]
JOURNAL_VARIANTS = [("ours+fsync", "journaled, fsync"), ("ours", "journaled, no flush"),
                    ("plain+fsync", "writeRecord, fsync"), ("plain", "writeRecord, no flush")]


def readable(ns):
    for unit, size in (("s", 1e9), ("ms", 1e6), ("µs", 1e3)):
        if ns >= size:
            return f"{ns / size:.3g} {unit}"
    return f"{ns:.3g} ns"


def medians(results):
    """{(measurement, variant): entry} for every median in the results."""
    found = {}
    for entry in results["benchmarks"]:
        if entry.get("aggregate_name") != "median":
            continue
        # "show/ours/repeats:5" or "startup/ours/iterations:20/repeats:3/manual_time"
        parts = [p for p in entry["run_name"].split("/") if not re.match(r"(repeats|iterations|manual_time)", p)]
        if len(parts) < 2:
            continue
        entry["ns"] = entry["real_time"] * UNIT_NS[entry["time_unit"]]
        found[(parts[0], parts[1])] = entry
    return found


def target_of(label):
    """The target a benchmark states, or the conditions it ran under."""
    match = re.search(r"target: (.*)", label or "")
    return match.group(1) if match else (label or "")


def machine():
    model, cores = "unknown CPU", 0
    try:
        with open("/proc/cpuinfo") as cpuinfo:
            for line in cpuinfo:
                if line.startswith("model name") and model == "unknown CPU":
                    model = line.split(":", 1)[1].strip()
                if line.startswith("processor"):
                    cores += 1
    except OSError:
        pass
    system = platform.system()
    try:
        with open("/etc/os-release") as release:
            for line in release:
                if line.startswith("PRETTY_NAME="):
                    system = line.split("=", 1)[1].strip().strip('"')
    except OSError:
        pass
    return f"{model}, {cores} cores, {system}"


def print_table(rows):
    widths = [max(len(row[i]) for row in rows) for i in range(len(rows[0]))]
    for row in rows:
        print("  ".join(cell.ljust(width) for cell, width in zip(row, widths)).rstrip())


def main(path):
    with open(path) as file:
        results = json.load(file)
    found = medians(results)
    rows = [("measurement", "ours", "reference", "ratio", "target")]
    notes = []
    # Import of each kind follows the fixed rows, in the order it ran.
    imports = [name for name, variant in found if name.startswith("import-") and variant == "ours"]
    for name in ORDER + sorted(set(imports), key=imports.index):
        ours = found.get((name, "ours"))
        if ours is None:
            continue
        reference = found.get((name, "reference"))
        rows.append((
            name,
            readable(ours["ns"]),
            readable(reference["ns"]) if reference else "—",
            f"{reference['ns'] / ours['ns']:.0f}×" if reference else "—",
            target_of(ours.get("label")),
        ))
        for (other, variant), entry in sorted(found.items()):
            if other == name and variant not in ("ours", "reference"):
                notes.append(f"{name} {variant}: {readable(entry['ns'])} ({entry.get('label', '')})")
        if "whole_process_ms" in ours:
            notes.append(f"{name}: whole child process, exec to exit: {ours['whole_process_ms']:.3g} ms")
        if "peak_rss_MiB" in ours:
            notes.append(f"peak resident set after a sweep of every number: {ours['peak_rss_MiB']:.1f} MiB")
        if name == "export" and ours.get("label"):
            notes.append(f"export folder: {ours['label'].split(';')[0].removeprefix('in ')}")

    print_table(rows)
    journal = [("journal", *(label for _, label in JOURNAL_VARIANTS))]
    for name in JOURNAL:
        cells = [readable(found[(name, v)]["ns"]) if (name, v) in found else "—"
                 for v, _ in JOURNAL_VARIANTS]
        if any(cell != "—" for cell in cells):
            journal.append((name, *cells))
    if len(journal) > 1:
        print()
        print_table(journal)
    for note in notes:
        print(note)
    context = results.get("context", {})
    load = context.get("load_avg")
    print(f"machine: {machine()}" + (f"; load average at start {load[0]:.2f}" if load else ""))
    print("medians of the repetitions; the reference is the byte-at-a-time way, run side by side")


if __name__ == "__main__":
    main(sys.argv[1] if len(sys.argv) > 1 else "build/bench/results.json")
