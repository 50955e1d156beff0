#!/usr/bin/env bash
# tools/show-build against stand-in builds: the step lines are shown as they
# come, a failing build shows what the compiler said and the command to
# build again and keeps its status, a good one shows no error.
#   show_build_check.sh <path of tools/show-build>
set -u
show=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "show-build: $*"; exit 1; }

cat >"$work/broken" <<'BUILD'
#!/bin/sh
echo "[1/2] Building CXX object a.o"
echo "FAILED: b.o"
echo "b.cpp:3:1: error: expected ';' before '}' token" >&2
exit 3
BUILD
cat >"$work/good" <<'BUILD'
#!/bin/sh
echo "[1/1] Linking CXX executable vkc"
echo "a note the build prints"
BUILD
chmod +x "$work/broken" "$work/good"

out=$("$show" "$work/broken" 2>&1); status=$?
[ "$status" -eq 3 ] || fail "a failed build ended $status, not 3"
grep -q '^  \[1/2\] Building CXX object a.o$' <<<"$out" || fail "no step line: $out"
grep -q "b.cpp:3:1: error: expected ';'" <<<"$out" || fail "the compiler's error is not shown: $out"
grep -q "^build again with: $work/broken$" <<<"$out" || fail "no command to build again: $out"
grep -q 'first build takes a few minutes' <<<"$out" || fail "no word on the first build: $out"

out=$("$show" "$work/good" 2>&1); status=$?
[ "$status" -eq 0 ] || fail "a good build ended $status"
grep -q '^  \[1/1\] Linking CXX executable vkc$' <<<"$out" || fail "no step line: $out"
! grep -q -e 'FAILED' -e 'a note the build prints' <<<"$out" || fail "a good build shows more than its steps: $out"
echo "show-build: all checks passed"
