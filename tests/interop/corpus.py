#!/usr/bin/python3
"""Files tagged by other programs, shown and edited one frame at a time by quillon-tags.

  corpus.py make DIR                tiny MP3 files tagged by every peer, version and encoding
  corpus.py check QUILLON_TAGS DIR  show each file, set TIT2 on a copy, compare what mutagen,
                                    TagLib (TAGLIB_READ) and ffmpeg see in everything else
"""
import collections, json, os, re, shutil, subprocess, sys, tempfile, zlib

from mutagen import id3

CJK = "月亮代表我的心 한국어 🎵"
LATIN = "Åsa Öberg"
TAGLIB_READ = os.environ.get("TAGLIB_READ", "taglib_read")


def run(*args, **kw):
    return subprocess.run([str(a) for a in args], capture_output=True, check=True, **kw).stdout


def mutagen(path, out, version, enc):
    text = CJK if enc else LATIN
    t = id3.ID3()
    t.add(id3.TIT2(encoding=enc, text=text))
    t.add(id3.TPE1(encoding=enc, text=[text, "Second"] if version == 4 else text))
    t.add(id3.TALB(encoding=enc, text=text + " Album"))
    t.add(id3.TXXX(encoding=enc, desc="REPLAYGAIN_TRACK_GAIN", text="-6.80 dB"))
    t.add(id3.TXXX(encoding=enc, desc="REPLAYGAIN_TRACK_PEAK", text="0.988"))
    t.add(id3.COMM(encoding=enc, lang="\0\0\0", desc="", text=text + " comment"))
    t.add(id3.COMM(encoding=enc, lang="eng", desc="iTunNORM", text=" 00000A2B 00000B3C"))
    t.add(id3.USLT(encoding=enc, lang="eng", desc="", text=text + "\nla la"))
    t.add(id3.APIC(encoding=enc or 1, mime="image/jpeg", type=3, desc="封面", data=JPEG))
    t.add(id3.APIC(encoding=enc, mime="image/jpeg", type=4, desc="back", data=JPEG[:-2]))
    t.add(id3.WXXX(encoding=enc, desc="shop", url="http://example.org/a?b=1"))
    t.add(id3.MCDI(data=b"\x00\x12\x01\x01\x00\x10\x00\x00\x00\x00\x00\x96\xff"))
    t.add(id3.POPM(email="rater@example.org", rating=128, count=5))
    t.add(id3.PRIV(owner="WM/MediaClassPrimaryID", data=b"\x00\x01\xff\x00abc"))
    t.add(id3.RVA2(desc="track", channel=1, gain=-6.8, peak=0.9))
    t.add(id3.GEOB(encoding=enc, mime="application/octet-stream", filename="a.bin",
                   desc="对象" if enc else "obj", data=b"\x00\x01\x02\xff\x00"))
    t.add(id3.UFID(owner="http://musicbrainz.org", data=b"0d4b5c8e-2a0c-4a3b"))
    t.save(out, v2_version=version)


syncsafe = lambda n: bytes((n >> s) & 127 for s in (21, 14, 7, 0))
unsafe = lambda four: sum((b & 127) << (21 - 7 * i) for i, b in enumerate(four))
unsynch = lambda data: re.sub(rb"\xff(?=[\x00\xe0-\xff]|\Z)", b"\xff\x00", data)


def rebuild(path, out, version, enc, unsync=False, ext=False, zipped=(), footer=False):
    """mutagen's tag with what mutagen reads but does not write: unsynchronisation (whole tag in
    2.3, per frame with a data length indicator in 2.4), an extended header, zlib-compressed
    frames, a 2.4 footer instead of padding."""
    mutagen(path, out, version, enc)
    data = open(out, "rb").read()
    end = 10 + unsafe(data[6:10])
    body, i = b"", 10
    while i + 10 <= end and data[i] != 0:
        fid, size = data[i:i + 4], int.from_bytes(data[i + 4:i + 8], "big")
        size = unsafe(data[i + 4:i + 8]) if version == 4 else size
        payload, flags, i = data[i + 10:i + 10 + size], 0, i + 10 + size
        if fid in zipped and version == 3:
            payload, flags = len(payload).to_bytes(4, "big") + zlib.compress(payload), 0x0080
        elif fid in zipped:
            packed = unsynch(zlib.compress(payload)) if unsync else zlib.compress(payload)
            payload, flags = syncsafe(len(payload)) + packed, 0x0009 | (0x0002 if unsync else 0)
        elif unsync and version == 4:
            payload, flags = syncsafe(len(payload)) + unsynch(payload), 0x0003
        sized = syncsafe(len(payload)) if version == 4 else len(payload).to_bytes(4, "big")
        body += fid + sized + flags.to_bytes(2, "big") + payload
    if ext:
        body = (syncsafe(6) + b"\x01\x00" if version == 4 else bytes([0, 0, 0, 6] + [0] * 6)) + body
    if unsync and version == 3:
        body = unsynch(body)
    body += b"" if footer else bytes(16)
    flags = (0x80 if unsync else 0) | (0x40 if ext else 0) | (0x10 if footer else 0)
    head = bytes([version, 0, flags]) + syncsafe(len(body))
    open(out, "wb").write(b"ID3" + head + body + (b"3DI" + head if footer else b"") + data[end:])


