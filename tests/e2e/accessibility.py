#!/usr/bin/python3
"""Reads the manager's accessibility tree from outside, as a screen reader does, through
AT-SPI (pyatspi), and moves through it with real key presses and clicks (xdotool).

Usage: accessibility.py LANGUAGE_FILE DEVICE_NAME PRODUCT_TITLE [OPENER ...]

Once its focus listener is registered it creates the file named by $LISTENING_FILE, if
set: the manager is to start after that (see main).

On each page a person can reach (the start page, key information, verify PIN, change
label, change PIN, containers) it checks that every control on screen has a role and a name taken
from the current language file, that the device tree announces its nodes by name, and
that Tab moves through the page's controls once each, in reading order.
"""
import os
import re
import subprocess
import sys
import time

import pyatspi
from gi.repository import GLib

INTERACTIVE = {
    pyatspi.ROLE_PUSH_BUTTON, pyatspi.ROLE_TOGGLE_BUTTON, pyatspi.ROLE_CHECK_BOX, pyatspi.ROLE_RADIO_BUTTON,
    pyatspi.ROLE_TEXT, pyatspi.ROLE_PASSWORD_TEXT, pyatspi.ROLE_ENTRY, pyatspi.ROLE_COMBO_BOX,
    pyatspi.ROLE_SPIN_BUTTON, pyatspi.ROLE_TREE, pyatspi.ROLE_TREE_TABLE, pyatspi.ROLE_TABLE,
    pyatspi.ROLE_LIST, pyatspi.ROLE_PAGE_TAB_LIST, pyatspi.ROLE_SLIDER,
}
ITEMS = {pyatspi.ROLE_TABLE_CELL, pyatspi.ROLE_TREE_ITEM, pyatspi.ROLE_LIST_ITEM}
TREES = {pyatspi.ROLE_TREE, pyatspi.ROLE_TREE_TABLE}
TEXTS = {pyatspi.ROLE_TEXT, pyatspi.ROLE_PASSWORD_TEXT, pyatspi.ROLE_ENTRY}
TIMEOUT = 60.0

failures = []
# Sources of "gained the focus" events, newest last. Qt reports a tree's focus only as an
# event, never in the tree's state, so the focus is followed through events.
focus_events = []


def on_focus(event):
    if event.detail1 == 1:
        focus_events.append(event.source)


# How long a focus event may take to arrive: the bus carries every object's announcements,
# and on a busy machine the first ones after a click took over 5 s.
FOCUS_WAIT = 15


def pump():
    """Handles what the bus has brought: focus events, and the news that keeps pyatspi's
    copy of the tree current (an application that appears after the reader started)."""
    context = GLib.MainContext.default()
    while context.iteration(False):
        pass


def pump_until(condition, timeout):
    deadline = time.monotonic() + timeout
    while True:
        pump()
        if condition():
            return True
        if time.monotonic() > deadline:
            return False
        time.sleep(0.05)


def fail(message):
    failures.append(message)
    print("FAIL: " + message, file=sys.stderr)


def wait_for(what, probe, timeout=TIMEOUT):
    deadline = time.monotonic() + timeout
    while True:
        pump()
        found = probe()
        if found:
            return found
        if time.monotonic() > deadline:
            raise SystemExit("FAIL: timed out waiting for " + what)
        time.sleep(0.2)


def read_language_file(path):
    texts = set()
    with open(path, encoding="utf-8") as f:
        for line in f:
            match = re.match(r"^\d+=(.*)$", line.rstrip("\n"))
            if match:
                for part in match.group(1).replace("\\n", "\n").split("\n"):
                    if part.strip():
                        texts.add(part.strip())
    return texts


def extents(acc):
    try:
        box = acc.queryComponent().getExtents(pyatspi.DESKTOP_COORDS)
        return (box.x, box.y, box.width, box.height)
    except NotImplementedError:
        return (0, 0, 0, 0)


def states(acc):
    return acc.getState()


def on_screen(acc):
    """Shown and with a size: Qt reports the trees of hidden pages and the closed
    language list as showing, but with no area."""
    x, y, w, h = extents(acc)
    return states(acc).contains(pyatspi.STATE_SHOWING) and w > 1 and h > 1


def walk(acc, found, inside_hidden=False):
    for child in acc:
        if child is None:
            continue
        hidden = inside_hidden or not on_screen(child)
        role = child.getRole()
        if not hidden and role in INTERACTIVE | ITEMS:
            found.append(child)
        # A tree's rows are reached through the tree itself (below), not its children.
        if role not in (pyatspi.ROLE_TREE, pyatspi.ROLE_TREE_TABLE, pyatspi.ROLE_TABLE, pyatspi.ROLE_LIST):
            walk(child, found, hidden)
        elif not hidden:
            for item in child:
                if item is not None and item.getRole() in ITEMS and on_screen(item):
                    found.append(item)
    return found


