#!/usr/bin/env python3
"""End-to-end tests of Korvane.exe under Wine: kvdriver answers its boxes, and
ffprobe, mpg123 and a small RIFF walker read what it wrote. Needs DISPLAY and
an initialised Wine prefix."""
import argparse, json, os, re, shutil, struct, subprocess, sys, tempfile, unittest

OPT = FIXTURES = None
CREDIT = 'Korvane 1.0 - (c) 2026 the Korvane developers'
OWN_TAGS = {'encoder': 'Korvane', 'copyright': CREDIT}
STEREO_TAGS = dict(OWN_TAGS, title='Korvane Tone', artist='The Testers', ISRF='Fixture Album',
                   date='2024', comment='short comment', ISBJ='7', genre='Jazz')
# name: codec, sample rate, channels, format tag
STREAMS = {'stereo.mp3': ('mp3', 44100, 2, 0x55), 'mono.mp3': ('mp3', 44100, 1, 0x55),
           'mpeg2.mp3': ('mp3', 22050, 2, 0x55), 'mpeg25.mp3': ('mp3', 8000, 1, 0x55),
           'notag.mp3': ('mp3', 44100, 2, 0x55), 'my song.mp3': ('mp3', 44100, 2, 0x55),
           'layer2.mp2': ('mp2', 44100, 2, 0x50), 'cover.mp3': ('mp3', 44100, 2, 0x55)}


def winpath(path):
    return 'Z:' + os.path.abspath(path).replace('/', '\\')


def read(path):
    with open(path, 'rb') as f:
        return f.read()


def run(cwd, *args, exe=None):
    """Korvane.exe's boxes as (caption, icon, text) and its status."""
    return drive(cwd, winpath(exe or OPT.korvane), *args)


def drive(cwd, *args):
    out = subprocess.run([OPT.wine, OPT.driver, '60'] + list(args),
                         cwd=cwd, stdout=subprocess.PIPE, timeout=180).stdout
    boxes, status = [], None
    for key, _, rest in (l.partition(' ') for l in out.decode('latin-1').splitlines()):
        if key == 'BOX':
            boxes.append((rest,))
        elif key == 'ICON':
            boxes[-1] += (rest,)
        elif key == 'TEXT':  # line feeds come as \n, backslashes doubled
            boxes[-1] += (re.sub(r'\\(.)', lambda m: '\n' if m.group(1) == 'n' else m.group(1), rest),)
        elif key in ('EXIT', 'TIMEOUT'):
            status = int(rest) if rest else key
    return boxes, status


def decode(path):
    """The PCM that mpg123, an independent decoder, makes of a file."""
    return subprocess.run(['mpg123', '-q', '-s', path], stdout=subprocess.PIPE,
                          stderr=subprocess.DEVNULL).stdout


def audio_span(src):
    """The frames of an MPEG file: after an ID3v2 tag and its zero padding,
    up to an ID3v1 tag."""
    start = 0
    if src[:3] == b'ID3':
        start = 10 + (10 if src[5] & 0x10 else 0)
        start += sum(b << (7 * (3 - i)) for i, b in enumerate(src[6:10]))
        while src[start] == 0:
            start += 1
    return start, len(src) - 128 if src[-128:-125] == b'TAG' else len(src)


def riff_chunks(wav):
    assert struct.unpack('<4sI4s', wav[:12]) == (b'RIFF', len(wav) - 8, b'WAVE'), wav[:12]
    chunks, pos = {}, 12
    while pos + 8 <= len(wav):
        cid, size = struct.unpack('<4sI', wav[pos:pos + 8])
        chunks[cid.decode('latin-1')] = wav[pos + 8:pos + 8 + size]
        pos += 8 + size + (size & 1)
    assert pos == len(wav), (pos, len(wav))
    return chunks


class E2ECase(unittest.TestCase):
    """A private copy of the fixtures for each test."""
    def setUp(self):
        self.dir = tempfile.mkdtemp(prefix='korvane-e2e-')
        self.addCleanup(shutil.rmtree, self.dir)
        for name in os.listdir(FIXTURES):
            shutil.copy(os.path.join(FIXTURES, name), self.dir)

    def path(self, *names):
        return os.path.join(self.dir, *names)

    def exist(self, *names):
        return all(os.path.exists(self.path(n)) for n in names)

    def assertSummary(self, args, text, cwd=None):
        self.assertEqual(run(cwd or self.dir, *args),
                         ([('Korvane', 'information', text)], 0))


