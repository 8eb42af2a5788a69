#!/usr/bin/env bash
# Time from start to the main window listing the applications of the demo database: the
# program logs in through the default login library, opens the system database, runs the
# self-update check, lists the applications, saves a screenshot and exits. The yardstick, run
# in turn with it: a bare Qt window that attaches the same database straight on the client
# library, lists the applications and saves a screenshot. Medians of 11 runs each, peak memory
# of the last run, and what storage the database is on.
set -euo pipefail
build=${1:-build}
bin="$build/bin/gatekeep"
bare="$build/bin/bench_bare_window"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export GATEKEEP_CONFIG_DIR="$work/config" GATEKEEP_ZORCFG="$work/ZorCfg.ini" QT_QPA_PLATFORM=offscreen
start=$(date +%s%N)
"$bin" --create-demo "$work/demo" >/dev/null
echo "demo created in $(( ($(date +%s%N) - start) / 1000000 )) ms"
db="$work/demo/sys.fdb"
echo "database on: $(df -T "$work" | awk 'NR==2 {print $2 " (" $1 ")"}')"

ms() { local s=$(date +%s%N); "$@" 2>/dev/null; echo $(( ($(date +%s%N) - s) / 1000000 )); }
prog=() yard=()
for _ in $(seq 1 11); do
  prog+=($(ms "$bin" --screenshot "$work/shot.png" admin gatekeep))
  test -s "$work/shot.png" || { echo "the program saved no screenshot" >&2; exit 1; }
  rm -f "$work/shot.png"
  yard+=($(ms "$bare" "$db" "$work/bare.png"))
  test -s "$work/bare.png" || { echo "the yardstick saved no screenshot" >&2; exit 1; }
  rm -f "$work/bare.png"
done
median() { printf '%s\n' "$@" | sort -n | sed -n 6p; }
p=$(median "${prog[@]}") y=$(median "${yard[@]}")
echo "program (ms): $(printf '%s\n' "${prog[@]}" | sort -n | tr '\n' ' ')"
echo "bare window (ms): $(printf '%s\n' "${yard[@]}" | sort -n | tr '\n' ' ')"
echo "median: program $p ms, bare window $y ms, ratio $(awk -v a="$p" -v b="$y" 'BEGIN {printf "%.2f", a / b}')"
peak() { /usr/bin/time -f %M "$@" 2>&1 >/dev/null | tail -n 1; }
echo "peak memory (KB): program $(peak "$bin" --screenshot "$work/shot.png" admin gatekeep), bare window $(peak "$bare" "$db" "$work/bare.png")"
