#!/usr/bin/env bash
# vks holds none of the functions and data the client library defines: the
# build links it without that library (a reference to it would fail to link).
# Usage: vks_symbols_check.sh VKS LIBCLIENT
set -euo pipefail
vks=$1 client=$2
command -v nm >/dev/null || { echo "nm not found"; exit 1; }
# Global definitions of the client library (text, data, read-only data, bss).
nm --defined-only --extern-only "$client" 2>/dev/null | awk 'NF == 3 && $2 ~ /^[TDRB]$/ { print $3 }' | sort -u >"${TMPDIR:-/tmp}/client_syms.$$"
nm --defined-only "$vks" | awk 'NF == 3 { print $3 }' | sort -u >"${TMPDIR:-/tmp}/vks_syms.$$"
both=$(comm -12 "${TMPDIR:-/tmp}/client_syms.$$" "${TMPDIR:-/tmp}/vks_syms.$$")
count=$(wc -l <"${TMPDIR:-/tmp}/client_syms.$$")
rm -f "${TMPDIR:-/tmp}/client_syms.$$" "${TMPDIR:-/tmp}/vks_syms.$$"
[ "$count" -gt 0 ] || { echo "no symbols read from $client"; exit 1; }
if [ -n "$both" ]; then
  echo "vks holds symbols of the client library:"
  printf '%s\n' "$both" | head -20
  exit 1
fi
echo "vks holds none of the client library's $count symbols"
