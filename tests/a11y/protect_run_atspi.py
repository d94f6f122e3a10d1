#!/usr/bin/python3
"""A whole protection run through the accessibility bus, on X or on Wayland (run_on_bus.sh
[--wayland]): the main window shows at its design size for the screen; a second start is refused
while the first runs; Search Files lists a tree chosen in the real folder chooser; both passwords
are entered, Proceed is confirmed with Yes, and every copy opens with the password and only with it;
the quit question ends the program with exit 0. Neither program writes anything to standard error.

On Wayland it also reads, from the compositor's protocol log, what the program told the
compositor: the window's title and app id (the desktop file's name, which is how the compositor
finds the icon), and that it draws at the output's scale."""

import os
import re
import shutil
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import main_window_atspi as bus  # noqa: E402 (after the path that finds it)
from main_window_atspi import Failure, children, press, pyatspi, showing, wait_for, walk  # noqa: E402

APP_ID = "io.github.kivpfx.KivPfxUtility"
PASSWORD = "Wayland-Run.7"
REFUSAL = "A Previous Instance of Application is already Running."
# The main window's design size in twips (15 to a pixel at 96 dpi), laid out for 800 x 600.
FORM_TWIPS = (11520, 7755)
REPO = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))


def design_size(screen):
    """The main window's client size on a screen of `screen` ("WxH") logical pixels at 96 dpi."""
    width, height = (int(v) for v in screen.split("x"))
    return (round(FORM_TWIPS[0] * (width / 800.0) / 15), round(FORM_TWIPS[1] * (height / 600.0) / 15))


def make_tree(work):
    """Password-less PKCS#12 files in a tree (names in several letter cases, beside a file that is
    not one); returns the files' paths in the order a search lists them."""
    key, cert = os.path.join(work, "key.pem"), os.path.join(work, "cert.pem")
    subprocess.run(["openssl", "req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:P-256",
                    "-nodes", "-subj", "/CN=kiv-a11y-run", "-days", "2", "-keyout", key, "-out", cert],
                   check=True, capture_output=True)
    tree = os.path.join(work, "tree")
    sources = [os.path.join(tree, "a.PFX"), os.path.join(tree, "sub", "b.pfx"),
               os.path.join(tree, "sub", "deeper", "c.Pfx")]
    for source in sources:
        os.makedirs(os.path.dirname(source), exist_ok=True)
        subprocess.run(["openssl", "pkcs12", "-export", "-in", cert, "-inkey", key, "-passout", "pass:",
                        "-keypbe", "NONE", "-certpbe", "NONE", "-nomac", "-out", source],
                       check=True, capture_output=True)
    with open(os.path.join(tree, "notes.txt"), "w") as notes:
        notes.write("not a certificate\n")
    return tree, sources


class Program:
    """One start of the program with its own home, Qt's own dialogs and standard error kept."""

    def __init__(self, path, work, name):
        self.stderr_path = os.path.join(work, name + ".stderr")
        env = dict(os.environ)
        for variable in ("XDG_CURRENT_DESKTOP", "DESKTOP_SESSION", "QT_SCALE_FACTOR", "QT_SCREEN_SCALE_FACTORS"):
            env.pop(variable, None)
        home = os.path.join(work, "home")
        os.makedirs(home, exist_ok=True)
        env.update(QT_QPA_PLATFORMTHEME="generic", HOME=home, XDG_CONFIG_HOME=os.path.join(home, ".config"),
                   XDG_CACHE_HOME=os.path.join(home, ".cache"))
        with open(self.stderr_path, "wb") as err:
            self.proc = subprocess.Popen([path], env=env, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                                         stderr=err)

    def app(self):
        for app in children(pyatspi.Registry.getDesktop(0)):
            if app.name == bus.APP_NAME and app.get_process_id() == self.proc.pid:
                return app
        return None

    def on_bus(self, what, seconds=30):
        """The program's node on the bus; when it never comes, the failure says how the program is."""
        try:
            return wait_for(what, self.app, seconds)
        except Failure as failure:
            state = ("is still running" if self.proc.poll() is None
                     else "ended with exit code %d" % self.proc.returncode)
            raise Failure("%s (the program %s; its standard error: %r)" % (failure, state, self.stderr()))

    def stderr(self):
        with open(self.stderr_path, "rb") as err:
            return err.read().decode("utf-8", "replace")

    def wait(self, what, seconds=15):
        try:
            return self.proc.wait(timeout=seconds)
        except subprocess.TimeoutExpired:
            raise Failure("the program did not end " + what)

    def kill(self):
        if self.proc.poll() is None:
            self.proc.kill()
            self.proc.wait(timeout=10)


