#!/bin/sh
# Size report of loader.exe: its size against the 64 KiB budget, its sections,
# its resources by type and name, and the DLLs it imports.
#
#   scripts/size_report.sh [path/to/loader.exe]     (default: build/win32/loader.exe)
#
# Needs objdump for PE files (binutils-mingw-w64-i686). Exit status: 0, 1 when
# the file or objdump is missing, 2 when the program is over budget.
set -eu

root=$(cd "$(dirname "$0")/.." && pwd)
exe=${1:-$root/build/win32/loader.exe}
budget=65536

if [ ! -f "$exe" ]; then
  echo "size_report: $exe not found; build it with: cmake --preset win32 && cmake --build --preset win32" >&2
  exit 1
fi

if command -v i686-w64-mingw32-objdump >/dev/null 2>&1; then
  objdump=i686-w64-mingw32-objdump
elif command -v objdump >/dev/null 2>&1 && objdump -i 2>/dev/null | grep -q pei-i386; then
  objdump=objdump
else
  echo "size_report: no objdump for PE files; install binutils-mingw-w64-i686" >&2
  exit 1
fi

kib() { awk -v b="$1" 'BEGIN { printf "%.1f KiB", b / 1024 }'; }

size=$(wc -c < "$exe" | tr -d ' ')
echo "$exe"
echo "  size:   $size bytes ($(kib "$size"))"
echo "  budget: $budget bytes ($(kib $budget)), $((budget - size)) bytes left"

echo
echo "Sections (bytes of content; the file pads each one to its alignment):"
"$objdump" -h "$exe" | awk '
  function hex(s,  i, n) {  # mawk has no strtonum
    s = tolower(s); sub(/^0x/, "", s); n = 0
    for (i = 1; i <= length(s); i++) n = n * 16 + index("0123456789abcdef", substr(s, i, 1)) - 1
    return n
  }
  $1 ~ /^[0-9]+$/ && NF >= 7 { name = $2; size = hex($3); next }
  name != "" {   # the flags line under each section
    if ($0 ~ /CONTENTS/) { printf "  %-10s %8d\n", name, size; total += size }
    else printf "  %-10s %8d  (not in the file)\n", name, size
    name = ""
  }
  END { printf "  %-10s %8d\n", "total", total }'

echo
echo "Resources (data bytes, without the resource directory):"
"$objdump" -p "$exe" | awk '
  function hex(s,  i, n) {  # mawk has no strtonum
    s = tolower(s); sub(/^0x/, "", s); n = 0
    for (i = 1; i <= length(s); i++) n = n * 16 + index("0123456789abcdef", substr(s, i, 1)) - 1
    return n
  }
  function typename(id) {
    if (id == 3) return "RT_ICON"; if (id == 5) return "RT_DIALOG"
    if (id == 10) return "RT_RCDATA"; if (id == 14) return "RT_GROUP_ICON"
    if (id == 16) return "RT_VERSION"; if (id == 24) return "RT_MANIFEST"
    return "type " id
  }
  function entry(line) {   # the ID or the name of a directory entry
    if (match(line, /ID: 0x[0-9a-fA-F]+/)) return hex(substr(line, RSTART + 4, RLENGTH - 4))
    if (match(line, /\]: [^,]+,/)) return substr(line, RSTART + 3, RLENGTH - 4)
    return "?"
  }
  /The \.rsrc Resource Directory section/ { inside = 1; next }
  !inside { next }
  /^[0-9a-f]+   Entry:/    { type = entry($0); next }      # level 1: type
  /^[0-9a-f]+     Entry:/  { name = entry($0); next }      # level 2: name or id
  /Leaf: Addr:/ {
    match($0, /Size: 0x[0-9a-fA-F]+/); size = hex(substr($0, RSTART + 6, RLENGTH - 6))
    t = (type ~ /^[0-9]+$/) ? typename(type) : "\"" type "\""
    printf "  %-14s %-10s %8d\n", t, name, size
    if (!(t in bytype)) order[++types] = t
    bytype[t] += size; total += size
  }
  /^$/ && inside && total { inside = 0 }
  END {
    if (!total) { print "  (none)"; exit }
    printf "  %-25s %8d\n", "total", total
    for (i = 1; i <= types; i++) printf "    %-23s %8d\n", order[i], bytype[order[i]]
  }'

echo
echo "Imported DLLs:"
"$objdump" -p "$exe" | awk '/DLL Name:/ { print "  " $3; n++ } END { if (!n) print "  (none)" }'

if [ "$size" -gt "$budget" ]; then
  echo
  echo "OVER BUDGET by $((size - budget)) bytes" >&2
  exit 2
fi
