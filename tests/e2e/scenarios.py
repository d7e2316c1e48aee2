#!/usr/bin/python3
"""End-to-end scenarios: what an administrator does with vtnraid, on the real programs.

    scenarios.py SCENARIO BUILD_DIR OUT_DIR

Each scenario starts from a fresh VTN_ROOT: the simulated controller on the demo preset, vtnsvr
on free ports of 127.0.0.1, and vtnraid on a display of its own. Run it on a session bus of its
own (tests/e2e/run), which carries the accessibility bus.
"""
import json
import os
import re
import shutil
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import vtnui  # noqa: E402
from vtnui import ScenarioFailed  # noqa: E402

TITLE = 'Vorathine RAID Management Software'
DEFAULT_USER, DEFAULT_PASSWORD = 'RAID', 'wqx'
DEFAULT_PASSWORD_WARNING = 'You are using the default password to \nlogon. Please change it.'


def expect(cond, message):
    if not cond:
        raise ScenarioFailed(message)


def sim_state(s):
    return json.loads(s.sim('show', '--json'))


# ---- what every scenario does --------------------------------------------------------------------

def start(s, systems=True, users=None):
    """The server on the demo preset, the GUI with the server in its list of systems."""
    with s.step('start the server and the GUI', 120):
        s.start_server('demo', users)
        if systems:
            s.systems_list([('127.0.0.1', 'lab', s.port)])
        g = s.start_gui()
        expect(g.status() == 'No system connected', 'status bar: %r' % g.status())
        return g


def connect(s, g, user, password, default_password=None):
    """Remote Control: Connect on the server's row, the login form filled and confirmed.
    default_password: the new password to give at the default-password warning, or None to
    close that dialog with Cancel (only for the default user)."""
    m = g.main()
    if not g.find_all(m, 'push button', 'Connect'):
        g.menu('File', 'Remote Control')
    systems = g.table(m, 'IP Address')
    g.select_row(systems, 0, '127.0.0.1')
    g.press(m, 'Connect')
    form = g.window('Login Form')
    expect(vtnui.text_of(g.entry_beside(form, 'User Name')) == DEFAULT_USER, 'the login form names the default user')
    g.fill(form, 'User Name', user)
    g.fill(form, 'PassWord', password)
    g.press(form, 'OK')
    if (user, password) == (DEFAULT_USER, DEFAULT_PASSWORD):
        g.answer('Warning', DEFAULT_PASSWORD_WARNING)
        dialog = g.window('Please enter new password')
        if default_password is None:
            g.press(dialog, 'Cancel')
        else:
            g.fill(dialog, 'Old Password', password)
            g.fill(dialog, 'New Password', default_password)
            g.fill(dialog, 'Confirm', default_password)
            g.press(dialog, 'OK')
            g.answer('Confirmation', 'Password has been modified successfully.')
        g.gone('Please enter new password')
    connected = "Connected OS: Linux System '127.0.0.1' connected"
    s.wait(lambda: g.status() == connected, 'the status bar to say %r' % connected, 60)
    # The login ends on the Array Management form.
    g.toolbar_button('Create')


def log_in(s, g, user=DEFAULT_USER, password=DEFAULT_PASSWORD):
    with s.step('log in as %s' % user, 90):
        connect(s, g, user, password)


def log_out(s, g):
    m = g.main()
    if not g.find_all(m, 'push button', 'Disconnect'):
        g.menu('File', 'Remote Control')
    g.press(m, 'Disconnect')
    g.answer('Confirmation', 'The system will be disconnected.\n Do you want to continue?')
    s.wait(lambda: g.status() == 'No system connected', 'the status bar to say "No system connected"')
    rows = g.cells(g.table(m, 'IP Address'))
    expect(all(r[3] == 'Disconnected' for r in rows), 'every system is "Disconnected" after the logout: %s' % rows)
    expect(not g.menu_sensitive('Management'), 'the Management menu stays usable after the logout')


def array_tree(g):
    g.menu('Management', 'Array Management')
    return g.table(g.main())


def event_rows(g):
    g.menu('View', 'Event View')
    return g.cells(g.table(g.main(), 'Description'))