def find_app():
    for app in pyatspi.Registry.getDesktop(0):
        if app is not None and app.name == "ovrinkey":
            return app
    return None


def frame_of(app):
    for child in app:
        if child is not None and child.getRole() == pyatspi.ROLE_FRAME and on_screen(child):
            return child
    return None


def describe(acc):
    x, y, w, h = extents(acc)
    return "%s '%s' at %d,%d" % (acc.getRoleName(), acc.name, x, y)


def centre(acc):
    x, y, w, h = extents(acc)
    return x + w // 2, y + h // 2


def click(acc):
    x, y = centre(acc)
    subprocess.run(["xdotool", "mousemove", "--sync", str(x), str(y), "click", "1"], check=True)


def press(key):
    subprocess.run(["xdotool", "key", key], check=True)


class Page:
    def __init__(self, frame, texts, device, title):
        self.frame = frame
        self.texts = texts
        self.device = device
        self.title = title

    def controls(self):
        return [acc for acc in walk(self.frame, []) if acc.getRole() in INTERACTIVE]

    def named(self, role, name):
        for acc in walk(self.frame, []):
            if acc.getRole() == role and acc.name == name:
                return acc
        return None

    def in_language(self, name):
        if name in self.texts or name in (self.title, self.device):
            return True
        # Composite names: an OK button names the operation it confirms ("Verify PIN: OK").
        parts = [part.strip() for part in re.split(r"[:/]", name)]
        return all(part in self.texts for part in parts if part)

    def device_tree(self):
        for acc in self.controls():
            if acc.getRole() in TREES and any(item is not None and item.name == self.device for item in acc):
                return acc
        return None

    def check_names(self, page):
        for acc in self.controls():
            if not acc.getRoleName() or acc.getRole() == pyatspi.ROLE_UNKNOWN:
                fail("%s: %s has no role" % (page, describe(acc)))
            if not acc.name.strip():
                fail("%s: %s has no name" % (page, describe(acc)))
            elif not self.in_language(acc.name.strip()):
                fail("%s: %s is not named in the current language" % (page, describe(acc)))
        devices = self.device_tree()
        for acc in devices or []:
            if acc is not None and acc.getRole() in ITEMS and on_screen(acc) and not acc.name.strip():
                fail("%s: a node of the device tree at %s is announced without a name" % (page, extents(acc)[:2]))

    def focused(self):
        """The control the last focus event named; a tree announces its current row as
        well, and the tree is the stop."""
        source = focus_events[-1] if focus_events else None
        if source is not None and source.getRole() in ITEMS and source.parent is not None:
            source = source.parent
        return source

    def tab_cycle(self, page):
        """The controls Tab visits, from where the focus is, until it comes back."""
        # The focus event of the click that opened the page may still wait in the queue.
        pump_until(lambda: self.focused() is not None, FOCUS_WAIT)
        first = self.focused()
        if first is None:
            fail("%s: nothing has the keyboard focus" % page)
            return []
        key = lambda acc: (acc.getRoleName(), acc.name, extents(acc))
        stops = [first]
        for _ in range(40):
            before = stops[-1]
            focus_events.clear()
            press("Tab")
            if not pump_until(lambda: focus_events and key(self.focused()) != key(before), FOCUS_WAIT):
                fail("%s: Tab does not move the focus on from %s" % (page, describe(before)))
                break
            now = self.focused()
            if not on_screen(now):
                fail("%s: Tab moves the focus from %s to %s, which is not on screen"
                     % (page, describe(before), describe(now)))
                break
            if key(now) == key(stops[0]):
                break
            if key(now) in [key(acc) for acc in stops]:
                fail("%s: Tab returns to %s before visiting the rest" % (page, describe(now)))
                break
            stops.append(now)
        return stops

    def check_tab_order(self, page, devices):
        stops = self.tab_cycle(page)
        names = [describe(acc) for acc in stops]
        # Every control a person can use here is reached.
        # Qt does not report a tree as focusable; a person can still Tab into it.
        reachable = [acc for acc in self.controls()
                     if acc.getRole() in TREES or states(acc).contains(pyatspi.STATE_FOCUSABLE)
                     and states(acc).contains(pyatspi.STATE_ENABLED)]
        stop_keys = {(acc.getRoleName(), acc.name, extents(acc)) for acc in stops}
        for acc in reachable:
            if (acc.getRoleName(), acc.name, extents(acc)) not in stop_keys:
                fail("%s: Tab never reaches %s (order: %s)" % (page, describe(acc), names))
        if not any(acc.name == devices for acc in stops):
            fail("%s: Tab never reaches the device tree (order: %s)" % (page, names))
            return
        # The cycle read from its first control in reading order (the topmost, then the
        # leftmost: the logo above the tree) follows the page: right along a row, down a
        # column, never back.
        start = min(range(len(stops)), key=lambda i: (extents(stops[i])[1], extents(stops[i])[0]))
        ordered = stops[start:] + stops[:start]
        for before, after in zip(ordered, ordered[1:]):
            bx, by, bw, bh = extents(before)
            ax, ay, aw, ah = extents(after)
            same_row = ay < by + bh and by < ay + ah
            same_column = ax < bx + bw and bx < ax + aw
            if (same_row and ax < bx) or (same_column and not same_row and ay < by):
                fail("%s: Tab goes back from %s to %s (order: %s)" % (page, describe(before), describe(after), names))
        print("%s: Tab order %s" % (page, names))


