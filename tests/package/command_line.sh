#!/usr/bin/env bash
# The two programs' command lines as a user meets them over a plain terminal: no display, no
# session. --help and --version answer on standard output and exit 0 (the help within 80
# columns); anything else exits 2 with a one-line hint on standard error.
#   command_line.sh VOSTREL VOSTREL_SIM VERSION
set -euo pipefail
vostrel=$1 sim=$2 version=$3
fail() { echo "FAIL: $*" >&2; exit 1; }
out=$(mktemp) err=$(mktemp)
trap 'rm -f "$out" "$err"' EXIT
run() { env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM "$@" >"$out" 2>"$err"; }

run "$vostrel" --version || fail "vostrel --version exits $?: $(cat "$err")"
[[ "$(cat "$out")" == "vostrel $version" && ! -s "$err" ]] ||
  fail "vostrel --version says: $(cat "$out" "$err")"
for program in "$vostrel" "$sim"; do
  name=$(basename "$program")
  run "$program" --help || fail "$name --help exits $?: $(cat "$err")"
  [[ ! -s "$err" ]] || fail "$name --help writes to standard error: $(cat "$err")"
  wide=$(awk 'length > 79' "$out")
  [[ -z "$wide" ]] || fail "$name --help is wider than 80 columns: $wide"
  status=0
  run "$program" --no-such-option || status=$?
  [[ $status -eq 2 && ! -s "$out" && $(wc -l <"$err") -le 2 ]] &&
    grep -q -- "--help" "$err" || fail "$name --no-such-option exits $status: $(cat "$out" "$err")"
done
run "$vostrel" --help
for part in "port 5000" "~/vo_demo.txt" "~/vo_demo.kml" "man vostrel"; do
  grep -qF "$part" "$out" || fail "vostrel --help does not mention $part"
done
status=0
run "$vostrel" stray || status=$?
[[ $status -eq 2 && $(wc -l <"$err") -eq 1 ]] || fail "vostrel stray exits $status: $(cat "$err")"
echo "command lines checked"