def expected_tree(state):
    """The logical tree the demo's controller should show: (depth, label) in the driver's order
    within each level is not fixed, so each level is compared as a sorted list."""
    disks = {d['id']: d for d in state['disks'] if d.get('present', True)}
    arrays = {a['id']: a for a in state['arrays']}

    def node(dev_id):
        if dev_id in arrays:
            a = arrays[dev_id]
            return (a['name'], tuple(sorted(node(m) for m in a['members'])))
        return (disks[dev_id]['model'], ())

    top = [d for d in disks.values() if d['parent'] == 0 or d['parent'] == 0xFFFFFFFF]
    top += [a for a in arrays.values() if a['parent'] == 0 or a['parent'] == 0xFFFFFFFF]
    return ('127.0.0.1', tuple(sorted(node(x['id']) for x in top)))


def shown_tree(rows):
    """The (depth, label) rows of the tree as the same nested, sorted form."""
    def build(i, depth):
        label = rows[i][1]
        kids = []
        j = i + 1
        while j < len(rows) and rows[j][0] > depth:
            if rows[j][0] == depth + 1:
                kids.append(build(j, depth + 1)[0])
            j += 1
        return (label, tuple(sorted(kids))), j
    return build(0, 0)[0] if rows else None


def answer_boxes(s, g, expected, optional=(), timeout=60):
    """Answers message boxes in the order they come: every (title, text) of expected must come;
    those of optional may; any other box fails the scenario."""
    missing = list(expected)
    end = time.monotonic() + timeout
    while missing:
        def next_box():
            for w in g.windows():
                title = vtnui.caption(vtnui.name_of(w))
                if title == TITLE or title not in ('Confirmation', 'Warning', 'Error'):
                    continue
                said = [vtnui.name_of(l) for l in g.labels(w)]
                if said:
                    return title, said[0]
            return None
        title, text = s.wait(next_box, 'the boxes %s' % missing, max(1, end - time.monotonic()))
        if (title, text) in missing:
            missing.remove((title, text))
        elif not any(title == t and re.fullmatch(p, text) for t, p in optional):
            raise ScenarioFailed('an unexpected box "%s": %r' % (title, text))
        g.answer(title, text)


# ---- the scenarios ---------------------------------------------------------------------------------

def scenario_first_session(s):
    """A new administrator: adds the managed system, logs in with the default password and
    changes it, reads the controller's tree, exports the event log, logs out, logs in with the
    new password and leaves the program."""
    s.systems_list([])
    g = start(s, systems=False)
    m = g.main()

    with s.step('add a managed system', 60):
        systems = g.table(m, 'IP Address')
        expect(g.cells(systems) == [], 'the list of systems starts empty')
        g.press(m, 'New System')
        dialog = g.window('Add a new system')
        g.fill(dialog, 'IP Address', '127.0.0.1')
        g.fill(dialog, 'System Name', 'lab-raid')
        g.fill(dialog, 'Port', str(s.port))
        g.press(dialog, 'OK')
        g.gone('Add a new system')
        want = [['127.0.0.1', 'lab-raid', str(s.port), 'Disconnected']]
        s.wait(lambda: g.cells(systems) == want, 'the new system in the list')
        with open(s.path('/usr/bin/vtnsys.log')) as f:
            expect(f.read() == '127.0.0.1\tlab-raid\t%d\n' % s.port, 'the list of systems is kept in its file')

    with s.step('log in with the default password and change it', 90):
        connect(s, g, DEFAULT_USER, DEFAULT_PASSWORD, default_password='Kestrel-7')

    with s.step("read the demo controller's tree", 60):
        tree = g.table(m)
        shown = shown_tree(g.tree(tree))
        want = expected_tree(sim_state(s))
        expect(shown == want, 'the tree shows\n%s\nbut the controller holds\n%s' % (shown, want))
        icons = ['host', 'Disk', 'Disk_Spare', 'Array_1', 'Array_5', 'Array_1_Broken', 'Array_1_Lock']
        for label, icon in (('127.0.0.1', 'host'), ('Mirror', 'Array_1'), ('Parity', 'Array_5')):
            seen = g.icon(tree, g.row_of(tree, label), icons)
            expect(seen == icon, '%s shows the icon %s, not %s' % (label, seen, icon))
        s.screen.save(os.path.join(s.out, s.name + '-tree.png'))

    with s.step('export the event log', 60):
        rows = event_rows(g)
        login = 'User RAID(from 127.0.0.1) logged on system.'
        expect(any(r[0] == 'Regular' and r[2] == login for r in rows), 'the Event View lists the login: %s' % rows)
        g.press(m, 'Save')
        chooser = g.window('File selection')
        expect(vtnui.text_of(g.entry_beside(chooser, 'Name:')) == 'raidlog.txt', 'the export proposes raidlog.txt')
        g.press(chooser, 'OK')
        g.gone('File selection')
        exported = s.path('/home/admin/raidlog.txt')
        s.wait(lambda: os.path.exists(exported), 'the exported file')
        severity = {'Regular': 'I', 'Warning': 'W', 'Critical': 'E'}
        with open(exported) as f:
            lines = f.read().splitlines()
        want = ['RAID\t%s\t%s\t%s' % (severity[r[0]], r[1], r[2]) for r in rows]
        expect(lines == want, 'the exported log holds\n%s\nnot\n%s' % ('\n'.join(lines), '\n'.join(want)))

    with s.step('log out', 60):
        log_out(s, g)

    with s.step('log in with the new password', 90):
        connect(s, g, DEFAULT_USER, 'Kestrel-7')
        expect(not g.windows('Warning'), 'no default-password warning with the new password')

    with s.step('leave the program', 60):
        g.menu('File', 'Exit')
        gui = s.procs[-1]
        s.wait(lambda: gui.poll() is not None, 'vtnraid to exit')
        expect(gui.returncode == 0, 'vtnraid exited with %s' % gui.returncode)