def v22(path, out):
    """The iTunes form: three-letter ids, UTF-16 texts, a PIC frame with an image format."""
    u16 = lambda s: b"\xff\xfe" + s.encode("utf-16-le")
    frames = [(b"TT2", b"\x01" + u16(CJK)), (b"TP1", b"\x01" + u16("歌手")),
              (b"TAL", b"\x01" + u16("专辑")),
              (b"COM", b"\x01eng" + u16("") + b"\0\0" + u16(CJK + " comment")),
              (b"TXX", b"\x01" + u16("REPLAYGAIN_TRACK_GAIN") + b"\0\0" + u16("-6.80 dB")),
              (b"PIC", b"\x01JPG\x03" + u16("封面") + b"\0\0" + JPEG)]
    body = b"".join(f + len(p).to_bytes(3, "big") + p for f, p in frames) + bytes(16)
    open(out, "wb").write(b"ID3\x02\x00\x00" + syncsafe(len(body)) + body +
                          open(path, "rb").read())


def handmade(path, out, version, flags, frames, padding=16):
    """Forms no peer writes on request, byte by byte: frames given as (id, data) pairs."""
    size = lambda n: n.to_bytes(3, "big") if version == 2 else n.to_bytes(4, "big") + b"\0\0"
    body = b"".join(f + size(len(d)) + d for f, d in frames) + bytes(padding)
    open(out, "wb").write(b"ID3" + bytes([version, 0, flags]) + syncsafe(len(body)) + body +
                          open(path, "rb").read())


def retouched(path, out, flags, plain):
    """mutagen's version 2.4 tag with header flags set over nothing (an extended header, a
    footer) and, as old iTunes wrote them, plain frame sizes."""
    mutagen(path, out, 4, 1)
    data = bytearray(open(out, "rb").read())
    end, i = 10 + unsafe(data[6:10]), 10
    while plain and i + 10 <= end and data[i] != 0:
        size = unsafe(data[i + 4:i + 8])
        data[i + 4:i + 8] = size.to_bytes(4, "big")
        i += 10 + size
    data[5] |= flags
    open(out, "wb").write(bytes(data))


def empty_frames(path, out):
    t = id3.ID3()
    for f in (id3.PCNT(count=0), id3.POPM(email="", rating=0), id3.WOAF(url=""),
              id3.PCST(value=0), id3.TIT2(encoding=0, text="x")):
        t.add(f)
    t.save(out, v2_version=3)


u16 = lambda s: b"\x01\xff\xfe" + s.encode("utf-16-le")
REPEATED = [(b"TPE1", b"\0Enya"), (b"TPE1", b"\0Enya")] + [(b"TALB", u16("duplicate album"))] * 3 + \
    [(b"TRCK", b"\0" + n) for n in (b"1", b"2", b"99")]
NULS = [(b"TPE1", b"\0piman\0jzig"), (b"TCOM", b"\0" + b"\0".join(b"artist%d" % n for n in range(7))),
        (b"COMM", b"\0eng\0" + b"0\0")]
GROUPING = [(b"TT2", b"\0Song"), (b"GP1", b"\0Group"), (b"MVN", b"\0Movement"), (b"MVI", b"\0" + b"2"),
            (b"TCP", b"\0" + b"1"), (b"TST", b"\0Song, The"), (b"TS2", b"\0Band, The")]


