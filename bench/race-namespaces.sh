#!/bin/bash
# Racing pairs of writers at one file, the second in a network namespace of its own (as in a
# container, a flatpak without network or a systemd service with PrivateNetwork): each pair sets
# TIT2 from both sides a random moment apart. Counts the pairs where a writer failed, the audio
# behind the tag is not whole, the tag holds neither text or the backup lost the audio. Run once
# for a report, as root (or where unprivileged namespaces are allowed):
#     bash bench/race-namespaces.sh [PAIRS] [QUILLON_TAGS]
set -u
pairs=${1:-1000}
tags=${2:-$(dirname "$0")/../build/cli/quillon-tags}
unshare -n true 2>/dev/null || { echo "unshare -n is not allowed here" >&2; exit 2; }
dir=$(mktemp -d /tmp/quillon-race-XXXXXX)
trap 'rm -rf "$dir"' EXIT
head -c 262144 /dev/urandom >"$dir/audio"
song="$dir/s.MP3"
failed=0 damaged=0 lost=0 backups=0
start=$(date +%s.%N)
for ((i = 0; i < pairs; i++)); do
    cp "$dir/audio" "$song" || exit 2
    "$tags" set "$song" TIT2 Song 2>/dev/null
    "$tags" set "$song" TIT2 AAAA 2>"$dir/e1" &
    first=$!
    sleep "0.00$((RANDOM % 10))"
    unshare -n "$tags" set "$song" TIT2 BBBB 2>"$dir/e2"
    second=$?
    wait $first
    if [ $? -ne 0 ] || [ $second -ne 0 ]; then
        failed=$((failed + 1))
        echo "pair $i: $(cat "$dir/e1" "$dir/e2")" >&2
    fi
    size=$(stat -c %s "$song" 2>/dev/null || echo 0)
    if ! cmp -s <(tail -c 262144 "$song" 2>/dev/null) "$dir/audio" || [ "$size" -ne $((262144 + 25)) ]; then
        damaged=$((damaged + 1))
    fi
    grep -qE '"text": "(AAAA|BBBB)"' <("$tags" show "$song" 2>/dev/null) || lost=$((lost + 1))
    cmp -s <(tail -c 262144 "$dir/sbak.MP3" 2>/dev/null) "$dir/audio" || backups=$((backups + 1))
done
end=$(date +%s.%N)
echo "$pairs pairs across two network namespaces in $(echo "$end - $start" | bc) s:" \
    "$failed with a failed writer, $damaged damaged, $lost with neither text, $backups bad backups"
[ $((failed + damaged + lost + backups)) -eq 0 ]
