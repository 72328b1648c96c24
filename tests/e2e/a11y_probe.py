#!/usr/bin/python3
"""The whole-process tests' screen reader: looks at the running client over AT-SPI.

Run with Debian's /usr/bin/python3 (python3-pyatspi), DBUS_SESSION_BUS_ADDRESS and
AT_SPI_BUS_ADDRESS set to the test's buses.

  bus ADDRESS             owns org.a11y.Bus on the session bus, answering ADDRESS as the
                          accessibility bus and "on" as its status, as the desktop's bus launcher
                          does; prints "ready", runs until its input closes
  wait WINDOW [SECS]      waits until a window of the client whose name matches WINDOW shows
  audit WINDOW            one line each for the window's role ("role: ...") and for every showing
                          control that says nothing of what it is ("unnamed: ..."): a control of
                          a kind that needs a name without one, a combo box without a label, a
                          picture or a control (not a label) that takes the focus without a
                          name, a column header named by its number
  overlaps WINDOW         one line for every showing control of the window that overlaps another
                          ("overlap: ...") or reaches out of the control it sits in or the window
                          ("cut: ..."); the items inside lists, tables, trees and edits are theirs
                          to scroll and are left out, as is a frame drawn around others
  select WINDOW NAME      selects the list, tree or table item NAME (the row of a table cell)
  focus WINDOW NAME       gives the focus to the control NAME (nothing when it has it), making
                          its window the active one first
  keys KEY...             presses and releases the keys (X keysym names: Tab, Return, ...;
                          "ctrl+n" holds Ctrl down for n)
  active                  the name of the client's active window
  texts WINDOW            "role<TAB>name" of every showing label and status text of the window
  focused                 the focused control of the active window:
                          "role<TAB>name<TAB>names of its ancestors"
  listen WINDOW SECS      prints "listening", then for SECS seconds each event a screen reader
                          speaks from under a window matching WINDOW: "type<TAB>role<TAB>name";
                          an announcement adds "<TAB>politeness<TAB>text"
WINDOW is a regular expression, searched in window names. Exit code 1 when a window or
control is not found.
"""
import re
import sys
import time

import gi

gi.require_version("Atspi", "2.0")
from gi.repository import Gio, GLib  # noqa: E402

NEEDS_NAME = {"text", "password text", "spin button", "tree", "tree table", "list", "list box",
              "table", "push button", "toggle button", "check box", "radio button",
              "date editor", "slider", "page tab list", "link", "menu item"}


def pyatspi():
    import pyatspi as module
    return module


def client():
    desk = pyatspi().Registry.getDesktop(0)
    for i in range(desk.childCount):
        app = desk.getChildAtIndex(i)
        if app is not None and app.name == "velquist":
            return app
    return None


def windows():
    app = client()
    if app is None:
        return []
    return [w for w in (app.getChildAtIndex(i) for i in range(app.childCount)) if w is not None]


def showing(acc):
    try:
        return acc.getState().contains(pyatspi().STATE_SHOWING)
    except Exception:
        return False


def window(pattern, secs=10.0):
    deadline = time.monotonic() + secs
    while True:
        for w in windows():
            if re.search(pattern, w.name or "") and showing(w):
                return w
        if time.monotonic() > deadline:
            sys.exit(f"no window matching {pattern!r} among {[w.name for w in windows()]}")
        time.sleep(0.1)


def descendants(acc, depth=0):
    if acc is None or depth > 40:
        return
    yield acc
    for i in range(acc.childCount):
        yield from descendants(acc.getChildAtIndex(i), depth + 1)


def labelled(acc):
    for relation in acc.getRelationSet():
        if relation.getRelationType() == pyatspi().RELATION_LABELLED_BY:
            for i in range(relation.getNTargets()):
                if (relation.getTarget(i).name or "").strip():
                    return True
    return False


