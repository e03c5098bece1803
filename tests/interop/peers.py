#!/usr/bin/python3
"""mutagen as a peer of the interoperability tests: writes tags the way other programs do and
reports what a standard reader sees in a file, as JSON on stdout.

  peers.py id3 FILE VERSION JPEG     write ID3v2.VERSION (3 or 4) with texts, comment, lyrics
                                     and a front cover
  peers.py ape FILE                  append an APEv2 tag
  peers.py dump FILE                 what mutagen reads: ID3v2 frames, APEv2 items, audio
  peers.py view FILE                 the same as "key=value" lines: version, size, one line per
                                     frame (ID=text, pieces joined by "|"; COMM:lang:desc=text;
                                     APIC=mime|type|desc|hex of the picture), ape:KEY=value
"""
import json
import sys

from mutagen.apev2 import APEv2
from mutagen.id3 import APIC, COMM, ID3, TALB, TIT2, TPE1, TRCK, TXXX, USLT
from mutagen.mp3 import MP3


def write_id3(path, version, jpeg_path):
    with open(jpeg_path, "rb") as f:
        jpeg = f.read()
    # Version 2.4 says UTF-8 (3), version 2.3 only knows Latin-1 and UTF-16.
    text = 3 if version == 4 else 0
    tag = ID3()
    tag.add(TIT2(encoding=text, text="Song"))
    tag.add(TPE1(encoding=1, text="Artist"))
    tag.add(TALB(encoding=text, text="Album"))
    tag.add(TRCK(encoding=0, text="3/12"))
    tag.add(COMM(encoding=0, lang="eng", desc="d", text="hi"))
    tag.add(USLT(encoding=0, lang="eng", desc="", text="la la"))
    tag.add(TXXX(encoding=0, desc="key", text="value"))
    tag.add(APIC(encoding=0, mime="image/jpeg", type=3, desc="cover", data=jpeg))
    tag.save(path, v2_version=version)


def write_ape(path):
    tag = APEv2()
    tag["Title"] = "Song"
    tag["Artist"] = "\u827a\u672f\u5bb6"  # UTF-8 text that code page 936 holds
    tag["Album"] = "Album"
    tag["Track"] = "7"
    tag["Year"] = "2024"
    tag.save(path)


def dump(path):
    out = {"id3": None, "ape": None}
    try:
        tag = ID3(path)
        frames = []
        for frame in tag.values():
            entry = {"id": frame.FrameID}
            if frame.FrameID == "APIC":
                entry.update(mime=frame.mime, type=int(frame.type), desc=frame.desc,
                             data=frame.data.hex())
            elif frame.FrameID in ("COMM", "USLT"):
                entry.update(lang=frame.lang, desc=frame.desc, text=str(frame.text if
                             frame.FrameID == "USLT" else frame.text[0]))
            elif hasattr(frame, "text"):
                entry.update(text=[str(t) for t in frame.text])
                if hasattr(frame, "desc"):
                    entry.update(desc=frame.desc)
            else:
                entry.update(data=frame._writeData().hex())
            frames.append(entry)
        out["id3"] = {"version": list(tag.version), "size": tag.size, "frames": frames}
    except Exception as e:  # no tag, or one mutagen rejects
        out["id3_error"] = type(e).__name__ + ": " + str(e)
    try:
        ape = APEv2(path)
        out["ape"] = {k: str(v) for k, v in ape.items()}
    except Exception:
        pass
    try:
        info = MP3(path).info
        out["audio"] = {"length": info.length, "bitrate": info.bitrate,
                        "sample_rate": info.sample_rate, "sketchy": info.sketchy}
    except Exception as e:
        out["audio_error"] = type(e).__name__ + ": " + str(e)
    json.dump(out, sys.stdout, sort_keys=True)


def view(path):
    lines = []
    try:
        tag = ID3(path)
        lines.append("version=%d.%d" % tuple(tag.version[:2]))
        lines.append("size=%d" % tag.size)
        for frame in tag.values():
            fid = frame.FrameID
            if fid == "APIC":
                lines.append("APIC=%s|%d|%s|%s" % (frame.mime, int(frame.type), frame.desc,
                                                   frame.data.hex()))
            elif fid in ("COMM", "USLT"):
                text = frame.text if fid == "USLT" else "|".join(str(t) for t in frame.text)
                lines.append("%s:%s:%s=%s" % (fid, frame.lang, frame.desc, text))
            elif hasattr(frame, "text"):
                lines.append("%s=%s" % (fid, "|".join(str(t) for t in frame.text)))
            else:
                lines.append("%s=<%d bytes>" % (fid, len(frame._writeData())))
    except Exception as e:
        lines.append("id3_error=" + type(e).__name__)
    try:
        for k, v in APEv2(path).items():
            lines.append("ape:%s=%s" % (k, v))
    except Exception:
        pass
    sys.stdout.write("".join(line + "\n" for line in lines))


def main():
    cmd = sys.argv[1]
    if cmd == "id3":
        write_id3(sys.argv[2], int(sys.argv[3]), sys.argv[4])
    elif cmd == "ape":
        write_ape(sys.argv[2])
    elif cmd == "dump":
        dump(sys.argv[2])
    elif cmd == "view":
        view(sys.argv[2])
    else:
        sys.exit("unknown command " + cmd)


if __name__ == "__main__":
    main()
