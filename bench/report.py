#!/usr/bin/env python3
"""Reads the benchmarks' JSON lines, prints one table of every figure against its floor and
goal, writes them all as one JSON document, and plots read and write throughput against
request size and transfer size."""
import argparse
import json
import sys


def load(paths):
    records = []
    for path in paths:
        with open(path) as stream:
            for line in stream:
                line = line.strip()
                if line.startswith("{"):
                    records.append(json.loads(line))
    return records


def verdict(met):
    return "" if met is None else ("met" if met else "NOT MET")


def row(record):
    """(figure, case, measured, floor, ratio, goal, verdict) for one record."""
    fig, case = record["figure"], record["case"]
    if fig == "file calls vs bare loop":
        met = record["wallRatio"] >= 0.95 and record["cpuRatio"] >= 0.95
        return (fig, case, "%.1f MiB/s" % record["MiBps"], "%.1f MiB/s" % record["floorMiBps"],
                "wall %.2fx, cpu %.2fx" % (record["wallRatio"], record["cpuRatio"]), ">= 0.95x", verdict(met))
    if fig == "RPCs per operation":
        return (fig, case, "%d (%s)" % (record["measured"], record["calls"]),
                "%d (%s)" % (record["expected"], record["sequence"]), "", "equal", verdict(record["met"]))
    if fig == "cache-hit read of 100 bytes":
        return (fig, case, "%.0f ns (semaphores %.0f ns)" % (record["readNs"], record.get("semaphoresNs", 0)),
                "%.1f ns" % record["memcpyNs"], "%.1fx" % record["times"], "within 10x", verdict(record["met"]))
    if fig == "cache hit while another task's call waits":
        return (fig, case, "median %.1f us, p99 %.1f us, worst %.1f us (%d hits)" % (
                    record["medianUs"], record["p99Us"], record["worstUs"], record["samples"]),
                "the other call's time-out", "", "p99 < 1 ms", verdict(record["met"]))
    if fig == "heap allocations per call":
        return (fig, case, "%d" % record["allocations"], "", "", record["goal"], verdict(record["met"]))
    if fig == "tasks reading":
        ratio = "%.2fx" % record["ratio"]
        if "bareRatio" in record:
            ratio += " (2 bare loops %.2fx)" % record["bareRatio"]
        return (fig, case, "%.1f MiB/s" % record["MiBps"], "one task", ratio,
                ">= 1.5x on 2 devices" if record["devices"] == 2 else "", verdict(record.get("met")))
    if fig in ("listing vs libnfs", "small-file fetch vs libnfs"):
        return (fig, case, "%.1f ms" % record["oursMs"], "%.1f ms" % record["libnfsMs"],
                "%.2fx" % record["ratio"], "report", "")
    if fig == "transfers over TCP":
        goal, met = "", None
        if record["transfer"] == 1 << 20 and record["transport"] == "tcp":
            met = record["vsUdp32"] >= 3 and (record["nfsCpMiBps"] == 0 or record["vsNfsCp"] >= 0.8)
            goal = ">= 3x UDP 32 KiB, >= 0.8x nfs-cp"
        return (fig, case, "%.1f MiB/s" % record["MiBps"],
                "UDP 32 KiB %.1f, nfs-cp %.1f MiB/s" % (record["udp32MiBps"], record["nfsCpMiBps"]),
                "%.2fx, %.2fx" % (record["vsUdp32"], record["vsNfsCp"]), goal, verdict(met))
    if fig == "window vs one call in flight":
        goal, met = "", None
        ratio = "%.2fx" % record["wallRatio"]
        floor = "window 1: %.1f MiB/s" % record["oneCallMiBps"]
        if record.get("nfsCpMiBps"):
            floor += ", nfs-cp %.1f" % record["nfsCpMiBps"]
            ratio += ", %.2fx nfs-cp" % (record["MiBps"] / record["nfsCpMiBps"])
        # Through the relay: the window's gain where one call at a time suffers most (8 KiB),
        # and the client at its best (TCP at 1 MiB) against nfs-cp, which speaks TCP only.
        if record.get("path") == "loopback":
            goal, met = ">= 1.3x", record["wallRatio"] >= 1.3
        elif record["transport"] == "udp" and record["transfer"] == 8192:
            goal, met = ">= 3x", record["wallRatio"] >= 3
        elif record["transport"] == "tcp" and record["transfer"] == 1 << 20 and record.get("nfsCpMiBps"):
            goal, met = ">= nfs-cp", record["MiBps"] >= record["nfsCpMiBps"]
        return (fig, case, "%.1f MiB/s" % record["MiBps"], floor, ratio, goal, verdict(met))
    if fig == "random reads, window vs one call":
        return (fig, case, "%.0f reads/s" % record["readsPerSecond"],
                "window 1: %.0f reads/s" % record["oneCallReadsPerSecond"], "%.2fx" % record["ratio"],
                ">= 0.95x (not slower)", verdict(record["ratio"] >= 0.95))
    if fig == "mount options":
        return (fig, case, "%.1f MiB/s" % record["MiBps"],
                "default %.1f, nfs-cp %.1f MiB/s" % (record["defaultMiBps"], record["nfsCpMiBps"]),
                "%.2fx, %.2fx" % (record["vsDefault"], record["vsNfsCp"]), "report", "")
    if fig == "server limits":
        return (fig, case, "rtmax/wtmax %d, dtpref %d" % (record["transferLimit"], record["dtpref"]),
                "", "", "", "")
    if fig == "SNTP query vs bare UDP exchange":
        return (fig, case, "%.1f us" % record["queryUs"], "%.1f us" % record["bareUs"],
                "%.2fx" % record["ratio"], ">= 0.9x", verdict(record["met"]))
    if fig == "lock and unlock" and "pairUs" in record:
        return (fig, case, "%.0f us (NFS calls in %d pairs: %s)" % (record["pairUs"], record["pairs"], record["nfsCalls"]),
                "%.0f us (2 NULL calls)" % record["floorUs"], "%.2fx" % record["ratio"], "report", "")
    if fig == "lock wait wake-up":
        return (fig, case, "%.0f ms late" % record["lateMs"], "", "", "report", "")
    return (fig, case, "", "", "", "", "")


