"""Reads the running editor's accessibility tree through AT-SPI and checks, for every
control on the preset tabs, the role, the name and the value a screen reader reports.

    screen_reader.py EDITOR PRESET.cfg      (run inside dbus-run-session, with a display)

The preset is the one screen_reader.sh writes. Exits 0 when all is as it should be, 1
with every fault listed, 77 when AT-SPI cannot be reached at all.
"""

import os
import subprocess
import sys
import time

SKIP = 77

# Every control of the tab area by role: its name, and for lists their items.
SLIDERS = ["Music Bass", "Music Middle", "Music Treble", "Music Balance", "Delay", "Repeat",
           "Echo", "Rev Time", "Rev Level", "Mic Bass", "Mic Middle", "Mic Treble"]
DIALS = ["Effect Volume", "Music volume", "Mic volume"]
SPINS = ["SW FREQ", "SW VOL 1", "SW VOL 2", "Music Vol Max", "Mic Vol Max"]
LISTS = {
    "Input": ["BGM", "AUX", "DVD", "TV", "AUTO"],
    "Center": ["Music", "Mic"],
    "Aux": ["Mic", "Music", "Mic+Music"],
    "Music In": ["L+R", "L+L", "R+R", "L-R"],
    "F.B-EX": ["0", "1", "2", "3"],
    "Key": ["b-5", "b-4", "b-3", "b-2", "b-1", "0", "#+1", "#+2", "#+3", "#+4", "#+5"],
}
GROUPS = ["Default Setting", "Effect", "Music", "Mic"]

# What the preset holds, as the window shows it.
PRESET_VALUES = {"Music Bass": 3, "Music Treble": -6, "Mic Bass": -4, "Mic Treble": 7,
                 "Music Middle": 0, "Delay": 120, "SW FREQ": 150}
PRESET_ITEMS = {"Key": "#+2", "F.B-EX": "2", "Input": "DVD", "Center": "Mic"}

faults = []


def fault(text):
    faults.append(text)


def wait_for(what, timeout=10.0):
    """The first truthy result of what() within timeout seconds, else None. Events the
    bus has for our listeners are handed to them meanwhile."""
    from gi.repository import GLib  # pylint: disable=import-outside-toplevel
    context = GLib.MainContext.default()
    end = time.monotonic() + timeout
    while True:
        while context.iteration(False):
            pass
        try:
            result = what()
        except Exception:  # the tree may change under us while the window builds
            result = None
        if result or time.monotonic() > end:
            return result
        time.sleep(0.05)


def find_application(registry, pid):
    desktop = registry.getDesktop(0)
    for app in desktop:
        if app is not None and app.get_process_id() == pid:
            return app
    return None


def walk(node):
    for child in node:
        if child is None:
            continue
        yield child
        yield from walk(child)


def number(node):
    return node.queryValue().currentValue


def text_of(node):
    text = node.queryText()
    return text.getText(0, -1)


def by_role(nodes, role):
    return [n for n in nodes if n.getRoleName() == role]


def named(nodes, name):
    return [n for n in nodes if n.name == name]


def check_names(nodes, role, expected):
    """Each expected name once among the nodes of a role, and no other name."""
    names = sorted(n.name for n in nodes)
    if names != sorted(expected):
        fault(f"{role}s are named {names}, not {sorted(expected)}")


def check_tree(frame):
    nodes = list(walk(frame))
    texts = by_role(nodes, "text")

    def shown(name):
        """The value box next to a control, as the eye reads it."""
        boxes = named(texts, name + " value")
        return text_of(boxes[0]) if len(boxes) == 1 else None

    groups = by_role(nodes, "panel")
    check_names(groups, "group", GROUPS)

    for role, names in (("slider", SLIDERS), ("dial", DIALS), ("spin button", SPINS)):
        controls = by_role(nodes, role)
        check_names(controls, role, names)
        for control in controls:
            value = number(control)
            box = shown(control.name)
            if box is None:
                fault(f"{role} {control.name!r} has no value box")
            elif value != float(box):
                fault(f"{role} {control.name!r} says {value:g}, its box shows {box}")
            expected = PRESET_VALUES.get(control.name)
            if expected is not None and value != expected:
                fault(f"{role} {control.name!r} says {value:g}, the preset holds {expected}")

    for spin in by_role(nodes, "spin button"):
        arrows = sorted(c.name for c in spin if c is not None and c.getRoleName() == "push button")
        wanted = sorted([spin.name + " up", spin.name + " down"])
        if arrows != wanted:
            fault(f"the arrows of {spin.name!r} are named {arrows}, not {wanted}")

    lists = by_role(nodes, "combo box")
    check_names(lists, "list", LISTS)
    for combo in lists:
        items = LISTS.get(combo.name)
        if items is None:
            continue
        try:
            value = text_of(combo)
        except NotImplementedError:
            fault(f"list {combo.name!r} tells no current item")
            continue
        shown_items = [item.name for item in walk(combo) if item.getRoleName() == "list item"]
        if shown_items != items:
            fault(f"list {combo.name!r} offers {shown_items}, not {items}")
        expected = PRESET_ITEMS.get(combo.name)
        if value not in items:
            fault(f"list {combo.name!r} says {value!r}, which is none of its items")
        elif expected is not None and value != expected:
            fault(f"list {combo.name!r} says {value!r}, the preset holds {expected!r}")
    return nodes


