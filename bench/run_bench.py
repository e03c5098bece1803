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
    def __init__(self, label, argv, rounds=None, env=None, setup=None, cwd=None, files=1,
                 check=None, missing=None, memory=False):
        self.label = label
        self.argv = argv
        self.rounds = rounds  # None: the group's number of rounds
        self.env = env
        self.setup = setup  # run untimed before each timed run
        self.cwd = cwd
        self.files = files
        self.check = check  # run untimed after the first run: did the command do its work?
        self.missing = missing  # why the command cannot run, shown in place of its figures
        self.memory = memory  # measure the peak memory in the untimed warm-up run
        self.times = []
        self.written = []
        self.peak_kb = None
        self.failed = 0


def run_once(cmd, warmup=False):
    if cmd.setup:
        cmd.setup()
    env = dict(os.environ, **(cmd.env or {}))
    argv = cmd.argv
    # The peak memory comes from GNU time, not from wait4: a child forked by this interpreter
    # counts the interpreter's pages in its own peak.
    report = None
    if warmup and cmd.memory and shutil.which("time"):
        report = tempfile.NamedTemporaryFile(suffix=".rss", delete=False)
        report.close()
        argv = [shutil.which("time"), "-f", "%M", "-o", report.name] + argv
    start = time.perf_counter()
    proc = subprocess.Popen(argv, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                            env=env, cwd=cmd.cwd)
    _, status, usage = os.wait4(proc.pid, 0)
    cmd.times.append(time.perf_counter() - start)
    cmd.written.append(usage.ru_oublock * 512)  # what it sent to storage (/proc/PID/io write_bytes)
    if report:
        with open(report.name) as f:
            last = f.read().split()[-1:]
        cmd.peak_kb = int(last[0]) if last and last[0].isdigit() else None
        os.remove(report.name)
    if not (os.WIFEXITED(status) and os.WEXITSTATUS(status) == 0):
        cmd.failed += 1
    elif cmd.check:
        problem = cmd.check()
        cmd.check = None
        if problem:
            print("%s: %s" % (cmd.label, problem), file=sys.stderr)
            cmd.failed += 1


def run_group(commands, rounds):
    commands = [cmd for cmd in commands if not cmd.missing]
    for cmd in commands:  # warm the page cache and the loader
        if cmd.rounds is None or cmd.rounds > 1:
            run_once(cmd, warmup=True)
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
            if cmd.missing:
                goal = goals.get(cmd.label)
                self.rows.append((title, cmd.label, cmd.missing, "", "",
                                  "≤ %.2f" % goal[0] if goal else "", ""))
                title = ""
                continue
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


ALBUM = "New Album"


def fresh_copies(files_dir, names, work, targets=None):
    """The untimed setup of a batch round: the corpus files copied anew into work (under the
    names of targets where given) and flushed to disk, so that a command which flushes its files
    pays for its own writes, not for the copy."""
    targets = targets or names
    def setup():
        shutil.rmtree(work, ignore_errors=True)
        os.makedirs(work)
        for name, target in zip(names, targets):
            shutil.copyfile(os.path.join(files_dir, name), os.path.join(work, target))
        for path in [os.path.join(work, name) for name in targets] + [work]:
            fd = os.open(path, os.O_RDONLY)
            try:
                os.fsync(fd)
            finally:
                os.close(fd)
    return setup


def check_tags(work, names, wanted):
    """A check of a batch command: every file's tag as wanted(tag) says, read with mutagen;
    returns what is wrong, or None."""
    try:
        from mutagen.id3 import ID3
    except ImportError:
        return None  # no mutagen (tools/install-bench-deps.sh installs it): left unchecked
    for name in names:
        try:
            problem = wanted(ID3(os.path.join(work, name)))
        except Exception as e:  # an unreadable tag is a failure of the command checked
            problem = "unreadable tag (%s)" % e
        if problem:
            return "%s: %s" % (name, problem)
    return None