def eyed3(path, out, version, enc):
    text = LATIN if enc == "latin1" else CJK
    run("eyeD3", "-Q", "--no-color", "--no-config", "--to-v" + version, "--encoding", enc,
        "-t", text, "-a", text, "-A", text, "--user-text-frame", "REPLAYGAIN_TRACK_GAIN:-6.80 dB",
        "--user-text-frame", "REPLAYGAIN_TRACK_PEAK:0.988", "--add-comment", text + "::eng",
        "--add-comment", " 00000A2B:iTunNORM:eng", "--add-lyrics", LYRICS + ":ly:eng",
        "--add-image", COVER + ":FRONT_COVER:" + ("cover" if enc == "latin1" else "封面"),
        "--add-popularity", "rater@example.org:128:5", "--unique-file-id", "owner:0d4b5c8e",
        "--add-object", LYRICS + ":text/plain:obj:l.txt", out)


def id3v2(path, out):
    run("id3v2", "-t", "Åsa 月亮", "-a", LATIN, "-A", "Album", "-c", "desc:text:eng", "--TXXX",
        "REPLAYGAIN_TRACK_GAIN:-6.80 dB", "--USLT", "la la", out)


def kid3(path, out, version, enc):
    cmds = ["config Tag.id3v2Version " + version, "config Tag.textEncoding " + enc,
            "select " + os.path.basename(out),
            "set title '%s'" % CJK, "set artist '歌手'", "set album '专辑'", "set comment cmt",
            "set picture:'%s' '封面'" % COVER, "set REPLAYGAIN_TRACK_GAIN '-6.80 dB'",
            "set REPLAYGAIN_TRACK_PEAK 0.988", "set rating 3", "set lyrics 'la la'", "save"]
    run("kid3-cli", *sum((["-c", c] for c in cmds), []), timeout=60, cwd=os.path.dirname(out),
        env=dict(os.environ, XDG_CONFIG_HOME=os.path.dirname(out) + "/.kid3",
                 QT_QPA_PLATFORM="offscreen"))


def ffmpeg(path, out, version):
    run("ffmpeg", "-v", "error", "-i", path, "-i", COVER, "-map", "0", "-map", "1", "-c", "copy",
        "-id3v2_version", version, "-metadata", "title=" + CJK, "-metadata", "artist=歌手",
        "-metadata", "album=Album", "-metadata", "comment=cmt", "-metadata",
        "REPLAYGAIN_TRACK_GAIN=-6.80 dB", "-metadata:s:v", "title=封面", "-metadata:s:v",
        "comment=Cover (front)", "-y", out)


CASES = [("mutagen-v2.3-latin1", mutagen, 3, 0), ("mutagen-v2.3-utf16", mutagen, 3, 1),
         ("mutagen-v2.4-latin1", mutagen, 4, 0), ("mutagen-v2.4-utf16", mutagen, 4, 1),
         ("mutagen-v2.4-utf16be", mutagen, 4, 2), ("mutagen-v2.4-utf8", mutagen, 4, 3),
         ("mutagen-v2.3-utf16-unsync-zlib", rebuild, 3, 1, True, False, (b"MCDI",)),
         ("mutagen-v2.4-utf16-unsync-zlib", rebuild, 4, 1, True, False, (b"MCDI",)),
         ("mutagen-v2.3-utf16-exthdr-zlib", rebuild, 3, 1, False, True, (b"TALB", b"APIC")),
         ("mutagen-v2.4-utf8-exthdr-zlib-footer", rebuild, 4, 3, False, True, (b"TALB", b"APIC"),
          True),
         ("itunes-v2.2-utf16", v22),
         ("eyed3-v2.3-latin1", eyed3, "2.3", "latin1"), ("eyed3-v2.3-utf16", eyed3, "2.3", "utf16"),
         ("eyed3-v2.4-latin1", eyed3, "2.4", "latin1"), ("eyed3-v2.4-utf8", eyed3, "2.4", "utf8"),
         ("eyed3-v2.4-utf16", eyed3, "2.4", "utf16"),
         ("eyed3-v2.4-utf16be", eyed3, "2.4", "utf16-be"), ("id3v2-v2.3", id3v2),
         ("kid3-id3lib-v2.3-latin1", kid3, "ID3v2_3_0", "TE_ISO8859_1"),
         ("kid3-id3lib-v2.3-utf16", kid3, "ID3v2_3_0", "TE_UTF16"),
         ("kid3-v2.4-latin1", kid3, "ID3v2_4_0", "TE_ISO8859_1"),
         ("kid3-v2.4-utf16", kid3, "ID3v2_4_0", "TE_UTF16"),
         ("kid3-v2.4-utf8", kid3, "ID3v2_4_0", "TE_UTF8"),
         ("ffmpeg-v2.3", ffmpeg, "3"), ("ffmpeg-v2.4", ffmpeg, "4"),
         ("none-no-tag", lambda path, out: None),
         ("handmade-v2.3-repeated-texts", handmade, 3, 0, REPEATED),
         ("handmade-v2.3-nul-separated", handmade, 3, 0, NULS),
         ("handmade-v2.3-padding-5", handmade, 3, 0, NULS, 5),
         ("mutagen-v2.3-empty-frames", empty_frames),
         ("itunes-v2.4-plain-sizes", retouched, 0, True),
         ("handmade-v2.4-exthdr-flag-without-header", retouched, 0x40, False),
         ("handmade-v2.4-footer-flag-without-footer", retouched, 0x10, False),
         ("itunes-v2.2-grouping", handmade, 2, 0, GROUPING)]