def check_changes(nodes, registry):
    """Values set the way an assistive tool sets them arrive as the operator's, and the
    reader is told of each new value, which is what it speaks."""
    texts = by_role(nodes, "text")
    sliders = by_role(nodes, "slider")
    spins = by_role(nodes, "spin button")
    told = []
    registry.registerEventListener(lambda event: told.append(event.source.name),
                                   "object:property-change:accessible-value")

    def announced(name):
        if not wait_for(lambda: name in told, 3):
            fault(f"{name!r} changed without telling the reader")

    def box(name):
        return text_of(named(texts, name + " value")[0])

    treble = named(sliders, "Mic Treble")
    if treble:
        treble[0].queryValue().currentValue = -3
        if not wait_for(lambda: box("Mic Treble") == "-3", 3):
            fault(f"Mic Treble set to -3 shows {box('Mic Treble')}")
        elif number(treble[0]) != -3:
            fault(f"Mic Treble set to -3 says {number(treble[0]):g}")
        announced("Mic Treble")

    freq = named(spins, "SW FREQ")
    if freq:
        before = number(freq[0])
        up = [c for c in freq[0] if c is not None and c.name == "SW FREQ up"]
        if up:
            action = up[0].queryAction()
            press = [i for i in range(action.nActions) if action.getName(i) == "Press"]
            if not press:
                fault("the SW FREQ up arrow cannot be pressed")
            else:
                action.doAction(press[0])
                if not wait_for(lambda: number(freq[0]) == before + 1, 3):
                    fault(f"SW FREQ up took {before:g} to {number(freq[0]):g}")
                elif box("SW FREQ") != str(int(before) + 1):
                    fault(f"SW FREQ up shows {box('SW FREQ')}")
                announced("SW FREQ")


def main():
    editor, preset = sys.argv[1], sys.argv[2]
    # Without an accessibility bus the AT-SPI library ends the process that asks, so a
    # child asks first.
    probe = subprocess.run(
        [sys.executable, "-c", "import pyatspi; pyatspi.Registry.getDesktop(0).childCount"],
        capture_output=True, text=True, timeout=30, check=False)
    if probe.returncode != 0:
        reason = (probe.stderr.strip().splitlines() or ["no reason given"])[-1]
        print(f"SKIP: AT-SPI cannot start here: {reason}")
        return SKIP
    import pyatspi  # pylint: disable=import-outside-toplevel

    log = open(os.path.join(os.path.dirname(editor), "editor.log"), "w")
    process = subprocess.Popen([editor, preset], stdout=log, stderr=subprocess.STDOUT)
    try:
        app = wait_for(lambda: find_application(pyatspi.Registry, process.pid), 20)
        if app is None:
            if process.poll() is not None:
                print(f"FAIL: the editor ended with status {process.returncode}")
            else:
                print("FAIL: the editor never showed up on the accessibility bus")
            return 1
        frame = wait_for(lambda: next((f for f in app if f is not None and f.getRoleName() == "frame"
                                       and f.name.startswith("Digital Cantavel Processor")), None))
        if frame is None:
            print("FAIL: no main window on the accessibility bus")
            return 1
        # The window is there once its last control is.
        nodes = wait_for(lambda: (lambda n: n if len(by_role(n, "dial")) == len(DIALS) else None)(
            list(walk(frame))))
        if nodes is None:
            print("FAIL: the window's controls never all appeared")
            return 1
        nodes = check_tree(frame)
        check_changes(nodes, pyatspi.Registry)
    finally:
        process.terminate()
        try:
            process.wait(10)
        except subprocess.TimeoutExpired:
            process.kill()
            process.wait()
    for text in faults:
        print("FAIL: " + text)
    if faults:
        return 1
    print(f"{len(nodes)} accessible objects read; every control has its role, name and value")
    return 0


if __name__ == "__main__":
    sys.exit(main())
