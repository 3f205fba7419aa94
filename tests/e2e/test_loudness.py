#!/usr/bin/env python3
"""Loudness measured while wrapping (/L): Korvane.exe under Wine and the native korvane against
ffmpeg's own decoder and ebur128 meter on the same MPEG files, bext version 2's bytes, the values
that do not exist, damaged streams, Korvane.exe without its decoder DLL, and what mediainfo and
libsndfile read. Needs DISPLAY and an initialised Wine prefix."""
import json, math, re, shutil, struct, subprocess, tempfile, unittest
from concurrent.futures import ThreadPoolExecutor
from pathlib import Path
from e2elib import ROOT, WINE, drive, fixtures, options, winpath
from make_signals import SIGNALS

NATIVE = ROOT / 'build' / 'native' / 'korvane'
# What may lie between Korvane's values and ffmpeg's: I, LRA, true peak, M max, S max.
TOLERANCE = (0.1, 1.0, 0.3, 0.2, 0.2)
NO_VALUE = 0x7FFF
# Reads bext version 2's loudness with libsndfile.
BEXT_READER = r'''#include <sndfile.h>
#include <stdio.h>
int main(int argc, char** argv) {
    SF_INFO info = {0};
    SF_BROADCAST_INFO b;
    SNDFILE* f = sf_open(argv[1], SFM_READ, &info);
    if (argc < 2 || !f || !sf_command(f, SFC_GET_BROADCAST_INFO, &b, sizeof b)) return 1;
    printf("%d %d %d %d %d %d\n", b.version, b.loudness_value, b.loudness_range, b.max_true_peak_level,
           b.max_momentary_loudness, b.max_shortterm_loudness);
    return sf_close(f);
}'''


def reference(path):
    """ffmpeg's meter on an MPEG file: I, LRA, true peak, M max, S max (M and S once full)."""
    out = subprocess.run(['ffmpeg', '-nostdin', '-v', 'error', '-i', path, '-af',
                          'ebur128=peak=true:metadata=1,ametadata=print:file=-', '-f', 'null', '-'],
                         stdout=subprocess.PIPE, check=True).stdout.decode()
    series = lambda key: [float(v) for v in re.findall(r'^lavfi\.r128\.%s=(\S+)$' % key, out, re.M)]
    peak = max(series('true_peak'))
    full = lambda values: [v for v in values if v > -120]
    return (series('I')[-1], series('LRA')[-1], 20 * math.log10(peak),
            max(full(series('M')), default=None), max(full(series('S')), default=None))


def bext(wav):
    """The bext body of a WAVE file."""
    pos = 12
    while pos + 8 <= len(wav):
        cid, size = struct.unpack('<4sI', wav[pos:pos + 8])
        if cid == b'bext':
            return wav[pos + 8:pos + 8 + size]
        pos += 8 + size + (size & 1)
    return None


def loudness(wav):
    """bext's version and its five loudness fields, signed hundredths (0x7FFF kept as is)."""
    body = bext(wav)
    values = struct.unpack('<5h', body[412:422])
    return struct.unpack('<H', body[346:348])[0], [NO_VALUE if v == NO_VALUE else v for v in values]


