#!/usr/bin/env bash
# tools/check-layering on small trees: a downward include passes, an upward
# one fails naming the file, its line and both folders, and a folder outside
# the order is reported.
set -u
check="$1"
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
fail() { echo "FAIL: $*"; exit 1; }

mkdir -p "$tmp/src/runtime" "$tmp/src/gfx"
printf '#pragma once\n' > "$tmp/src/runtime/low.h"
printf '#pragma once\n#include "low.h"\n' > "$tmp/src/gfx/high.h"
printf '#include <stdio.h>\n#include "high.h"\n#include "lua.h"\n' > "$tmp/src/gfx/draw.cpp"
"$check" "$tmp/src" 2>"$tmp/out" || fail "a clean tree was refused: $(cat "$tmp/out")"

printf '// one line\n#include "high.h"\n' > "$tmp/src/runtime/bad.cpp"
if "$check" "$tmp/src" 2>"$tmp/out"; then fail "an upward include passed"; fi
grep -q 'src/runtime/bad.cpp:2: runtime includes "high.h" of gfx' "$tmp/out" \
  || fail "the report does not name the file, line and folders: $(cat "$tmp/out")"
rm "$tmp/src/runtime/bad.cpp"

printf '#include "../gfx/high.h"\n' > "$tmp/src/runtime/relative.h"
if "$check" "$tmp/src" 2>"$tmp/out"; then fail "an upward include by relative path passed"; fi
grep -q 'src/runtime/relative.h:1' "$tmp/out" || fail "relative include not named: $(cat "$tmp/out")"
rm "$tmp/src/runtime/relative.h"

mkdir -p "$tmp/src/stray"
printf 'int x;\n' > "$tmp/src/stray/x.cpp"
if "$check" "$tmp/src" 2>"$tmp/out"; then fail "a folder outside the order passed"; fi
grep -q 'stray' "$tmp/out" || fail "the stray folder is not named: $(cat "$tmp/out")"
echo "check-layering self-test: ok"
