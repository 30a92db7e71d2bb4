"""Prints the halfmap window as AT-SPI serves it, presses Run through the
accessibility layer, prints what was announced during the run, and prints
the window again; then checks what a screen reader needs of it. With Orca
running on the same buses, it also checks what Orca says when the window
opens and when a run ends, whichever way. Then the window started from
its desktop entry on a folder must convert that folder's maps and name the
folder in its description. Exits 1 if anything is missing.
Run by tools/atspi-dump.sh inside its own buses with the case folders it
prepared: dump (the X-ray map missing), three, none, cut, abort and desktop."""
import codecs
import json
import os
import pty
import re
import struct
import subprocess
import sys
import threading
import time
import tty

import pyatspi
from gi.repository import GLib

CAPTION = "Corvane 1/2MAPの修正"


READY = "修正MAPを作成するならば『実行』を押してください"
NOT_FOUND = "x1 MAPが見つかりません"


def find_window(pid, timeout=20.0):
    """The window of process pid, or of any process for None."""
    end = time.time() + timeout
    while time.time() < end:
        for app in pyatspi.Registry.getDesktop(0):
            if app is None or pid not in (None, app.get_process_id()):
                continue
            for child in app:
                if child is not None and child.name == CAPTION:
                    return child
        time.sleep(0.2)
    sys.exit("no window named " + CAPTION)


class Orca:
    """Debian's Orca on these buses, without sound: what it would say is read
    from its debug log's SPEECH OUTPUT lines. The log goes to a terminal of
    ours, where Orca writes it line by line instead of in blocks."""

    def __init__(self, work):
        self.chunks = []
        self.mark = 0
        prefs = os.path.join(work, "orca-prefs")
        self._speech_off(prefs)
        self.master, self.terminal = pty.openpty()
        tty.setraw(self.terminal)
        threading.Thread(target=self._read, daemon=True).start()
        self.process = subprocess.Popen(["orca", "--replace", "-u", prefs,
                                         "--debug-file", os.ttyname(self.terminal)],
                                        stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                                        stderr=subprocess.DEVNULL)
        if not self.wait(lambda text: "Startup complete" in text, 30, everything=True):
            sys.exit("Orca did not start")

    @staticmethod
    def _speech_off(prefs):
        """With speech on, Orca starts the machine's shared speech server,
        which stops answering where there is no sound device and then
        blocks Orca. The log says all the same with speech off."""
        os.makedirs(prefs, exist_ok=True)
        off = {"enableSpeech": False}
        settings = {"general": off, "pronunciations": {}, "keybindings": {},
                    "profiles": {"default": dict(off, profile=["Default", "default"],
                                                 pronunciations={}, keybindings={})}}
        with open(os.path.join(prefs, "user-settings.conf"), "w") as f:
            json.dump(settings, f)

    def _read(self):
        decoder = codecs.getincrementaldecoder("utf-8")("replace")
        while True:
            try:
                self.chunks.append(decoder.decode(os.read(self.master, 65536)))
            except OSError:
                return

    def text(self, start=0):
        return "".join(self.chunks)[start:]

    def said(self):
        """What Orca said since the last mark."""
        return re.findall(r"SPEECH OUTPUT: '(.*?)' ?(?:\{|\r?$)", self.text(self.mark), re.MULTILINE)

    def wait(self, holds, timeout, everything=False):
        end = time.time() + timeout
        while time.time() < end:
            if holds(self.text(self.mark) if everything else " | ".join(self.said())):
                return True
            time.sleep(0.05)
        return False

    def start_listening(self):
        self.mark = len(self.text())

    def stop(self):
        self.process.terminate()
        try:
            self.process.wait(5)
        except subprocess.TimeoutExpired:
            self.process.kill()


