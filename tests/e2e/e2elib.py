"""What the end-to-end tests of Korvane.exe share: Windows names, kvdriver's reports (one driver
serves each test thread's runs) and the registry as it reads it, window-less work beside the
boxes, fixtures made once per build tree, names of a given Windows length, waiting for a
condition, and files dropped on a window as a file manager drops them (XDND; needs Debian's
python3-xlib)."""
import argparse, hashlib, io, os, re, select, shutil, subprocess, sys, tempfile, threading, time, unittest
from concurrent.futures import ThreadPoolExecutor
from pathlib import Path
from urllib.parse import quote


ROOT = Path(__file__).resolve().parents[2]
WINE = str(ROOT / 'tools' / 'wine-run.sh')


def options():
    """The programs under test (--korvane, --driver) and the arguments left for unittest;
    the boxes and windows need a display."""
    parser = argparse.ArgumentParser()
    for opt in ('--korvane', '--driver'):
        parser.add_argument(opt, required=True)
    opt, rest = parser.parse_known_args()
    if not os.environ.get('DISPLAY'):
        sys.exit('no DISPLAY: the boxes and windows need one (tools/display.sh)')
    return opt, [sys.argv[0]] + rest


def winpath(path):
    return 'Z:' + os.path.abspath(path).replace('/', '\\')


SERVERS = {}  # (wine, driver, thread): the kvdriver --serve that runs that thread's commands


def served(wine, driver, args, cwd, timeout):
    """What kvdriver printed for one command, run by the driver serving this thread (started on
    first need): one Wine start for all of a test's runs rather than one a run."""
    key = (wine, driver, threading.get_ident())
    if key not in SERVERS or SERVERS[key].poll() is not None:
        SERVERS[key] = subprocess.Popen([wine, driver, '--serve'], stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                                        stderr=subprocess.DEVNULL)
    server = SERVERS[key]
    server.stdin.write(''.join('%s\0' % word for word in [winpath(cwd or os.getcwd()), *args]).encode() + b'\n')
    server.stdin.flush()
    out, deadline = b'', time.monotonic() + timeout
    while not re.search(rb'(^|\n)END -?\d+\r?\n$', out):
        if not select.select([server.stdout], [], [], max(0, deadline - time.monotonic()))[0]:
            server.kill()
            raise subprocess.TimeoutExpired(args, timeout)
        part = os.read(server.stdout.fileno(), 65536)
        if not part:
            raise RuntimeError('kvdriver --serve ended')
        out += part
    return out[:out.rindex(b'END ')]


def drive(wine, driver, *args, cwd=None, env=None, timeout=180):
    """Runs kvdriver: the boxes it answered as (caption, icon, text), and its other lines
    (EXIT n, TIMEOUT, DONE, WINDOW ..., NOWINDOW, CLOSED). In another environment (another
    prefix) a driver of its own runs the command."""
    out = served(wine, driver, args, cwd, timeout) if env is None else subprocess.run(
        [wine, driver, *args], cwd=cwd, env=env, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL,
        timeout=timeout).stdout
    out = out.decode('utf-8').replace('\r', '')
    found = re.findall(r'^BOX (.*)\nICON (.*)\nTEXT (.*)$', out, re.M)
    return ([(c, i, unescape(t)) for c, i, t in found],
            [line for line in out.splitlines() if not line.startswith(('BOX ', 'ICON ', 'TEXT '))])


def unescape(text):
    return re.sub(r'\\([n\\])', lambda m: '\n' if m.group(1) == 'n' else '\\', text)


def registry(driver, *roots, env=None):
    """{key: {value name ('' for the default): text or number}} below the roots, as kvdriver
    reads them."""
    keys = {}
    for line in sum((drive(WINE, driver, '--reg', 'dump', root, env=env)[1] for root in roots), []):
        kind, _, rest = line.partition(' ')
        if kind == 'KEY':
            key = keys.setdefault(rest, {})
        elif kind in ('STRING', 'NUMBER'):
            name, value = map(unescape, rest.split('\t'))
            key[name] = value if kind == 'STRING' else int(value)
    return keys


BESIDE = ThreadPoolExecutor(1)


def beside(call, *args, **named):
    """call(*args, **named) in the one thread that does window-less work (quiet runs, native
    tools) beside a test's boxes, in the order given: a future whose result() is the call's or
    raises its failure."""
    return BESIDE.submit(call, *args, **named)


def cases_of(suite):
    """The test cases of a suite, however nested."""
    for test in suite:
        yield from cases_of(test) if isinstance(test, unittest.TestSuite) else [test]


class SideBySide(unittest.TextTestRunner):
    """Runs the test classes marked windowless (windowless = True: their Wine runs show no window
    and no box and never gather, and they use folders of their own) in a thread of their own
    beside the others, whose windows and boxes come one at a time; their report follows."""
    def run(self, test):
        cases = list(cases_of(test))
        apart, report, results = [case for case in cases if getattr(case, 'windowless', False)], io.StringIO(), []
        thread = threading.Thread(target=lambda: results.append(
            unittest.TextTestRunner(stream=report, verbosity=self.verbosity).run(unittest.TestSuite(apart))))
        thread.start()
        result = super().run(unittest.TestSuite(case for case in cases if case not in apart))
        thread.join()
        self.stream.write(report.getvalue() if apart else '')
        result.testsRun += results[0].testsRun
        for kind in ('failures', 'errors', 'skipped', 'expectedFailures', 'unexpectedSuccesses'):
            getattr(result, kind).extend(getattr(results[0], kind))
        return result


