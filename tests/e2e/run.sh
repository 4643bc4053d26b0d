#!/usr/bin/env bash
# End to end, as a new user would run it: the installed program under a virtual X display
# with a real window manager and a scratch HOME, "Start Tracking" pressed with the Return key,
# a simulated tracker sending 20 reports, a second tracker refused meanwhile, a malformed
# report's notice dismissed with the keyboard, a tracker whose link dies silently every 20
# reports. Window titles are read as the window manager shows them.
#   run.sh PREFIX TRACKLINES SCREENSHOT
set -euo pipefail
prefix=$1 tracklines=$2 screenshot=$3

work=$(mktemp -d /tmp/vostrel-e2e-XXXXXX)
export HOME=$work/home
mkdir -p "$HOME"
# As a desktop session has it.
export XDG_RUNTIME_DIR=$work/runtime
mkdir -m 700 "$XDG_RUNTIME_DIR"
pid=""
cleanup() {
  # Wait until the program is gone: it holds port 5000, which the next test needs.
  if [[ -n "$pid" ]] && kill "$pid" 2>/dev/null; then
    (sleep 10; kill -9 "$pid" 2>/dev/null) &
    wait "$pid" 2>/dev/null || true
    kill $! 2>/dev/null || true
  fi
  rm -rf "$work"
}
trap cleanup EXIT
fail() {
  echo "FAIL: $*" >&2
  [[ -f "$work/app.log" ]] && tail -20 "$work/app.log" "$work/app.err" >&2
  exit 1
}

# The window manager, ready once it announces itself on the root window (on a busy machine
# that can take a while).
openbox --sm-disable >"$work/openbox.log" 2>&1 &
for _ in $(seq 1 300); do
  xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q 'window id' && break
  sleep 0.1
done
xprop -root _NET_SUPPORTING_WM_CHECK | grep -q 'window id' ||
  fail "openbox did not start: $(tail -5 "$work/openbox.log")"

# The title a window manager shows: _NET_WM_NAME, exactly.
title_is() {
  local shown
  shown=$(xprop -id "$1" _NET_WM_NAME)
  [[ "$shown" == "_NET_WM_NAME(UTF8_STRING) = \"$2\"" ]] || fail "title of $1: $shown, not \"$2\""
}

"$prefix/bin/vostrel" >"$work/app.log" 2>"$work/app.err" &
pid=$!

# The main window appears once the globe viewer is ready.
wid=""
for _ in $(seq 1 240); do
  wid=$(xdotool search --onlyvisible --name '^Vostrel GPRS Demo \(TCP\) $' 2>/dev/null | head -1) || true
  [[ -n "$wid" ]] && break
  kill -0 "$pid" 2>/dev/null || fail "the program ended during start-up"
  sleep 0.5
done
[[ -n "$wid" ]] || fail "the main window did not appear"
title_is "$wid" "Vostrel GPRS Demo (TCP) "
globe=$(xdotool search --onlyvisible --name '^Globe Viewer$' | head -1)
[[ -n "$globe" ]] || fail "no globe viewer window"
title_is "$globe" "Globe Viewer"

# "Start Tracking" has the focus: the Return key presses it.
xdotool windowactivate --sync "$wid"
xdotool key --clearmodifiers Return

listening=""
for _ in $(seq 1 100); do
  if (exec 3<>/dev/tcp/127.0.0.1/5000) 2>/dev/null; then listening=yes; break; fi
  sleep 0.1
done
[[ -n "$listening" ]] || fail "nothing listens on port 5000 after the key press"
# That probe connected and left at once; the server handles its end before the next request.

"$prefix/bin/vostrel-sim" --count 20 --interval 0.25 >"$work/sim.out" 2>"$work/sim.err" &
sim=$!
# Once the simulated tracker has reported, a second tracker meanwhile: the server takes the
# connection and closes it at once.
for _ in $(seq 1 100); do
  [[ -s "$HOME/vo_demo.txt" ]] && break
  sleep 0.1