def pairs(records):
    """The 32 KiB against 8 KiB ratios, one record per direction and request size."""
    by = {}
    for record in records:
        if record["figure"] == "32 KiB vs 8 KiB transfers":
            by[(record["direction"], record["request"], record["transfer"])] = record
    out = []
    for (direction, request, transfer), large in sorted(by.items()):
        small = by.get((direction, request, 8192))
        if transfer != 32768 or small is None:
            continue
        ratio = large["MiBps"] / small["MiBps"] if small["MiBps"] else 0
        out.append({"figure": "32 KiB vs 8 KiB transfers",
                    "case": "%s %d KiB, lines 64 KiB" % (direction, request // 1024),
                    "MiBps": large["MiBps"], "floorMiBps": small["MiBps"], "ratio": ratio,
                    "bareRatio": (large["floorMiBps"] / small["floorMiBps"]) if small["floorMiBps"] else 0,
                    "met": ratio >= 2})
    return out


def table(records):
    rows = [("figure", "case", "measured", "floor", "ratio", "goal", "")]
    for record in records:
        if record["figure"] != "32 KiB vs 8 KiB transfers":
            rows.append(row(record))
    for pair in pairs(records):
        rows.append((pair["figure"], pair["case"], "%.1f MiB/s" % pair["MiBps"],
                     "%.1f MiB/s at 8 KiB" % pair["floorMiBps"],
                     "%.2fx (bare loop %.2fx)" % (pair["ratio"], pair["bareRatio"]), ">= 2x",
                     verdict(pair["met"])))
    widths = [min(max(len(str(r[i])) for r in rows), 80) for i in range(len(rows[0]))]
    for r in rows:
        print("  ".join(str(cell)[:80].ljust(widths[i]) for i, cell in enumerate(r)).rstrip())
    return pairs(records)


def plotWindow(axes, records):
    """Bars of one call in flight against the window, by path, transport and transfer size."""
    for axis, direction in zip(axes, ("read", "write")):
        chosen = [r for r in records if r["direction"] == direction]
        labels = ["%s %s %d KiB\n%d KiB lines" % (r.get("path", "loopback"), r["transport"], r["transfer"] // 1024,
                                                 r.get("line", 0) // 1024) for r in chosen]
        places = range(len(chosen))
        axis.bar([x - 0.2 for x in places], [r["oneCallMiBps"] for r in chosen], 0.4, label="window 1")
        axis.bar([x + 0.2 for x in places], [r["MiBps"] for r in chosen], 0.4,
                 label="window %d" % (chosen[0]["window"] if chosen else 0))
        cp = [(x, r["nfsCpMiBps"]) for x, r in zip(places, chosen) if r.get("nfsCpMiBps")]
        if cp:
            axis.plot([x for x, _ in cp], [v for _, v in cp], "k_", markersize=20, label="nfs-cp, same path")
        axis.set_xticks(list(places))
        axis.set_xticklabels(labels, rotation=30, ha="right", fontsize=8)
        axis.set_yscale("log")
        axis.set_ylabel("MiB/s (median, log scale)")
        axis.set_title("sequential %s, 64 KiB requests: calls in flight" % direction)
        axis.grid(True, axis="y", alpha=0.3)
        axis.legend(fontsize=8)


def plot(records, path):
    try:
        import matplotlib
        matplotlib.use("Agg")
        import matplotlib.pyplot as plt
    except ImportError:
        print("report: no matplotlib; plot skipped", file=sys.stderr)
        return
    series = {}
    for record in records:
        if record["figure"] not in ("file calls vs bare loop", "32 KiB vs 8 KiB transfers"):
            continue
        label = "transfer %d KiB, lines %d KiB" % (record["transfer"] // 1024, record["line"] // 1024)
        series.setdefault((record["direction"], label), []).append((record["request"], record["MiBps"]))
        floor = "bare loop, " + label
        series.setdefault((record["direction"], floor), []).append((record["request"], record["floorMiBps"]))
    window = [r for r in records if r["figure"] == "window vs one call in flight"]
    rows = (1 if series else 0) + (1 if window else 0)
    if rows == 0:
        return
    figure, grid = plt.subplots(rows, 2, figsize=(12, 5 * rows), squeeze=False)
    if series:
        axes = grid[0]
        for axis, direction in zip(axes, ("read", "write")):
            for (where, label), points in sorted(series.items()):
                if where != direction:
                    continue
                points = sorted(set(points))
                style = "--" if label.startswith("bare") else "-"
                axis.plot([p[0] / 1024 for p in points], [p[1] for p in points], style, marker="o", label=label)
            axis.set_xscale("log", base=2)
            axis.set_xlabel("request size (KiB)")
            axis.set_title("sequential %s through the file calls" % direction)
            axis.grid(True, alpha=0.3)
            axis.legend(fontsize=8)
        axes[0].set_ylabel("MiB/s (median)")
    if window:
        plotWindow(grid[-1], window)
    figure.tight_layout()
    figure.savefig(path, dpi=100)
    print("report: plot in %s" % path)


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("--json", required=True)
    parser.add_argument("--png")
    parser.add_argument("inputs", nargs="+")
    args = parser.parse_args()
    records = load(args.inputs)
    ratios = table(records)
    with open(args.json, "w") as stream:
        json.dump({"figures": records, "transferRatios": ratios}, stream, indent=1)
    print("report: figures in %s" % args.json)
    if args.png:
        plot(records, args.png)


if __name__ == "__main__":
    main()
