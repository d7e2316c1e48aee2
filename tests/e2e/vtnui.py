"""Drives the real vtnraid like a person at the screen: widgets are found on the accessibility bus
by role and by the texts the program shows, entries are filled through the bus, and buttons,
menus and rows are clicked with synthetic XTest clicks at their place on the screen, so a click
that opens a modal window never blocks the driver.

Every wait is a condition with a deadline; every step of a scenario has a watchdog. A scenario
that fails leaves a screenshot, the server's output and event log and the GUI's output in its
output folder.
"""
import os
import random
import re
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import threading
import time
import traceback

import gi
gi.require_version('GdkPixbuf', '2.0')
from gi.repository import GdkPixbuf  # noqa: E402
from Xlib import X  # noqa: E402
from Xlib import display as xdisplay  # noqa: E402
from Xlib.ext import xtest  # noqa: E402

pyatspi = None  # imported once the display is up

SOURCE_DIR = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
ICON_DIR = os.path.join(SOURCE_DIR, 'gui', 'icons')
SCREEN = (1280, 1024)
# Where the pointer rests between clicks: no widget there, so no button is drawn hovered.
PARK = (SCREEN[0] - 1, SCREEN[1] - 1)


class ScenarioFailed(Exception):
    pass


def _now():
    return time.monotonic()


def free_port():
    """A port that is free now, below the kernel's range for outgoing connections (a port of that
    range could be taken by some client's socket before the server binds it)."""
    for _ in range(1000):
        port = random.randrange(10000, 32000)
        with socket.socket() as s:
            try:
                s.bind(('127.0.0.1', port))
            except OSError:
                continue
            return port
    raise ScenarioFailed('no free port')


def port_open(port):
    try:
        with socket.create_connection(('127.0.0.1', port), timeout=1):
            return True
    except OSError:
        return False


def file_id(path):
    """Inode and modification time of a file, or None: a file made anew in its place differs."""
    try:
        st = os.stat(path)
        return st.st_ino, st.st_mtime_ns
    except OSError:
        return None


def other_vtnraid_pids():
    """Processes named vtnraid anywhere on the machine (the GUI refuses to start beside one)."""
    found = []
    for entry in os.listdir('/proc'):
        if not entry.isdigit():
            continue
        try:
            with open('/proc/%s/status' % entry) as f:
                words = f.readline().split()
        except OSError:
            continue
        if len(words) > 1 and words[1] == 'vtnraid':
            found.append(int(entry))
    return found


# ---- pictures ------------------------------------------------------------------------------------

def load_xpm(name):
    """The icon gui/icons/NAME.xpm as a pixbuf (the program compiles the same files in)."""
    with open(os.path.join(ICON_DIR, name + '.xpm')) as f:
        lines = re.findall(r'"((?:[^"\\]|\\.)*)"', f.read())
    return GdkPixbuf.Pixbuf.new_from_xpm_data(lines)