done
[[ -s "$HOME/vo_demo.txt" ]] || fail "the simulated tracker's first report was not saved"
if ! timeout 5 bash -c 'exec 3<>/dev/tcp/127.0.0.1/5000 && cat <&3 >/dev/null'; then
  fail "a second tracker was not refused"
fi
wait "$sim" || fail "the simulator failed: $(cat "$work/sim.err")"

reports=$(grep -c '\$.*!$' "$work/sim.out" || true)
[[ "$reports" -eq 20 ]] || fail "the simulator sent $reports reports, not 20"
"$tracklines" <"$work/sim.out" >"$work/expected.txt"
for _ in $(seq 1 50); do
  cmp -s "$work/expected.txt" "$HOME/vo_demo.txt" && break
  sleep 0.1
done
cmp "$work/expected.txt" "$HOME/vo_demo.txt" || fail "the track log differs from the reports sent"
[[ $(wc -l <"$HOME/vo_demo.txt") -eq 20 ]] || fail "the track log does not have 20 lines"
last=$(tail -1 "$work/expected.txt" | tr -d '\r')
grep -q "<coordinates>$last</coordinates>" "$HOME/vo_demo.kml" || fail "the snapshot does not hold the last position"
kill -0 "$pid" 2>/dev/null || fail "the program is no longer running"
# One process: the globe starts no web engine or any other helper.
helpers=$(ps -o comm= --ppid "$pid" || true)
[[ -z "$helpers" ]] || fail "the program runs helper processes: $helpers"

# A malformed report: its notice is titled "Error"; Return presses its OK.
exec 3<>/dev/tcp/127.0.0.1/5000
printf 'not a report' >&3
notice=""
for _ in $(seq 1 100); do
  notice=$(xdotool search --onlyvisible --name '^Error$' 2>/dev/null | head -1) || true
  [[ -n "$notice" ]] && break
  sleep 0.1
done
[[ -n "$notice" ]] || fail "no notice for a malformed report"
title_is "$notice" "Error"
xdotool windowactivate --sync "$notice" 2>/dev/null || true
xdotool key --clearmodifiers Return
for _ in $(seq 1 50); do
  xdotool search --onlyvisible --name '^Error$' >/dev/null 2>&1 || break
  sleep 0.1
done
xdotool search --onlyvisible --name '^Error$' >/dev/null 2>&1 && fail "Return did not dismiss the notice"
exec 3>&-

# A tracker on a GPRS link that dies silently every 20 reports (its connection stays open, no
# FIN) and comes back from another address, retrying when refused: at most 3 reports lost per
# drop.
before=$(wc -l <"$HOME/vo_demo.txt")
"$prefix/bin/vostrel-sim" --count 60 --interval 0.25 --drop-every 20 --new-address --retry \
  --imei 352000000000099 >"$work/drops.out" 2>"$work/drops.err" ||
  fail "the simulator with silent drops failed: $(cat "$work/drops.err")"
drops=$(grep -c 'the link dies silently' "$work/drops.out" || true)
[[ "$drops" -eq 2 ]] || fail "the simulator dropped its link $drops times, not 2"
saved=0
for _ in $(seq 1 50); do
  saved=$(($(wc -l <"$HOME/vo_demo.txt") - before))
  [[ $saved -ge 60 ]] && break
  sleep 0.1
done
[[ $saved -ge $((60 - 3 * drops)) ]] || fail "only $saved of 60 reports saved across $drops silent drops"
"$tracklines" <"$work/drops.out" | grep -vxFf - <(tail -n "$saved" "$HOME/vo_demo.txt") &&
  fail "the track log holds lines that were not sent"

# Set the globe below the main window so the screenshot shows both.
xdotool windowmove --sync "$globe" 0 470 || true
import -window root "$screenshot"
# A normal run says nothing on standard error: whoever starts it from a terminal sees no fault.
[[ ! -s "$work/app.err" ]] || fail "the program wrote to standard error: $(head -5 "$work/app.err")"
echo "20 reports tracked; second tracker refused; $saved of 60 saved across $drops silent drops; screenshot in $screenshot"
