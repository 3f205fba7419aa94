#!/usr/bin/env python3
"""Trim, segue and peak envelope (/Trim=, /Segue=, /Peaks): Korvane.exe under Wine and the native korvane
on signals made for the test, in each layer, mono and stereo, against ffmpeg's decode of the same files:
cart's timers (also as libsndfile reads them) and the levl chunk's header and values. Needs DISPLAY and
an initialised Wine prefix."""
import re, shutil, struct, subprocess, tempfile, threading, unittest
from pathlib import Path
from concurrent.futures import ThreadPoolExecutor
from e2elib import ROOT, WINE, drive, fixtures, options, winpath
from make_envelope import FILES, START
from test_e2e import riff_chunks as chunks

NATIVE = ROOT / 'build' / 'native' / 'korvane'
TRIM, SEGUE = -40, -30
# Reads every post timer of a cart chunk with libsndfile.
TIMER_READER = r'''#include <sndfile.h>
#include <stdio.h>
int main(int argc, char** argv) {
    SF_INFO info = {0};
    SF_CART_INFO c;
    SNDFILE* f = sf_open(argv[1], SFM_READ, &info);
    if (argc < 2 || !f || !sf_command(f, SFC_GET_CART_INFO, &c, sizeof c)) return 1;
    for (int n = 0; n < 8; ++n)
        if (c.post_timers[n].usage[0]) printf("%.4s=%d\n", c.post_timers[n].usage, c.post_timers[n].value);
    return sf_close(f);
}'''