def audit(pattern):
    w = window(pattern)
    print(f"role: {w.getRoleName()}")
    for acc in descendants(w):
        role = acc.getRoleName()
        if not showing(acc) or acc.parent is None:
            continue
        where = f"{role} in {acc.parent.getRoleName()} {acc.parent.name or ''!r}"
        # Qt names a combo box by its current item on Linux; its label says what it is.
        if role == "combo box" and not labelled(acc):
            print(f"unnamed: {where} (no label, holds {acc.name!r})")
        elif role in NEEDS_NAME and not (acc.name or "").strip():
            print(f"unnamed: {where}")
        elif role in PICTURES and not (acc.name or "").strip():
            print(f"unnamed: {where} (a picture)")
        elif role not in ITEMS | LABELS and focusable(acc) and not (acc.name or "").strip():
            print(f"unnamed: {where} (takes the focus)")
    # A header a view hides is read all the same; Qt numbers a column it was given no name for.
    for acc in descendants(w):
        if acc.getRoleName() in HEADERS and re.fullmatch(r"\d+", (acc.name or "").strip()):
            print(f"unnamed: {acc.getRoleName()} in {acc.parent.getRoleName()} "
                  f"{acc.parent.name or ''!r} (numbered {acc.name!r})")


PICTURES = {"image", "icon"}
# Rows are numbered, columns named: a number names no column.
HEADERS = {"column header", "table column header"}
# A label is named by its text; without one it shows nothing.
LABELS = {"label", "static"}


def focusable(acc):
    try:
        return acc.getState().contains(pyatspi().STATE_FOCUSABLE)
    except Exception:
        return False


# Controls whose insides scroll or pop up: what is in them is not laid out beside each other.
OWN_INSIDES = {"list", "list box", "table", "tree", "tree table", "text", "password text",
               "scroll pane", "viewport", "menu bar", "menu", "combo box", "spin button",
               "date editor", "page tab", "document frame", "terminal", "status bar"}
# Not laid out: a notification is kept out of sight on purpose.
NOT_LAID_OUT = {"notification", "tool tip", "window", "dialog", "frame"}


def extents(acc):
    try:
        e = acc.queryComponent().getExtents(pyatspi().DESKTOP_COORDS)
        return (e.x, e.y, e.width, e.height)
    except Exception:
        return None


def describe(acc, r):
    return f"{acc.getRoleName()} {(acc.name or '')[:40]!r} at {r[0]},{r[1]} {r[2]}x{r[3]}"


def inside(inner, outer, slack):
    return (inner[0] >= outer[0] - slack and inner[1] >= outer[1] - slack and
            inner[0] + inner[2] <= outer[0] + outer[2] + slack and
            inner[1] + inner[3] <= outer[1] + outer[3] + slack)


def meet(a, b, slack):
    return (min(a[0] + a[2], b[0] + b[2]) - max(a[0], b[0]) > slack and
            min(a[1] + a[3], b[1] + b[3]) - max(a[1], b[1]) > slack)


def plain(acc):
    # An unnamed plain widget: a container, or a frame drawn around controls beside it. It
    # shows nothing of its own to cut; what is in it counts.
    return acc.getRoleName() in ("filler", "panel") and not (acc.name or "").strip()


def drawn_frame(acc):
    return plain(acc) and acc.childCount == 0


def clipped(a, b):
    x, y = max(a[0], b[0]), max(a[1], b[1])
    return (x, y, max(0, min(a[0] + a[2], b[0] + b[2]) - x),
            max(0, min(a[1] + a[3], b[1] + b[3]) - y))