def scenario_create_raid1(s):
    """A RAID 1 made in the creation wizard reaches the controller; the reboot offer is taken."""
    g = start(s)
    log_in(s, g)
    m = g.main()

    with s.step('open the creation wizard', 60):
        tree = array_tree(g)
        g.select_row(tree, 0, 'Mirror')
        g.press(m, 'Create')
        wizard = s.wait(lambda: [w for w in g.windows(TITLE) if g.labels(w, re.compile('^Please select the array type'))],
                        'the creation wizard')[0]

    with s.step('step 1: a RAID 1 named Backup', 60):
        combo = g.find(wizard, 'combo box')
        g.click(combo)
        g.click(g.find(combo, 'menu item', 'RAID1'))
        s.wait(lambda: vtnui.name_of(combo) == 'RAID1', 'RAID1 chosen')
        g.fill(wizard, 'Array Name', 'Backup')
        s.wait(lambda: ['Array Name', 'Backup'] in g.cells(g.table(wizard, 'Param')), 'the summary to name Backup')
        g.press(wizard, 'Next>>')

    def step_window(label):
        return s.wait(lambda: [w for w in g.windows(TITLE) if g.labels(w, label)], 'the wizard step with "%s"' %
                      label)[0]

    with s.step('step 2: create only', 60):
        wizard = step_window('Creation Option')
        create_only = g.find(wizard, 'radio button', 'Create Only', usable=False)
        expect(vtnui.has_state(create_only, vtnui.pyatspi.STATE_CHECKED), '"Create Only" is the default')
        g.press(wizard, 'Next>>')

    with s.step('step 3: two disks of the second controller', 60):
        wizard = step_window('Available Disks:')
        lists = g.find_all(wizard, 'list box')
        expect(len(lists) == 2, 'two disk lists: %d' % len(lists))
        available, selected = sorted(lists, key=lambda a: vtnui.extents(a)[0])
        for disk in ('VTNSIM HD80GS', 'VTNSIM HD250GS'):
            item = s.wait(lambda: [i for i in g.find_all(available, 'list item') if g.labels(i, disk)],
                          '%s offered' % disk)[0]
            g.choose(item, disk)
            # The two arrow buttons between the lists, right arrow above.
            arrows = sorted((b for b in g.find_all(wizard, 'push button') if not vtnui.caption(vtnui.name_of(b))),
                            key=lambda b: vtnui.extents(b)[1])
            expect(len(arrows) == 2, 'the two arrow buttons: %d' % len(arrows))
            g.click(arrows[0], 'right arrow')
            s.wait(lambda: [i for i in g.find_all(selected, 'list item') if g.labels(i, disk)], '%s selected' % disk)
        rows = g.cells(g.table(wizard, 'Param'))
        expect(['Selected Disks', 'VTNSIM HD80GS'] in [[a, vtnui.caption(b)] for a, b in rows],
               'the summary lists the source disk: %s' % rows)
        g.press(wizard, 'Finish')

    with s.step('confirm, and take the reboot offer', 60):
        g.answer('Warning', 'All data on the selected disks will be erased.\nAre you sure you want to continue?')
        offer = ("'Backup' (RAID 1 array) has been created.\nThe array capacity is 80.000 GB.\n"
                 "The array will not be available until you reboot the system.\nDo you want to reboot the system now?")
        # OK to a reboot only because the programs run under the scenario's VTN_ROOT: a marker.
        g.answer('Confirmation', offer)
        s.wait(lambda: os.path.exists(s.path('/var/run/vtn.reboot')), 'the reboot marker')

    with s.step('the controller holds the array', 60):
        state = sim_state(s)
        made = [a for a in state['arrays'] if a['name'] == 'Backup']
        expect(len(made) == 1, 'vtnsim shows one array Backup: %s' % [a['name'] for a in state['arrays']])
        disks = {d['id']: d for d in state['disks']}
        members = [disks[i]['model'] for i in made[0]['members']]
        expect(made[0]['raid_type'] == 2 and members == ['VTNSIM HD80GS', 'VTNSIM HD250GS'],
               'Backup is a RAID 1 of the two disks: type %d, %s' % (made[0]['raid_type'], members))
        shown = s.sim('show')
        expect(re.search(r"'Backup' RAID 1, 80\.0 GB", shown), 'vtnsim show lists Backup:\n' + shown)
        tree = g.table(g.main())
        s.wait(lambda: shown_tree(g.tree(tree)) == expected_tree(sim_state(s)), 'the tree to show Backup')


