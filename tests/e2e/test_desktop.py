#!/usr/bin/env python3
"""The real Korvane.exe in desktop mode under Wine and Xvfb: its window found by class from
another program, a second start, a close from outside, the screen compared pixel for pixel with
the program's bitmaps (ImageMagick), the popup menu walked with the X keyboard, and files
dropped on it by an XDND source as a file manager drops them. With KORVANE_SHOTS set, the
screenshots are kept there."""
import argparse, os, shutil, subprocess, sys, tempfile, time, unittest
from pathlib import Path

ROOT = Path(__file__).resolve().parents[2]
ORIGIN = (494, 366)  # where a 35 x 35 window is centred on 1024 x 768


def driver(*args, timeout=60):
    out = subprocess.run([OPT.wine, OPT.driver, *args], stdout=subprocess.PIPE, timeout=timeout)
    return out.stdout.decode('utf-8', 'replace').replace('\r', '').splitlines()


def window():
    """x, y, width, height, style, exstyle, class style, visible; None without a window."""
    line = driver('--window')[0].split()
    if line[0] != 'WINDOW':
        return None
    return tuple(int(v) for v in line[1:5]) + tuple(int(v, 16) for v in line[5:8]) + (line[8] == '1',)


def pixels(image, crop=None):
    """The RGB bytes of an image file (or of a crop of it), read through ImageMagick."""
    args = ['convert', str(image)] + (['-crop', '%dx%d+%d+%d' % crop, '+repage'] if crop else [])
    ppm = subprocess.run(args + ['-depth', '8', 'ppm:-'], stdout=subprocess.PIPE, check=True).stdout
    head = ppm.split(b'\n', 3)  # P6, width height, 255, the pixels
    return tuple(int(v) for v in head[1].split()), head[3]