def album_set(tag):
    frame = tag.get("TALB")
    return None if frame and frame.text == [ALBUM] else "album %r" % (frame and frame.text)


def cover_embedded(tag):
    pictures = tag.getall("APIC")
    return None if pictures and pictures[0].data[:2] == b"\xff\xd8" else "no JPEG in an APIC frame"


def batch_form_missing(tags, argv_of, files_dir, names, work):
    """quillon-tags takes many files per set and embed only from its batch version on: the form is
    tried once on two scratch copies, and its rows are left out where it is refused."""
    fresh_copies(files_dir, names[:2], work)()
    try:
        ok = subprocess.run(argv_of(names[:2]), cwd=work, stdout=subprocess.DEVNULL,
                            stderr=subprocess.DEVNULL, timeout=60).returncode == 0
    except (OSError, subprocess.TimeoutExpired):
        ok = False
    return None if ok else "n/a (not built)"


def make_cover(path):
    """The cover of the embedding benchmark: a 1000x1000 baseline JPEG of about 250 KB, a test
    card with noise so that it compresses like a photograph."""
    if os.path.exists(path):
        return
    ppm = subprocess.run(["ffmpeg", "-v", "error", "-f", "lavfi", "-i",
                          "testsrc2=s=1000x1000,noise=alls=30:allf=u", "-frames:v", "1",
                          "-f", "image2pipe", "-c:v", "ppm", "-"], capture_output=True, check=True)
    with open(path, "wb") as f:
        subprocess.run(["cjpeg", "-quality", "85"], input=ppm.stdout, stdout=f, check=True)


def peer(label, argv, **kw):
    """A peer command, left out with a note where its program is not installed or built."""
    found = os.path.exists(argv[0]) if os.path.isabs(argv[0]) else shutil.which(argv[0])
    return Command(label, argv, missing=None if found else "n/a (not installed)", **kw)


def batch_group(table, title, tags_cmd, peers, rounds):
    """Runs quillon-tags' batch form against its peers, each round on fresh copies; the ratios are
    to the fastest peer, and the peak memory of quillon-tags is given beside them."""
    cmds = [tags_cmd] + peers
    print("running: " + title, file=sys.stderr)
    run_group(cmds, rounds)
    measured = [c for c in peers if not c.missing and c.times]
    if not measured:
        table.extra(title, "(no peer could run)", "", "")
        return
    fastest = min(measured, key=lambda c: (c.failed > 0, statistics.median(c.times)))
    table.group(title, cmds, fastest, {tags_cmd.label: (0.5, "")})
    return fastest


