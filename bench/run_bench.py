#!/usr/bin/python3
"""Runs the benchmarks side by side and prints a table of medians and ratios.

Every figure is a ratio to a reference measured in the same run on the same files, so the
figures compare across machines. The commands of one group run in turns (one round runs each
command once), so a change in the machine's load falls on all of them alike. Called by
bench/run-bench.sh, which installs the tools, builds and makes the corpus first.
"""
import argparse
import os
import platform
import re
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))


class Command:
    def __init__(self, label, argv, rounds=None, env=None, setup=None, cwd=None, files=1):
        self.label = label
        self.argv = argv
        self.rounds = rounds  # None: the group's number of rounds
        self.env = env
        self.setup = setup  # run untimed before each timed run
        self.cwd = cwd
        self.files = files
        self.times = []
        self.peak_kb = 0
        self.failed = 0


def run_once(cmd):
    if cmd.setup:
        cmd.setup()
    env = dict(os.environ, **(cmd.env or {}))
    start = time.perf_counter()
    proc = subprocess.Popen(cmd.argv, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                            env=env, cwd=cmd.cwd)
    _, status, usage = os.wait4(proc.pid, 0)
    cmd.times.append(time.perf_counter() - start)
    cmd.peak_kb = max(cmd.peak_kb, usage.ru_maxrss)
    if not (os.WIFEXITED(status) and os.WEXITSTATUS(status) == 0):
        cmd.failed += 1


def run_group(commands, rounds):
    for cmd in commands:  # warm the page cache and the loader
        if cmd.rounds is None or cmd.rounds > 1:
            run_once(cmd)
            cmd.times.clear()
    for r in range(rounds):
        for cmd in commands:
            if r < (cmd.rounds if cmd.rounds is not None else rounds):
                run_once(cmd)


def fmt_time(seconds):
    if seconds >= 1:
        return "%.2f s" % seconds
    if seconds >= 0.001:
        return "%.1f ms" % (seconds * 1000)
    return "%.0f µs" % (seconds * 1e6)


class Table:
    def __init__(self):
        self.rows = []
        self.verdicts = []

    def group(self, title, commands, reference, goals):
        """goals: {label: (highest ratio allowed, what the goal says)}"""
        ref = statistics.median(reference.times)
        for cmd in commands:
            med = statistics.median(cmd.times)
            ratio = med / ref
            goal = goals.get(cmd.label)
            mark = ""
            if goal:
                ok = ratio <= goal[0] and not cmd.failed
                mark = "≤ %.2f %s" % (goal[0], "met" if ok else "MISSED")
                self.verdicts.append((title, cmd.label, ratio, goal[0], ok))
            note = " (exit status ≠ 0 in %d runs)" % cmd.failed if cmd.failed else ""
            self.rows.append((title, cmd.label + note, fmt_time(med),
                              fmt_time(med / cmd.files) if cmd.files > 1 else "",
                              "reference" if cmd is reference else "%.2f" % ratio, mark,
                              len(cmd.times)))
            title = ""

    def extra(self, title, label, value, goal_text):
        self.rows.append((title, label, value, "", "", goal_text, ""))

    def print(self, out):
        head = ("Benchmark", "Command", "Median", "Per file", "Ratio", "Goal", "Runs")
        out.write("| " + " | ".join(head) + " |\n")
        out.write("|" + "|".join("---" for _ in head) + "|\n")
        for row in self.rows:
            out.write("| " + " | ".join(str(c) for c in row) + " |\n")


REWRITE_LINE = re.compile(
    r"(?P<mb>\d+) MB: rewrite (?P<rw>[\d.]+) s, 2 x cp (?P<cp>[\d.]+) s, ratio (?P<ratio>[\d.]+).*?"
    r"2 x cp \+ sync (?P<sync>[\d.]+) s, ratio (?P<sratio>[\d.]+).*?"
    r"peak memory: rewrite (?P<rss>\d+) KiB, cp (?P<cprss>\d+) KiB")


def rewrite_rows(table, program, corpus, rounds):
    """The rewrite benchmark of the ID3v2 writer (bench/rewrite_bench), in the table's form."""
    if not os.path.exists(program):
        table.extra("Rewrite of a 200 MB file", "(bench/rewrite_bench not built)", "", "")
        return
    work = os.path.join(corpus, "rewrite")
    os.makedirs(work, exist_ok=True)
    print("running: the rewrite", file=sys.stderr)
    out = subprocess.run([program, "--rounds", str(rounds), "--dir", work],
                         capture_output=True, text=True)
    sys.stderr.write(out.stderr)
    for line in out.stdout.splitlines():
        m = REWRITE_LINE.search(line)
        if not m:
            continue
        mb, ratio, rss = int(m["mb"]), float(m["ratio"]), int(m["rss"])
        title = "Rewrite of the ID3v2 tag of a %d MB file (tag grown past its padding)" % mb
        ok = ratio <= 1.25
        rss_ok = rss <= 16 * 1024
        table.verdicts.append((title, "quillon-tags set", ratio, 1.25, ok))
        table.verdicts.append((title, "peak memory (MiB)", rss / 1024, 16, rss_ok))
        table.rows.append((title, "quillon-tags set FILE COMM TEXT", fmt_time(float(m["rw"])), "",
                           "%.2f" % ratio, "≤ 1.25 %s" % ("met" if ok else "MISSED"), rounds))
        table.rows.append(("", "2 x cp FILE (reference)", fmt_time(float(m["cp"])), "",
                           "reference", "", rounds))
        table.rows.append(("", "2 x cp FILE, then sync", fmt_time(float(m["sync"])), "",
                           "%.2f" % float(m["sratio"]), "", rounds))
        table.rows.append(("", "peak memory of the rewrite (cp: %.1f MiB)" % (int(m["cprss"]) / 1024),
                           "%.1f MiB" % (rss / 1024), "", "", "≤ 16 MiB %s" % (
                               "met" if rss_ok else "MISSED"), ""))
    shutil.rmtree(work, ignore_errors=True)


