#!/usr/bin/python3
"""Reads the activity log box the way a screen reader does, over the accessibility bus.

Starts the window program given as the only argument, finds its log box (role text, name
"Activity log"), reads its text and its first line, then sends the window a line to append and
waits for the text-inserted event and the longer text. (The toolkit learns of a new listener
over the bus a little later, so the line is sent again every 2 s until an event comes.) Exits
0 when all of it holds; otherwise prints what did not and exits 1.
"""
import subprocess
import sys

import pyatspi
from gi.repository import GLib

BANNER_FIRST_LINE = "Vostrel V1.01 GPRS Demo Version for Globalsat TR-102 trackers."
APPENDED = "07.12.2026 04:56:27 Tracker 127.0.0.1 connected.\r\n"
failures = []
state = {"log": None, "inserted": None, "size": 0, "sent": 0}


def check(condition, what):
    if not condition:
        failures.append(what)


def find_log():
    desktop = pyatspi.Registry.getDesktop(0)
    for index in range(desktop.childCount):
        app = desktop.getChildAtIndex(index)
        if app is None:
            continue
        found = pyatspi.utils.findDescendant(
            app, lambda a: a is not None and a.name == "Activity log")
        if found is not None:
            return found
    return None


def on_inserted(event):
    if state["log"] is None or event.any_data != APPENDED:
        return
    state["inserted"] = (event.detail1, event.detail2)
    pyatspi.Registry.stop()


def send_line():
    window.stdin.write(APPENDED.encode("latin-1"))
    window.stdin.flush()
    state["sent"] += 1
    return state["inserted"] is None


def look():
    log = find_log()
    if log is None:
        return True  # not on the bus yet: look again
    state["log"] = log
    check(log.getRole() == pyatspi.ROLE_TEXT, "role is %s, not text" % log.getRoleName())
    text = log.queryText()
    whole = text.getText(0, -1)
    state["size"] = text.characterCount
    check(len(whole) == text.characterCount, "text and character count differ")
    check(whole.startswith(BANNER_FIRST_LINE + "\r\n"), "banner not first: %r" % whole[:80])
    line = text.getTextAtOffset(5, pyatspi.TEXT_BOUNDARY_LINE_START)
    check(line[0] == BANNER_FIRST_LINE + "\r\n" and line[1] == 0,
          "first line read as %r" % (line,))
    check(text.caretOffset == 0, "caret at %d, not 0" % text.caretOffset)
    pyatspi.Registry.registerEventListener(on_inserted, "object:text-changed:insert")
    send_line()
    GLib.timeout_add(2000, send_line)
    return False


def give_up():
    failures.append("the log box was not found" if state["log"] is None
                    else "no text-inserted event for the appended line")
    pyatspi.Registry.stop()
    return False


window = subprocess.Popen([sys.argv[1]], stdin=subprocess.PIPE)
try:
    GLib.timeout_add(200, look)
    GLib.timeout_add_seconds(60, give_up)
    pyatspi.Registry.start()
    if state["inserted"] is not None:
        # The event is for the line sent last.
        expected = (state["size"] + (state["sent"] - 1) * len(APPENDED), len(APPENDED))
        check(state["inserted"] == expected,
              "inserted at %r, expected %r" % (state["inserted"], expected))
        text = state["log"].queryText()
        check(text.getText(0, -1).endswith("\r\n\r\n" + APPENDED * state["sent"]),
              "appended line not read")
        check(text.caretOffset == 0, "caret moved to %d by the append" % text.caretOffset)
finally:
    window.stdin.close()
    try:
        window.wait(timeout=30)
    except subprocess.TimeoutExpired:
        window.kill()
        failures.append("the window did not end")

for failure in failures:
    print("read_log: " + failure)
print("read_log: " + ("ok" if not failures else "FAILED"))
sys.exit(1 if failures else 0)