def main():
    language_file, device, title = sys.argv[1:4]
    texts = read_language_file(language_file)
    # Qt's bridge asks the registry for its listeners once, then subscribes to news of
    # new ones; a listener registered between the two is never sent an event. So the
    # listener comes first and the manager is started after it.
    pyatspi.Registry.registerEventListener(on_focus, "object:state-changed:focused")
    if os.environ.get("LISTENING_FILE"):
        open(os.environ["LISTENING_FILE"], "w").close()
    app = wait_for("the manager on the accessibility bus", find_app)
    frame = wait_for("the manager's window", lambda: frame_of(app))
    page = Page(frame, texts, device, title)

    devices = wait_for("the device tree with the token", page.device_tree)
    node = wait_for("the device node", lambda: page.named(pyatspi.ROLE_TABLE_CELL, device)
                    or page.named(pyatspi.ROLE_TREE_ITEM, device))
    page.check_names("start page")

    click(node)
    key_info = wait_for("the key information rows", lambda: next(
        (acc for acc in page.controls() if acc.getRole() in TREES and acc.name != devices.name), None))
    # The device's application node shows once the tree is expanded.
    press("Right")
    children = lambda: [item.name for item in devices
                        if item is not None and item.getRole() in ITEMS and on_screen(item)
                        and item.name not in (device, devices.name)]
    wait_for("the device's child node", children)
    for name in children():
        if name not in texts:
            fail("the device's child node '%s' is not in the current language" % name)
    page.check_names("key information")
    page.check_tab_order("key information", devices.name)

    for opener in sys.argv[4:]:
        button = page.named(pyatspi.ROLE_PUSH_BUTTON, opener)
        if button is None:
            fail("no button '%s' on the key information page" % opener)
            continue
        click(button)
        # Each of these pages has a field for the user to fill in.
        wait_for("the page of '%s'" % opener, lambda: any(acc.getRole() in TEXTS for acc in page.controls()))
        page.check_names(opener)
        page.check_tab_order(opener, devices.name)
        # Filled in, the page's OK button comes on: it follows the fields.
        fields = sorted((acc for acc in page.controls() if acc.getRole() in TEXTS), key=lambda acc: extents(acc)[1])
        for field in fields:
            click(field)
            subprocess.run(["xdotool", "type", "--delay", "30", "12345678"], check=True)
        wait_for("the OK button of '%s' to come on" % opener, lambda: len(page.controls()) > 0 and any(
            acc.getRole() == pyatspi.ROLE_PUSH_BUTTON and states(acc).contains(pyatspi.STATE_ENABLED)
            and extents(acc)[1] > extents(fields[-1])[1] and extents(acc)[1] < extents(devices)[1] + extents(devices)[3] - 60
            for acc in page.controls()), timeout=10)
        page.check_tab_order(opener + ", filled in", devices.name)

    # The application node opens the page of containers and certificates.
    application = next(item for item in devices if item is not None and item.name in children())
    click(application)
    wait_for("the container page", lambda: any(
        acc.getRole() in TREES and acc.name not in (devices.name, key_info.name) for acc in page.controls()))
    page.check_names("containers")
    page.check_tab_order("containers", devices.name)

    if failures:
        raise SystemExit("FAIL: %d accessibility faults" % len(failures))
    print("PASS: every control named, nodes announced, Tab in reading order")


if __name__ == "__main__":
    main()