def main():
    ap = argparse.ArgumentParser(description=__doc__)
    ap.add_argument("--build", default=os.path.join(HERE, "..", "build"))
    ap.add_argument("--corpus", default="/tmp/quillon-corpus")
    ap.add_argument("--rounds", type=int, default=11)
    ap.add_argument("--per-process-files", type=int, default=100)
    ap.add_argument("--rewrite-bench", help="the rewrite benchmark program (default: the build's)")
    ap.add_argument("--skip", default="", help="groups to leave out: read,spawn,rewrite,startup")
    args = ap.parse_args()

    build = os.path.abspath(args.build)
    tags = os.path.join(build, "cli", "quillon-tags")
    taglib = os.path.join(build, "bench", "taglib_reader")
    files_dir = os.path.join(args.corpus, "files")
    files = sorted(f for f in os.listdir(files_dir) if f.endswith(".mp3"))
    tag_bytes = [os.path.join("..", "tagbytes", f[:-4] + ".tag") for f in files]
    skip = set(filter(None, args.skip.split(",")))
    table = Table()
    load_before = os.getloadavg()

    if "read" not in skip:
        n = len(files)
        title = "Three tags of %d files, one process" % n
        cmds = [
            Command("quillon-tags show (-j default: %d cores)" % os.cpu_count(),
                    [tags, "show"] + files, cwd=files_dir, files=n),
            Command("quillon-tags show -j1", [tags, "show", "-j1"] + files, cwd=files_dir, files=n),
            Command("TagLib reader", [taglib] + files, cwd=files_dir, files=n),
            Command("mutagen (python3)", [os.path.join(HERE, "mutagen_reader.py")] + files,
                    cwd=files_dir, files=n, rounds=3),
            Command("kid3-cli", [os.path.join(HERE, "kid3_reader.sh")] + files, cwd=files_dir,
                    files=n, rounds=1),
            Command("floor: cat of the tag bytes", ["cat"] + tag_bytes, cwd=files_dir, files=n),
        ]
        print("running: " + title, file=sys.stderr)
        run_group(cmds, args.rounds)
        table.group(title, cmds, cmds[2], {cmds[0].label: (0.5, ""), cmds[1].label: (0.5, "")})

    if "spawn" not in skip:
        subset = files[:args.per_process_files]
        n = len(subset)
        listing = tempfile.NamedTemporaryFile("w", suffix=".list", delete=False)
        listing.write("\n".join(subset) + "\n")
        listing.close()
        each = ["xargs", "-d", "\\n", "-n", "1", "-a", listing.name]
        title = "One process per file, %d files" % n
        cmds = [
            Command("quillon-tags show FILE", each + [tags, "show"], cwd=files_dir, files=n),
            Command("TagLib reader FILE", each + [taglib], cwd=files_dir, files=n),
            Command("mutagen (python3) FILE", each + [os.path.join(HERE, "mutagen_reader.py")],
                    cwd=files_dir, files=n, rounds=3),
            Command("kid3-cli FILE", each + [os.path.join(HERE, "kid3_reader.sh")],
                    cwd=files_dir, files=n, rounds=1),
            Command("floor: cat of the tag bytes", ["xargs", "-d", "\\n", "-n", "1", "-a",
                                                    listing.name + ".tags", "cat"],
                    cwd=files_dir, files=n),
        ]
        with open(listing.name + ".tags", "w") as f:
            f.write("\n".join(tag_bytes[:n]) + "\n")
        print("running: " + title, file=sys.stderr)
        run_group(cmds, args.rounds)
        table.group(title, cmds, cmds[1], {cmds[0].label: (1.0, "")})
        os.remove(listing.name)
        os.remove(listing.name + ".tags")

    if "rewrite" not in skip:
        rewrite_rows(table, args.rewrite_bench or os.path.join(build, "bench", "rewrite_bench"),
                     args.corpus, max(3, args.rounds // 2))

    if "startup" not in skip:
        env = {"QT_QPA_PLATFORM": "offscreen"}
        title = "Start to window shown (offscreen)"
        cmds = [
            Command("Quillon editor", [os.path.join(build, "bench", "quillon-startup")], env=env),
            Command("floor: one Chinese label in the editor's font",
                    [os.path.join(build, "bench", "label_window")], env=env),
            Command("minimal Qt widget program", [os.path.join(build, "bench", "minimal_window")],
                    env=env),
        ]
        print("running: " + title, file=sys.stderr)
        run_group(cmds, max(args.rounds, 41))
        table.group(title, cmds, cmds[2], {cmds[0].label: (1.5, "")})

    load_after = os.getloadavg()
    table.print(sys.stdout)
    print()
    print("Load average before/after: %.2f / %.2f (1 min); Python %s; %s" % (
        load_before[0], load_after[0], platform.python_version(), platform.platform()))
    missed = [v for v in table.verdicts if not v[4]]
    for title, label, ratio, goal, _ in missed:
        print("MISSED: %s: %s ratio %.2f > %.2f" % (title.strip(), label, ratio, goal))
    return 0


if __name__ == "__main__":
    sys.exit(main())
