#!/usr/bin/env python3
"""Broadcast WAVE labels end to end: Korvane.exe under Wine and the native korvane write the same
cart and bext bytes for the same options, names and lists, as libsndfile reads them back, and a
label they cannot take converts nothing. Needs DISPLAY and an initialised Wine prefix."""
import datetime, os, shutil, subprocess, tempfile, unittest
from pathlib import Path
import test_e2e as base
from e2elib import ROOT, SideBySide, beside, fixtures, options, winpath

SPOTS = ['%d - %s - %s.mp3' % (1234 + i, client, title) for i, (client, title) in enumerate(
    [('Acme Tyres', 'Winter Sale'), ('Bob Bikes', 'Spring'), ('Cafe Nord', 'Lunch Menu')])]
NATIVE = ROOT / 'build' / 'native' / 'korvane'
BEXT = 70  # where bext's body starts in a WAVed MPEG of layer III
REF = slice(BEXT + 288, BEXT + 320)  # the OriginatorReference, new for every file written


class LabelsCase(base.E2ECase):
    @classmethod
    def setUpClass(cls):
        cls.tools = Path(tempfile.mkdtemp(prefix='korvane-cart-'))
        cls.reader = cls.tools / 'cart'
        subprocess.run(['cc', '-x', 'c', '-', '-lsndfile', '-o', cls.reader], input=base.CART_READER.encode(), check=True)

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.tools)

    def setUp(self):
        super().setUp()
        (self.dir / 'spots').mkdir()
        for spot in SPOTS:
            shutil.copy(self.dir / 'notag.mp3', self.dir / 'spots' / spot)

    def cart(self, wav):
        """The cart's label fields as libsndfile reads them, without the producer and timers."""
        line = subprocess.run([self.reader, wav], stdout=subprocess.PIPE, check=True).stdout.decode()
        return line.rsplit('|', 4)[0] + '\n'

    def both(self, args, outputs, folder='spots'):
        """Korvane.exe and the native korvane run with the same arguments in copies of the spots'
        folder; their outputs are the same but for the OriginatorReference. The Wine run's bytes."""
        native = Path(tempfile.mkdtemp(prefix='korvane-native-'))
        self.addCleanup(shutil.rmtree, native)
        shutil.copytree(self.dir / folder, native / folder)
        self.expect(['/Q'] + args, cwd=self.dir / folder, status=0)
        subprocess.run([NATIVE, '/Q'] + args, cwd=native / folder, check=True)
        made = {}
        for name in outputs:
            wine, other = (self.dir / folder / name).read_bytes(), (native / folder / name).read_bytes()
            self.assertEqual(wine[:REF.start] + wine[REF.stop:], other[:REF.start] + other[REF.stop:], name)
            made[name] = wine
        return made