def make(folder):
    global JPEG, COVER, LYRICS
    os.makedirs(folder, exist_ok=True)
    base, COVER, LYRICS = (os.path.join(folder, n) for n in (".base.mp3", ".cover.jpg", ".l.txt"))
    run("ffmpeg", "-v", "error", "-f", "lavfi", "-i", "sine=f=440:sample_rate=8000:duration=0.15",
        "-c:a", "libmp3lame", "-b:a", "8k", "-write_xing", "0", "-id3v2_version", "0", "-y", base)
    run("ffmpeg", "-v", "error", "-f", "lavfi", "-i", "color=c=red:s=8x8", "-frames:v", "1",
        "-y", COVER)
    JPEG = open(COVER, "rb").read()
    open(LYRICS, "w").write("la la\nla")
    for name, maker, *args in CASES:  # each peer edits a copy of the bare audio
        shutil.copy(base, os.path.join(folder, name + ".mp3"))
        maker(base, os.path.join(folder, name + ".mp3"), *args)


def read_id3(path, **kw):
    try:
        return id3.ID3(path, load_v1=False, **kw)
    except id3.ID3NoHeaderError:  # a file without a tag: no frames
        return id3.ID3()


def meanings(path):
    """mutagen's view: every frame by its key, with every field except the text encoding."""
    return {key: {s.name: getattr(f, s.name, None) for s in f._framespec + f._optionalspec
                  if s.name != "encoding"} for key, f in read_id3(path).items()}


def taglib(path):
    lines = run(TAGLIB_READ, "--all", path).decode("utf-8", "replace").splitlines()
    skip = ("version=", "tag_size=", "TIT2=")
    return collections.Counter(l for l in lines if not l.startswith(skip))


pcm = lambda path: run("ffmpeg", "-v", "error", "-i", path, "-map", "0:a", "-f", "md5", "-")
short = lambda value, width=60: repr(value)[:width] + ("…" if len(repr(value)) > width else "")


def shown(tool, path, notes):
    """Faults in show's texts against what mutagen reads, frame by frame in file order. Comments,
    lyrics and TXXX are shown in a form of show's own: their description and text must be in it."""
    frames = json.loads(run(tool, "show", path))["id3v2"]["frames"]
    tag = read_id3(path, translate=False).values()
    name = lambda f: type(f).__mro__[1].__name__ if len(f.FrameID) == 3 else f.FrameID
    faults = []
    for exact, pick in ((True, lambda i: i[0] == "T" and i not in ("TXXX", "TPIC")),
                        (False, lambda i: i in ("COMM", "USLT", "TXXX"))):
        ours, theirs = [f for f in frames if pick(f["id"])], [m for m in tag if pick(name(m))]
        if exact:  # mutagen merges repeated text frames into one list of their distinct texts
            merged = {}
            for f in ours:
                merged.setdefault(f["id"], []).append(f)
            ours = [dict(fs[0], text="/".join(dict.fromkeys(f["text"] for f in fs)))
                    if len(fs) > 1 and None not in [f["text"] for f in fs] else fs[0]
                    for fs in merged.values()]
        if [f["id"] for f in ours] != [name(m) for m in theirs]:
            faults.append("show lists %s, mutagen %s" % ([f["id"] for f in ours],
                                                         [name(m) for m in theirs]))
            continue
        for f, m in zip(ours, theirs):
            texts = [m.text] if isinstance(m.text, str) else [str(t) for t in m.text]
            wanted = ["\0".join(texts), "/".join(texts)]  # v2.4 lists may be shown v2.3's way
            parts = [getattr(m, "desc", ""), wanted[0]]
            inside = lambda conv: all(conv(p) in f["text"] for p in parts)
            fits = lambda conv: f["text"] is not None and (
                f["text"] in map(conv, wanted) if exact else inside(conv))
            if fits(lambda t: t):
                continue
            if f["text"] is None and f.get("read_only"):
                notes.append("%s kept unread (%s)" % (f["id"], f["read_only"]))
            elif m.encoding == 0 and fits(lambda t: t.encode("latin-1").decode("gbk", "replace")):
                notes.append("%s Latin-1 shown as code page 936" % f["id"])
            else:
                faults.append("show %s %s, mutagen %s" % (
                    f["id"], short(f["text"], 40), short(wanted[0] if exact else parts, 40)))
    return faults


