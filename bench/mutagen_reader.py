#!/usr/bin/python3
# The mutagen peer of the tag benchmarks: reads the ID3v2, ID3v1 and APEv2 tags of each file
# given and prints one line per file, as bench/taglib_reader does.
import sys

from mutagen.apev2 import APEv2, APENoHeaderError
from mutagen.id3 import ID3, ID3NoHeaderError, ParseID3v1


def describe(path):
    parts = [path]
    try:
        tags = ID3(path, load_v1=False, translate=False)
        parts.append("id3v2 " + " ".join("%s=%s" % (k, tags[k]) for k in tags.keys()))
    except ID3NoHeaderError:
        pass
    with open(path, "rb") as f:
        f.seek(0, 2)
        if f.tell() >= 128:
            f.seek(-128, 2)
            v1 = ParseID3v1(f.read(128))
            if v1:
                parts.append("id3v1 " + " ".join("%s=%s" % (k, v) for k, v in v1.items()))
    try:
        ape = APEv2(path)
        parts.append("apev2 " + " ".join("%s=%s" % (k, v) for k, v in ape.items()))
    except APENoHeaderError:
        pass
    return "\t".join(parts)


for path in sys.argv[1:]:
    print(describe(path))