def scenario_repair_raid1(s):
    """A member of the mirror fails: the box, the Event View row and the broken icon; a disk is
    added through the repair dialog, the rebuild runs and finishes, and the icon is normal again."""
    g = start(s)
    log_in(s, g)
    m = g.main()
    tree = array_tree(g)
    icons = ['Array_1', 'Array_1_Broken', 'Array_1_Building', 'Array_1_Lock', 'Array_1_Error']

    def mirror_icon():
        return g.icon(tree, g.row_of(tree, 'Mirror'), icons)

    with s.step('a member of Mirror fails', 60):
        expect(mirror_icon() == 'Array_1', 'Mirror starts normal')
        failed = 'Disk at Controller1-Channel1-Device1 failed.'
        s.sim('fail', 1)
        g.answer('Error', failed)
        rows = event_rows(g)
        expect(any(r[0] == 'Critical' and r[2] == failed for r in rows), 'the Event View lists the failure: %s' % rows)
        tree = array_tree(g)
        s.wait(lambda: mirror_icon() == 'Array_1_Broken', 'the broken icon on Mirror')

    with s.step('add a disk through the repair dialog', 90):
        g.select_row(tree, 0, 'Mirror')
        g.press(m, 'Add Disk')
        dialog = g.window('RAID Checking', "Array 'Mirror' is broken,\nDo you want to add one of the following disks to it?")
        item = s.wait(lambda: [i for i in g.find_all(dialog, 'list item') if g.labels(i, 'VTNSIM HD120GS')],
                      'the free 120 GB disk offered')[0]
        g.choose(item, 'the free 120 GB disk')
        s.wait(lambda: g.labels(dialog, re.compile(r'Capacity: 120\.00 GB')), 'the disk\'s capacity shown')
        g.press(dialog, 'Ok')
        g.answer('Confirmation', 'Changing Mirror Disk succeeded!')
        g.gone('RAID Checking')
        s.wait(lambda: mirror_icon() == 'Array_1_Lock', 'Mirror waiting for its rebuild')

    with s.step('start the rebuild', 60):
        g.select_row(tree, 0, 'Mirror')
        g.press(m, 'Rebuild')
        g.answer('Confirmation', "Array 'Mirror' duplicating started.")
        s.wait(lambda: mirror_icon() == 'Array_1_Building', 'the rebuilding icon on Mirror')

    with s.step('the rebuild finishes', 90):
        s.sim('finish', 11)
        g.answer('Confirmation', "Array 'Mirror' duplicating completed.")
        s.wait(lambda: mirror_icon() == 'Array_1', 'the normal icon on Mirror')
        state = sim_state(s)
        mirror = [a for a in state['arrays'] if a['name'] == 'Mirror'][0]
        expect(sorted(mirror['members']) == [2, 3] and mirror['op'] == 'none' and mirror['flags'] == 0,
               'Mirror is whole again on disks 2 and 3: %s' % mirror)
        rows = event_rows(g)
        expect(any(r[2] == "Array 'Mirror' duplicating completed." for r in rows), 'the Event View lists the end')