def overlaps(pattern):
    slack = 1  # rounding of a scaled desktop
    top = window(pattern)

    # area: what the ancestors leave visible; Qt cuts every control to it.
    def visit(acc, area):
        placed = []
        for i in range(acc.childCount):
            child = acc.getChildAtIndex(i)
            if child is None or not showing(child) or child.getRoleName() in NOT_LAID_OUT:
                continue
            r = extents(child)
            if r is None or r[2] <= 0 or r[3] <= 0:
                continue
            placed.append((child, r))
        for child, r in placed:
            if not plain(child) and not inside(r, area, slack):
                print(f"cut: {describe(child, r)} by {describe(acc, area)}")
        for i, (a, ra) in enumerate(placed):
            for b, rb in placed[i + 1:]:
                if not meet(ra, rb, slack):
                    continue
                if drawn_frame(a) and inside(rb, ra, slack) or \
                        drawn_frame(b) and inside(ra, rb, slack):
                    continue
                print(f"overlap: {describe(a, ra)} and {describe(b, rb)}")
        for child, r in placed:
            if child.getRoleName() not in OWN_INSIDES:
                visit(child, clipped(area, r))

    visit(top, extents(top))


def texts(pattern):
    for acc in descendants(window(pattern)):
        if acc.getRoleName() in ("label", "static", "status bar") and showing(acc):
            print(f"{acc.getRoleName()}\t{acc.name or ''}")


def find(root, name, roles=None):
    for acc in descendants(root):
        if (acc.name or "") == name and (roles is None or acc.getRoleName() in roles):
            return acc
    sys.exit(f"nothing named {name!r} in {root.name!r}")


def select(pattern, name):
    item = find(window(pattern), name, {"list item", "table cell", "tree item"})
    parent = item.parent
    table = None
    try:
        table = parent.queryTable()
    except NotImplementedError:
        pass
    if table is not None and item.getRoleName() == "table cell":
        row = table.getRowAtIndex(item.getIndexInParent())
        if row < 0 or not table.addRowSelection(row):
            sys.exit(f"row of {name!r} not selected")
        return
    if not parent.querySelection().selectChild(item.getIndexInParent()):
        sys.exit(f"{name!r} not selected")


def focus(pattern, name):
    top = window(pattern)
    control = find(top, name)
    if has_focus(control):
        return
    # A control takes the focus only in the active window.
    if not top.getState().contains(pyatspi().STATE_ACTIVE):
        top.queryComponent().grabFocus()
        time.sleep(0.3)
    if not control.queryComponent().grabFocus():
        sys.exit(f"{name!r} took no focus")


CONTROL_MASK = 1 << 2


def keys(names):
    module = pyatspi()
    for name in names:
        ctrl = name.startswith("ctrl+")
        keysym = Gdk_keysym(name[5:] if ctrl else name)
        if ctrl:
            Atspi().generate_keyboard_event(CONTROL_MASK, None, Atspi().KeySynthType.LOCKMODIFIERS)
        module.Registry.generateKeyboardEvent(keysym, None, module.KEY_SYM)
        if ctrl:
            Atspi().generate_keyboard_event(CONTROL_MASK, None,
                                            Atspi().KeySynthType.UNLOCKMODIFIERS)
        time.sleep(0.15)


def Atspi():
    from gi.repository import Atspi as module
    return module


def active():
    for w in windows():
        if w.getState().contains(pyatspi().STATE_ACTIVE):
            print(w.name or "")
            return
    sys.exit("no window of the client is active")


def Gdk_keysym(name):
    # The few keys the tests press, by their X keysym names.
    table = {"Tab": 0xFF09, "ISO_Left_Tab": 0xFE20, "Return": 0xFF0D, "KP_Enter": 0xFF8D,
             "space": 0x20, "Escape": 0xFF1B, "Down": 0xFF54, "Up": 0xFF52, "Menu": 0xFF67,
             "n": 0x6E, "p": 0x70}
    if name not in table:
        sys.exit(f"unknown key {name!r}")
    return table[name]


ITEMS = {"table cell", "list item", "tree item"}


def has_focus(acc):
    try:
        return acc.getState().contains(pyatspi().STATE_FOCUSED)
    except Exception:
        return False