def find_window_with(app, accept, exclude=None):
    """A showing window of `app` (not `exclude`) holding a node for which `accept` is true."""
    for window in children(app):
        if window == exclude or not showing(window):
            continue
        for node in walk(window):
            if accept(node):
                return window
    return None


def node_in(window, role, name=None, seconds=15):
    """The first showing node of `role` (and `name`) in `window`, waiting while the window fills."""
    def find():
        for node in walk(window):
            if node.getRole() == role and showing(node) and (name is None or node.name == name):
                return node
        return None

    what = "a showing %s%s in %r" % (role, "" if name is None else " named %r" % name,
                                     window.name)
    return wait_for(what, find, seconds)


def is_button(name):
    return lambda node: node.getRole() == pyatspi.ROLE_PUSH_BUTTON and node.name == name


def set_text(node, text):
    node.queryEditableText().setTextContents(text)


def table_cells(table):
    grid = table.queryTable()
    return [[(grid.getAccessibleAt(r, c).name or "") for c in range(grid.nColumns)] for r in range(grid.nRows)]


def check_size(window, screen):
    extents = window.queryComponent().getExtents(pyatspi.DESKTOP_COORDS)
    expected = design_size(screen)
    if (extents.width, extents.height) != expected:
        raise Failure("the main window is %dx%d on a %s screen, not %dx%d"
                      % (extents.width, extents.height, screen, expected[0], expected[1]))
    print("the main window is %dx%d, its design size on a %s screen" % (extents.width, extents.height, screen))


PROTO = re.compile(r"\]\[proto\] client (\S+) (rq|ev) ([\w\[\]]+)@(\d+)\.(\w+)\((.*)\)$")


def told_compositor(log_path, title):
    """What the first client window titled `title` told the compositor, from its protocol log:
    title, app id, buffer scale, window geometry, opaque region, the first buffer's size, the
    output scale the compositor announced to that client, and the title and owner of each later
    window of the same client."""
    surfaces, toplevels, regions, buffers, scales, parents = {}, {}, {}, {}, {}, {}
    seen = None
    with open(log_path, encoding="utf-8", errors="replace") as log:
        for line in log:
            match = PROTO.search(line.rstrip("\n"))
            if not match:
                continue
            client, _, interface, number, request, args = match.groups()
            obj = (client, interface + "@" + number)
            ids = re.findall(r"(?:new id )?([\w\[\]]+@\d+)", args)
            nums = [int(v) for v in re.findall(r"-?\d+", re.sub(r"[\w\[\]]+@\d+", "", args))]
            if interface == "wl_output" and request == "scale":
                scales[client] = nums[0]
            elif request == "get_xdg_surface":
                surfaces[(client, ids[0])] = ids[1]
            elif request == "get_toplevel":
                toplevels[(client, ids[0])] = obj[1]  # the toplevel's xdg_surface
                parents.pop((client, ids[0]), None)
            elif interface == "xdg_toplevel" and request == "set_parent":
                parents[obj] = ids[0] if ids else None
            elif request == "create_region":
                regions[(client, ids[0])] = []
            elif interface == "wl_region" and request == "add":
                regions.setdefault(obj, []).append(tuple(nums))
            elif request == "create_buffer":
                buffers[(client, ids[0])] = (nums[1], nums[2])
            elif seen is None and interface == "xdg_toplevel" and request == "set_title" and args == '"%s"' % title:
                xdg_surface = toplevels.get(obj)
                seen = {"client": client, "toplevel": obj[1], "xdg_surface": xdg_surface,
                        "surface": surfaces.get((client, xdg_surface)), "title": title,
                        "output_scale": scales.get(client)}
            elif seen is not None and client == seen["client"]:
                if obj[1] == seen["toplevel"] and request == "set_app_id":
                    seen.setdefault("app_id", args.strip('"'))
                elif obj[1] == seen["surface"] and request == "set_buffer_scale":
                    seen.setdefault("buffer_scale", nums[0])
                elif obj[1] == seen["surface"] and request == "set_opaque_region" and ids:
                    seen.setdefault("opaque", list(regions.get((client, ids[0]), [])))
                elif obj[1] == seen["xdg_surface"] and request == "set_window_geometry":
                    seen["geometry"] = tuple(nums)
                elif obj[1] == seen["surface"] and request == "attach" and ids and "buffer" not in seen:
                    seen["buffer"] = buffers.get((client, ids[0]))
                    seen["geometry_at_buffer"] = seen.get("geometry")
                elif interface == "xdg_toplevel" and request == "set_title":
                    seen.setdefault("windows", []).append((args.strip('"'), parents.get(obj)))
    return seen


