#!/usr/bin/env python3
"""Reads the windows of one program through the accessibility bus, as a screen reader does.

Commands come one a line on standard input; each answer ends with a line "end".
  check              the program's active window: its controls, what is wrong with them
  focus              waits (a few seconds at most) until the focus is on another control than
                     at the last "focus", and names the control that has it
  unreached          the enabled controls of the last "check", labels aside, that no "focus"
                     found
  press NAME         activates the control named NAME, of the active window or any other
  describe NAME      the description of the control of the active window named NAME
Answer lines are tab-separated:
  window  ROLE  NAME
  control ROLE  NAME  LABEL  ENABLED(1/0)
  fault   TEXT
  focus   ROLE  NAME
  counts  NAMED  FOCUSABLE
"""
import re
import sys
import time

import gi

gi.require_version("Atspi", "2.0")
from gi.repository import Atspi  # noqa: E402

PROGRAM = sys.argv[1] if len(sys.argv) > 1 else "QELTA MONITOR"
S = Atspi.StateType
R = Atspi.Role

# Controls that take text or a choice: a user must be told what goes in them.
FIELD_ROLES = {R.TEXT, R.ENTRY, R.SPIN_BUTTON, R.PASSWORD_TEXT, R.COMBO_BOX, R.DATE_EDITOR}
LETTER = re.compile(r"[^\W\d_]")

last_check = []  # (path, role, name, enabled) of the last "check"
reached = set()
last_focus = None


def say(*fields):
    print("\t".join(str(f).replace("\t", " ").replace("\n", " ") for f in fields), flush=True)


def program():
    desktop = Atspi.get_desktop(0)
    for i in range(desktop.get_child_count()):
        app = desktop.get_child_at_index(i)
        if app is not None and app.get_name() == PROGRAM:
            return app
    return None


def states(obj):
    return obj.get_state_set()


def active_window():
    app = program()
    if app is None:
        return None
    app.clear_cache()
    for i in range(app.get_child_count()):
        window = app.get_child_at_index(i)
        if window is not None and states(window).contains(S.ACTIVE):
            return window
    return None


def walk(obj, path=()):
    """Every showing object under `obj`, with its path of child indices."""
    for i in range(obj.get_child_count()):
        child = obj.get_child_at_index(i)
        if child is None:
            continue
        if not states(child).contains(S.SHOWING):
            continue
        yield path + (i,), child
        yield from walk(child, path + (i,))


def label_text(obj):
    texts = []
    for relation in obj.get_relation_set():
        if relation.get_relation_type() != Atspi.RelationType.LABELLED_BY:
            continue
        for t in range(relation.get_n_targets()):
            target = relation.get_target(t)
            if target is not None and target.get_name():
                texts.append(target.get_name())
    return " ".join(texts)


def labels_something(obj):
    for relation in obj.get_relation_set():
        if relation.get_relation_type() == Atspi.RelationType.LABEL_FOR:
            return relation.get_n_targets() > 0
    return False


def spoken_name(obj, role):
    """The name a screen reader gives the control: its own, else its label's. A list's own
    name on this platform is its current entry, which says nothing of what it sets."""
    own = obj.get_name() or ""
    if role == R.COMBO_BOX:
        own = ""
    name = own or label_text(obj)
    return name if LETTER.search(name) else ""


def check():
    global last_check
    window = active_window()
    if window is None:
        say("fault", "no active window")
        return
    say("window", window.get_role_name(), window.get_name())
    last_check = []
    named = 0
    for path, obj in walk(window):
        role = obj.get_role()
        st = states(obj)
        if role == R.LABEL and not st.contains(S.FOCUSABLE):
            text = (obj.get_name() or "").strip()
            if text.endswith(":") and not labels_something(obj):
                say("fault", "caption label linked to nothing: " + text)
            continue
        if not st.contains(S.FOCUSABLE):
            continue
        enabled = st.contains(S.ENABLED) and st.contains(S.SENSITIVE)
        name = spoken_name(obj, role)
        label = label_text(obj)
        say("control", obj.get_role_name(), name, label, 1 if enabled else 0)
        last_check.append((path, obj.get_role_name(), name, enabled))
        if name:
            named += 1
        else:
            say("fault", "focusable %s without a name" % obj.get_role_name())
        if role in FIELD_ROLES and not label and not (obj.get_name() and role != R.COMBO_BOX):
            say("fault", "%s without a label: %s" % (obj.get_role_name(), obj.get_name() or ""))
    say("counts", named, len(last_check))


def focused():
    window = active_window()
    if window is None:
        return None
    for path, obj in walk(window):
        # A box that holds the focused control may say it is focused too.
        st = states(obj)
        if st.contains(S.FOCUSED) and st.contains(S.FOCUSABLE):
            return path, obj
    return None


def focus():
    global last_focus
    deadline = time.monotonic() + 4
    found = focused()
    while (found is None or found[0] == last_focus) and time.monotonic() < deadline:
        time.sleep(0.1)
        found = focused()
    if found is None:
        say("focus", "", "")
        return
    last_focus = found[0]
    reached.add(found[0])
    role = found[1].get_role()
    say("focus", found[1].get_role_name(), spoken_name(found[1], role))


def unreached():
    # A label that takes the focus is read with its window whether Tab stops on it or not.
    for path, role, name, enabled in last_check:
        if enabled and path not in reached and role != "label":
            say("fault", "Tab does not reach %s %s" % (role, name))


def find(name):
    """The control named `name` in the active window, else in any showing window (a menu
    that is open is a window of its own, and not the active one)."""
    window = active_window()
    windows = [window] if window is not None else []
    app = program()
    if app is not None:
        for i in range(app.get_child_count()):
            other = app.get_child_at_index(i)
            if other is not None and states(other).contains(S.SHOWING):
                windows.append(other)
    for window in windows:
        for _, obj in walk(window):
            if obj.get_name() == name or spoken_name(obj, obj.get_role()) == name:
                return obj
    return None


def press(name):
    obj = find(name)
    if obj is None:
        say("fault", "nothing named " + name)
        return
    if obj.get_n_actions() == 0:
        say("fault", name + " has no action")
        return
    obj.do_action(0)


def describe(name):
    obj = find(name)
    say("description", obj.get_description() if obj is not None else "")


def main():
    global reached, last_focus
    for line in sys.stdin:
        command, _, argument = line.rstrip("\n").partition(" ")
        try:
            if command == "check":
                reached = set()
                last_focus = None
                check()
            elif command == "focus":
                focus()
            elif command == "unreached":
                unreached()
            elif command == "press":
                press(argument)
            elif command == "describe":
                describe(argument)
            else:
                say("fault", "unknown command " + command)
        except Exception as error:  # a bus error is an answer too
            say("fault", "%s: %s" % (type(error).__name__, error))
        say("end")


if __name__ == "__main__":
    main()