class KorvaneE2E(E2ECase):
    def test_summary_lists_options_and_every_file_by_its_found_name(self):
        d = winpath(self.dir)  # a pattern or another case gives the name found
        self.assertSummary(['/x', d + '\\STEREO.MP3', 'nothere.mp3', d + '\\lay*.mp2', '-y'],
                           'Invalid command-line option: /x -y \n\nSuccessfull: %s\\stereo.mp3\n'
                           'File not found: nothere.mp3\nSuccessfull: %s\\layer2.mp2\n' % (d, d))
        self.assertTrue(self.exist('stereo.wav', 'layer2.wav'))

    def test_bare_names_bad_file_and_blank(self):
        before = os.listdir(self.dir)
        self.assertSummary(['bad.mp3', 'my song.mp3'], 'Failed : %s\nSuccessfull: %s\n' % (
            winpath(self.path('bad.mp3')), winpath(self.path('my song.mp3'))))
        self.assertEqual(sorted(os.listdir(self.dir)), sorted(before + ['my song.wav']))

    def test_quiet_shows_nothing(self):
        self.assertEqual(run(self.dir, '/Q', 'mono.mp3', 'nothere.mp3', 'bad.mp3'), ([], 0))
        self.assertTrue(self.exist('mono.wav'))

    def test_about_box_ends_the_run(self):
        boxes, status = run(self.dir, '/?', 'mono.mp3')
        self.assertEqual([b[:2] for b in boxes] + [status], [('About Korvane', 'information'), 0])
        lines = boxes[0][2].split('\n')
        self.assertEqual(lines[0], CREDIT)
        self.assertIn('  /Q - Quiet mode', lines)
        self.assertFalse(self.exist('mono.wav'))

    def test_every_stream_kind_converts_byte_for_byte_and_back(self):
        self.assertEqual(run(self.dir, '/Q', *[winpath(self.path(n)) for n in STREAMS]), ([], 0))
        os.mkdir(self.path('back'))
        for name, kind in STREAMS.items():
            with self.subTest(name=name):
                wav = os.path.splitext(name)[0] + '.wav'
                self.check_wave(name, wav, *kind)
                shutil.copy(self.path(wav), self.path('back'))
        waves = sorted(os.listdir(self.path('back')))
        self.assertSummary(waves, ''.join('Successfull: %s\n' % winpath(self.path('back', w))
                                          for w in waves), cwd=self.path('back'))
        for name in STREAMS:
            with self.subTest(back=name):
                src, back = read(self.path(name)), read(self.path('back', name))
                start, end = audio_span(src)
                self.assertEqual(back[:-128], src[start:end])
                self.assertEqual(back[-128:], src[-128:] if name == 'stereo.mp3'
                                 else b'TAG' + bytes(124) + b'\x94')
                self.assertEqual(decode(self.path('back', name)), decode(self.path(name)))

    def check_wave(self, name, wav, codec, rate, channels, tag):
        src = read(self.path(name))
        self.assertEqual(src, read(os.path.join(FIXTURES, name)))
        chunks = riff_chunks(read(self.path(wav)))
        self.assertEqual(list(chunks)[:3], ['fmt ', 'fact', 'data'])
        self.assertEqual(struct.unpack('<HHI', chunks['fmt '][:8]), (tag, channels, rate))
        start, end = audio_span(src)
        self.assertEqual(chunks['data'], src[start:end])
        if name == 'cover.mp3':  # the picture's sync patterns lie before the first frame
            self.assertLess(src.find(b'APIC'), src.find(b'\xff\xfb\x90\x64'))
            self.assertLess(src.find(b'\xff\xfb\x90\x64'), start)
            self.assertEqual(src[start:start + 2], b'\xff\xfb')
        else:
            self.assertEqual(start, 0)
        probe = json.loads(subprocess.run(
            ['ffprobe', '-v', 'error', '-show_streams', '-show_format', '-of', 'json',
             self.path(wav)], stdout=subprocess.PIPE, check=True).stdout)
        stream, fmt = probe['streams'][0], probe['format']
        self.assertEqual((fmt['format_name'], stream['codec_name'], int(stream['sample_rate']),
                          stream['channels']), ('wav', codec, rate, channels))
        self.assertEqual(fmt.get('tags'), STEREO_TAGS if name == 'stereo.mp3' else OWN_TAGS)
        pcm = [decode(self.path(n)) for n in (name, wav)]
        self.assertEqual((len(pcm[0]) > 0, pcm[1]), (True, pcm[0]))


