"""Prints the halfmap window as AT-SPI serves it, presses Run through the
accessibility layer, prints what was announced during the run, and prints
the window again; then checks what a screen reader needs of it and exits 1
if anything is missing. Run by tools/atspi-dump.sh inside its own buses,
with the X-ray map missing."""
import sys
import time

import pyatspi
from gi.repository import GLib

CAPTION = "Corvane 1/2MAPの修正"


def find_window(timeout=20.0):
    end = time.time() + timeout
    while time.time() < end:
        for app in pyatspi.Registry.getDesktop(0):
            if app is None:
                continue
            for child in app:
                if child is not None and child.name == CAPTION:
                    return child
        time.sleep(0.2)
    sys.exit("no window named " + CAPTION)


def describe(node):
    parts = [node.getRoleName(), repr(node.name)]
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


def check(window, announced):
    failures = []

    def expect(holds, what):
        if not holds:
            failures.append(what)

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
            expect(any(k == "value changed" and name in who for k, who, _ in announced),
                   "bar %s announced its values" % name)
    expect(("object:text-changed:insert", "status bar", "終了") in announced, "the new status announced")
    for failure in failures:
        print("FAIL  " + failure)
    return not failures


def main():
    window = find_window()
    time.sleep(1)  # the start-up probe
    print("== The window before a run")
    dump(window)
    print("== Announced while Run converts the maps")
    announced = watch_run(window)
    summarise(announced)
    print("== The window after the run")
    dump(window)
    if not check(window, announced):
        sys.exit(1)
    print("All labels and bars named after their maps; values and the new status announced.")


main()