class Desktop(unittest.TestCase):
    def setUp(self):
        self.dir = Path(tempfile.mkdtemp(prefix='korvane-desktop-'))
        self.addCleanup(shutil.rmtree, self.dir)
        self.program = subprocess.Popen([OPT.wine, OPT.korvane], stdout=subprocess.DEVNULL,
                                        stderr=subprocess.DEVNULL)
        self.addCleanup(self.end)
        for _ in range(100):
            if window():
                break
            time.sleep(0.1)

    def end(self):
        if self.program.poll() is None:
            driver('--close')
            try:
                self.program.wait(20)
            except subprocess.TimeoutExpired:
                self.program.kill()

    def screen(self, name, crop):
        shot = self.dir / (name + '.png')
        subprocess.run(['import', '-window', 'root', str(shot)], check=True)
        if os.environ.get('KORVANE_SHOTS'):
            subprocess.run(['convert', str(shot), '-crop', '%dx%d+%d+%d' % crop, '+repage',
                            os.path.join(os.environ['KORVANE_SHOTS'], name + '.png')], check=True)
        return shot

    def drop(self, names):
        """Drops the files on the window as a file manager does; the box it shows."""
        answer = subprocess.Popen([OPT.wine, OPT.driver, '--boxes', '1', '30'], stdout=subprocess.PIPE)
        drop = subprocess.run([XDND, str(ORIGIN[0] + 17), str(ORIGIN[1] + 17), *map(str, names)],
                              stdout=subprocess.PIPE, timeout=30)
        self.assertEqual(drop.stdout, b'DROPPED\n')
        return answer.communicate(timeout=60)[0].decode().replace('\r', '').splitlines()

    def assertShows(self, name, crop, bitmap):
        """The screen shows the bitmap at the window's place, once Wine has drawn it."""
        (width, height), expected = pixels(ROOT / 'resources' / bitmap)
        deadline = time.time() + 10
        while True:
            (w, h), shown = pixels(self.screen(name, crop), (width, height) + ORIGIN)
            wrong = sum(shown[i:i + 3] != expected[i:i + 3] for i in range(0, len(expected), 3))
            if not wrong or time.time() > deadline:
                break
            time.sleep(0.2)
        self.assertEqual((w, h), (width, height))
        self.assertEqual(wrong, 0, '%d of %d pixels differ from %s' % (wrong, w * h, bitmap))

    def test_window_second_start_and_close_from_outside(self):
        # Styles as Windows reports them: WS_EX_WINDOWEDGE cleared, WS_CLIPSIBLINGS added.
        self.assertEqual(window(), ORIGIN + (35, 35, 0x94000000, 0x98, 0xC8, True))
        self.assertEqual(driver('30', OPT.korvane),
                         ['BOX Korvane', 'ICON error',
                          'TEXT Only one instance of Korvane may be active', 'EXIT 0'])
        self.assertEqual(driver('--close'), ['CLOSED'])
        self.assertEqual(self.program.wait(20), 0)
        self.assertIsNone(window())

    def test_screen_shows_the_bitmaps_and_the_menu_chooses_them(self):
        self.assertShows('small', (120, 100, 452, 334), 'SMALL.bmp')
        subprocess.run(['xdotool', 'mousemove', str(ORIGIN[0] + 17), str(ORIGIN[1] + 17),
                        'click', '3'], check=True)
        time.sleep(0.7)
        subprocess.run(['xdotool', 'key', 'Down', 'Down', 'Right'], check=True)
        time.sleep(0.7)
        self.screen('menu', (360, 200, 452, 334))
        subprocess.run(['xdotool', 'key', 'Down', 'Down', 'Return'], check=True)
        time.sleep(0.7)
        self.assertEqual(window()[:4], ORIGIN + (150, 100))
        self.assertShows('large', (240, 170, 452, 334), 'LARGE.bmp')

    def test_dragged_by_any_point_and_a_double_click_opens_the_dialog(self):
        x, y = ORIGIN[0] + 11, ORIGIN[1] + 9
        moved = (ORIGIN[0] + 100, ORIGIN[1] + 100, 35, 35)
        # On a busy machine a press that comes while Wine is still mapping the
        # new window is lost: a drag that left the window where it was is
        # made again.
        for _ in range(3):
            subprocess.run(['xdotool', 'mousemove', str(x), str(y), 'mousedown', '1', 'sleep', '0.2',
                            'mousemove', str(x + 40), str(y + 30), 'sleep', '0.2', 'mousemove',
                            str(x + 100), str(y + 100), 'sleep', '0.3', 'mouseup', '1'], check=True)
            for _ in range(20):
                if window()[:4] != ORIGIN + (35, 35):
                    break
                time.sleep(0.1)
            if window()[:4] != ORIGIN + (35, 35):
                break
        self.assertEqual(window()[:4], moved)
        subprocess.run(['xdotool', 'mousemove', str(x + 110), str(y + 110), 'click', '--repeat',
                        '2', '--delay', '80', '1'], check=True)
        for _ in range(30):
            tree = subprocess.run(['xwininfo', '-root', '-tree'], stdout=subprocess.PIPE).stdout
            if b'"Select file to convert"' in tree:
                break
            time.sleep(0.1)
        self.assertIn(b'"Select file to convert"', tree)
        subprocess.run(['xdotool', 'key', 'Escape'], check=True)

    def test_files_dropped_from_a_file_manager(self):
        song = self.dir / 'my tone é.mp3'
        shutil.copy(ROOT / 'samples' / 'tone.mp3', song)
        (self.dir / 'bad.mp3').write_bytes(b'no audio here' * 100)
        drops = [([song], 'information', 'Conversion successfull'),
                 ([self.dir / 'bad.mp3', song], 'error', 'At least one file failed conversion')]
        for names, icon, text in drops:
            self.assertEqual(self.drop(names), ['BOX Korvane', 'ICON ' + icon, 'TEXT ' + text, 'DONE'])
        probe = subprocess.run(['ffprobe', '-v', 'error', '-show_entries',
                                'stream=codec_name,sample_rate,channels', '-of', 'csv=p=0',
                                str(self.dir / 'my tone é.wav')], stdout=subprocess.PIPE)
        self.assertEqual(probe.stdout.decode().strip(), 'mp3,32000,1')
        self.assertFalse((self.dir / 'bad.wav').exists())

    def test_names_outside_the_code_page_and_long_paths_dropped(self):
        names = [self.dir / n for n in ('Песня.mp3', '東京 café.mp3', '🎵 tone.mp3')]
        for total in (300, 1000):  # the Windows path: Z: and the Unix path
            path, left = self.dir, total - len(str(self.dir)) - 2
            while left > 250:
                path, left = path / (chr(ord('a') + len(path.parts)) * 200), left - 201
            path.mkdir(parents=True)
            names.append(path / ('x' * (left - 5) + '.mp3'))
            self.assertEqual(len(str(names[-1])) + 2, total)
        for name in names + [self.dir / 'plain.mp3']:
            shutil.copy(ROOT / 'samples' / 'tone.mp3', name)
        plain = 'Z:' + str(self.dir / 'plain.mp3').replace('/', '\\')
        self.assertEqual(driver('60', OPT.korvane, '/Q', plain), ['EXIT 0'])
        self.assertEqual(self.drop(names),
                         ['BOX Korvane', 'ICON information', 'TEXT Conversion successfull', 'DONE'])
        for name in names:
            with self.subTest(length=len(str(name))):
                self.assertEqual(name.with_suffix('.wav').read_bytes(), (self.dir / 'plain.wav').read_bytes())


if __name__ == '__main__':
    parser = argparse.ArgumentParser()
    for opt in ('--korvane', '--driver', '--wine'):
        parser.add_argument(opt, required=True)
    OPT, rest = parser.parse_known_args()
    if not os.environ.get('DISPLAY'):
        sys.exit('test_desktop.py: no DISPLAY; the window needs one (tools/display.sh)')
    with tempfile.TemporaryDirectory(prefix='korvane-xdnd-') as tools:
        XDND = os.path.join(tools, 'xdnd_drop')
        subprocess.run(['cc', '-O2', '-o', XDND, str(ROOT / 'tests/e2e/xdnd_drop.c'), '-lX11'],
                       check=True)
        unittest.main(argv=[sys.argv[0]] + rest, verbosity=2)
