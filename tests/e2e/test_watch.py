#!/usr/bin/env python3
"""The watch folder of Korvane.exe under Wine: a file copied into the watched folder appears
converted in the output folder, moves to done, and the log holds its line; no box is shown.
Needs DISPLAY and an initialised Wine prefix."""
import re, shutil, subprocess, tempfile, unittest
from pathlib import Path
from e2elib import ROOT, WINE, beside, drive, options, wait_for, winpath

SAMPLE = ROOT / 'samples' / 'tone.mp3'
STAMP = r'\d{4}-\d\d-\d\d \d\d:\d\d:\d\d '


class WatchE2E(unittest.TestCase):
    def setUp(self):
        self.dir = Path(tempfile.mkdtemp(prefix='korvane-watch-'))
        self.addCleanup(shutil.rmtree, self.dir)
        self.inbox, self.out = self.dir / 'in', self.dir / 'out'
        self.inbox.mkdir()
        self.out.mkdir()

    def log(self):
        path = self.inbox / 'korvane-watch.log'
        return path.read_bytes().decode('utf-8') if path.exists() else ''

    def test_a_file_copied_into_the_folder_appears_converted_with_its_line(self):
        # The bytes of a run that writes beside its input, made meanwhile.
        shutil.copy(SAMPLE, self.dir / 'plain.mp3')
        plain = beside(drive, WINE, OPT.driver, '60', winpath(OPT.korvane), '/Q', 'plain.mp3', cwd=self.dir)
        (self.out / 'left.~00').write_bytes(b'half')  # a crash's leftover
        watcher = subprocess.Popen([WINE, OPT.driver, '120', winpath(OPT.korvane), '/Watch=' + winpath(self.inbox),
                                    '/Out=' + winpath(self.out), '/Settle=1'], cwd=self.dir,
                                   stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
        try:
            self.assertTrue(wait_for(lambda: 'Watching ' in self.log(), 60), self.log())
            self.assertFalse((self.out / 'left.~00').exists())
            shutil.copy(SAMPLE, self.inbox / 'spot.mp3')
            (self.inbox / 'note.mp3').write_bytes(b'Some text.\n')
            self.assertTrue(wait_for(lambda: (self.inbox / 'done' / 'spot.mp3').exists() and
                                     (self.inbox / 'failed' / 'note.mp3.txt').exists(), 60), self.log())
        finally:
            subprocess.run([WINE, 'taskkill', '/F', '/IM', 'Korvane.exe'], stdout=subprocess.DEVNULL,
                           stderr=subprocess.DEVNULL)
            out = watcher.communicate(timeout=60)[0].decode('utf-8', 'replace')
        self.assertNotIn('BOX ', out)
        self.assertEqual(plain.result()[0], [])
        self.assertEqual((self.out / 'spot.wav').read_bytes(), (self.dir / 'plain.wav').read_bytes())
        self.assertEqual(sorted(p.name for p in self.out.iterdir()), ['spot.wav'])
        inbox, failed = winpath(self.inbox), 'Failed : %s\\note.mp3 | no MPEG audio found in it' % winpath(self.inbox)
        self.assertEqual((self.inbox / 'failed' / 'note.mp3.txt').read_bytes().decode(), failed + '\r\n')
        lines = sorted(re.sub('^' + STAMP, '', line) for line in self.log().split('\r\n') if line)
        self.assertEqual(lines, sorted(['Watching %s, writing to %s' % (inbox, winpath(self.out)),
                                        'Successfull: %s\\spot.mp3' % inbox, failed]))


if __name__ == '__main__':
    OPT, argv = options()
    unittest.main(argv=argv, verbosity=2)
