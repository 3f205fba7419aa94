#!/usr/bin/env python3
"""The real Korvane.exe in desktop mode under Wine and Xvfb: its window found by class from
another program, a second start, a close from outside, the screen compared pixel for pixel with
the program's bitmaps (ImageMagick), the popup menu walked with the X keyboard, a drag with the
X mouse (a double click is the window test's; the class style that lets it come is checked
here), files dropped on it through XDND as a file manager drops them, and the labels dialog
typed into with the X keyboard. With KORVANE_SHOTS set, the screenshots are kept there."""
import datetime, os, shutil, subprocess, sys, tempfile, unittest
from pathlib import Path
from e2elib import ROOT, WINE, drive, long_name, options, registry, wait_for, winpath, xdnd_drop

ORIGIN = (494, 366)  # where a 35 x 35 window is centred on 1024 x 768
CENTRE = (ORIGIN[0] + 17, ORIGIN[1] + 17)
SETTINGS = 'HKEY_CURRENT_USER\\Software\\Korvane'


def windows(cls='TKORVANE_MAIN'):
    """The visible windows of the class: x, y, width, height, style, exstyle, class style."""
    lines = [line.split() for line in drive(WINE, OPT.driver, '--window', cls)[1]]
    return [tuple(map(int, w[1:5])) + tuple(int(v, 16) for v in w[5:8])
            for w in lines if w[0] == 'WINDOW' and w[8] == '1']


def settings(until):
    """The settings kept for the user once until(them) holds (the program writes them one after
    another), or as they are at the deadline."""
    kept = {}

    def read():
        nonlocal kept
        kept = registry(OPT.driver, SETTINGS).get(SETTINGS, {})
        return until(kept)
    wait_for(read)
    return kept


def xdotool(*args):
    subprocess.run(['xdotool', *map(str, args)], check=True)


def pixels(image, crop=None):
    """The size and RGB bytes of an image file, or with None of the screen, or of a crop of it,
    read through ImageMagick."""
    args = (['import', '-window', 'root'] if image is None else ['convert', str(image)]) + (
        ['-crop', '%dx%d+%d+%d' % crop, '+repage'] if crop else [])
    ppm = subprocess.run(args + ['-depth', '8', 'ppm:-'], stdout=subprocess.PIPE, check=True).stdout
    head = ppm.split(b'\n', 3)  # P6, width height, 255, the pixels
    return tuple(int(v) for v in head[1].split()), head[3]


