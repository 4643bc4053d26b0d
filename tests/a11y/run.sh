#!/usr/bin/env bash
# The screen reader test over the desktop's accessibility bus (AT-SPI): a scratch home, a
# virtual display and a session bus of its own, and in them read_log.py against the window.
#   run.sh WINDOW_PROGRAM
set -euo pipefail
window="$1"
here="$(cd "$(dirname "$0")" && pwd)"
home="$(mktemp -d)"
trap 'rm -rf "$home"' EXIT
export HOME="$home" XDG_CONFIG_HOME="$home/.config" XDG_CACHE_HOME="$home/.cache"
export XDG_DATA_HOME="$home/.local/share" XDG_RUNTIME_DIR="$home/run"
mkdir -p -m 700 "$XDG_RUNTIME_DIR"
# The toolkit's accessibility bridge on, as when a screen reader runs.
export QT_QPA_PLATFORM=xcb QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1 QT_ACCESSIBILITY=1
xvfb-run -a -s "-screen 0 1280x1024x24" \
  dbus-run-session -- /usr/bin/python3 "$here/read_log.py" "$window"