def check_compositor(log_path, screen):
    # The log is written as the compositor gets to it; the window's first frame may still be on its way.
    seen = wait_for("the compositor's record of a window titled %r with its first frame" % bus.TITLE,
                    lambda: (lambda s: s if s and "buffer" in s else None)(told_compositor(log_path, bus.TITLE)), 20)
    print("the compositor was told: %s" % {k: v for k, v in seen.items() if k != "client"})
    problems = []
    if seen.get("app_id") != APP_ID:
        problems.append("app id %r, not %r" % (seen.get("app_id"), APP_ID))
    if not os.path.isfile(os.path.join(REPO, "packaging", APP_ID + ".desktop")):
        problems.append("no desktop file packaging/%s.desktop for the app id" % APP_ID)
    scale = seen.get("output_scale")
    if not scale or scale < 2:
        problems.append("the output's scale %r is not the high-density one the compositor runs" % scale)
    if seen.get("buffer_scale") != scale:
        problems.append("buffer scale %r on an output of scale %r" % (seen.get("buffer_scale"), scale))
    width, height = design_size(screen)
    opaque = seen.get("opaque") or []
    if len(opaque) != 1 or opaque[0][2:] != (width, height):
        problems.append("the window's content (opaque region) is %r, not one %dx%d box" % (opaque, width, height))
    geometry, buffer = seen.get("geometry_at_buffer"), seen.get("buffer")
    if not geometry or not buffer:
        problems.append("no window geometry or buffer was given (geometry %r, buffer %r)" % (geometry, buffer))
    else:
        if geometry[2] < width or geometry[3] < height:
            problems.append("window geometry %r is smaller than its content %dx%d" % (geometry, width, height))
        if scale and buffer != (geometry[2] * scale, geometry[3] * scale):
            problems.append("the buffer %r is not the window geometry %r at scale %d" % (buffer, geometry, scale))
    if problems:
        raise Failure("what the compositor was told: " + "; ".join(problems))
    print("title, app id %s, content %dx%d drawn at the output's scale %d (buffer %dx%d)"
          % (APP_ID, width, height, scale, buffer[0], buffer[1]))


def check_owned_windows(log_path):
    """A window cannot place itself on Wayland; the program names each dialog's owner instead, so
    that the compositor can put it over the main window (as the program centres it on X)."""
    def record():
        seen = told_compositor(log_path, bus.TITLE)
        titles = [title for title, _ in (seen or {}).get("windows", [])]
        return seen if "Find Directory" in titles and titles.count(bus.TITLE) >= 2 else None

    seen = wait_for("the compositor's record of the folder chooser and both questions", record, 20)
    unowned = [title for title, parent in seen["windows"] if parent != seen["toplevel"]]
    if unowned:
        raise Failure("windows that did not name the main window as their owner: %s" % unowned)
    print("every later window named the main window as its owner: %s" % [t for t, _ in seen["windows"]])


def second_start_refused(program_path, work, first, main):
    second = Program(program_path, work, "second")
    try:
        app = second.on_bus("the second start on the accessibility bus")
        refusal = wait_for("the second start's refusal",
                           lambda: find_window_with(app, lambda n: REFUSAL in (n.name or "")), 20)
        press(node_in(refusal, pyatspi.ROLE_PUSH_BUTTON, "OK"))
        code = second.wait("after its refusal was answered")
        if code != 0:
            raise Failure("the refused second start ended with exit code %d:\n%s" % (code, second.stderr()))
        if first.proc.poll() is not None or not showing(main):
            raise Failure("the first program did not stay after a second start")
        print("a second start said %r and ended with exit code 0; the first stayed" % REFUSAL)
        return second
    except Exception:
        second.kill()
        raise


def chooser_of(app):
    return next((w for w in children(app) if w.name == "Find Directory" and showing(w)), None)


def search_tree(app, main, tree, sources):
    press(node_in(main, pyatspi.ROLE_PUSH_BUTTON, "SearcH Files"))
    chooser = wait_for("the folder chooser", lambda: chooser_of(app), 20)

    def name_box():
        boxes = [n for n in walk(chooser) if n.getRole() == pyatspi.ROLE_TEXT and showing(n)
                 and n.getState().contains(pyatspi.STATE_EDITABLE)]
        return boxes[0] if len(boxes) == 1 else None

    set_text(wait_for("the folder chooser's one name box", name_box, 15), tree)
    press(node_in(chooser, pyatspi.ROLE_PUSH_BUTTON, "Choose"))
    table = node_in(main, pyatspi.ROLE_TABLE, "File list")

    def listed():
        cells = table_cells(table)
        if len(cells) != len(sources) or chooser_of(app):
            return None
        text = "\n".join(" | ".join(row) for row in cells)
        return text if all(os.path.basename(s) in text for s in sources) else None

    shown = wait_for("the tree's %d files in the list" % len(sources), listed, 30)
    print("Search Files listed:\n" + shown)
    return table