def batch_rows(table, tags, taglib_setter, corpus, files_dir, files, rounds):
    work = os.path.join(corpus, "batch")
    os.makedirs(work, exist_ok=True)
    n = len(files)
    scratch = os.path.join(work, "scratch")
    copies = os.path.join(work, "files")
    setup = fresh_copies(files_dir, files, copies)
    common = dict(cwd=copies, files=n, setup=setup)

    def quillon_set(names):
        return [tags, "set", "--no-backup"] + names + ["TALB", ALBUM]

    title = "Set one text frame in %d files, one process each" % n
    tags_cmd = Command("quillon-tags set --no-backup FILE... TALB TEXT", quillon_set(files),
                       missing=batch_form_missing(tags, quillon_set, files_dir, files, scratch),
                       check=lambda: check_tags(copies, files, album_set), memory=True,
                       **common)
    peers = [
        peer("mid3v2 -A TEXT FILE...", ["mid3v2", "-A", ALBUM] + files,
             check=lambda: check_tags(copies, files, album_set), **common),
        peer("eyeD3 -A TEXT FILE...", ["eyeD3", "--no-config", "-Q", "-A", ALBUM] + files,
             check=lambda: check_tags(copies, files, album_set), **common),
        # kid3-cli's time per file grows with the number of files (5 ms at 50, 63 ms at 1000):
        # one run is enough to see it.
        peer("kid3-cli -c 'set album TEXT' FILE...",
             ["kid3-cli", "-c", "set album '%s'" % ALBUM] + files, rounds=1,
             check=lambda: check_tags(copies, files, album_set), **common),
        peer("TagLib (bench/taglib_setter ALBUM FILE...)", [taglib_setter, ALBUM] + files,
             check=lambda: check_tags(copies, files, album_set), **common),
    ]
    if batch_group(table, title, tags_cmd, peers, rounds) and tags_cmd.peak_kb:
        rss = tags_cmd.peak_kb / 1024
        ok = rss < 16 and not tags_cmd.failed
        table.verdicts.append((title, "peak memory (MiB)", rss, 16, ok))
        table.extra("", "peak memory of quillon-tags set", "%.1f MiB" % rss,
                    "< 16 MiB %s" % ("met" if ok else "MISSED"))
    elif tags_cmd.missing:
        table.extra("", "peak memory of quillon-tags set", tags_cmd.missing, "< 16 MiB")

    subset = files[:max(2, n // 10)]
    n = len(subset)
    cover = os.path.join(work, "cover.jpg")
    make_cover(cover)
    setup = fresh_copies(files_dir, subset, copies)
    common = dict(cwd=copies, files=n, setup=setup)

    def quillon_embed(names):
        return [tags, "embed", "--no-backup"] + names + [cover, "--apic", "first"]

    title = "Embed one 1000x1000 JPEG cover into %d files" % n
    tags_cmd = Command("quillon-tags embed --no-backup FILE... PICTURE --apic first",
                       quillon_embed(subset),
                       missing=batch_form_missing(tags, quillon_embed, files_dir, subset, scratch),
                       check=lambda: check_tags(copies, subset, cover_embedded), memory=True,
                       **common)
    peers = [
        peer("eyeD3 --add-image PICTURE:FRONT_COVER FILE...",
             ["eyeD3", "--no-config", "-Q", "--add-image", cover + ":FRONT_COVER"] + subset,
             check=lambda: check_tags(copies, subset, cover_embedded), **common),
        peer("kid3-cli -c 'set picture:PICTURE \"\"' FILE...",
             ["kid3-cli", "-c", "set picture:'%s' ''" % cover] + subset,
             check=lambda: check_tags(copies, subset, cover_embedded), **common),
    ]
    if batch_group(table, title, tags_cmd, peers, rounds) and tags_cmd.peak_kb:
        table.extra("", "peak memory of quillon-tags embed", "%.1f MiB" % (
            tags_cmd.peak_kb / 1024), "")
    shutil.rmtree(work, ignore_errors=True)


def make_album(corpus, files_dir, names, cover, count=40, mib=5):
    """An album: `count` songs of about `mib` MiB (real MP3 frames of the corpus, repeated), each
    tagged by mutagen with a few texts and the cover, and the padding mutagen leaves."""
    album = os.path.join(corpus, "album")
    stamp = os.path.join(album, ".complete-%d-%d" % (count, mib))
    if os.path.exists(stamp):
        return album
    from mutagen.id3 import ID3, APIC, TALB, TIT2, TPE1, TRCK
    shutil.rmtree(album, ignore_errors=True)
    os.makedirs(album)
    with open(cover, "rb") as f:
        picture = f.read()
    for k in range(count):
        with open(os.path.join(files_dir, names[k % len(names)]), "rb") as f:
            data = f.read()
        if data[:3] == b"ID3":  # the audio only: the corpus file's own tag goes
            size = (data[6] << 21) | (data[7] << 14) | (data[8] << 7) | data[9]
            data = data[10 + size:]
        data = data[:len(data) - 128] if data[-128:-125] == b"TAG" else data
        path = os.path.join(album, "%02d.mp3" % (k + 1))
        with open(path, "wb") as f:
            f.write(data * (mib * 1024 * 1024 // len(data) + 1))
        tag = ID3()
        tag.add(TIT2(encoding=3, text="Song %d" % (k + 1)))
        tag.add(TPE1(encoding=3, text="Artist"))
        tag.add(TALB(encoding=3, text="Old Album"))
        tag.add(TRCK(encoding=3, text=str(k + 1)))
        tag.add(APIC(encoding=3, mime="image/jpeg", type=3, desc="", data=picture))
        tag.save(path)
    open(stamp, "w").close()
    return album


def drop_caches():
    """Fresh copies are flushed but still cached; where allowed, the page cache goes too."""
    try:
        with open("/proc/sys/vm/drop_caches", "w") as f:
            f.write("3\n")
    except OSError:
        pass


def album_rows(table, tags, taglib_setter, corpus, files_dir, names, rounds, cold):
    """Album-size songs: an in-place edit under its journal against the peers that write in
    place and flush nothing, the same peers followed by sync, and one flushed copy of each."""
    work = os.path.join(corpus, "albumwork")
    os.makedirs(work, exist_ok=True)
    cover = os.path.join(work, "cover.jpg")
    make_cover(cover)
    album = make_album(corpus, files_dir, names, cover)
    songs = sorted(f for f in os.listdir(album) if f.endswith(".mp3"))
    n = len(songs)
    copies = os.path.join(work, "files")
    fresh = fresh_copies(album, songs, copies)

    def setup():
        fresh()
        if cold:
            drop_caches()
    common = dict(cwd=copies, files=n, setup=setup)
    check = dict(check=lambda: check_tags(copies, songs, album_set))

    def synced(argv):
        return ["sh", "-c", '"$@" && sync', "sh"] + argv
    mib = sum(os.path.getsize(os.path.join(album, f)) for f in songs) / n / 2 ** 20
    title = "Set one text frame in %d songs of %.1f MiB with a cover" % (n, mib)
    no_backup = Command("quillon-tags set --no-backup FILE... TALB TEXT",
                        [tags, "set", "--no-backup"] + songs + ["TALB", ALBUM], **check,
                        **common)
    keeping = Command("quillon-tags set FILE... TALB TEXT (backups kept)",
                      [tags, "set"] + songs + ["TALB", ALBUM], **check, **common)
    mid3v2 = peer("mid3v2 -A TEXT FILE...", ["mid3v2", "-A", ALBUM] + songs, **check, **common)
    taglib_sync = peer("TagLib setter; sync", synced([taglib_setter, ALBUM] + songs), **check,
                       **common)
    cmds = [
        no_backup, keeping, mid3v2,
        peer("mid3v2 -A TEXT FILE...; sync", synced(["mid3v2", "-A", ALBUM] + songs), **check,
             **common),
        peer("eyeD3 -A TEXT FILE...", ["eyeD3", "--no-config", "-Q", "-A", ALBUM] + songs,
             **check, **common),
        peer("eyeD3 -A TEXT FILE...; sync",
             synced(["eyeD3", "--no-config", "-Q", "-A", ALBUM] + songs), **check, **common),
        peer("TagLib setter", [taglib_setter, ALBUM] + songs, **check, **common),
        taglib_sync,
        Command("one flushed copy: cp FILE... DIR; sync",
                ["sh", "-c", 'mkdir -p ../copy && cp "$@" ../copy/ && sync', "sh"] + songs,
                **common),
    ]
    print("running: " + title, file=sys.stderr)
    run_group(cmds, rounds)
    if mid3v2.missing:
        table.extra(title, "(mid3v2 not installed)", "", "")
        return
    table.group(title, cmds, mid3v2, {no_backup.label: (0.5, "")})
    med = statistics.median
    for label, ref, goal in (("vs TagLib setter; sync", taglib_sync, 3.0),
                             ("vs keeping backups", keeping, 1.0)):
        if ref.missing or not ref.times:
            continue
        ratio = med(no_backup.times) / med(ref.times)
        ok = ratio <= goal and not no_backup.failed
        table.verdicts.append((title, "--no-backup " + label, ratio, goal, ok))
        table.extra("", "quillon-tags set --no-backup " + label, "%.2f" % ratio,
                    "≤ %.2f %s" % (goal, "met" if ok else "MISSED"))
    written = med(no_backup.written) / n if no_backup.written else 0
    table.extra("", "bytes written per song by set --no-backup (journal + tag)",
                "%.1f KiB" % (written / 1024), "")


def names_rows(table, tags, corpus, files_dir, files, rounds):
    """name2tag against set of one frame, tag2name against show: the same files, the same run,
    every round on fresh copies."""
    work = os.path.join(corpus, "names")
    copies = os.path.join(work, "files")
    n = len(files)
    # Names as a Chinese library has them; each round writes the same two fields anew.
    named = ["歌手 %d - 歌名 %04d.mp3" % (i % 37, i) for i in range(n)]
    setup = fresh_copies(files_dir, files, copies, named)
    common = dict(cwd=copies, files=n, setup=setup)

    def from_names(tag):
        # Texts that fit go in code page 936, in frames that declare Latin-1.
        frame = tag.get("TIT2")
        text = str(frame.text[0]) if frame else ""
        try:
            text = text.encode("latin-1").decode("gbk")
        except (UnicodeEncodeError, UnicodeDecodeError):
            pass
        return None if text.startswith("歌名 ") else "title %r" % text

    title = "Tags from the names of %d files, one process (the same run)" % n
    name2tag = Command("quillon-tags name2tag --no-backup FILE...",
                       [tags, "name2tag", "--no-backup"] + named,
                       check=lambda: check_tags(copies, named, from_names), **common)
    set_one = Command("quillon-tags set --no-backup FILE... TALB TEXT",
                      [tags, "set", "--no-backup"] + named + ["TALB", ALBUM], **common)
    print("running: " + title, file=sys.stderr)
    run_group([name2tag, set_one], rounds)
    table.group(title, [name2tag, set_one], set_one, {name2tag.label: (1.2, "")})

    setup = fresh_copies(files_dir, files, copies)
    common = dict(cwd=copies, files=n, setup=setup)
    title = "File names from the tags of %d files, one process (the same run)" % n
    tag2name = Command("quillon-tags tag2name FILE...", [tags, "tag2name"] + files, **common)
    show = Command("quillon-tags show FILE...", [tags, "show"] + files, **common)
    print("running: " + title, file=sys.stderr)
    run_group([tag2name, show], rounds)
    table.group(title, [tag2name, show], show, {tag2name.label: (2.0, "")})
    shutil.rmtree(work, ignore_errors=True)


def main():
    ap = argparse.ArgumentParser(description=__doc__)
    ap.add_argument("--build", default=os.path.join(HERE, "..", "build"))
    ap.add_argument("--corpus", default="/tmp/quillon-corpus")
    ap.add_argument("--rounds", type=int, default=11)
    ap.add_argument("--per-process-files", type=int, default=100)
    ap.add_argument("--cold", action="store_true",
                    help="album rows: drop the page cache before each run (as root)")
    ap.add_argument("--rewrite-bench", help="the rewrite benchmark program (default: the build's)")
    ap.add_argument("--skip", default="",
                    help="groups to leave out: read,spawn,rewrite,batch,album,names,startup")
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

    if "batch" not in skip:
        batch_rows(table, tags, os.path.join(build, "bench", "taglib_setter"), args.corpus,
                   files_dir, files, max(3, args.rounds // 2))

    if "album" not in skip:
        album_rows(table, tags, os.path.join(build, "bench", "taglib_setter"), args.corpus,
                   files_dir, files, max(3, args.rounds // 2), args.cold)
    if "names" not in skip:
        names_rows(table, tags, args.corpus, files_dir, files, max(3, args.rounds // 2))

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