class Window:
    """The window started in a case folder and given the keyboard focus, as
    a user's click would (there is no window manager)."""

    def __init__(self, folder, orca, program="halfmap"):
        env = dict(os.environ, QT_LINUX_ACCESSIBILITY_ALWAYS_ON="1", QT_QPA_PLATFORM="xcb")
        orca.start_listening()
        self.process = subprocess.Popen([os.path.join(folder, program)], env=env)
        self.node = find_window(self.process.pid)
        self.xid = xid = subprocess.run(["xdotool", "search", "--sync", "--onlyvisible", "--pid", str(self.process.pid),
                              "--name", CAPTION], capture_output=True, text=True).stdout.split()[0]
        subprocess.run(["xdotool", "mousemove", "--window", xid, "10", "10"], check=True)
        subprocess.run(["xdotool", "windowfocus", "--sync", xid], check=True)
        # Keys typed before Orca has taken in the window may be lost.
        orca.wait(lambda said: "push button" in said, 20)
        self.status_bar = next(n for n in pyatspi.utils.findAllDescendants(
            self.node, lambda n: n.getRole() == pyatspi.ROLE_STATUS_BAR))

    def status(self):
        return self.status_bar.name

    def close(self):
        self.process.terminate()
        self.process.wait()


def key(name):
    subprocess.run(["xdotool", "key", name], check=True)