class QuietLabels(LabelsCase):
    """Quiet runs (/Q) only, beside the other tests."""
    windowless = True

    def test_options_names_and_a_list_give_the_same_cart(self):
        end = (datetime.date.today() + datetime.timedelta(days=14)).isoformat()
        waves = [s[:-4] + '.wav' for s in SPOTS]
        by_pattern = self.both(['/Category=COM', '/End=+14', '/Pattern=%n - %a - %t', '*.mp3'], waves)
        for spot, wav in zip(SPOTS, waves):
            cut, artist, title = spot[:-4].split(' - ')
            self.assertEqual(self.cart(self.dir / 'spots' / wav), '%s|%s|%s||COM|||1900-01-01 00:00:00|%s '
                             '23:59:59|||\n' % (title, artist, cut, end), wav)
            (self.dir / 'spots' / wav).unlink()
        # The same labels from a list (a spreadsheet's: BOM, semicolons, quotes) give the same bytes.
        rows = ''.join('"%s";%s;"%s";%s\r\n' % (s, s[:4], s[7:-4].split(' - ')[0], s[:-4].split(' - ')[2])
                       for s in SPOTS)
        (self.dir / 'spots' / 'spots.csv').write_bytes(('\ufeffFile;CutID;Artist;Title\r\n' + rows).encode())
        by_list = self.both(['/Category=COM', '/End=+14', '/List=spots.csv'], waves)
        for wav in waves:
            self.assertEqual(by_list[wav][:REF.start] + by_list[wav][REF.stop:],
                             by_pattern[wav][:REF.start] + by_pattern[wav][REF.stop:], wav)

    def test_every_field_and_numbered_cuts(self):
        self.both(['/CutID=#1001', '/ClientID=Acme', '/Classification=Spot', '/OutCue=at Acme today',
                   '/UserDef=u1', '/URL=http://example.org/spots/a', '/TagText=one\\ntwo', '/Title=Sale',
                   '/Start=2026-12-24 06:00:00', '/End=2027-01-06', '/Description=Acme spot',
                   '/Originator=Radio One', SPOTS[1], SPOTS[0]], [s[:-4] + '.wav' for s in SPOTS[:2]])
        for spot, cut in ((SPOTS[1], 1001), (SPOTS[0], 1002)):  # numbered in the order converted
            wav = self.dir / 'spots' / (spot[:-4] + '.wav')
            self.assertEqual(self.cart(wav), 'Sale||%d|Acme||Spot|at Acme today|2026-12-24 06:00:00|'
                             '2027-01-06 23:59:59|u1|http://example.org/spots/a|one\r\ntwo\n' % cut)
            tags = base.probe(wav)['format']['tags']
            self.assertEqual((tags['comment'], tags['encoded_by']), ('Acme spot', 'Radio One'))


class Labels(LabelsCase):
    def test_refused_labels_convert_nothing(self):
        (self.dir / 'bad.csv').write_bytes(b'File,Colour\nstereo.mp3,red\n')
        rows = [(['/Bogus=1'], 'no such option'),  # not /B
                (['/Category=' + 'C' * 65], "longer than its field's 64 characters"),
                (['/OutCue=Caf\u00e9'], 'a character outside printable ASCII'),
                (['/End=2026-02-29'], 'not a date (yyyy-mm-dd, yyyy-mm-dd hh:mm:ss, or +days from today)'),
                (['/Pattern=%t%a'], 'not a pattern: each of %a %t %n %c %g %o %u at most once, each followed by '
                                    'the text that ends it'),
                (['/List=bad.csv'], 'the column "Colour" names no field, or one named before')]
        quiet = self.dir / 'quiet'  # the quiet runs' folder, beside the boxes
        quiet.mkdir()
        for name in ('bad.csv', 'stereo.mp3'):
            shutil.copy(self.dir / name, quiet)
        before = [sorted(os.listdir(folder)) for folder in (self.dir, quiet)]
        runs = [beside(self.expect, ['/Q'] + args + ['stereo.mp3'], status=1, cwd=quiet) for args, _ in rows]
        for args, why in rows:
            self.expect(args + ['stereo.mp3'], 'Invalid command-line option: %s | %s\n' % (args[0], why), 'error')
        for run in runs:
            run.result()
        self.assertEqual([sorted(os.listdir(folder)) for folder in (self.dir, quiet)], before)
        # /URL= and /UserDef= are labels, not /U: the file converts and no registry box comes.
        self.expect(['/URL=http://example.org/a', '/UserDef=x', 'stereo.mp3'],
                    'Successfull: %s\n' % winpath(self.dir / 'stereo.mp3'))
        self.assertTrue(self.cart(self.dir / 'stereo.wav').endswith('|x|http://example.org/a|\n'))

    def test_a_name_that_does_not_fit_fails_with_its_reason(self):
        spot = self.dir / 'spots' / SPOTS[0]
        self.expect(['/Pattern=%n - %a - %t', 'stereo.mp3', winpath(spot)],
                    'Failed : %s | its name does not fit the pattern\nSuccessfull: %s\n'
                    % (winpath(self.dir / 'stereo.mp3'), winpath(spot)))
        self.assertFalse((self.dir / 'stereo.wav').exists())


if __name__ == '__main__':
    base.OPT, argv = options()
    base.FIXTURES = fixtures(base.OPT.driver)
    unittest.main(argv=argv, verbosity=2, testRunner=SideBySide)