def scenario_user_rights(s):
    """A user with chosen rights logs in and finds what he may not do insensitive."""
    g = start(s)
    log_in(s, g)

    with s.step('add the user "operator" who may verify and rebuild', 90):
        g.menu('File', 'User Management')
        manage = g.window('User Management')
        users = g.table(manage, 'User Name')
        s.wait(lambda: [['RAID']] == g.cells(users), 'the user list with RAID')
        g.press(manage, 'Add')
        add = g.window('Add New User')
        g.fill(add, 'Name', 'operator')
        g.fill(add, 'Password', 'op-2024')
        g.fill(add, 'Confirm', 'op-2024')
        g.press(add, 'Privilege')
        rights = g.window('User Privilege View')
        boxes = g.find_all(rights, 'check box')
        expect(boxes and not any(vtnui.has_state(b, vtnui.pyatspi.STATE_CHECKED) for b in boxes),
               'a new user starts without rights')
        g.check(rights, 'Verify RAID')
        g.check(rights, 'Rebuild RAID')
        g.press(rights, 'OK')
        g.gone('User Privilege View')
        g.press(add, 'OK')
        g.answer('Confirmation', 'New user has been added.')
        g.gone('Add New User')
        s.wait(lambda: sorted(g.cells(users)) == [['RAID'], ['operator']], 'operator in the user list')
        g.press(manage, 'OK')
        g.gone('User Management')

    with s.step('log in as operator', 90):
        log_out(s, g)
        connect(s, g, 'operator', 'op-2024')

    with s.step('what operator may not do is insensitive', 60):
        for path in (('File', 'User Management'), ('File', 'System Configuration'), ('Management', 'Spare Pool'),
                     ('Management', 'Event Notification'), ('Management', 'Task Schedule Management')):
            expect(not g.menu_sensitive(*path), '%s is usable without its right' % '/'.join(path))
        for path in (('File', 'Password'), ('Management', 'Array Management'), ('View', 'Event View')):
            expect(g.menu_sensitive(*path), '%s is not usable' % '/'.join(path))
        tree = array_tree(g)
        g.select_row(tree, 0, 'Mirror')
        s.wait(lambda: vtnui.sensitive(g.toolbar_button('Verify')), 'Verify usable on Mirror')
        for name in ('Create', 'Delete', 'Rename'):
            expect(not vtnui.sensitive(g.toolbar_button(name)), '"%s" is usable without its right' % name)
        g.menu('View', 'Event View')
        expect(not vtnui.sensitive(g.find(g.main(), 'push button', 'Clear', usable=False)),
               '"Clear" is usable without its right')


def scenario_mail(s):
    """Mail notification set to a real SMTP server: the mail of an event arrives."""
    mail_port = vtnui.free_port()
    spool = os.path.join(s.root, 'spool')
    env = dict(os.environ, PYTHONPATH=os.path.join(vtnui.SOURCE_DIR, 'tests', 'tools'))
    s.procs.append(subprocess.Popen(['/usr/bin/python3', '-m', 'aiosmtpd', '-n', '-l', '127.0.0.1:%d' % mail_port,
                                     '-c', 'smtpsink.Sink', spool], env=env, stdout=subprocess.DEVNULL,
                                    stderr=open(os.path.join(s.root, 'smtp.out'), 'wb')))
    s.wait(lambda: vtnui.port_open(mail_port), 'the SMTP server', 30)
    g = start(s)
    log_in(s, g)
    m = g.main()

    def mails():
        if not os.path.isdir(spool):
            return []
        out = []
        for n in sorted(os.listdir(spool)):
            if n.endswith('.eml'):
                with open(os.path.join(spool, n), errors='replace') as f:
                    out.append(f.read())
        return out

    with s.step('set the SMTP server', 60):
        g.menu('Management', 'Event Notification')
        g.press(m, 'Setting')
        dialog = g.window('E-mail notification setting')
        g.check(dialog, 'Enable Mail Notification')
        g.fill(dialog, 'Mail From', 'raid@lab.example')
        g.fill(dialog, 'SMTP Server', '127.0.0.1')
        g.fill(dialog, 'Port', str(mail_port))
        g.press(dialog, 'OK')
        g.answer('Confirmation', 'SMTP server setting has been saved.')
        g.gone('E-mail notification setting')

    with s.step('add a recipient of errors', 60):
        g.press(m, 'Add')
        dialog = g.window('Add recipient')
        g.fill(dialog, 'E-mail', 'admin@lab.example')
        g.fill(dialog, 'Name', 'Admin')
        g.check(dialog, 'Error')
        g.press(dialog, 'OK')
        g.gone('Add recipient')
        recipients = g.table(m, 'E-mail')
        s.wait(lambda: g.cells(recipients) == [['Admin', 'admin@lab.example', 'Error']], 'the recipient in the list')

    with s.step('a test mail', 60):
        g.select_row(recipients, 1, 'admin@lab.example')
        g.press(m, 'Test')
        g.answer('Confirmation', 'Mail has been sent successfully.')
        s.wait(lambda: any('RCPT TO:<admin@lab.example>' in x for x in mails()), 'the test mail')

    with s.step('the mail of an event', 60):
        before = len(mails())
        s.sim('fail', 9)
        failed = 'Disk at Controller2-Channel5-Device1 failed.'
        g.answer('Error', failed)
        s.wait(lambda: any(failed in x and 'RCPT TO:<admin@lab.example>' in x for x in mails()[before:]),
               'the mail of the failure', 60)


