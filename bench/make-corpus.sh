#!/usr/bin/env bash
# Makes the benchmark corpus in DIR (default /tmp/quillon-corpus), once:
#   DIR/files/0000.mp3 .. 0999.mp3  real MP3 files of 2 to 5 seconds encoded by lame, tagged in a
#                                   mix by mutagen, eyeD3 and id3v2: ten text frames each, some
#                                   comments, some 20-60 KB covers, some ID3v1 and APEv2 tags;
#   DIR/big/200mb.mp3, 20mb.mp3     long files with a tag that has no padding to spare, for the
#                                   rewrite benchmark.
# The tools come from tools/install-bench-deps.sh. Nothing here goes into git.
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
dir="${1:-/tmp/quillon-corpus}"
count="${QUILLON_CORPUS_FILES:-1000}"
stamp="$dir/.complete-v1-$count"
if [ -e "$stamp" ]; then
  echo "corpus ready in $dir"
  exit 0
fi
for tool in sox lame cjpeg id3v2 /usr/bin/python3; do
  command -v "$tool" >/dev/null || { echo "missing $tool: run tools/install-bench-deps.sh" >&2; exit 1; }
done
rm -rf "$dir"
mkdir -p "$dir/work" "$dir/files" "$dir/big"
work="$dir/work"

# Twelve slightly different recordings and encodings; the files copy them round robin.
echo "encoding the audio"
variant=0
for seconds in 2 3 4 5; do
  for rate in 96 128 192; do
    freq=$((220 + variant * 37))
    sox -n -r 44100 -c 2 "$work/v$variant.wav" synth "$seconds" sine "$freq" sine "$((freq * 3 / 2))" \
      tremolo 5 40 gain -6
    lame --quiet --noreplaygain -b "$rate" "$work/v$variant.wav" "$work/v$variant.mp3"
    rm "$work/v$variant.wav"
    variant=$((variant + 1))
  done
done