class Screen:
    """The X display: XTest pointer input and pictures of what it shows."""

    def __init__(self, name):
        self.name = name
        self.lock = threading.Lock()
        self.d = xdisplay.Display(name)
        if not self.d.query_extension('XTEST'):
            raise ScenarioFailed('the X server has no XTEST extension')

    def click(self, x, y):
        with self.lock:
            self._focus_window_at(x, y)
            xtest.fake_input(self.d, X.MotionNotify, x=int(x), y=int(y))
            self.d.sync()
            xtest.fake_input(self.d, X.ButtonPress, 1)
            self.d.sync()
            xtest.fake_input(self.d, X.ButtonRelease, 1)
            self.d.sync()

    def unfocus(self):
        """No window has the keyboard focus, and the focus does not follow the pointer."""
        with self.lock:
            self.d.set_input_focus(X.NONE, X.RevertToNone, X.CurrentTime)
            self.d.sync()

    def _focus_window_at(self, x, y):
        """What a click-to-focus window manager does: the top window under the click gets the
        focus (the program sees a focus-in) unless it has it; menus and pop-ups take none."""
        root = self.d.screen().root
        for w in reversed(root.query_tree().children):
            try:
                attrs = w.get_attributes()
                if attrs.map_state != X.IsViewable:
                    continue
                g = w.get_geometry()
            except Exception:
                continue
            if g.x <= x < g.x + g.width + 2 * g.border_width and g.y <= y < g.y + g.height + 2 * g.border_width:
                if attrs.override_redirect:
                    return
                if self.d.get_input_focus().focus != w:
                    w.set_input_focus(X.RevertToNone, X.CurrentTime)
                    self.d.sync()
                return

    def park(self):
        with self.lock:
            xtest.fake_input(self.d, X.MotionNotify, x=PARK[0], y=PARK[1])
            self.d.sync()

    def grab(self, x=0, y=0, w=None, h=None):
        """RGB bytes of a rectangle of the screen, with its width and height."""
        w = SCREEN[0] - x if w is None else w
        h = SCREEN[1] - y if h is None else h
        x, y = max(0, x), max(0, y)
        w, h = max(1, min(w, SCREEN[0] - x)), max(1, min(h, SCREEN[1] - y))
        # A connection of its own: the watchdog may take a picture while the driver waits.
        d = xdisplay.Display(self.name)
        try:
            raw = d.screen().root.get_image(x, y, w, h, X.ZPixmap, 0xffffffff).data
        finally:
            d.close()
        rgb = bytearray(w * h * 3)
        rgb[0::3] = raw[2::4]
        rgb[1::3] = raw[1::4]
        rgb[2::3] = raw[0::4]
        return bytes(rgb), w, h

    def save(self, path, x=0, y=0, w=None, h=None):
        rgb, w, h = self.grab(x, y, w, h)
        pixbuf = GdkPixbuf.Pixbuf.new_from_data(rgb, GdkPixbuf.Colorspace.RGB, False, 8, w, h, w * 3)
        pixbuf.savev(path, 'png', [], [])
        return path


def icon_distance(rgb, w, h, icon):
    """Least mean difference of the icon's opaque pixels against any place in the picture."""
    iw, ih, n, stride = icon.get_width(), icon.get_height(), icon.get_n_channels(), icon.get_rowstride()
    data = icon.get_pixels()
    opaque = []
    for iy in range(ih):
        for ix in range(iw):
            p = iy * stride + ix * n
            if n < 4 or data[p + 3] > 128:
                opaque.append((ix, iy, data[p], data[p + 1], data[p + 2]))
    best = None
    for oy in range(0, h - ih + 1):
        for ox in range(0, w - iw + 1):
            total = 0
            for ix, iy, r, g, b in opaque:
                q = ((oy + iy) * w + ox + ix) * 3
                total += abs(rgb[q] - r) + abs(rgb[q + 1] - g) + abs(rgb[q + 2] - b)
                if best is not None and total >= best * len(opaque):
                    break
            mean = total / max(1, len(opaque))
            if best is None or mean < best:
                best = mean
    return float('inf') if best is None else best


# ---- the accessibility bus ---------------------------------------------------------------------

def name_of(acc):
    try:
        return acc.name or ''
    except Exception:
        return ''


def text_of(acc):
    """What a widget shows: an entry's text, else its accessible name."""
    try:
        t = acc.queryText()
        return t.getText(0, t.characterCount)
    except Exception:
        return name_of(acc)


def role_of(acc):
    try:
        return acc.getRoleName()
    except Exception:
        return ''


def has_state(acc, state):
    try:
        return acc.getState().contains(state)
    except Exception:
        return False


def showing(acc):
    return has_state(acc, pyatspi.STATE_SHOWING)


def sensitive(acc):
    return has_state(acc, pyatspi.STATE_SENSITIVE)


def extents(acc):
    try:
        e = acc.queryComponent().getExtents(pyatspi.DESKTOP_COORDS)
        return e.x, e.y, e.width, e.height
    except Exception:
        return None


def children(acc):
    out = []
    try:
        for i in range(acc.childCount):
            c = acc.getChildAtIndex(i)
            if c is not None:
                out.append(c)
    except Exception:
        pass
    return out


