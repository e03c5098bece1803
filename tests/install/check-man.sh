#!/usr/bin/env bash
# Checks the manual pages written at build time: groff reads them without a warning, man-db
# finds their NAME line, and they say what --help says (both come from one text).
# check-man.sh BUILD_DIR
set -euo pipefail
build=$1
tags=$build/cli/quillon-tags
editor=$build/app/quillon
mandir=$build/data/man
fail() { echo "FAIL: $*"; exit 1; }

# Collapses the whitespace of stdin into single blanks: one long line.
flat() { tr -s ' \t\n' '   ' | sed 's/^ //; s/ $//'; }

# The rendered page as one long line of text.
render() { MANWIDTH=4000 man -l "$1" 2>/dev/null | col -b | flat; }

# Every paragraph of the description and every option term of a --help text must be in `page`.
same_text() {
  local help=$1 page=$2 what=$3 para
  # Description paragraphs: between the usage lines and the first "Section:" heading.
  while IFS= read -r para; do
    [ -n "$para" ] || continue
    [[ "$page" == *"$para"* ]] || fail "$what: the manual lacks: $para"
  done < <(printf '%s\n' "$help" | awk '
    /^[A-Z][A-Za-z ]*:$/ { exit }
    NR == 1 || /^ / && !started { next }
    /^$/ { if (p != "") print p; p = ""; started = 1; next }
    { started = 1; p = (p == "" ? $0 : p " " $0) }
    END { if (p != "") print p }')
  local option
  while IFS= read -r option; do
    [[ "$page" == *"$option"* ]] || fail "$what: the manual lacks the option: $option"
  done < <(printf '%s\n' "$help" | awk '
    /^Options:$/ { on = 1; next }
    /^$/ { on = 0 }
    !on { next }
    /^  [^ ]/ { if (o != "") print o; o = "" }
    { line = $0; gsub(/  +/, " ", line); sub(/^ /, "", line); o = (o == "" ? line : o " " line) }
    END { if (o != "") print o }')
}

for page in quillon-tags quillon; do
  src=$mandir/$page.1
  [ -f "$src" ] || fail "$src missing"
  [ -f "$src.gz" ] || fail "$src.gz missing"
  cmp -s <(gzip -dc "$src.gz") "$src" || fail "$src.gz is not $src compressed"
  warnings=$(groff -man -Tutf8 -ww -z "$src" 2>&1)
  [ -z "$warnings" ] || fail "groff warns about $page.1: $warnings"
  name=$(lexgrog "$src.gz") || fail "lexgrog cannot read $page.1"
  [[ "$name" == *"\"$page - "* ]] || fail "NAME line of $page.1: $name"
  # At 80 columns nothing sticks out of the right margin.
  width=$(MANWIDTH=80 man -l "$src" 2>/dev/null | col -b | LC_ALL=C.UTF-8 wc -L)
  [ "$width" -le 80 ] || fail "$page.1 has lines $width columns wide"
done

tagsPage=$(render "$mandir/quillon-tags.1")
same_text "$("$tags" --help)" "$tagsPage" "quillon-tags --help"
for command in show set add delete strip embed; do
  help=$("$tags" "$command" --help)
  same_text "$help" "$tagsPage" "quillon-tags $command --help"
  usage=$(printf '%s\n' "$help" | awk '/^$/ { exit } { print }' | sed 's/^Usage: //' | flat)
  [[ "$tagsPage" == *"SYNOPSIS"*"$usage"*"DESCRIPTION"* ]] ||
    fail "the synopsis lacks: $usage"
done

# The editor answers --help before it starts Qt, so it needs no display for it.
help=$(env -u DISPLAY -u WAYLAND_DISPLAY QT_QPA_PLATFORM=xcb "$editor" --help) ||
  fail "quillon --help failed without a display"
[[ "$help" == "Usage: quillon"* ]] || fail "quillon --help: $help"
same_text "$help" "$(render "$mandir/quillon.1")" "quillon --help"
echo "manual pages ok"
