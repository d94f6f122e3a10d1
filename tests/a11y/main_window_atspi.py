#!/usr/bin/python3
"""Drives the real program through the accessibility bus, as a screen reader would: finds the main
window's six commands by name as push buttons and the format choice by its label, presses Exit and
expects the quit question, then answers Yes and expects the program to end. Prints the main
window's accessible tree. Run it through run_on_bus.sh, which provides the display and the buses."""

import os
import signal
import subprocess
import sys
import time

try:
    import pyatspi
except ImportError:
    print("a11y bus: the Python AT-SPI bindings (python3-pyatspi) are missing", file=sys.stderr)
    sys.exit(1 if os.environ.get("CI") == "true" else 77)

APP_NAME = "KivPfxUtil"
TITLE = "Kiv Pfx Utility"
QUESTION = "Do you really want to Quit?"
COMMANDS = ["Add File", "SearcH Files", "Delete", "Delete All", "Proceed >>", "Exit"]


class Failure(Exception):
    pass


def on_alarm(_signum, _frame):
    raise Failure("gave up: the whole check took too long")


def wait_for(what, find, seconds=20.0):
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline:
        try:
            found = find()
        except Exception:  # the tree changes under us while windows come and go
            found = None
        if found:
            return found
        time.sleep(0.2)
    raise Failure("not found within %.0f s: %s" % (seconds, what))


def children(node):
    try:
        return [c for c in node if c is not None]
    except Exception:
        return []


def walk(node):
    for child in children(node):
        yield child
        yield from walk(child)


def showing(node):
    return node.getState().contains(pyatspi.STATE_SHOWING)


def describe(node):
    role = node.getRoleName()
    parts = ["[%s]" % role, repr(node.name)]
    if node.description:
        parts.append("description=%r" % node.description)
    states = node.getState().getStates()
    wanted = [pyatspi.STATE_ENABLED, pyatspi.STATE_FOCUSABLE, pyatspi.STATE_FOCUSED, pyatspi.STATE_SHOWING,
              pyatspi.STATE_PRESSED, pyatspi.STATE_CHECKED]
    shown = [pyatspi.stateToString(s) for s in states if s in wanted]
    if shown:
        parts.append("states=" + ",".join(shown))
    try:
        action = node.queryAction()
        acts = []
        for i in range(action.nActions):
            key = action.getKeyBinding(i)
            acts.append(action.getName(i) + ("(%s)" % key if key else ""))
        if acts:
            parts.append("actions=" + ",".join(acts))
    except NotImplementedError:
        pass
    try:
        table = node.queryTable()
        parts.append("table=%dx%d" % (table.nRows, table.nColumns))
    except NotImplementedError:
        pass
    return " ".join(parts)


def dump(node, depth=0, out=None):
    out = out if out is not None else []
    out.append("  " * depth + describe(node))
    for child in children(node):
        dump(child, depth + 1, out)
    return out


def find_app():
    for app in children(pyatspi.Registry.getDesktop(0)):
        if app.name == APP_NAME:
            return app
    return None


def find_main_window(app):
    for window in children(app):
        if window.name == TITLE and showing(window):
            return window
    return None


def find_question(app):
    main = find_main_window(app)
    for window in children(app):
        if window == main or not showing(window):
            continue
        for node in walk(window):
            if node.name == QUESTION or (node.getRoleName() == "label" and QUESTION in node.name):
                return window
    return None


def press(node):
    action = node.queryAction()
    names = [action.getName(i).lower() for i in range(action.nActions)]
    for wanted in ("press", "click"):
        if wanted in names:
            action.doAction(names.index(wanted))
            return
    raise Failure("%r offers no press action, only %s" % (node.name, names))


def answer(question, name):
    buttons = [n for n in walk(question) if n.getRole() == pyatspi.ROLE_PUSH_BUTTON and n.name == name]
    if not buttons:
        raise Failure("the quit question has no %s button" % name)
    press(buttons[0])


def check(program):
    env = dict(os.environ)
    proc = subprocess.Popen([program], env=env, stdin=subprocess.DEVNULL)
    try:
        app = wait_for("the program on the accessibility bus", find_app)
        window = wait_for("the main window", lambda: find_main_window(app))
        print("Accessible tree of the main window:")
        print("\n".join(dump(window)))
        if window.getRole() != pyatspi.ROLE_FRAME:
            raise Failure("the main window is a %s, not a frame" % window.getRoleName())

        buttons = {}
        for node in walk(window):
            if node.getRole() == pyatspi.ROLE_PUSH_BUTTON and showing(node):
                buttons.setdefault(node.name, []).append(node)
        for name in COMMANDS:
            if len(buttons.get(name, [])) != 1:
                raise Failure("push button %r found %d times; showing buttons: %s"
                              % (name, len(buttons.get(name, [])), sorted(buttons)))
        print("found the six commands as push buttons: %s" % ", ".join(COMMANDS))

        choice = [n for n in walk(window) if n.getRole() == pyatspi.ROLE_COMBO_BOX and showing(n)]
        labels = [r.getTarget(0).name for r in (choice[0].getRelationSet() if len(choice) == 1 else [])
                  if r.getRelationType() == pyatspi.RELATION_LABELLED_BY]
        if labels != ["Format of copies"] or choice[0].name != "AES-256 (current systems)" or \
                "Java 8" not in choice[0].description:
            raise Failure("no one format choice labelled and set as expected: %s" % [describe(n) for n in choice])

        # No keeps the window, and one press asks once: no second question follows.
        press(buttons["Exit"][0])
        question = wait_for("the quit question", lambda: find_question(app), 15)
        print("Exit's press action asked:")
        print("\n".join(dump(question)))
        answer(question, "No")
        wait_for("the question gone after No", lambda: find_question(app) is None, 10)
        time.sleep(1.0)
        if find_question(app) is not None:
            raise Failure("a second quit question followed one press of Exit")
        if proc.poll() is not None or not showing(window):
            raise Failure("No did not keep the main window")
        print("No kept the main window; one press asked once")

        press(buttons["Exit"][0])
        question = wait_for("the quit question again", lambda: find_question(app), 15)
        answer(question, "Yes")
        try:
            code = proc.wait(timeout=15)
        except subprocess.TimeoutExpired:
            raise Failure("the program did not end after Yes")
        if code != 0:
            raise Failure("the program ended with exit code %d" % code)
        print("Yes ended the program")
    finally:
        if proc.poll() is None:
            proc.kill()
            proc.wait(timeout=10)


def main():
    if len(sys.argv) != 2:
        print("usage: main_window_atspi.py PROGRAM", file=sys.stderr)
        return 2
    signal.signal(signal.SIGALRM, on_alarm)
    signal.alarm(75)
    try:
        check(sys.argv[1])
    except Failure as failure:
        print("FAIL: %s" % failure)
        return 1
    finally:
        signal.alarm(0)
    print("1 passed, 0 failed")
    return 0


if __name__ == "__main__":
    sys.exit(main())
