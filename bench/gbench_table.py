"""Prints the medians of a Google Benchmark JSON report as one table, with
each time as a ratio to the core's (BM_HalveMap) and the flush's share."""
import json
import sys


def main(path):
    with open(path) as f:
        report = json.load(f)
    medians = [b for b in report["benchmarks"] if b.get("aggregate_name") == "median"]
    core = next((b["real_time"] for b in medians if b["run_name"].startswith("BM_HalveMap/")), None)
    print("%-50s %9s %11s %9s %7s" % ("in-process, median", "ms", "x HalveMap", "flush ms", "share"))
    for b in medians:
        ratio = "%.2f" % (b["real_time"] / core) if core else "-"
        flush = "%.1f" % b["flush_ms"] if "flush_ms" in b else "-"
        share = "%.2f" % b["flush_share"] if "flush_share" in b else "-"
        print("%-50s %9.1f %11s %9s %7s" % (b["run_name"], b["real_time"], ratio, flush, share))


if __name__ == "__main__":
    main(sys.argv[1])
