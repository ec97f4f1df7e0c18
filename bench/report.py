#!/usr/bin/env python3
"""Prints benchmark figures grouped, each as a ratio to its group's baseline.

Input: the JSON of the Google Benchmark program (its benchmarks are named
"<group>/<figure>") and any number of TSV files with lines
"<group>\t<figure>\t<value>\t<unit>" from the scripts in bench/figures/. In
each group the figure whose name starts with "baseline" is the baseline; for
every figure lower is better, and the ratio is figure / baseline.
"""
import json
import sys

TIME_UNITS = {"ns": 1.0, "us": 1e3, "ms": 1e6, "s": 1e9}


def readable_time(ns):
    for unit, scale in (("s", 1e9), ("ms", 1e6), ("us", 1e3)):
        if ns >= scale:
            return f"{ns / scale:.3g} {unit}"
    return f"{ns:.3g} ns"


def rows_from_benchmark(path):
    with open(path) as f:
        data = json.load(f)
    for b in data.get("benchmarks", []):
        if b.get("run_type") == "aggregate" or b.get("error_occurred"):
            if b.get("error_occurred"):
                group, _, figure = b["name"].partition("/")
                yield group, figure, None, b.get("error_message", "error"), ""
            continue
        group, _, figure = b["name"].partition("/")
        ns = b["real_time"] * TIME_UNITS[b["time_unit"]]
        extra = ""
        if "bytes_per_second" in b:
            extra = f"{b['bytes_per_second'] / 1e6:.1f} MB/s"
        yield group, figure, ns, readable_time(ns), extra


def rows_from_tsv(path):
    with open(path) as f:
        for line in f:
            parts = line.rstrip("\n").split("\t")
            if len(parts) != 4:
                continue
            group, figure, value, unit = parts
            yield group, figure, float(value), f"{float(value):.4g} {unit}", ""


def main(argv):
    rows = list(rows_from_benchmark(argv[1]))
    for tsv in argv[2:]:
        rows.extend(rows_from_tsv(tsv))
    groups = {}
    for row in rows:
        groups.setdefault(row[0], []).append(row)
    failed = False
    for group, members in groups.items():
        print(group)
        base = next((r[2] for r in members if r[1].startswith("baseline") and r[2]), None)
        for _, figure, value, shown, extra in members:
            if value is None:
                failed = True
                print(f"  {figure:<40} FAILED: {shown}")
                continue
            ratio = f"x{value / base:.2f}" if base else "(no baseline)"
            print(f"  {figure:<40} {shown:>12} {extra:>14}  {ratio}")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