class Desktop(unittest.TestCase):
    def setUp(self):
        self.dir = Path(tempfile.mkdtemp(prefix='korvane-desktop-'))
        self.addCleanup(shutil.rmtree, self.dir)
        # Each test starts without the settings a user keeps (Broadcast WAVE, the labels).
        self.forget_settings()
        self.addCleanup(self.forget_settings)
        self.program = subprocess.Popen([WINE, OPT.korvane], stdout=subprocess.DEVNULL,
                                        stderr=subprocess.DEVNULL)
        self.addCleanup(self.end)
        # Wine loses a press made while it still maps the window: drive it once it shows.
        self.assertShows('SMALL.bmp', 'small', (120, 100, 452, 334))

    @staticmethod
    def forget_settings():
        drive(WINE, OPT.driver, '--reg', 'delete', SETTINGS)

    def choose(self, downs):
        """Opens the popup menu and chooses its item after that many presses of Down. Under Wine
        the first right click after a menu has closed opens none: it is made again until one opens
        (the menu opens within a tenth of a second; an open menu takes no notice of a right click)."""
        for _ in range(40):
            xdotool('mousemove', *CENTRE, 'click', 3)
            if wait_for(lambda: len(windows('#32768')) == 1, 0.5):  # the popup menu
                break
        else:
            self.fail('no popup menu')
        xdotool('key', *['Down'] * downs, 'Return')
        self.assertTrue(wait_for(lambda: not windows('#32768')))

    def end(self):
        if self.program.poll() is None:
            drive(WINE, OPT.driver, '--close')
            try:
                self.program.wait(20)
            except subprocess.TimeoutExpired:
                self.program.kill()

    def assertShows(self, bitmap, name, crop):
        """The screen shows the bitmap at the window's place, once it has settled."""
        size, expected = pixels(ROOT / 'resources' / bitmap)
        seen = []

        def shown():
            seen[:] = [pixels(None, size + ORIGIN)]
            return seen[0] == (size, expected)
        wait_for(shown, 20)
        (w, h), got = seen[0]
        self.assertEqual((w, h), size)
        wrong = sum(got[i:i + 3] != expected[i:i + 3] for i in range(0, len(expected), 3))
        self.assertEqual(wrong, 0, '%d of %d pixels differ from %s' % (wrong, w * h, bitmap))
        if os.environ.get('KORVANE_SHOTS'):
            subprocess.run(['import', '-window', 'root', '-crop', '%dx%d+%d+%d' % crop, '+repage',
                            os.path.join(os.environ['KORVANE_SHOTS'], name + '.png')], check=True)

    def test_window_second_start_and_close_from_outside(self):
        # Styles as Windows reports them: WS_EX_WINDOWEDGE cleared, WS_CLIPSIBLINGS added.
        self.assertEqual(windows(), [ORIGIN + (35, 35, 0x94000000, 0x98, 0xC8)])
        self.assertEqual(drive(WINE, OPT.driver, '30', OPT.korvane),
                         ([('Korvane', 'error', 'Only one instance of Korvane may be active')],
                          ['EXIT 1']))
        self.assertEqual(drive(WINE, OPT.driver, '--close')[1], ['CLOSED'])
        self.assertEqual(self.program.wait(20), 0)
        self.assertEqual(windows(), [])

    def test_menu_walked_with_the_keyboard_chooses_the_large_bitmap(self):
        xdotool('mousemove', *CENTRE, 'click', 3)
        self.assertTrue(wait_for(lambda: len(windows('#32768')) == 1))  # the popup menu
        xdotool('key', *['Down'] * 7, 'Right')  # past Convert, the four Broadcast WAVE items, Watch folder…
        self.assertTrue(wait_for(lambda: len(windows('#32768')) == 2))  # and its Bitmap menu
        if os.environ.get('KORVANE_SHOTS'):
            subprocess.run(['import', '-window', 'root', '-crop', '360x240+452+334', '+repage',
                            os.path.join(os.environ['KORVANE_SHOTS'], 'menu.png')], check=True)
        xdotool('key', 'Down', 'Down', 'Return')
        self.assertTrue(wait_for(lambda: [w[:4] for w in windows()] == [ORIGIN + (150, 100)]))
        self.assertShows('LARGE.bmp', 'large', (240, 170, 452, 334))

    def test_dragged_by_any_point(self):
        x, y = ORIGIN[0] + 11, ORIGIN[1] + 9
        xdotool('mousemove', x, y, 'mousedown', 1, 'sleep', 0.2, 'mousemove', x + 40, y + 30,
                'sleep', 0.2, 'mousemove', x + 100, y + 100, 'sleep', 0.3, 'mouseup', 1)
        moved = (ORIGIN[0] + 100, ORIGIN[1] + 100, 35, 35)
        self.assertTrue(wait_for(lambda: [w[:4] for w in windows()] == [moved]))

    def test_files_dropped_from_outside_convert_as_on_the_command_line(self):
        tone = ROOT / 'samples' / 'tone.mp3'
        names = ['Песня.mp3', long_name(self.dir, 300), 'plain.mp3']
        for name in names + ['cli/tone.mp3']:
            (self.dir / name).parent.mkdir(parents=True, exist_ok=True)
            shutil.copy(tone, self.dir / name)
        (self.dir / 'bad.mp3').write_bytes(b'no audio here' * 100)
        self.assertEqual(drive(WINE, OPT.driver, '60', OPT.korvane, '/Q',
                               winpath(self.dir / 'cli/tone.mp3')), ([], ['EXIT 0']))
        # A bad file does not stop the good one after it.
        drops = [(names[:2], 'information', 'Conversion successfull'),
                 (['bad.mp3', 'plain.mp3'], 'error', 'At least one file failed conversion\n\nFailed : %s | '
                  'no MPEG audio found in it\n' % winpath(self.dir / 'bad.mp3'))]
        for dropped, icon, text in drops:
            with self.subTest(icon=icon):
                # The window shows again once the last box has gone from over it.
                self.assertShows('SMALL.bmp', 'small', (120, 100, 452, 334))
                self.assertTrue(xdnd_drop(*CENTRE, [self.dir / n for n in dropped]))
                self.assertEqual(drive(WINE, OPT.driver, '--boxes', '1', '60'),
                                 ([('Korvane', icon, text)], ['DONE']))
        for name in names:
            with self.subTest(length=len(winpath(self.dir / name))):
                self.assertEqual((self.dir / name).with_suffix('.wav').read_bytes(),
                                 (self.dir / 'cli/tone.wav').read_bytes())
        self.assertFalse((self.dir / 'bad.wav').exists())

    def test_labels_typed_into_the_dialog_and_the_peak_envelope_go_into_a_dropped_file(self):
        shutil.copy(ROOT / 'samples' / 'tone.mp3', self.dir / 'spot.mp3')
        self.choose(2)  # Broadcast WAVE
        self.choose(5)  # Peak envelope
        self.choose(3)  # Broadcast WAVE labels…
        self.assertTrue(wait_for(lambda: windows('#32770')))
        typed = ['COM', 'Acme Tyres', 'Spot', 'winter sale', 'u1', '2026-01-02', '+14', '1001', '-40', '-20']
        for i, text in enumerate(typed):
            xdotool('type', '--delay', '30', '--', text)  # a text may start with -
            if i < len(typed) - 1:
                xdotool('key', 'Tab')
        if os.environ.get('KORVANE_SHOTS'):
            x, y, w, h = windows('#32770')[0][:4]
            shot, last = os.path.join(os.environ['KORVANE_SHOTS'], 'labels.png'), None
            for _ in range(50):  # once two shots agree, the typing has been drawn
                subprocess.run(['import', '-window', 'root', '-crop', '%dx%d+%d+%d' % (w, h, x, y),
                                '+repage', shot], check=True)
                if last == (last := Path(shot).read_bytes()):
                    break
        xdotool('key', 'Return')  # OK
        self.assertTrue(wait_for(lambda: not windows('#32770')))
        names = ('Category', 'ClientID', 'Classification', 'OutCue', 'UserDef', 'Start', 'End', 'NextCutID',
                 'TrimLevel', 'SegueLevel', 'BroadcastWave', 'PeakEnvelope')  # kept one after another
        kept = settings(lambda kept: all(n in kept for n in names))
        self.assertEqual([kept.get(n) for n in names], typed + [1, 1])
        self.assertTrue(xdnd_drop(*CENTRE, [self.dir / 'spot.mp3']))
        self.assertEqual(drive(WINE, OPT.driver, '--boxes', '1', '60'),
                         ([('Korvane', 'information', 'Conversion successfull')], ['DONE']))
        wave = (self.dir / 'spot.wav').read_bytes()
        cart = wave.index(b'cart') + 8
        text = lambda offset, width: wave[cart + offset:cart + offset + width].rstrip(b'\0').decode()
        end = (datetime.date.today() + datetime.timedelta(days=14)).isoformat() + '23:59:59'
        self.assertEqual([text(132, 64), text(196, 64), text(260, 64), text(324, 64), text(388, 64),
                          text(616, 64), text(452, 18), text(470, 18)],
                         ['1001', 'Acme Tyres', 'COM', 'Spot', 'winter sale', 'u1', '2026-01-0200:00:00', end])
        self.assertEqual(settings(lambda kept: kept.get('NextCutID') == '1002').get('NextCutID'), '1002')
        at = wave.index(b'data') + 8 + 85 * 144  # after the tone's frames: levl, 383 peaks of 256 samples
        self.assertEqual((wave[at:at + 4], wave.index(b'LIST', at)), (b'levl', at + 8 + 120 + 383 * 4))

if __name__ == '__main__':
    OPT, argv = options()
    unittest.main(argv=argv, verbosity=2)