GENERATORS = ('make_fixtures.sh', 'make_signals.py', 'make_envelope.py')  # beside this file, each given the folder to fill
STARTED = []  # the generators a call has asked for


def made(driver, script, nice=()):
    """The folder the generator script fills (run under the nice command), made once per build
    tree (beside the driver) and kept under the hash of the script's text, so that a change makes
    it anew; made aside and put in place whole, so that a run sees all of it or none."""
    path, home = Path(__file__).with_name(script), Path(driver).parent / 'fixtures'
    folder = home / ('%s-%s' % (path.stem, hashlib.sha256(path.read_bytes()).hexdigest()[:16]))
    if not folder.is_dir():
        home.mkdir(exist_ok=True)
        for old in home.glob(path.stem + '-*'):
            shutil.rmtree(old, ignore_errors=True)
        work = tempfile.mkdtemp(dir=home, prefix='.' + path.stem)
        try:
            subprocess.run([*nice, 'sh' if script.endswith('.sh') else sys.executable, path, work], check=True)
            os.rename(work, folder)
        except OSError:
            if not folder.is_dir():  # else another run has put its own in place meanwhile
                raise
        finally:
            shutil.rmtree(work, ignore_errors=True)
    return folder


def fixtures(driver, script='make_fixtures.sh'):
    """The fixtures of the generator script (see made). The first call then has the other
    generators make theirs in the background, niced: the first end-to-end test of a build tree
    makes them while its runs wait for their boxes."""
    folder = made(driver, script)
    for other in GENERATORS if not STARTED else []:
        if other != script:
            threading.Thread(target=made, args=(driver, other, ['nice', '-n', '10'])).start()
    STARTED.append(script)
    return folder


def long_name(folder, total):
    """A name under the folder, relative to it, whose whole Windows path is total characters
    long: folders of 200 letters each, then x...x.mp3."""
    parts, left = [], total - len(winpath(folder)) - 1
    while left > 250:
        parts.append(chr(ord('a') + len(parts)) * 200)
        left -= 201
    return os.path.join(*parts, 'x' * (left - 4) + '.mp3')


def wait_for(condition, seconds=20, step=0.05):
    """Polls until condition() gives something true, up to the deadline; its last value."""
    deadline = time.monotonic() + seconds
    while not (value := condition()) and time.monotonic() < deadline:
        time.sleep(step)
    return value


def xdnd_drop(x, y, paths, seconds=30):
    """Drops the files on the XdndAware window under the root point x, y: XdndEnter (version 5,
    text/uri-list), XdndPosition, and on an accepting XdndStatus XdndDrop; the file:/// lines
    are handed over whenever the target asks (Wine asks already at XdndEnter). True once the
    target says it has finished, False when it refuses; TimeoutError past the deadline."""
    from Xlib import X, Xatom, display, error
    from Xlib.protocol import event
    dpy = display.Display()
    atom = dpy.intern_atom
    root = dpy.screen().root
    source = root.create_window(-10, -10, 1, 1, 0, X.CopyFromParent, X.InputOnly)
    source.set_selection_owner(atom('XdndSelection'), X.CurrentTime)
    uris = b''.join(b'file://' + quote(os.path.abspath(p)).encode() + b'\r\n' for p in paths)
    deadline = time.monotonic() + seconds

    def target():  # the deepest aware window under the point; none while one closes there
        found, window = None, root
        try:
            while window:
                aware = window.get_full_property(atom('XdndAware'), Xatom.ATOM)
                found = (window, min(aware.value[0], 5)) if aware else found
                window = window.translate_coords(root, x, y).child
        except error.XError:
            return None
        return found

    def send(kind, *data):
        to.send_event(event.ClientMessage(window=to, client_type=atom(kind),
                                          data=(32, [source.id, *data, 0, 0, 0, 0][:5])))
        dpy.flush()

    def answer(request):
        property = request.property or request.target
        if request.target == atom('text/uri-list'):
            request.requestor.change_property(property, request.target, 8, uris)
        else:
            property = X.NONE
        request.requestor.send_event(event.SelectionNotify(
            time=request.time, requestor=request.requestor, selection=request.selection,
            target=request.target, property=property))
        dpy.flush()

    def receive(kind):
        while time.monotonic() < deadline:
            while dpy.pending_events():
                e = dpy.next_event()
                if e.type == X.SelectionRequest:
                    answer(e)
                elif e.type == X.ClientMessage and e.client_type == atom(kind):
                    return e.data[1]
            select.select([dpy], [], [], max(0, min(0.1, deadline - time.monotonic())))
        raise TimeoutError('no %s from the drop target' % kind)

    try:
        found = wait_for(target, seconds)
        if not found:
            raise TimeoutError('no XdndAware window at %d, %d' % (x, y))
        to, version = found
        send('XdndEnter', version << 24, atom('text/uri-list'))
        send('XdndPosition', 0, x << 16 | y, X.CurrentTime, atom('XdndActionCopy'))
        if not receive('XdndStatus')[1] & 1:
            send('XdndLeave')
            return False
        send('XdndDrop', 0, X.CurrentTime)
        receive('XdndFinished')
        return True
    finally:
        dpy.close()