class ShellVerbE2E(E2ECase):
    TYPE = 'KorvaneE2E.type'
    VERB = 'HKCR\\%s\\shell\\Korvane' % TYPE

    def reg(self, *args):
        return subprocess.run([OPT.wine, 'reg'] + list(args), stdout=subprocess.PIPE,
                              stderr=subprocess.DEVNULL).stdout.decode('latin-1')

    def setUp(self):
        super().setUp()
        self.forget()
        self.addCleanup(self.forget)

    def forget(self):
        self.reg('delete', 'HKCR\\.mp3', '/f')
        self.reg('delete', 'HKCR\\' + self.TYPE, '/f')

    def value(self, key):
        lines = [l for l in self.reg('query', key, '/ve').splitlines() if 'REG_SZ' in l]
        return lines[0].split('REG_SZ', 1)[1].strip() if lines else None

    def box(self, icon, text):
        return ([('Korvane', icon, text)], 0)

    def test_registry_failures_and_quiet_order(self):
        self.assertEqual(run(self.dir, '/I', 'mono.mp3'), self.box('error', 'Unable to write to registry'))
        self.assertEqual(run(self.dir, '/U'), self.box('error', 'Unable to delete registry entries'))
        self.assertEqual(run(self.dir, '/Q', '/I'), ([], 0))
        self.assertFalse(self.exist('mono.wav'))

    def test_verb_from_a_folder_with_blanks_converts_through_the_shell(self):
        self.reg('add', 'HKCR\\.mp3', '/ve', '/d', self.TYPE, '/f')
        self.reg('add', 'HKCR\\' + self.TYPE, '/f')
        exe = self.path('Program Files', 'Korvane.exe')
        os.mkdir(os.path.dirname(exe))
        shutil.copy(OPT.korvane, exe)
        installed = self.box('information', 'Successfully added registry entries')
        self.assertEqual(run(self.dir, 'stereo.mp3', '/I', '/Q', exe=exe), installed)
        self.assertEqual(run(self.dir, '/I', exe=exe), installed)
        self.assertEqual(self.value(self.VERB), '&Convert with Korvane')
        self.assertEqual(self.value(self.VERB + '\\command'), '"%s" "%%L"' % winpath(exe))
        os.remove(self.path('stereo.wav'))
        song = winpath(self.path('my song.mp3'))
        self.assertEqual(drive(self.dir, '--verb', 'Korvane', song),
                         self.box('information', 'Successfull: %s\n' % song))
        self.assertTrue(self.exist('my song.wav'))
        self.assertEqual(run(self.dir, '/U', exe=exe),
                         self.box('information', 'Successfully removed registry entries'))
        self.assertIsNone(self.value(self.VERB))
        self.assertEqual(self.value('HKCR\\.mp3'), self.TYPE)


def main():
    global OPT, FIXTURES
    parser = argparse.ArgumentParser()
    for opt in ('--korvane', '--driver', '--wine', '--fixtures'):
        parser.add_argument(opt, required=True)
    OPT, rest = parser.parse_known_args()
    if not os.environ.get('DISPLAY'):
        sys.exit('test_e2e.py: no DISPLAY; the message boxes need one (tools/display.sh)')
    with tempfile.TemporaryDirectory(prefix='korvane-fixtures-') as FIXTURES:
        subprocess.run(['sh', OPT.fixtures, FIXTURES], check=True)
        unittest.main(argv=[sys.argv[0]] + rest, verbosity=2)


if __name__ == '__main__':
    main()