def rle8_map(path, width, height):
    """A map of one colour, run-length coded: a few megabytes that take the
    window a while to convert."""
    row = bytes((255, 7)) * (width // 255) + bytes((width % 255, 7, 0, 0))  # width % 255 > 0
    pixels = row * height + b"\0\1"
    palette = bytes(v for i in range(256) for v in (i, i, i, 0))
    offset = 14 + 40 + len(palette)
    with open(path, "wb") as out:
        out.write(struct.pack("<2sIHHI", b"BM", offset + len(pixels), 0, 0, offset))
        out.write(struct.pack("<IiiHHIIiiII", 40, width, height, 1, 8, 1, len(pixels), 2835, 2835, 256, 0))
        out.write(palette + pixels)


def describe(node):
    parts = [node.getRoleName(), repr(node.name)]
    if node.description:
        parts.append("description %r" % node.description)
    states = node.getState()
    if not states.contains(pyatspi.STATE_ENABLED):
        parts.append("UNAVAILABLE (not enabled, not sensitive)")
    if states.contains(pyatspi.STATE_FOCUSED):
        parts.append("focused")
    try:
        value = node.queryValue()
        parts.append("value %g of %g..%g" % (value.currentValue, value.minimumValue, value.maximumValue))
    except NotImplementedError:
        pass
    try:
        text = node.queryText()
        parts.append("text %r" % text.getText(0, -1))
    except NotImplementedError:
        pass
    for relation in node.getRelationSet():
        kind = pyatspi.relationToString(relation.getRelationType())
        targets = [relation.getTarget(i) for i in range(relation.getNTargets())]
        parts.append("%s %s" % (kind, ", ".join("%s %r" % (t.getRoleName(), t.name) for t in targets)))
    return "  ".join(parts)


def dump(node, depth=0):
    print("  " * depth + describe(node))
    for child in node:
        dump(child, depth + 1)


def watch_run(window):
    """Presses Run and collects the announcements until the status says the run is over."""
    announced = []

    # Events arrive once the run lets the window's thread go; what they carry
    # is read then, so a bar's value is counted, not shown per event.
    def heard(event):
        source = event.source
        if event.type.startswith("object:property-change:accessible-value"):
            announced.append(("value changed", "%s %r" % (source.getRoleName(), source.name), None))
        elif event.type.startswith("object:text-changed"):
            announced.append((event.type, source.getRoleName(), event.any_data))
        elif event.type.startswith("object:property-change:accessible-name"):
            announced.append(("name changed", source.getRoleName(), source.name))

    for kind in ("object:property-change:accessible-value", "object:property-change:accessible-name",
                 "object:text-changed"):
        pyatspi.Registry.registerEventListener(heard, kind)

    run = next(n for n in pyatspi.utils.findAllDescendants(window, lambda n: n.name == "実行"))
    loop_end = time.time() + 60

    def press():
        run.queryAction().doAction(0)
        return False

    def finished():
        over = any(kind == "object:text-changed:insert" and text == "終了" for kind, _, text in announced)
        if over or time.time() > loop_end:
            pyatspi.Registry.stop()
            return False
        return True

    GLib.timeout_add(500, press)
    GLib.timeout_add(200, finished)
    pyatspi.Registry.start()
    for kind in ("object:property-change:accessible-value", "object:property-change:accessible-name",
                 "object:text-changed"):
        pyatspi.Registry.deregisterEventListener(heard, kind)
    return announced


def summarise(announced):
    counts = {}
    for kind, who, what in announced:
        if kind == "value changed":
            counts[who] = counts.get(who, 0) + 1
        else:
            print("  %s  %s  %r" % (kind, who, what))
    for who, count in counts.items():
        print("  %s: %d value changes" % (who, count))


MAPS = {"通常": True, "固定物無し": True, "Ｘ線": False}  # present?


FAILURES = []


def expect(holds, what):
    if not holds:
        FAILURES.append(what)
    return holds


def check(window, announced):
    nodes = list(pyatspi.utils.findAllDescendants(window, lambda n: True))
    for name, present in MAPS.items():
        for role in (pyatspi.ROLE_LABEL, pyatspi.ROLE_PROGRESS_BAR):
            found = [n for n in nodes if n.getRole() == role and n.name == name]
            what = "%s named %s" % ("label" if role == pyatspi.ROLE_LABEL else "progress bar", name)
            expect(len(found) == 1, what)
            if found:
                expect(found[0].getState().contains(pyatspi.STATE_ENABLED) == present,
                       what + (" available" if present else " unavailable"))
        bar = [n for n in nodes if n.getRole() == pyatspi.ROLE_PROGRESS_BAR and n.name == name]
        if present and bar:
            value = bar[0].queryValue()
            expect(value.currentValue == value.maximumValue > 0, "bar %s full after the run" % name)
            changes = sum(1 for k, who, _ in announced if k == "value changed" and name in who)
            expect(0 < changes <= 11, "bar %s announced its values at whole tenths (%d)" % (name, changes))
    expect(("object:text-changed:insert", "status bar", "終了") in announced, "the new status announced")


def heard(orca, title, what, timeout=10):
    """Waits until Orca has said what, then prints all it said."""
    expect(orca.wait(lambda said: what in said, timeout), "Orca says %r %s" % (what, title))
    print("== Orca, " + title)
    for line in orca.said():
        print("  " + line)


def run_by_keys(window, orca):
    """Tab to Run, then Enter, as a user would."""
    key("Tab")
    orca.wait(lambda said: "実行" in said, 10)
    orca.start_listening()
    key("Return")


def dump_case(work, orca):
    # Started under another name, it must still tell the desktop it is halfmap.
    window = Window(os.path.join(work, "dump"), orca, program="renamed-halfmap")
    wm_class = subprocess.run(["xprop", "-id", window.xid, "WM_CLASS"], capture_output=True, text=True).stdout
    print("== " + wm_class.strip())
    expect(wm_class.strip() == 'WM_CLASS(STRING) = "halfmap", "halfmap"', "WM_CLASS halfmap, halfmap")
    heard(orca, "on opening", READY)
    print("== The window before a run")
    dump(window.node)
    print("== Announced while Run converts the maps")
    orca.start_listening()
    announced = watch_run(window.node)
    summarise(announced)
    print("== The window after the run")
    dump(window.node)
    check(window.node, announced)
    window.close()


# Folder, whether Run is pressed, when, and what Orca must say then.
SPOKEN = [("three", True, "after a complete run of three maps", "notification 終了"),
          ("none", False, "on opening with no map", NOT_FOUND),
          ("cut", True, "after a run with a cut map", "notification read file error")]


def spoken_cases(work, orca):
    for folder, run, when, what in SPOKEN:
        window = Window(os.path.join(work, folder), orca)
        if run:
            run_by_keys(window, orca)
        heard(orca, when, what)
        if folder == "three":
            expect("DELUGE" not in orca.text(orca.mark), "no DELUGE in Orca's log during the run")
        window.close()


def until(holds, timeout=30):
    end = time.time() + timeout
    while not holds() and time.time() < end:
        time.sleep(0.005)


def abort_case(work, orca, attempts=3):
    """Enter on Abort once the run is under way. Orca holds keys back while
    the window is busy, so the key may reach it only after the run: that
    attempt proves nothing and is made again."""
    folder = os.path.join(work, "abort")
    last = os.path.join(folder, "MAP29361206-X2.BMP")
    for attempt in range(1, attempts + 1):
        for name in os.listdir(folder):
            if name.endswith("2.BMP"):
                os.remove(os.path.join(folder, name))
        window = Window(folder, orca)
        abort = next(n for n in pyatspi.utils.findAllDescendants(window.node, lambda n: n.name == "終了"))
        run_by_keys(window, orca)
        until(lambda: abort.name == "中断" or window.status() != READY)
        pressed = time.time()
        key("Return")
        status = [READY]
        until(lambda: status.append(window.status()) or status[-1] != READY)
        delay = time.time() - pressed
        aborted = status[-1] == "中断しました" and not os.path.exists(last)
        print("== Abort, attempt %d: the key reached the window %.0f ms after it was pressed%s" %
              (attempt, delay * 1000, "" if aborted else ", after the run had ended"))
        if aborted:
            heard(orca, "after Abort", "notification 中断しました")
            window.close()
            return
        window.close()
    expect(False, "Abort taken up during the run in %d attempts" % attempts)


def desktop_case(work):
    """Started as a menu or a file manager's "Open with" starts it: the
    desktop entry launched with a folder for its %f, the build's halfmap
    first on PATH, so the entry is used as it is installed."""
    root = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
    folder = os.path.join(work, "desktop")
    env = dict(os.environ, QT_LINUX_ACCESSIBILITY_ALWAYS_ON="1", QT_QPA_PLATFORM="xcb",
               PATH=os.path.join(root, "build", "release") + os.pathsep + os.environ["PATH"])
    subprocess.run(["gio", "launch", os.path.join(root, "resources", "halfmap.desktop"), folder],
                   env=env, check=True)
    window = find_window(None)
    print("== The window started from resources/halfmap.desktop on " + folder)
    print("  " + describe(window))
    expect(folder in window.description, "the folder in the window's description")
    run = next(n for n in pyatspi.utils.findAllDescendants(window, lambda n: n.name == "実行"))
    status = next(n for n in pyatspi.utils.findAllDescendants(
        window, lambda n: n.getRole() == pyatspi.ROLE_STATUS_BAR))
    run.queryAction().doAction(0)
    until(lambda: status.name == "終了")
    outputs = ["MAP29361206-%s2.BMP" % s for s in ("", "NS", "X")]
    print("  after Run: status %r, %s" % (status.name, ", ".join(
        o for o in outputs if os.path.exists(os.path.join(folder, o)))))
    expect(status.name == "終了" and all(os.path.exists(os.path.join(folder, o)) for o in outputs),
           "the desktop entry's window converts the folder's maps")
    os.kill(window.get_application().get_process_id(), 15)


def main():
    work = sys.argv[1]
    for name in ("MAP29361206-1.BMP", "MAP29361206-NS1.BMP", "MAP29361206-X1.BMP"):
        rle8_map(os.path.join(work, "abort", name), 32768, 32768)
    orca = Orca(work)
    try:
        dump_case(work, orca)
        spoken_cases(work, orca)
        abort_case(work, orca)
        desktop_case(work)
    finally:
        orca.stop()
    for failure in FAILURES:
        print("FAIL  " + failure)
    if FAILURES:
        sys.exit(1)
    print("All labels and bars named after their maps; values and the new status announced;"
          " Orca speaks the status on opening and after every run; the desktop entry opens a folder.")


main()