def decode(path, channels):
    """ffmpeg's decode: a list of sample frames, each a tuple of floats."""
    raw = subprocess.run(['ffmpeg', '-nostdin', '-v', 'error', '-i', path, '-f', 'f32le', '-'],
                         stdout=subprocess.PIPE, check=True).stdout
    values = struct.unpack('<%df' % (len(raw) // 4), raw)
    return [values[n:n + channels] for n in range(0, len(values), channels)]


def expected(frames, rate):
    """AUDs, AUDe and SEGs (None without one) from decoded frames."""
    trim, segue = 10 ** (TRIM / 20), 10 ** (SEGUE / 20)
    peaks = [max(abs(v) for v in frame) for frame in frames]
    loud = [n for n, p in enumerate(peaks) if p >= trim]
    start, end = loud[0], loud[-1] + 1
    block = rate // 10
    ends = [b + block for b in range(0, end, block) if max(peaks[b:b + block]) >= segue]
    return start, end, ends[-1] if ends and ends[-1] < end else None


def timers(cart):
    return {cart[684 + 8 * n:688 + 8 * n].decode(): struct.unpack('<I', cart[688 + 8 * n:692 + 8 * n])[0]
            for n in range(8) if cart[684 + 8 * n]}


class Envelope(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.dir = Path(tempfile.mkdtemp(prefix='korvane-envelope-'))
        shutil.copytree(fixtures(OPT.driver, 'make_envelope.py'), cls.dir, dirs_exist_ok=True)
        cls.reader = str(cls.dir / 'timers')
        subprocess.run(['cc', '-x', 'c', '-', '-lsndfile', '-o', cls.reader], input=TIMER_READER.encode(), check=True)
        # Korvane.exe and the native korvane, each over copies in a folder of its own.
        cls.names = list(FILES) + ['quiet.mp3']
        cls.win, cls.own = cls.dir / 'win', cls.dir / 'own'
        for folder in (cls.win, cls.own):
            folder.mkdir()
            for name in cls.names:
                shutil.copy2(cls.dir / name, folder)
        # The native converter and ffmpeg's decoder work while Korvane.exe does.
        native = []
        beside = threading.Thread(target=lambda: native.append(subprocess.run(
            [NATIVE, '--trim=-40', '--segue=-30', '--peaks', *cls.names], cwd=cls.own, stdout=subprocess.PIPE,
            check=True).stdout.decode()))
        beside.start()
        with ThreadPoolExecutor(2) as pool:
            decoded = pool.map(lambda n: decode(cls.dir / n, FILES[n][1] if n in FILES else 1), cls.names)
            cls.boxes, cls.end = drive(WINE, OPT.driver, '300', winpath(OPT.korvane), '/Trim=-40', '/Segue=-30',
                                       '/Peaks', *cls.names, cwd=cls.win)
            cls.decoded = dict(zip(cls.names, decoded))
        beside.join()
        cls.native = native[0]

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.dir)

    def test_summary_lines_say_which_file_never_reaches_the_trim_level(self):
        self.assertEqual(self.end, ['EXIT 0'])
        self.assertEqual(len(self.boxes), 1, self.boxes)
        never = ' | the audio never reaches -40 dBFS: its timers span it all'
        self.assertEqual(self.boxes[0][2].splitlines(),
                         ['Successfull: ' + winpath(self.win / n) + (never if n == 'quiet.mp3' else '')
                          for n in self.names])
        self.assertEqual(self.native.splitlines(),
                         ['Successfull: %s%s' % (self.own / n, never if n == 'quiet.mp3' else '') for n in self.names])
        quiet = chunks((self.win / 'quiet.wav').read_bytes())
        self.assertEqual(timers(quiet['cart']), {'AUDs': 0, 'AUDe': len(self.decoded['quiet.mp3'])})

    def test_timers_where_ffmpeg_decodes_the_level_crossed_and_the_same_from_both_builds(self):
        for name, (rate, channels, _, frame, delay) in FILES.items():
            with self.subTest(name):
                wav = (self.win / name).with_suffix('.wav')
                got = timers(chunks(wav.read_bytes())['cart'])
                start, end, segue = expected(self.decoded[name], rate)
                self.assertLessEqual(abs(got['AUDs'] - start), frame, got)
                self.assertLessEqual(abs(got['AUDe'] - end), frame, got)
                self.assertIsNotNone(segue)
                self.assertLessEqual(abs(got['SEGs'] - segue), frame, got)
                self.assertEqual(got['SEGe'], got['AUDe'])
                self.assertEqual(list(got), ['AUDs', 'AUDe', 'SEGs', 'SEGe'])
                # Against the source: the tone starts at START, behind the codec's delay.
                self.assertLessEqual(abs(got['AUDs'] - (START * rate + delay)), frame, got)
                own = timers(chunks((self.own / name).with_suffix('.wav').read_bytes())['cart'])
                self.assertEqual(own, got)
                # --info shows them in samples and seconds.
                info = subprocess.run([NATIVE, '--info', (self.own / name).with_suffix('.wav')],
                                      stdout=subprocess.PIPE, check=True).stdout.decode()
                self.assertEqual(re.findall(r'^cart Timer .*$', info, re.M),
                                 ['cart Timer %s: %d samples, %.3f s' % (t, v, v / rate) for t, v in got.items()])
                if name.endswith('.mp3'):  # libsndfile opens layer III alone
                    read = subprocess.run([self.reader, str(wav)], stdout=subprocess.PIPE, check=True).stdout.decode()
                    self.assertEqual(read, ''.join('%s=%d\n' % item for item in got.items()))

    def test_levl_follows_ffmpegs_decode_within_one_percent(self):
        for name, (rate, channels, _, frame, _) in FILES.items():
            with self.subTest(name):
                wav = (self.win / name).with_suffix('.wav').read_bytes()
                found = chunks(wav)
                self.assertEqual(list(found)[-3:], ['data', 'levl', 'LIST'])
                levl = found['levl']
                frames = self.decoded[name]
                blocks = (len(frames) + 255) // 256
                head = struct.unpack('<8I', levl[:32])
                self.assertEqual(head[:6], (1, 2, 2, 256, channels, blocks))
                self.assertEqual(head[7], 128)
                self.assertRegex(levl[32:60].decode(), r'^\d{4}:\d\d:\d\d:\d\d:\d\d:\d\d:\d{3}\0{5}$')
                self.assertEqual(levl[60:120], bytes(60))
                values = struct.unpack('<%dH' % ((len(levl) - 120) // 2), levl[120:])
                self.assertEqual(len(values), blocks * channels * 2)
                worst = 0
                for b in range(blocks):
                    part = frames[b * 256:(b + 1) * 256]
                    for c in range(channels):
                        high = max(max(f[c] for f in part), 0)
                        low = max(-min(f[c] for f in part), 0)
                        pair = values[(b * channels + c) * 2:(b * channels + c) * 2 + 2]
                        worst = max(worst, abs(pair[0] - high * 32767), abs(pair[1] - low * 32767))
                self.assertLess(worst, 32767 * 0.01)
                largest = max(max(abs(v) for v in f) for f in frames)
                self.assertGreaterEqual(max(abs(v) for v in frames[head[6]]), largest - 0.01)
                own = chunks((self.own / name).with_suffix('.wav').read_bytes())['levl']
                self.assertEqual((own[:32], len(own)), (levl[:32], len(levl)))


if __name__ == '__main__':
    OPT, ARGV = options()
    unittest.main(argv=ARGV)