# Covers of 20 to 60 KB: noise over a gradient, so JPEG cannot squeeze them much.
echo "drawing the covers"
/usr/bin/python3 - "$work" <<'PY'
import os, random, subprocess, sys
work = sys.argv[1]
rnd = random.Random(8)
def cover(path, side, noise):
    head = b"P6 %d %d 255\n" % (side, side)
    px = bytearray()
    for y in range(side):
        for x in range(side):
            n = rnd.randrange(noise)
            px += bytes(((x * 255 // side + n) & 255, (y * 255 // side + n) & 255, (128 + n) & 255))
    with open(path + ".ppm", "wb") as f:
        f.write(head + px)
    subprocess.run(["cjpeg", "-quality", "80", "-outfile", path, path + ".ppm"], check=True)
    os.remove(path + ".ppm")
    return os.path.getsize(path)
for k, target in enumerate(range(20, 61, 8)):
    side = 160
    for _ in range(8):  # settle the side length on the size wanted
        size = cover(os.path.join(work, "cover%d.jpg" % k), side, 48)
        if abs(size - target * 1024) < 2048:
            break
        side = max(32, int(side * (target * 1024 / size) ** 0.5))
    print("cover%d.jpg %d bytes" % (k, size))
PY

echo "tagging $count files"
/usr/bin/python3 - "$work" "$dir/files" "$count" <<'PY'
import os, random, shutil, subprocess, sys
import eyed3
from mutagen.apev2 import APEv2
from mutagen.id3 import (ID3, APIC, COMM, TALB, TCOM, TCON, TDRC, TENC, TIT2, TPE1, TPE2, TPOS,
                         TRCK, Encoding)

work, out, count = sys.argv[1], sys.argv[2], int(sys.argv[3])
rnd = random.Random(8)
covers = sorted(os.path.join(work, f) for f in os.listdir(work) if f.startswith("cover"))
variants = sorted(os.path.join(work, f) for f in os.listdir(work) if f.endswith(".mp3"))
genres = ["Rock", "Pop", "Jazz", "Classical", "Folk", "Electronic"]

def texts(i):
    chinese = i % 5 == 0
    title = ("歌曲 %04d" % i) if chinese else ("Song %04d" % i)
    artist = ("歌手 %d" % (i % 37)) if chinese else ("Artist %d" % (i % 37))
    return {
        "TIT2": title, "TPE1": artist, "TALB": "Album %d" % (i % 53), "TRCK": "%d/20" % (i % 20 + 1),
        "TCON": genres[i % len(genres)], "TPE2": "Band %d" % (i % 11), "TCOM": "Composer %d" % (i % 7),
        "TPOS": "1/1", "TENC": "lame 3.100", "TDRC": str(1980 + i % 40),
    }

def version_of(i):
    # Most files carry ID3v2.3 (what the editor writes); one in five ID3v2.4.
    return 4 if i % 30 >= 24 else 3

def tag_mutagen(path, i, t, comment, cover):
    version = version_of(i)
    wide = Encoding.UTF16 if version == 3 else Encoding.UTF8
    tags = ID3()
    classes = dict(TIT2=TIT2, TPE1=TPE1, TALB=TALB, TRCK=TRCK, TCON=TCON, TPE2=TPE2, TCOM=TCOM,
                   TPOS=TPOS, TENC=TENC, TDRC=TDRC)
    for key, text in t.items():
        enc = Encoding.LATIN1 if text.isascii() else wide
        tags.add(classes[key](encoding=enc, text=[text]))
    if comment:
        tags.add(COMM(encoding=Encoding.LATIN1, lang="eng", desc="", text=[comment]))
    if cover:
        with open(cover, "rb") as f:
            tags.add(APIC(encoding=Encoding.LATIN1, mime="image/jpeg", type=3, desc="", data=f.read()))
    tags.save(path, v2_version=version, v1=2 if i % 4 == 1 else 0)

def tag_eyed3(path, i, t, comment, cover):
    audio = eyed3.load(path)
    v4 = version_of(i) == 4
    audio.initTag(version=eyed3.id3.ID3_V2_4 if v4 else eyed3.id3.ID3_V2_3)
    tag = audio.tag
    for key, text in t.items():
        if key == "TDRC":
            tag.recording_date = eyed3.core.Date(int(text))
        else:
            tag.setTextFrame(key.encode(), text)
    if comment:
        tag.comments.set(comment)
    if cover:
        with open(cover, "rb") as f:
            tag.images.set(3, f.read(), "image/jpeg")
    tag.save(version=tag.version, encoding="utf8" if v4 else "utf16")

def tag_id3v2(path, i, t, comment, cover):
    # id3v2 writes an ID3v2.3 tag and an ID3v1 block; it takes no pictures.
    args = ["id3v2", "-t", t["TIT2"], "-a", t["TPE1"], "-A", t["TALB"], "-T", t["TRCK"],
            "-g", "%d" % (i % 80), "-y", t["TDRC"], "--TPE2", t["TPE2"], "--TCOM", t["TCOM"],
            "--TPOS", t["TPOS"], "--TENC", t["TENC"]]
    if comment:
        args += ["-c", comment]
    subprocess.run(args + [path], check=True, stdout=subprocess.DEVNULL)

for i in range(count):
    path = os.path.join(out, "%04d.mp3" % i)
    shutil.copyfile(variants[i % len(variants)], path)
    t = texts(i)
    comment = ("Comment for file %d, " % i) * (1 + i % 4) if i % 3 == 0 else None
    cover = covers[i % len(covers)] if i % 10 in (0, 3, 6) else None
    kind = i % 10
    if kind <= 5:
        tag_mutagen(path, i, t, comment, cover)
    elif kind <= 7:
        tag_eyed3(path, i, t, comment, cover)
    else:
        tag_id3v2(path, i, t, comment, cover)
    if i % 7 == 0:
        ape = APEv2()
        for key, value in (("Title", t["TIT2"]), ("Artist", t["TPE1"]), ("Album", t["TALB"]),
                           ("Year", t["TDRC"]), ("Track", str(i % 20 + 1)), ("Genre", t["TCON"]),
                           ("Comment", comment or "")):
            if value:
                ape[key] = value
        ape.save(path)  # goes in front of an ID3v1 block when there is one
PY

# The floor of a reader: the bytes of each file's tags alone (the ID3v2 tag at the head, the APEv2
# tag and ID3v1 block at the end), each in a file of its own for `cat`.
echo "cutting out the tag bytes"
mkdir -p "$dir/tagbytes"
/usr/bin/python3 - "$dir/files" "$dir/tagbytes" <<'PY'
import os, struct, sys
src, dst = sys.argv[1], sys.argv[2]
for name in sorted(os.listdir(src)):
    with open(os.path.join(src, name), "rb") as f:
        data = f.read()
    head = 0
    if data[:3] == b"ID3":
        b = data[6:10]
        head = 10 + ((b[0] << 21) | (b[1] << 14) | (b[2] << 7) | b[3]) + (10 if data[5] & 0x10 else 0)
    tail = 128 if data[-128:-125] == b"TAG" else 0
    footer = data[len(data) - tail - 32:len(data) - tail]
    if footer[:8] == b"APETAGEX":
        size, count, flags = struct.unpack("<III", footer[12:24])
        tail += size + (32 if flags & 0x80000000 else 0)
    with open(os.path.join(dst, name[:-4] + ".tag"), "wb") as f:
        f.write(data[:head] + data[len(data) - tail:])
PY

# The long files: one recording repeated to the size, a tag without spare padding.
echo "making the long files"
/usr/bin/python3 - "$work" "$dir/big" <<'PY'
import os, sys
from mutagen.id3 import ID3, APIC, TALB, TIT2, TPE1, Encoding
work, big = sys.argv[1], sys.argv[2]
with open(os.path.join(work, "v4.mp3"), "rb") as f:
    audio = f.read()
with open(os.path.join(work, "cover3.jpg"), "rb") as f:
    cover = f.read()
for name, mb in (("200mb.mp3", 200), ("20mb.mp3", 20)):
    path = os.path.join(big, name)
    with open(path, "wb") as f:
        left = mb * 1000 * 1000
        while left > 0:
            piece = audio[:left]
            f.write(piece)
            left -= len(piece)
    tags = ID3()
    tags.add(TIT2(encoding=Encoding.LATIN1, text=["Long recording"]))
    tags.add(TPE1(encoding=Encoding.LATIN1, text=["Artist"]))
    tags.add(TALB(encoding=Encoding.LATIN1, text=["Album"]))
    tags.add(APIC(encoding=Encoding.LATIN1, mime="image/jpeg", type=3, desc="", data=cover))
    tags.save(path, v2_version=3, padding=lambda info: 0)
    print(name, os.path.getsize(path), "bytes")
PY

rm -rf "$work"
touch "$stamp"
du -sh "$dir/files" "$dir/tagbytes" "$dir/big"
