#!/usr/bin/env python3
"""Summarises hyperfine's JSON exports for bench/run.sh: the times of each
named command over every round, as minimum and median, in the row of the
table the script prints.

  summarise.py startup DIRECTORY FILE...
      one row of the start-up table (released, floor and native programs);
      DIRECTORY is "empty" or "dumps-10"
  summarise.py sizes N CALLS_DUMPSCAN CALLS_FLOOR RSS_KIB BYTES_DUMPSCAN BYTES_FLOOR FILE...
      the dumpscan/floor median ratio, then one row of the table of N dumps
      (dumpscan, floor and Python); per-command details go to stderr
  summarise.py windows N FILE...
      the dumpscan.exe/floor median ratio, then one row of the Windows table
      for a folder of N dumps (0: empty)
"""
import json
import statistics
import sys


def load(paths):
    """Every run's time per command name, over all the given rounds."""
    times = {}
    for path in paths:
        with open(path) as f:
            for r in json.load(f)["results"]:
                times.setdefault(r["command"], []).extend(r["times"])
    low = {name: min(t) for name, t in times.items()}
    med = {name: statistics.median(t) for name, t in times.items()}
    return times, low, med


def startup(directory, paths):
    times, low, med = load(paths)

    def ms(name):
        return "%.3f / %.3f ms" % (low[name] * 1e3, med[name] * 1e3)

    def ratio(name):
        return "%.2f (%.2f)" % (med[name] / med["floor"], low[name] / low["floor"])

    label = {"empty": "empty", "dumps-10": "10 dumps"}[directory]
    print("| %s | %s | %s | %s | %s | %s |" % (label, ms("released"), ms("floor"), ms("native"),
                                               ratio("released"), ratio("native")))


def sizes(args, paths):
    n, calls_d, calls_f, rss, bytes_d, bytes_f = (int(a) for a in args)
    times, low, med = load(paths)
    for name, t in times.items():
        print("%-8s min %8.1f ms  median %8.1f ms  (%d runs)" % (
            name, low[name] * 1e3, med[name] * 1e3, len(t)), file=sys.stderr)

    def ms(name):
        return "%.1f / %.1f ms" % (low[name] * 1e3, med[name] * 1e3)

    ratio = med["dumpscan"] / med["floor"]
    print("dumpscan/floor %.2f median, %.2f min; python/dumpscan %.2f median, %.2f min" % (
        ratio, low["dumpscan"] / low["floor"], med["python"] / med["dumpscan"],
        low["python"] / low["dumpscan"]), file=sys.stderr)
    print("%.2f" % ratio)
    print("| %d | %s | %s | %s | %.2f (%.2f) | %.1f | %.2f | %.2f | %d KiB |" % (
        n, ms("dumpscan"), ms("floor"), ms("python"), ratio,
        low["dumpscan"] / low["floor"], med["python"] / med["dumpscan"],
        calls_d / n, calls_f / n, rss))
    print("output bytes: dumpscan %d, floor %d" % (bytes_d, bytes_f), file=sys.stderr)


def windows(n, paths):
    times, low, med = load(paths)

    def ms(name):
        return "%.1f / %.1f ms (%d runs)" % (low[name] * 1e3, med[name] * 1e3, len(times[name]))

    ratio = med["dumpscan"] / med["floor"]
    print("%.2f" % ratio)
    print("| %s | %s | %s | %.2f (%.2f) |" % ("empty" if n == 0 else "%d dumps" % n,
                                             ms("dumpscan"), ms("floor"), ratio,
                                             low["dumpscan"] / low["floor"]))


def main(argv):
    if len(argv) >= 3 and argv[0] == "startup":
        startup(argv[1], argv[2:])
    elif len(argv) >= 8 and argv[0] == "sizes":
        sizes(argv[1:7], argv[7:])
    elif len(argv) >= 3 and argv[0] == "windows":
        windows(int(argv[1]), argv[2:])
    else:
        sys.exit(__doc__)


if __name__ == "__main__":
    main(sys.argv[1:])