def caption(text):
    """Captions are padded with blanks ("    OK    "); compare them trimmed."""
    return (text or '').strip()


def matches(value, want):
    if want is None:
        return True
    if isinstance(want, re.Pattern):
        return want.search(value or '') is not None
    return caption(value) == caption(want)


def descendants(acc, pred, only_showing=True, limit=10000):
    """Widgets under acc (depth first, in screen order) for which pred holds."""
    out = []
    stack = [acc]
    seen = 0
    while stack and seen < limit:
        a = stack.pop()
        seen += 1
        if a is not acc and pred(a):
            out.append(a)
        kids = children(a)
        if only_showing:
            kids = [k for k in kids if showing(k) or role_of(k) in ('menu', 'menu item')]
        stack.extend(reversed(kids))
    return out


class Gui:
    """The running vtnraid as the accessibility bus shows it."""

    def __init__(self, session, pid):
        self.s = session
        self.pid = pid

    def app(self):
        desktop = pyatspi.Registry.getDesktop(0)
        for a in children(desktop):
            try:
                if a.get_process_id() == self.pid:
                    return a
            except Exception:
                continue
        return None

    def windows(self, title=None):
        app = self.app()
        if app is None:
            return []
        return [w for w in children(app) if showing(w) and matches(name_of(w), title)]

    def window(self, title, text=None, timeout=30):
        """A shown window with the title (and a label holding text, when given)."""
        def find():
            for w in self.windows(title):
                if text is None or self.labels(w, text):
                    return w
            return None
        what = 'window "%s"' % title + (' saying %r' % text if text is not None else '')
        return self.s.wait(find, what, timeout)

    def gone(self, title, text=None, timeout=30):
        def absent():
            return not any(text is None or self.labels(w, text) for w in self.windows(title))
        self.s.wait(absent, 'window "%s" to close' % title, timeout)

    def labels(self, root, text=None):
        return descendants(root, lambda a: role_of(a) == 'label' and matches(name_of(a), text))

    def find_all(self, root, role, name=None):
        return descendants(root, lambda a: role_of(a) == role and matches(name_of(a), name))

    def find(self, root, role, name=None, timeout=30, usable=True):
        """The first shown widget of role (and name) under root; usable: sensitive too."""
        def look():
            for a in self.find_all(root, role, name):
                if not usable or sensitive(a):
                    return a
            return None
        return self.s.wait(look, '%s "%s"%s' % (role, name, ' (sensitive)' if usable else ''), timeout)

    def button(self, root, name, timeout=30):
        return self.find(root, 'push button', name, timeout)

    def click(self, acc, what=None):
        """A click at the middle of the widget, as the pointer would make it."""
        box = self.s.wait(lambda: self._clickable(acc), 'a place on screen for %s' % (what or name_of(acc)), 10)
        x, y, w, h = box
        self.s.log('click %s "%s" at %d,%d' % (role_of(acc), caption(what or name_of(acc)), x + w // 2, y + h // 2))
        self.s.screen.click(x + w // 2, y + h // 2)
        self.s.screen.park()

    def _clickable(self, acc):
        e = extents(acc)
        if e is None or e[2] <= 0 or e[3] <= 0 or e[0] < 0 or e[1] < 0:
            return None
        return e

    def press(self, root, name, timeout=30):
        """Clicks the sensitive button of that caption in root."""
        self.click(self.button(root, name, timeout))

    def answer(self, title, text=None, button='OK', timeout=30):
        """Waits for a box, answers it with the button and waits for it to go; returns its text."""
        w = self.window(title, text, timeout)
        said = [caption(name_of(l)) for l in self.labels(w)]
        self.s.log('box "%s": %s -> %s' % (title, ' | '.join(s for s in said if s), button))
        self.press(w, button)
        self.gone(title, text, timeout)
        return '\n'.join(said)

    def entry_beside(self, root, label, timeout=30):
        """The entry to the right of a label, on its line (how the dialogs lay out their rows)."""
        def look():
            marks = self.labels(root, label)
            entries = descendants(root, lambda a: role_of(a) in ('text', 'password text'))
            for m in marks:
                me = extents(m)
                if me is None:
                    continue
                mid = me[1] + me[3] / 2
                best = None
                for e in entries:
                    ee = extents(e)
                    if ee and ee[0] >= me[0] + me[2] - 2 and ee[1] <= mid <= ee[1] + ee[3]:
                        if best is None or ee[0] < best[0]:
                            best = (ee[0], e)
                if best:
                    return best[1]
            return None
        return self.s.wait(look, 'an entry beside "%s"' % label, timeout)

    def type_into(self, entry, text):
        self.s.wait(lambda: sensitive(entry), 'a sensitive entry', 10)
        entry.queryEditableText().setTextContents(text)
        if role_of(entry) != 'password text':
            self.s.wait(lambda: text_of(entry) == text, 'the entry to hold %r' % text, 10)

    def fill(self, root, label, text):
        self.type_into(self.entry_beside(root, label), text)

    def check(self, root, name, on=True):
        box = self.find(root, 'check box', name)
        if has_state(box, pyatspi.STATE_CHECKED) != on:
            self.click(box)
            self.s.wait(lambda: has_state(box, pyatspi.STATE_CHECKED) == on, 'check box "%s" %s' %
                        (name, 'on' if on else 'off'), 10)

    def dump(self, acc, out, depth=0):
        """The shown widgets under acc, one a line: role, name, place (what a failure leaves)."""
        out.write('%s%s %r %s%s\n' % ('  ' * depth, role_of(acc), name_of(acc), extents(acc),
                                      '' if sensitive(acc) else ' insensitive'))
        for c in children(acc):
            if showing(c) and depth < 40:
                self.dump(c, out, depth + 1)

    def main(self, timeout=30):
        return self.window('Vorathine RAID Management Software', timeout=timeout)

    def menu(self, *path):
        """Opens the menu bar's entry path[0] and clicks the items down the path."""
        root = self.main()
        bar = self.find(root, 'menu bar', usable=False)
        self.click(self.find(bar, 'menu', path[0]))
        for name in path[1:-1]:
            self.click(self.find(self.app(), 'menu', name))
        item = self.find(self.app(), 'menu item', path[-1])
        self.click(item)

    def menu_sensitive(self, *path):
        """Whether the menu bar's item at path can be chosen (read without opening it)."""
        node = self.find(self.find(self.main(), 'menu bar', usable=False), 'menu', path[0], usable=False)
        if not sensitive(node):
            return False
        for name in path[1:]:
            found = [c for c in children(node) if caption(name_of(c)) == name]
            if not found:
                raise ScenarioFailed('no menu item %s' % '/'.join(path))
            node = found[0]
            if not sensitive(node):
                return False
        return True

    def toolbar_button(self, name, usable=False):
        return self.find(self.main(), 'push button', name, usable=usable)

    def status(self):
        return caption(name_of(self.find(self.main(), 'status bar', usable=False)))

    # Tables: lists and trees.
    def table(self, root, header=None, timeout=30):
        """The shown table (or tree table) of root, the one with a column titled header if given."""
        def look():
            for t in descendants(root, lambda a: role_of(a) in ('table', 'tree table')):
                if header is None or any(caption(name_of(c)) == header for c in children(t)
                                         if role_of(c) == 'table column header'):
                    return t
            return None
        return self.s.wait(look, 'a list' + (' with the column "%s"' % header if header else ''), timeout)

    def cells(self, table):
        """Rows of texts of a table, as it shows them."""
        t = table.queryTable()
        out = []
        for r in range(t.nRows):
            row = []
            for c in range(t.nColumns):
                cell = t.getAccessibleAt(r, c)
                row.append(self.cell_text(cell))
            out.append(row)
        return out

    def cell_text(self, cell):
        if cell is None:
            return ''
        parts = [caption(name_of(cell))] + [caption(name_of(k)) for k in children(cell)]
        return ' '.join(p for p in dict.fromkeys(parts) if p)

    def tree(self, table, expand=True):
        """The rows of a tree as (depth, text) with every branch opened first, as a person clicks
        the triangles open."""
        if expand:
            for _ in range(50):
                t = table.queryTable()
                closed = [t.getAccessibleAt(r, 0) for r in range(t.nRows)]
                closed = [c for c in closed if has_state(c, pyatspi.STATE_EXPANDABLE) and
                          not has_state(c, pyatspi.STATE_EXPANDED)]
                if not closed:
                    break
                closed[0].queryAction().doAction(0)  # "expand or contract"
                self.s.wait(lambda: has_state(closed[0], pyatspi.STATE_EXPANDED), 'a branch to open', 10)
        t = table.queryTable()
        depth = {}
        rows = []
        for r in range(t.nRows):
            cell = t.getAccessibleAt(r, 0)
            parent = None
            for rel in cell.getRelationSet():
                if rel.getRelationType() == pyatspi.RELATION_NODE_CHILD_OF and rel.getNTargets():
                    parent = rel.getTarget(0)
            level = 0
            if parent is not None and role_of(parent) == 'table cell':
                level = depth.get(parent.getIndexInParent(), -1) + 1
            depth[cell.getIndexInParent()] = level
            rows.append((level, self.cell_text(cell)))
        return rows

    def row_of(self, table, text):
        """The number of the first row showing text."""
        for r, row in enumerate(self.cells(table)):
            if row and matches(row[0], text):
                return r
        return None

    def icon(self, table, row, candidates):
        """Which of the candidate icons (names in gui/icons) the row shows: the picture on screen
        is compared with each."""
        cell = self.cell_at(table, row, 0)
        images = [k for k in children(cell) if role_of(k) in ('table cell', 'image', 'icon') and not name_of(k)]
        box = extents(images[0] if images else cell)
        if box is None:
            raise ScenarioFailed('row %d has no place on the screen' % row)
        x, y, w, h = box
        # The toolkit reports the cell a little right of where it draws it (by the expander's
        # width): look from one cell's width to its left.
        rgb, gw, gh = self.s.screen.grab(x - w - 4, y - 4, 2 * w + 8, h + 8)
        scores = sorted((icon_distance(rgb, gw, gh, load_xpm(n)), n) for n in candidates)
        self.s.log('icon of row %d: %s' % (row, ', '.join('%s %.1f' % (n, d) for d, n in scores)))
        return scores[0][1]

    def cell_at(self, table, row, column=0):
        return table.queryTable().getAccessibleAt(row, column)

    def select_row(self, table, column, text):
        """Clicks the row whose cell in column shows text; returns the row's number."""
        def look():
            rows = self.cells(table)
            for r, row in enumerate(rows):
                if column < len(row) and matches(row[column], text):
                    cell = self.cell_at(table, r, column)
                    if self._clickable(cell):
                        return r, cell
            return None
        # A list filled a moment ago places its rows lazily: a click that fast may find no row,
        # and a person would click again.
        r, cell = self.s.wait(look, 'a row showing "%s"' % text, 30)
        self.click_until(cell, lambda: has_state(self.cell_at(table, r, column), pyatspi.STATE_SELECTED),
                         'row "%s" selected' % text, text if isinstance(text, str) else None)
        return r

    def choose(self, item, what):
        """Clicks a list item until it shows selected."""
        self.click_until(item, lambda: has_state(item, pyatspi.STATE_SELECTED), '%s chosen' % what, what)

    def click_until(self, acc, done, what, caption_=None, attempts=3):
        """Clicks acc until done holds: a click on a busy program can go astray, and a person would
        click again (only for clicks that a second one does not undo)."""
        for attempt in range(attempts):
            self.click(acc, caption_)
            try:
                self.s.wait(done, what, 2 if attempt < attempts - 1 else 10)
                return
            except ScenarioFailed:
                if attempt == attempts - 1:
                    raise
                self.s.log('not yet %s: clicking again' % what)


class Session:
    """One scenario: a private X display, the server on a simulated controller under a fresh
    VTN_ROOT, the GUI, and the pictures and logs a failure leaves behind."""

    def __init__(self, name, build, out, root=None, port=None):
        """root and port: a server that runs already (its VTN_ROOT and request port), which the
        session uses and leaves as it is; otherwise start_server makes one under a fresh root."""
        self.name = name
        self.build = build
        self.out = out
        os.makedirs(out, exist_ok=True)
        self.own_root = root is None
        self.root = tempfile.mkdtemp(prefix='vtne2e-%s.' % name) if self.own_root else root
        self.procs = []
        self.display = None  # the display number, and the identity of the socket its server made
        self.step_name = 'start'
        self.step_deadline = None
        self.step_lock = threading.Lock()
        self.logfile = open(os.path.join(out, name + '.log'), 'w')
        self.screen = None
        self.gui = None
        self.server = None
        self.port = port
        self.event_port = None
        self.failed = False
        self._watchdog = None

    # ---- reporting -------------------------------------------------------------------------------
    def log(self, text):
        line = '%8.2f %s' % (_now() - START, text)
        self.logfile.write(line + '\n')
        self.logfile.flush()

    def save_failure(self, why):
        """The picture of the screen and the logs of both programs, beside the scenario's output."""
        if self.failed:
            return
        self.failed = True
        self.log('FAILED in step "%s": %s' % (self.step_name, why))
        sys.stderr.write('%s: FAILED in step "%s": %s\n' % (self.name, self.step_name, why))
        if self.screen:
            try:
                shot = self.screen.save(os.path.join(self.out, self.name + '-failure.png'))
                sys.stderr.write('%s: screenshot %s\n' % (self.name, shot))
            except Exception as e:
                self.log('no screenshot: %s' % e)
        for src, dst in (('vtnsvr.out', '-vtnsvr.log'), ('vtnraid.out', '-vtnraid.log'),
                         ('var/log/vtn.log', '-vtn.log'), ('usr/bin/log_loacl.txt', '-log_loacl.txt')):
            path = os.path.join(self.root, src)
            if os.path.exists(path):
                shutil.copyfile(path, os.path.join(self.out, self.name + dst))
        if self.gui:
            try:
                with open(os.path.join(self.out, self.name + '-widgets.txt'), 'w') as f:
                    for w in self.gui.windows():
                        self.gui.dump(w, f)
            except Exception as e:
                self.log('no widget list: %s' % e)
        try:
            state = subprocess.run([self.tool('vtnsim'), 'show'], env=self.env(), capture_output=True,
                                   text=True, timeout=20)
            with open(os.path.join(self.out, self.name + '-vtnsim.txt'), 'w') as f:
                f.write(state.stdout + state.stderr)
        except Exception:
            pass
        sys.stderr.write('%s: logs in %s\n' % (self.name, self.out))

    # ---- waiting ---------------------------------------------------------------------------------
    def wait(self, cond, what, timeout=30):
        """Polls cond until it gives a true value (returned) or the time is up."""
        end = _now() + timeout
        if self.step_deadline is not None:
            end = min(end, self.step_deadline)
        delay = 0.05
        last_error = None
        while True:
            try:
                value = cond()
                if value:
                    return value
            except ScenarioFailed:
                raise
            except Exception as e:  # a widget that went away while it was read: look again
                last_error = e
            if _now() >= end:
                raise ScenarioFailed('waited %.0f s for %s%s' % (timeout, what,
                                     ' (last error: %s)' % last_error if last_error else ''))
            time.sleep(delay)
            delay = min(0.25, delay * 1.5)

    class _Step:
        def __init__(self, session, name, seconds):
            self.s, self.name, self.seconds = session, name, seconds

        def __enter__(self):
            self.s.step_name = self.name
            self.s.step_deadline = _now() + self.seconds
            self.s.log('step: %s' % self.name)
            return self

        def __exit__(self, kind, value, tb):
            self.s.step_deadline = None
            return False

    def step(self, name, seconds=60):
        """A step of the scenario: its waits end by its deadline, and a watchdog ends the run if
        the step hangs outside any wait."""
        return Session._Step(self, name, seconds)

    def _watch(self):
        while True:
            time.sleep(1)
            deadline = self.step_deadline
            if deadline is not None and _now() > deadline + 30:
                self.save_failure('the step hung past its deadline (watchdog)')
                self.stop()
                os._exit(1)

    # ---- processes -------------------------------------------------------------------------------
    def tool(self, name):
        return {'vtnsim': os.path.join(self.build, 'platform', 'vtnsim'),
                'vtnsvr': os.path.join(self.build, 'server', 'vtnsvr'),
                'vtnraid': os.path.join(self.build, 'gui', 'vtnraid')}[name]

    def env(self, **extra):
        env = dict(os.environ)
        env.update(VTN_ROOT=self.root)
        env.update(extra)
        return env

    def path(self, system_path):
        return os.path.join(self.root, system_path.lstrip('/'))

    def sim(self, *args):
        """Runs vtnsim on the scenario's controller; its output."""
        r = subprocess.run([self.tool('vtnsim')] + [str(a) for a in args], env=self.env(), capture_output=True,
                           text=True, timeout=30)
        said = r.stdout.strip().splitlines()
        self.log('vtnsim %s -> %d %s%s' % (' '.join(map(str, args)), r.returncode, said[0] if said else '',
                                          ' ...' if len(said) > 1 else ''))
        if r.returncode != 0:
            raise ScenarioFailed('vtnsim %s failed: %s' % (' '.join(map(str, args)), r.stderr.strip()))
        return r.stdout

    def spawn(self, argv, out_name, env=None, cwd=None):
        out = open(os.path.join(self.root, out_name), 'ab')
        p = subprocess.Popen(argv, env=env or self.env(), cwd=cwd or self.root, stdout=out, stderr=subprocess.STDOUT,
                             stdin=subprocess.DEVNULL)
        out.close()
        self.procs.append(p)
        return p

    def start_display(self):
        r, w = os.pipe()
        p = subprocess.Popen(['Xvfb', '-displayfd', str(w), '-screen', '0', '%dx%dx24' % SCREEN, '-nolisten', 'tcp', '-noreset'],
                             pass_fds=(w,), stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        os.close(w)
        self.procs.append(p)
        number = b''
        end = _now() + 30
        while not number.endswith(b'\n') and _now() < end:
            chunk = os.read(r, 16)
            if not chunk:
                break
            number += chunk
        os.close(r)
        if not number.strip():
            raise ScenarioFailed('Xvfb did not start')
        number = number.decode().strip()
        self.display = number, file_id('/tmp/.X11-unix/X' + number)
        os.environ['DISPLAY'] = ':' + number
        self.screen = Screen(os.environ['DISPLAY'])
        self.screen.unfocus()
        self.screen.park()
        global pyatspi
        if pyatspi is None:
            import pyatspi as module
            pyatspi = module

    def start_server(self, preset='demo', users=None):
        """vtnsvr -NODAEMON on the preset, on free ports; users: lines of the users file."""
        self.sim('init', '--preset', preset)
        if users is not None:
            os.makedirs(self.path('/etc'), exist_ok=True)
            with open(self.path('/etc/vtnuser.dat'), 'w') as f:
                f.write(users)
        # A port taken by another program between the pick and the server's bind: new ports.
        for attempt in range(3):
            self.port = free_port()
            self.event_port = free_port()
            while self.event_port == self.port:
                self.event_port = free_port()
            os.makedirs(self.path('/etc'), exist_ok=True)
            with open(self.path('/etc/vtn.ini'), 'w') as f:
                f.write('serverport\t%d\neventport\t%d\n' % (self.port, self.event_port))
            self.server = self.spawn([self.tool('vtnsvr'), '-NODAEMON'], 'vtnsvr.out')
            self.wait(lambda: self._server_up(), 'the server to listen on %d' % self.port, 60)
            if self.server.poll() is None:
                return
        raise ScenarioFailed('the server exited with %s' % self.server.returncode)

    def _server_up(self):
        return self.server.poll() is not None or port_open(self.port)

    def systems_list(self, rows):
        """The GUI's list of managed systems: rows of (address, name, port)."""
        os.makedirs(self.path('/usr/bin'), exist_ok=True)
        with open(self.path('/usr/bin/vtnsys.log'), 'w') as f:
            for row in rows:
                f.write('\t'.join(str(x) for x in row) + '\n')

    def start_gui(self):
        """vtnraid on the display with the accessibility bus on; once no other copy runs on the
        machine (it would refuse to start)."""
        work = self.path('/home/admin')
        os.makedirs(work, exist_ok=True)
        env = self.env(GDK_BACKEND='x11', GSETTINGS_BACKEND='memory', XDG_DATA_HOME=work + '/.data',
                       XDG_CONFIG_HOME=work + '/.config', XDG_CACHE_HOME=work + '/.cache', HOME=work)
        for var in ('NO_AT_BRIDGE', 'GTK_A11Y', 'GTK_MODULES'):
            env.pop(var, None)
        # GTK, GLib and the font libraries keep caches for the life of the process.
        supp = os.path.join(SOURCE_DIR, 'tests', 'gui', 'lsan.supp')
        env['LSAN_OPTIONS'] = 'suppressions=%s:%s' % (supp, env.get('LSAN_OPTIONS', ''))
        end = _now() + 150
        while True:
            self.wait(lambda: not other_vtnraid_pids(), 'no other vtnraid on the machine', max(1, end - _now()))
            p = self.spawn([self.tool('vtnraid')], 'vtnraid.out', env=env, cwd=work)
            self.gui = Gui(self, p.pid)
            try:
                self.wait(lambda: self._gui_up(p), 'the main window on the accessibility bus', 60)
                return self.gui
            except ScenarioFailed:
                if p.poll() is None or _now() > end:
                    raise
                self.log('vtnraid left at once (another copy started beside it?): trying again')
                self.procs.remove(p)

    def _gui_up(self, p):
        if p.poll() is not None:
            raise ScenarioFailed('vtnraid exited with %s' % p.returncode)
        return any(caption(name_of(w)) == 'Vorathine RAID Management Software' for w in self.gui.windows())

    def stop_process(self, p, timeout=20):
        """SIGTERM, sent again every 0.2 s (one that lands just before the process goes to sleep may
        only be seen when it wakes), then SIGKILL after timeout seconds."""
        end = _now() + timeout
        while p.poll() is None and _now() < end:
            p.send_signal(signal.SIGTERM)
            try:
                p.wait(0.2)
            except subprocess.TimeoutExpired:
                pass
        if p.poll() is None:
            p.kill()
            p.wait()
        return p.returncode

    def clear_display(self, pid):
        """What a killed X server leaves in /tmp, while it is still its own: the display's lock file
        when it names the server, the socket when it is the file the server made."""
        if self.display is None:
            return
        number, socket_id = self.display
        lock, sock = '/tmp/.X%s-lock' % number, '/tmp/.X11-unix/X' + number
        try:
            with open(lock) as f:
                if f.read().strip() == str(pid):
                    os.unlink(lock)
        except OSError:
            pass
        if socket_id is not None and file_id(sock) == socket_id:
            try:
                os.unlink(sock)
            except OSError:
                pass

    def stop(self):
        for p in reversed(self.procs):
            try:
                self.stop_process(p)
                if p.args[0] == 'Xvfb':
                    self.clear_display(p.pid)
            except Exception:
                pass
        self.procs = []

    def run(self, scenario):
        """Runs the scenario; 0 when it passed."""
        self._watchdog = threading.Thread(target=self._watch, daemon=True)
        self._watchdog.start()
        status = 1
        try:
            self.start_display()
            scenario(self)
            self.log('passed')
            status = 0
        except ScenarioFailed as e:
            self.save_failure(str(e))
        except Exception:
            self.save_failure(traceback.format_exc())
        finally:
            self.step_deadline = None
            self.stop()
            if self.own_root:
                shutil.rmtree(self.root, ignore_errors=True)
            self.logfile.close()
        return status


START = _now()