def compare(tool, path, work, totals, notes):
    """Faults of one file: show, then set TIT2 on a copy and compare every other frame."""
    faults = shown(tool, path, notes)
    copy = os.path.join(work, os.path.basename(path))
    shutil.copy(path, copy)
    done = subprocess.run([tool, "set", copy, "TIT2", "新标题", "--no-backup"],
                          capture_output=True, text=True)
    if done.returncode:
        totals["refused"] += 1
        return faults + ["set refused: " + done.stderr.strip().split(": ", 2)[-1][:90]]
    before, after = meanings(path), {}
    try:
        after = meanings(copy)
    except Exception as e:
        faults.append("mutagen cannot read the result: %s" % e)
    title = [f["text"] for f in json.loads(run(tool, "show", copy))["id3v2"]["frames"]
             if f["id"] == "TIT2"]
    faults += [] if title == ["新标题"] else ["TIT2 reads back as %s" % short(title)]
    lost = [k for k in before if k not in after]
    junk = [k for k in after if k not in before and k != "TIT2"]  # the title is ours
    for key in before:
        totals["frames compared"] += key != "TIT2"
        if key != "TIT2" and key in after and before[key] != after[key]:
            totals["changed"] += 1
            faults.append("%s changed: %s" % (key, ", ".join(
                "%s %s -> %s" % (n, short(v, 40), short(after[key].get(n), 40))
                for n, v in before[key].items() if after[key].get(n) != v)))
    totals.update({"lost": len(lost), "junk appeared": len(junk)})
    faults += ["lost " + ", ".join(map(short, lost))] if lost else []
    faults += ["appeared " + ", ".join(map(short, junk))] if junk else []
    old, new = taglib(path), taglib(copy)
    # A footer flag without a footer makes decoders skip 10 bytes of the original's audio.
    broken = "footer-flag-without-footer" in path
    if broken:
        old, new = ({l: n for l, n in c.items() if not l.startswith("length_ms=")}
                    for c in (old, new))
        old, new = collections.Counter(old), collections.Counter(new)
    if not any(l[:4].isupper() for l in old):
        notes.append("TagLib cannot read the original")
        old = new = collections.Counter()
    for what, lines in (("no longer sees", old - new), ("now sees", new - old)):
        faults += ["TagLib %s %s" % (what, ", ".join(map(short, lines)))] if lines else []
    if pcm(BASE if broken else path) != pcm(copy):
        faults.append("decoded audio changed")
    return faults


def check(tool, folder):
    global BASE
    BASE = os.path.join(folder, ".base.mp3")
    totals, failed = collections.Counter(), 0
    with tempfile.TemporaryDirectory() as work:
        for name in sorted(n for n in os.listdir(folder) if n.endswith(".mp3") and n[0] != "."):
            totals["files"] += 1
            notes = []
            try:
                faults = compare(tool, os.path.join(folder, name), work, totals, notes)
            except subprocess.CalledProcessError as e:
                faults = ["%s failed: %s" % (e.cmd[:2], e.stderr.decode(errors="replace")[:200])]
            failed += bool(faults)
            totals["notes"] += len(notes)
            print("%-40s %s" % (name, "; ".join(faults) if faults else "ok") +
                  (" (%s)" % "; ".join(notes) if notes else ""))
    keys = ("files", "frames compared", "changed", "lost", "junk appeared", "refused", "notes")
    print(", ".join("%s %d" % (k, totals[k]) for k in keys) + ", files with faults %d" % failed)
    return 1 if failed else 0


if __name__ == "__main__":
    if sys.argv[1:2] == ["make"] and len(sys.argv) == 3:
        make(sys.argv[2])
    elif sys.argv[1:2] == ["check"] and len(sys.argv) == 4:
        sys.exit(check(sys.argv[2], sys.argv[3]))
    else:
        sys.exit(__doc__)
