#!/usr/bin/env bash
# The level-object check on planted objects: an inline function left out of
# line and a static initialiser are reported; a unit with only local code
# passes.
set -euo pipefail
check=$1 cxx=$2
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT

cat > "$dir/clean.cpp" <<'CPP'
namespace { int twice(int x) { return 2 * x; } }
int level_table(int x) { return twice(x) + 1; }
CPP
cat > "$dir/weak.cpp" <<'CPP'
inline int twice(int x) { return 2 * x; }
int level_table(int x) { return twice(x) + 1; }
CPP
cat > "$dir/init.cpp" <<'CPP'
int made();
int level_table_value = made();
CPP
for unit in clean weak init; do "$cxx" -O0 -c "$dir/$unit.cpp" -o "$dir/$unit.o"; done

"$check" "$dir/clean.o" > /dev/null || { echo "a clean object was reported"; exit 1; }
if out=$("$check" "$dir/weak.o"); then echo "an out-of-line inline function passed"; exit 1; fi
grep -q 'twice(int)' <<< "$out" || { echo "the report does not name the function: $out"; exit 1; }
if "$check" "$dir/init.o" > /dev/null; then echo "a static initialiser passed"; exit 1; fi
echo "check-level-objects reports both kinds"