def protect(app, main, table, sources):
    for name in ("Password to protect Pfx File", "Verify Password"):
        set_text(node_in(main, pyatspi.ROLE_PASSWORD_TEXT, name), PASSWORD)
    press(node_in(main, pyatspi.ROLE_PUSH_BUTTON, "Proceed >>"))
    question = wait_for("the confirmation", lambda: find_window_with(app, is_button("Yes"), main), 20)
    press(node_in(question, pyatspi.ROLE_PUSH_BUTTON, "Yes"))
    outputs = [s[:-4] + "_Password.Pfx" for s in sources]

    def finished():
        statuses = [row[-1] for row in table_cells(table)]
        return statuses if all(statuses) and all(os.path.exists(o) for o in outputs) else None

    statuses = wait_for("a status for every file", finished, 60)
    print("statuses: %s" % statuses)
    problems = []
    for output in outputs:
        def opens(password, *extra):
            return subprocess.run(["openssl", "pkcs12", "-in", output, "-passin", "pass:" + password] + list(extra),
                                  capture_output=True, text=True)
        if opens(PASSWORD, "-noout").returncode != 0:
            problems.append("%s does not open with the password" % output)
        if opens("wrong", "-noout").returncode == 0:
            problems.append("%s opens with a wrong password" % output)
        if "PRIVATE KEY" not in opens(PASSWORD, "-nodes").stdout:
            problems.append("%s holds no private key" % output)
    if problems:
        raise Failure("; ".join(problems))
    print("all %d copies open with the password, and only with it" % len(outputs))


def quit_with_yes(program, app, main):
    press(node_in(main, pyatspi.ROLE_PUSH_BUTTON, "Exit"))
    question = wait_for("the quit question", lambda: bus.find_question(app), 20)
    bus.answer(question, "Yes")
    code = program.wait("after Yes to the quit question")
    if code != 0:
        raise Failure("the program ended with exit code %d after Yes:\n%s" % (code, program.stderr()))
    print("Yes to the quit question ended the program with exit code 0")


def check(program_path):
    screen = os.environ.get("KIV_A11Y_SCREEN", "1024x768")
    weston_log = os.environ.get("WESTON_LOG") if os.environ.get("KIV_A11Y_WAYLAND") else None
    work = tempfile.mkdtemp(prefix="kiv-a11y-run-")
    programs = []
    try:
        tree, sources = make_tree(work)
        originals = {s: open(s, "rb").read() for s in sources}
        first = Program(program_path, work, "first")
        programs.append(first)
        app = first.on_bus("the program on the accessibility bus")
        main = wait_for("the main window", lambda: bus.find_main_window(app), 30)
        check_size(main, screen)
        if weston_log:
            check_compositor(weston_log, screen)
        programs.append(second_start_refused(program_path, work, first, main))
        table = search_tree(app, main, tree, sources)
        protect(app, main, table, sources)
        if any(open(s, "rb").read() != data for s, data in originals.items()):
            raise Failure("a source file was changed")
        quit_with_yes(first, app, main)
        if weston_log:
            check_owned_windows(weston_log)
        for program in programs:
            if program.stderr():
                raise Failure("the program wrote to standard error:\n" + program.stderr())
        print("nothing on standard error")
    finally:
        for program in programs:
            program.kill()
        shutil.rmtree(work, ignore_errors=True)


def main():
    if len(sys.argv) != 2:
        print("usage: protect_run_atspi.py PROGRAM", file=sys.stderr)
        return 2
    for tool in ("openssl",):
        if not shutil.which(tool):
            print("a11y run: %s is missing" % tool, file=sys.stderr)
            return 1 if os.environ.get("CI") == "true" else 77
    bus.signal.signal(bus.signal.SIGALRM, bus.on_alarm)
    bus.signal.alarm(85)  # inside the runner's 90 s, so that the failure says where it stood
    try:
        check(sys.argv[1])
    except Failure as failure:
        print("FAIL: %s" % failure)
        return 1
    finally:
        bus.signal.alarm(0)
    print("1 passed, 0 failed")
    return 0


if __name__ == "__main__":
    sys.exit(main())