def scenario_connection_broken(s):
    """The server goes away under a logged-in GUI: "Connection broken" and the logged-out window."""
    g = start(s)
    log_in(s, g)
    with s.step('kill the server', 60):
        s.server.kill()
        s.server.wait(20)
        g.answer('Error', 'Connection broken. You have to connect\n the system again.')
        s.wait(lambda: g.status() == 'No system connected', 'the status bar to say "No system connected"')
        m = g.main()
        systems = g.table(m, 'IP Address')
        s.wait(lambda: g.cells(systems) == [['127.0.0.1', 'lab', str(s.port), 'Disconnected']],
               'the Remote Control form with the system disconnected')
        expect(not g.menu_sensitive('Management'), 'Management stays usable after the connection broke')
        expect(vtnui.sensitive(g.toolbar_button('Connect')), 'Connect is usable again')


def picture(path):
    """The logged-in main window with the demo's tree open and its RAID 1 selected, saved to path
    (the picture of the README and of scripts/demo)."""
    def take(s):
        if s.port is None:
            g = start(s)
        else:
            g = s.start_gui()
        log_in(s, g)
        with s.step('open the tree and take the picture', 60):
            tree = array_tree(g)
            g.tree(tree)
            g.select_row(tree, 0, 'Mirror')
            s.wait(lambda: vtnui.sensitive(g.toolbar_button('Verify')), "Mirror's page")
            x, y, w, h = vtnui.extents(g.main())
            # Taken once two looks a moment apart agree: the page is drawn.
            last = [None]

            def settled():
                now = s.screen.grab(x, y, w, h)
                same = now == last[0]
                last[0] = now
                return same
            s.wait(settled, 'the window to be drawn')
            s.screen.save(path, x, y, w, h)
            g.menu('File', 'Exit')
            s.wait(lambda: s.procs[-1].poll() is not None, 'vtnraid to exit')
    return take


SCENARIOS = {name[len('scenario_'):]: fn for name, fn in globals().items() if name.startswith('scenario_')}
USAGE = '''usage: scenarios.py SCENARIO BUILD_DIR OUT_DIR
       scenarios.py --picture FILE [--root VTN_ROOT --port PORT] BUILD_DIR
scenarios: %s''' % ', '.join(SCENARIOS)


def main():
    args = sys.argv[1:]
    if args[:1] == ['--picture'] and len(args) in (3, 7):
        path = os.path.abspath(args[1])
        options = dict(zip(args[2:-1:2], args[3:-1:2]))
        if len(args) == 7 and set(options) != {'--root', '--port'}:
            sys.exit(USAGE)
        port = int(options['--port']) if '--port' in options else None
        logs = tempfile.mkdtemp(prefix='vtnpicture.')
        session = vtnui.Session('picture', os.path.abspath(args[-1]), logs, root=options.get('--root'), port=port)
        status = session.run(picture(path))
        if status == 0:
            shutil.rmtree(logs, ignore_errors=True)
        print('picture: %s' % (path if status == 0 else 'FAILED (logs in %s)' % logs))
        sys.exit(status)
    if len(args) != 3 or args[0] not in SCENARIOS:
        sys.exit(USAGE)
    name, build, out = args
    session = vtnui.Session(name, os.path.abspath(build), os.path.abspath(out))
    status = session.run(SCENARIOS[name])
    print('%s: %s (%.0f s)' % (name, 'passed' if status == 0 else 'FAILED', time.monotonic() - vtnui.START))
    sys.exit(status)


if __name__ == '__main__':
    main()