class Loudness(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.dir = Path(tempfile.mkdtemp(prefix='korvane-loudness-'))
        shutil.copytree(fixtures(OPT.driver, 'make_signals.py'), cls.dir, dirs_exist_ok=True)

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.dir)

    def wrap(self, names, *options, folder=None, program=None):
        """Korvane.exe's summary lines (none in a quiet run) and outputs of a run over the names
        in a folder of its own."""
        folder = folder or Path(tempfile.mkdtemp(dir=self.dir))
        for name in names:
            shutil.copy2(self.dir / name, folder)  # the same last-write time, bext's origination
        boxes, end = drive(WINE, OPT.driver, '300', winpath(program or OPT.korvane), *options, *names, cwd=folder)
        self.assertEqual(len(boxes), '/Q' not in options, boxes)
        return (boxes[0][2].splitlines() if boxes else []), end, folder

    def measured_signals(self):
        """The signals measured (-l) once for the tests that read them, in a folder of their own,
        the native converter's outputs in native/ there; it and ffmpeg's meter work while
        Korvane.exe does. Korvane.exe's summary lines and end, the folder, and ffmpeg's values."""
        cls, names = type(self), list(SIGNALS)
        if 'signals_measured' not in vars(cls):
            folder = Path(tempfile.mkdtemp(dir=self.dir))
            (folder / 'native').mkdir()
            for name in names:
                shutil.copy2(self.dir / name, folder / 'native')
            with ThreadPoolExecutor(2) as pool:
                ran = pool.submit(subprocess.run, [NATIVE, '--loudness', '-q', *names], cwd=folder / 'native',
                                  check=True)
                wanted = pool.map(reference, [self.dir / name for name in names])
                lines, end, _ = self.wrap(names, '-l', folder=folder)
                ran.result()
            cls.signals_measured = lines, end, folder, list(wanted)
        return cls.signals_measured

    def test_values_agree_with_ffmpeg_and_the_native_converter_writes_the_same(self):
        names, (lines, end, folder, wanted) = list(SIGNALS), self.measured_signals()
        native = folder / 'native'
        self.assertEqual(end, ['EXIT 0'])
        for name, line, want in zip(names, lines, wanted):
            wav = (folder / name).with_suffix('.wav').read_bytes()
            version, values = loudness(wav)
            self.assertEqual(version, 2, name)
            for field, (value, other, tolerance) in enumerate(zip(values, want, TOLERANCE)):
                self.assertAlmostEqual(value / 100, other, delta=tolerance, msg='%s field %d' % (name, field))
            tenths = ['%s%d.%d' % ('-' * (v <= -5), (abs(v) + 5) // 100, (abs(v) + 5) // 10 % 10) for v in values]
            shown = '%s LUFS, LRA %s LU, %s dBTP' % tuple(tenths[:3])
            self.assertEqual(line, 'Successfull: %s | %s' % (winpath(folder / name), shown))
            # The same bytes from both builds but for the new reference; their decoders' float
            # sums may round a value a hundredth apart.
            own = (native / name).with_suffix('.wav').read_bytes()
            self.assertEqual(len(own), len(wav))
            skip = wav.index(b'bext') + 8
            self.assertEqual((wav[:skip + 288], wav[skip + 320:skip + 412], wav[skip + 422:]),
                             (own[:skip + 288], own[skip + 320:skip + 412], own[skip + 422:]), name)
            theirs = loudness(own)[1]
            self.assertLessEqual(max(abs(a - b) for a, b in zip(values, theirs)), 1, name)

    def test_bext_version_2_differs_from_b_only_in_its_version_and_values(self):
        # The same source (and last-write time) as the measured signals.
        plain = (self.wrap(['tone23.mp3'], '/Q', '/B')[2] / 'tone23.wav').read_bytes()
        folder = self.measured_signals()[2]
        measured = (folder / 'tone23.wav').read_bytes()
        skip = measured.index(b'bext') + 8
        self.assertEqual(len(measured), len(plain))
        self.assertEqual(plain[skip + 346:skip + 348], b'\x01\x00')
        self.assertEqual(plain[skip + 412:skip + 422], bytes(10))
        self.assertEqual(measured[skip + 346:skip + 348], b'\x02\x00')
        cut = lambda w: w[:skip + 288] + w[skip + 320:skip + 346] + w[skip + 348:skip + 412] + w[skip + 422:]
        self.assertEqual(cut(measured), cut(plain))
        # -23 LUFS as hundredths: 0xF704 is -2300; the tone is within a few of them.
        value = struct.unpack('<h', measured[skip + 412:skip + 414])[0]
        self.assertLess(abs(value + 2300), 10)
        # mediainfo and libsndfile read the same values.
        info = json.loads(subprocess.run(['mediainfo', '--Output=JSON', folder / 'tone23.wav'],
                                         stdout=subprocess.PIPE, check=True).stdout)
        extra = {k: v for track in info['media']['track'] for k, v in track.get('extra', {}).items()}
        self.assertEqual(extra['bext_Version'], '2')
        fields = ('LoudnessValue', 'LoudnessRange', 'MaxTruePeakLevel', 'MaxMomentaryLoudness', 'MaxShortTermLoudness')
        values = loudness(measured)[1]
        self.assertEqual([round(float(extra[f]) * 100) for f in fields], values)
        reader = self.dir / 'bextreader'
        if not reader.exists():
            subprocess.run(['cc', '-x', 'c', '-', '-lsndfile', '-o', reader], input=BEXT_READER.encode(), check=True)
        out = subprocess.run([reader, folder / 'tone23.wav'], stdout=subprocess.PIPE, check=True).stdout.decode()
        self.assertEqual([int(v) for v in out.split()], [2] + values)

    def test_values_that_do_not_exist_and_damaged_streams(self):
        shutil.copy(self.dir / 'short.mp3', self.dir / 'back.mp3')
        subprocess.run([NATIVE, '-q', self.dir / 'back.mp3'], check=True)
        lines, end, folder = self.wrap(['silence.mp3', 'short.mp3', 'damaged.mp3', 'back.wav'], '/L')
        self.assertEqual(end, ['EXIT 0'])
        # The way back is not measured: its line is the plain one.
        self.assertEqual(lines[3], 'Successfull: %s' % winpath(folder / 'back.wav'))
        # Digital silence has no loudness and no peak; two seconds have no short-term block.
        self.assertEqual(loudness((folder / 'silence.wav').read_bytes()), (2, [NO_VALUE] * 5))
        self.assertEqual(lines[0], 'Successfull: %s | n/a LUFS, LRA n/a LU, n/a dBTP' % winpath(folder / 'silence.mp3'))
        version, values = loudness((folder / 'short.wav').read_bytes())
        self.assertEqual([v == NO_VALUE for v in values], [False, True, False, False, True])
        self.assertAlmostEqual(values[0] / 100, reference(folder / 'short.mp3')[0], delta=0.1)
        # The damaged stream converts byte for byte; its line counts the frames skipped.
        wav = (folder / 'damaged.wav').read_bytes()
        self.assertIn((self.dir / 'damaged.mp3').read_bytes(), wav)
        skipped = re.match(r'Successfull: .* \| -\d+\.\d LUFS, LRA \d+\.\d LU, -?\d+\.\d dBTP, (\d+) frames could '
                           r'not be decoded$', lines[2])
        self.assertTrue(skipped, lines[2])
        self.assertIn(int(skipped.group(1)), range(74, 80))
        # The values come from the rest: the stereo tone's.
        self.assertAlmostEqual(loudness(wav)[1][0] / 100, reference(self.dir / 'stereo.mp3')[0], delta=0.1)

    def test_without_its_dll_korvane_exe_does_everything_but_measure(self):
        alone = Path(tempfile.mkdtemp(dir=self.dir))
        program = shutil.copy(OPT.korvane, alone)
        reason = 'libmpg123.dll, the decoder that measures loudness, is missing beside the program or cannot be loaded'
        lines, end, folder = self.wrap(['tone23.mp3', 'short.mp3'], '/L', program=program)
        self.assertEqual(lines, ['Failed : %s | %s' % (winpath(folder / n), reason) for n in ('tone23.mp3', 'short.mp3')])
        self.assertEqual(end, ['EXIT 1'])
        self.assertEqual(sorted(p.name for p in folder.iterdir()), ['short.mp3', 'tone23.mp3'])
        self.assertEqual(self.wrap(['tone23.mp3'], '/Q', '/B', program=program, folder=folder)[1], ['EXIT 0'])
        self.assertEqual(loudness((folder / 'tone23.wav').read_bytes())[0], 1)


if __name__ == '__main__':
    OPT, argv = options()
    unittest.main(argv=argv, verbosity=2)
