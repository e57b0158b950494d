#!/usr/bin/env bash
# Runs a Windows program under Wine, headless, in a Wine prefix of the build
# tree's own:
#   scripts/wine-run.sh <prefix directory> <program> [arguments...]
# The prefix is made on first use (under a lock, since CTest starts several
# programs at once). The Wine server stays up for a minute after the last
# program ends, so that a test run does not start it anew for every test;
# `WINEPREFIX=<prefix> wineserver -k` ends it at once. The program's exit
# status, standard output and standard error come through unchanged, the
# output once the program has ended.
set -euo pipefail
if [[ $# -lt 2 ]]; then
  echo "usage: $0 <prefix directory> <program> [arguments...]" >&2
  exit 2
fi
export WINEPREFIX=$1
shift
unset DISPLAY WAYLAND_DISPLAY
export WINEDEBUG=-all
# No downloads or dialogs for the .NET and HTML engines a new prefix asks for.
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
mkdir -p "$WINEPREFIX"
(
  flock 9
  if [[ ! -f "$WINEPREFIX/.morv-ready" ]]; then
    wineboot -i </dev/null >/dev/null 2>&1
    wineserver -w
    touch "$WINEPREFIX/.morv-ready"
  fi
) 9>"$WINEPREFIX.lock"
# Fails harmlessly when the server is already up.
wineserver -p60 </dev/null >/dev/null 2>&1 || true
# The system's own processes that Wine starts with a program (services,
# devices) inherit its standard streams and outlive it: a pipe given to the
# program would stay open after it ended, and whoever reads it would wait for
# them. So the program writes to files, passed on when it has ended.
out=$(mktemp)
err=$(mktemp)
trap 'rm -f "$out" "$err"' EXIT
status=0
wine "$@" >"$out" 2>"$err" || status=$?
cat "$out"
cat "$err" >&2
exit "$status"