def focused():
    # In the active window; an item view's current item says "focused" whether or not the view
    # has the focus, so the control that has it is the one to tell.
    for w in windows():
        if not w.getState().contains(pyatspi().STATE_ACTIVE):
            continue
        for acc in descendants(w):
            if acc.getRoleName() not in ITEMS and has_focus(acc):
                above = []
                up = acc.parent
                while up is not None and up.getRoleName() != "application":
                    above.append(up.name or "")
                    up = up.parent
                print(f"{acc.getRoleName()}\t{acc.name or ''}\t{'|'.join(above)}")
                return
    sys.exit("nothing has the focus")


def window_of(acc):
    while acc is not None:
        parent = acc.parent
        if parent is None or parent.getRoleName() == "application":
            return acc
        acc = parent
    return None


def listen(pattern, secs):
    module = pyatspi()
    kinds = ["object:property-change:accessible-name", "object:state-changed:showing",
             "object:text-changed:insert", "object:children-changed:add",
             "object:row-inserted", "object:announcement"]

    def on(event):
        try:
            source = event.source
            if source is None or source.getRoleName() == "scroll bar":
                return
            top = window_of(source)
            if top is None or not re.search(pattern, top.name or ""):
                return
            if event.type.startswith("object:state-changed:showing") and not event.detail1:
                return
            line = f"{event.type}\t{source.getRoleName()}\t{source.name or ''}"
            if event.type.startswith("object:announcement"):
                politeness = {1: "polite", 2: "assertive"}.get(event.detail1, str(event.detail1))
                line += f"\t{politeness}\t{event.any_data}"
            print(line, flush=True)
        except Exception:
            pass

    for kind in kinds:
        module.Registry.registerEventListener(on, kind)
    print("listening", flush=True)
    GLib.timeout_add(int(secs * 1000), lambda: module.Registry.stop() or False)
    module.Registry.start()


BUS_XML = """<node>
  <interface name="org.a11y.Bus"><method name="GetAddress"><arg type="s" direction="out"/></method>
  </interface>
  <interface name="org.a11y.Status">
    <property name="IsEnabled" type="b" access="readwrite"/>
    <property name="ScreenReaderEnabled" type="b" access="readwrite"/>
  </interface>
</node>"""


def bus(address):
    node = Gio.DBusNodeInfo.new_for_xml(BUS_XML)
    loop = GLib.MainLoop()

    def call(connection, sender, path, interface, method, parameters, invocation):
        invocation.return_value(GLib.Variant("(s)", (address,)))

    def get(connection, sender, path, interface, name):
        return GLib.Variant("b", True)

    def acquired(connection, name):
        print("ready", flush=True)

    def bus_up(connection, name):
        for info in node.interfaces:
            connection.register_object("/org/a11y/bus", info, call, get, None)

    Gio.bus_own_name(Gio.BusType.SESSION, "org.a11y.Bus", Gio.BusNameOwnerFlags.NONE, bus_up,
                     acquired, lambda *a: loop.quit())
    GLib.io_add_watch(GLib.IOChannel.unix_new(sys.stdin.fileno()), GLib.PRIORITY_DEFAULT,
                      GLib.IOCondition.IN | GLib.IOCondition.HUP,
                      lambda *a: (sys.stdin.readline() and True) or loop.quit() or False)
    loop.run()


def main(argv):
    if len(argv) < 2:
        sys.exit(__doc__)
    command, args = argv[1], argv[2:]
    if command == "bus":
        bus(args[0])
    elif command == "wait":
        window(args[0], float(args[1]) if len(args) > 1 else 10.0)
    elif command == "audit":
        audit(args[0])
    elif command == "overlaps":
        overlaps(args[0])
    elif command == "select":
        select(args[0], args[1])
    elif command == "focus":
        focus(args[0], args[1])
    elif command == "keys":
        keys(args)
    elif command == "texts":
        texts(args[0])
    elif command == "focused":
        focused()
    elif command == "active":
        active()
    elif command == "listen":
        listen(args[0], float(args[1]))
    else:
        sys.exit(__doc__)


if __name__ == "__main__":
    main(sys.argv)
