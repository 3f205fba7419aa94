#!/usr/bin/env python3
"""End-to-end tests of Korvane.exe under Wine: kvdriver answers its boxes, and ffprobe, mpg123
and a small RIFF walker read what it wrote. Needs DISPLAY and an initialised Wine prefix."""
import json, os, re, shutil, struct, subprocess, sys, tempfile, unittest
from pathlib import Path
from e2elib import ROOT, WINE, drive as run_driver, long_name, options, registry, winpath

CREDIT = 'Korvane 1.0 - (c) 2026 the Korvane developers'
OWN_TAGS = {'encoder': 'Korvane', 'copyright': CREDIT}
STEREO_TAGS = dict(OWN_TAGS, title='Korvane Tone', artist='The Testers', ISRF='Fixture Album',
                   date='2024', comment='short comment', ISBJ='7', genre='Jazz')
# name: sample rate, channels, kbit/s (one for every frame); the codec is the name's extension
STREAMS = {'stereo.mp3': (44100, 2, 128), 'mono.mp3': (44100, 1, 64), 'mpeg2.mp3': (22050, 2, 64),
           'mpeg25.mp3': (8000, 1, 16), 'notag.mp3': (44100, 2, 128), 'my song.mp3': (44100, 2, 128),
           'layer2.mp2': (44100, 2, 192), 'cover.mp3': (44100, 2, 128)}
# The words lame and ffmpeg were given for the ID3v2 fixtures, by INFO field, and ffprobe's names.
WORDS = {'INAM': 'Café Tone', 'IART': 'Les Testeurs', 'ISRF': 'Été Album', 'ICRD': '2023',
         'ICMT': 'a comment', 'ISBJ': '3', 'IGNR': 'Jazz'}
PROBE = {'INAM': 'title', 'IART': 'artist', 'ICRD': 'date', 'ICMT': 'comment', 'IGNR': 'genre'}
ID3V2_ONLY = ['v2latin.mp3', 'v2utf16.mp3', 'v2picture.mp3', 'ffmpeg3.mp3', 'ffmpeg4.mp3']
# Streams whose frames differ in bit rate, from lame and ffmpeg; mediainfo estimates the
# length of the MPEG-2 one from the audio itself, whatever the header says.
VBR = ['v0.mp3', 'v2.mp3', 'v9.mp3', 'abr.mp3', 'v2t.mp3', 'm2.mp3', 'm25.mp3', 'ffq4.mp3',
       'ape.mp3', 'garbage.mp3']
MEDIAINFO_OWN = {'m2.mp3'}
NOT_MPEG = ['aac.mp3', 'm4a.mp3', 'ogg.mp3', 'ac3.mp3', 'flac.mp3', 'jpg.mp3']


def drive(cwd, *args):
    """The boxes a program shows, as (caption, icon, text), and how it ended."""
    return run_driver(WINE, OPT.driver, '60', *args, cwd=cwd)


def audio_span(src):
    """The frames of an MPEG file: after an ID3v2 tag and its zero padding, up to an ID3v1 tag."""
    start = 0
    if src[:3] == b'ID3':
        size = sum(b << (7 * (3 - i)) for i, b in enumerate(src[6:10]))
        start = re.compile(b'\0*').match(src, 10 + (10 if src[5] & 0x10 else 0) + size).end()
    return start, len(src) - 128 if src[-128:-125] == b'TAG' else len(src)


def riff_chunks(data, pos=12):
    """The chunks from pos on as {id: body}: a WAVE file's (whose sizes must add up), or
    LIST/INFO's sub-chunks (riff_chunks(body, 4))."""
    assert pos == 4 or struct.unpack('<4sI4s', data[:12]) == (b'RIFF', len(data) - 8, b'WAVE'), data[:12]
    chunks = {}
    while pos + 8 <= len(data):
        cid, size = struct.unpack('<4sI', data[pos:pos + 8])
        chunks[cid.decode('latin-1')] = data[pos + 8:pos + 8 + size]
        pos += 8 + size + (size & 1)
    assert pos == len(data), (pos, len(data))
    return chunks


def probe(path, *what):
    """What ffprobe ('-show_format' by default) or, with 'mediainfo', mediainfo reads of a file."""
    if what == ('mediainfo',):
        return json.loads(subprocess.run(['mediainfo', '--Output=JSON', path], stdout=subprocess.PIPE,
                                         check=True).stdout)['media']['track'][0]
    return json.loads(subprocess.run(['ffprobe', '-v', 'error', *(what or ['-show_format']), '-of', 'json',
                                      path], stdout=subprocess.PIPE, check=True).stdout)


class E2ECase(unittest.TestCase):
    def setUp(self):
        self.dir = Path(tempfile.mkdtemp(prefix='korvane-e2e-'))
        self.addCleanup(shutil.rmtree, self.dir)
        shutil.copytree(FIXTURES, self.dir, dirs_exist_ok=True)

    def convert(self, names):
        """Korvane.exe converts the files quietly; the native korvane writes the same bytes."""
        self.expect(['/Q'] + names)
        native = self.dir / 'native'
        native.mkdir(exist_ok=True)
        for name in names:
            shutil.copy(Path(FIXTURES, name), native)
        subprocess.run([ROOT / 'build' / 'native' / 'korvane', '/Q'] + names, cwd=native, check=True)
        for wav in [os.path.splitext(n)[0] + '.wav' for n in names]:
            self.assertEqual((self.dir / wav).read_bytes(), (native / wav).read_bytes(), wav)

    def expect(self, args, text=None, icon='information', run=None):
        """The run shows one box of this text, or none. A box with a line wider than
        the screen (a long name has no blank to break at) has its icon off the
        screen: with icon None only its caption and text are compared."""
        boxes, end = drive(self.dir, *(run or [winpath(OPT.korvane)]), *args)
        want = [] if text is None else [('Korvane', icon, text)]
        if icon is None:
            boxes, want = [b[::2] for b in boxes], [w[::2] for w in want]
        self.assertEqual((boxes, end), (want, ['EXIT 0']))


class KorvaneE2E(E2ECase):
    def test_summary_lists_options_and_every_file_by_its_found_name(self):
        d = winpath(self.dir)  # another case gives the name found; bare names become full ones
        rows = [(['/x', d + '\\STEREO.MP3', 'nothere.mp3', '-y'], 'Invalid command-line option: /x -y \n\n'
                  'Successfull: %s\\stereo.mp3\nFile not found: nothere.mp3\n' % d, ['stereo.wav']),
                (['bad.mp3', 'my song.mp3'], 'Failed : %s\\bad.mp3\nSuccessfull: %s\\my song.mp3\n' % (d, d),
                 ['my song.wav'])]
        for args, text, made in rows:
            before = os.listdir(self.dir)
            self.expect(args, text)
            self.assertEqual(sorted(os.listdir(self.dir)), sorted(before + made))

    def test_about_box_ends_the_run(self):
        for option in ('/?', '-h', '/H'):
            boxes, end = drive(self.dir, winpath(OPT.korvane), option, 'mono.mp3')
            self.assertEqual([b[:2] for b in boxes] + end, [('About Korvane', 'information'), 'EXIT 0'])
            lines = boxes[0][2].split('\n')
            self.assertEqual((lines[0], '  /Q - Quiet mode' in lines), (CREDIT, True))
        self.assertFalse((self.dir / 'mono.wav').exists())

    def test_every_stream_kind_converts_byte_for_byte_and_back(self):
        self.convert(list(STREAMS))
        waves = [os.path.splitext(n)[0] + '.wav' for n in STREAMS]
        for (name, kind), wav in zip(STREAMS.items(), waves):
            with self.subTest(name=name):
                self.check_wave(name, wav, *kind)
            (self.dir / name).unlink()
        self.expect(waves, ''.join('Successfull: %s\n' % winpath(self.dir / w) for w in waves))
        for name in STREAMS:
            with self.subTest(back=name):
                src = Path(FIXTURES, name).read_bytes()
                start, end = audio_span(src)  # an ID3v1 tag is kept, or one made from INFO
                title = b'Covered' if name == 'cover.mp3' else b''  # from the ID3v2 tag
                self.assertEqual((self.dir / name).read_bytes(), src[start:end] + (
                    src[end:] or b'TAG' + title.ljust(124, b'\0') + b'\x94'))

    def check_wave(self, name, wav, rate, channels, kbps):
        src = (self.dir / name).read_bytes()
        self.assertEqual(src, Path(FIXTURES, name).read_bytes())
        chunks = riff_chunks((self.dir / wav).read_bytes())
        self.assertEqual(list(chunks)[:3], ['fmt ', 'fact', 'data'])
        self.assertEqual(struct.unpack('<HHI', chunks['fmt '][:8]),
                         (0x50 if name.endswith('.mp2') else 0x55, channels, rate))
        start, end = audio_span(src)
        self.assertEqual(chunks['data'], src[start:end])
        # One bit rate: its byte rate, and whole seconds of it times the sample rate.
        self.assertEqual((struct.unpack('<I', chunks['fmt '][8:12])[0], struct.unpack('<I', chunks['fact'])[0]),
                         (kbps * 125, (end - start) // (kbps * 125) * rate))
        # Only the cover's frames follow a tag (and its picture).
        self.assertEqual((start > 0, src[start]), (name == 'cover.mp3', 0xff))
        read = probe(self.dir / wav, '-show_streams', '-show_format')
        stream, fmt = read['streams'][0], read['format']
        self.assertEqual((fmt['format_name'], stream['codec_name'], int(stream['sample_rate']),
                          stream['channels']), ('wav', name[-3:], rate, channels))
        self.assertEqual(fmt.get('tags'), STEREO_TAGS if name == 'stereo.mp3' else
                         dict(OWN_TAGS, title='Covered') if name == 'cover.mp3' else OWN_TAGS)
        pcm = [subprocess.run(['mpg123', '-q', '-s', self.dir / n], stdout=subprocess.PIPE,
                              stderr=subprocess.DEVNULL).stdout for n in (name, wav)]
        self.assertEqual((len(pcm[0]) > 0, pcm[1]), (True, pcm[0]))


    def test_vbr_streams_tell_their_true_length_and_other_audio_is_refused(self):
        # (Junk with a false sync before a stream, and a one-frame file, are the unit tests'.)
        self.expect(NOT_MPEG, ''.join('Failed : %s\n' % winpath(self.dir / n) for n in NOT_MPEG))
        self.convert(VBR)
        for name in VBR:
            with self.subTest(name=name):
                wav = self.dir / (name[:-4] + '.wav')
                count = probe(self.dir / name, '-count_packets', '-show_streams')['streams'][0]
                rate, spf = int(count['sample_rate']), (1152 if int(count['sample_rate']) > 24000 else 576)
                src, chunks = (self.dir / name).read_bytes(), riff_chunks(wav.read_bytes())
                self.assertEqual(chunks['data'], src[slice(*audio_span(src))])
                # ffprobe leaves the info frame out of its count; a decoder plays it.
                info = any(tag in chunks['data'][:200] for tag in (b'Xing', b'Info', b'VBRI'))
                frames = int(count['nb_read_packets']) + info
                seconds = frames * spf / rate
                fact, avg = struct.unpack('<I', chunks['fact'])[0], struct.unpack('<I', chunks['fmt '][8:12])[0]
                self.assertLessEqual(abs(fact - frames * spf), 2 * spf)
                self.assertAlmostEqual(len(chunks['data']) / avg / (fact / rate), 1, delta=0.005)
                self.assertAlmostEqual(float(probe(wav)['format']['duration']) / seconds, 1, delta=0.01)
                if name not in MEDIAINFO_OWN:
                    self.assertAlmostEqual(float(probe(wav, 'mediainfo')['Duration']) / seconds, 1, delta=0.01)
        self.assertFalse(any((self.dir / (n[:-4] + '.wav')).exists() for n in NOT_MPEG))

    def test_id3v2_words_reach_info(self):
        # (INFO back into an ID3v1.1 tag is the stream test's and the tag writer's unit test's.)
        self.convert(ID3V2_ONLY)
        own = {'ISFT': b'Korvane', 'ICOP': CREDIT.encode()}
        for name in ID3V2_ONLY:
            wav = self.dir / (name[:-4] + '.wav')
            with self.subTest(name=name):
                items = riff_chunks(riff_chunks(wav.read_bytes())['LIST'], 4)
                self.assertEqual({k: v.rstrip(b'\0') for k, v in items.items()},
                                 dict(own, **{k: v.encode('cp1252') for k, v in WORDS.items()}))
                # ffprobe takes INFO texts for UTF-8; mediainfo for Latin-1.
                self.assertEqual(probe(wav)['format'].get('tags'), dict(OWN_TAGS, **{
                    PROBE.get(k, k): v.encode('cp1252').decode('utf-8', 'replace') for k, v in WORDS.items()}))
                self.assertEqual(probe(wav, 'mediainfo').get('Title'), 'Café Tone')

    def test_any_name_converts_as_the_plain_name_does(self):
        # (The way back opens and writes names through the same calls.)
        self.expect(['/Q', 'stereo.mp3'])
        plain = (self.dir / 'stereo.wav').read_bytes()
        names = ['Песня.mp3', '東京 café.mp3', '🎵 tone.mp3', 'e\u0301cole.mp3'] + [
            long_name(self.dir, total) for total in (300, 1000)]  # whole Windows paths of that length
        for name in names:
            (self.dir / name).parent.mkdir(parents=True, exist_ok=True)
            shutil.copy(self.dir / 'stereo.mp3', self.dir / name)
        # A name in other case is found as the file system finds it.
        args = ['ПЕСНЯ.MP3'] + names[1:4] + [winpath(self.dir / n) for n in names[4:]]
        self.expect(args + ['Нет такого.mp3'], ''.join('Successfull: %s\n' % winpath(self.dir / n) for n in names) +
            'File not found: Нет такого.mp3\n', icon=None)
        for name in names:
            with self.subTest(name=name[:40]):
                self.assertEqual((self.dir / (name[:-4] + '.wav')).read_bytes(), plain)

    def test_a_pattern_converts_each_match_as_its_name_does(self):
        # Each pattern in folder p, its matches by name in folder n; song.wav is older than the run,
        # and the short name of song.mp3x (SONG~1.MP3) matches *.mp? in the directory search.
        files = {'a.mp3': 'stereo.mp3', 'b.mp2': 'layer2.mp2', 'cc.mp3': 'mono.mp3', 'song.mp3': 'notag.mp3',
                 'song.mp3x': 'bad.mp3', 'song.wav': 'bad.mp3', 'Песня\\' + 'x' * 240 + '\\é.mp3': 'mpeg2.mp3'}
        for pattern, matches in [('?.mp3', ['a.mp3']), ('*.mp?', ['a.mp3', 'b.mp2', 'cc.mp3', 'song.mp3']),
                                 ('*.ogg', []),
                                 ('*.*', ['a.mp3', 'b.mp2', 'cc.mp3', 'song.mp3', 'song.mp3x']),
                                 ('Песня\\' + 'x' * 240 + '\\?.mp3', [list(files)[-1]])]:
            for folder in 'pn':
                shutil.rmtree(self.dir / folder, ignore_errors=True)
                for name, source in files.items():
                    (self.dir / folder / name.replace('\\', '/')).parent.mkdir(parents=True, exist_ok=True)
                    shutil.copy(self.dir / source, self.dir / folder / name.replace('\\', '/'))
            p, n = winpath(self.dir / 'p'), winpath(self.dir / 'n')
            self.expect([p + '\\' + pattern], ''.join('%s: %s\\%s\n' % (
                'Failed ' if m.endswith('x') else 'Successfull', p, m) for m in matches) or
                'File not found: %s\\%s\n' % (p, pattern), icon=None)
            self.expect(['/Q'] + [n + '\\' + m for m in matches])
            self.assertEqual(subprocess.run(['diff', '-r', self.dir / 'p', self.dir / 'n']).returncode, 0)

    def test_a_long_summary_keeps_its_failures_and_counts_the_rest(self):
        (self.dir / 'many').mkdir()
        for i in range(45):
            shutil.copy(self.dir / ('bad.mp3' if i in (7, 30) else 'mono.mp3'), self.dir / 'many' / ('%02d.mp3' % i))
        self.expect([winpath(self.dir / 'many') + '\\*.mp3'], 'Failed : %s\\07.mp3\nFailed : %s\\30.mp3\n'
                    '43 other files converted\n' % ((winpath(self.dir / 'many'),) * 2))


class GatheringE2E(E2ECase):
    """Runs started one per file, as Explorer starts a verb, gather into one run and one box."""
    def gather(self, step, names):
        """Korvane.exe once per name, all at once (step 0) or one every step ms: the boxes' texts, and the
        runs' ends as (ms from the first start, exit code) in time order, the gathering run's last."""
        boxes, ends = run_driver(WINE, OPT.driver, '120', '--each', str(step), winpath(OPT.korvane), *names, cwd=self.dir)
        return [text for _, _, text in boxes], sorted((int(ms), int(code)) for _, code, ms in map(str.split, ends))

    def files(self, prefix, count):
        """count files, every fifth one no MPEG audio; their lines, in name order."""
        names = ['%s%02d.mp3' % (prefix, i) for i in range(count)]
        for i, name in enumerate(names):
            shutil.copy(self.dir / ('bad.mp3' if i % 5 == 4 else 'mono.mp3'), self.dir / name)
        return names, ['%s: %s' % ('Failed ' if i % 5 == 4 else 'Successfull', winpath(self.dir / n))
                       for i, n in enumerate(names)]

    def check_outputs(self, names):
        self.expect(['/Q', 'mono.mp3'])
        for name in [n for i, n in enumerate(names) if i % 5 != 4]:
            self.assertEqual((self.dir / (name[:-4] + '.wav')).read_bytes(), (self.dir / 'mono.wav').read_bytes())

    def test_runs_started_at_the_same_instant_show_one_box(self):
        # Every run waits at the gathering lock until all have come, started in reverse name order;
        # the same file, named by two runs in two cases, is converted once.
        for count in (1, 20, 50):
            names, lines = self.files('c%d-' % count, count - (count > 1))
            runs = [winpath(self.dir / n) for n in names[::-1]] + [winpath(self.dir / names[0].upper())] * (count > 1)
            text = ''.join(l + '\n' for l in lines) if len(lines) <= 40 else ''.join(
                l + '\n' for l in lines if l[0] == 'F') + '%d other files converted\n' % sum(l[0] == 'S' for l in lines)
            boxes, ends = self.gather(0, runs)
            self.assertEqual((boxes, [code for _, code in ends]), ([text], [0] * count))
            print('%d runs at once: the box within %.1f s of the first start' % (count, ends[-1][0] / 1000),
                  file=sys.stderr)
            self.check_outputs(names)

    def test_runs_coming_one_after_another_join_while_they_come(self):
        # Eight runs 0.2 s apart, 1.4 s in all, longer than the quiet period of 1 s that each restarts.
        names, lines = self.files('s', 8)
        boxes, ends = self.gather(200, [winpath(self.dir / n) for n in names[::-1]])
        got = [box.splitlines() for box in boxes]
        self.assertEqual((sorted(sum(got, [])), [code for _, code in ends]), (sorted(lines), [0] * 8))
        for box in got:  # each round's box lists its files by name
            self.assertEqual(box, [l for l in lines if l in box])
        # One round, unless a run came more than the quiet period after the one before (a slow
        # machine): each run but the gathering one ends as soon as it has handed over.
        came = [0] + [ms for ms, _ in ends[:-1]]
        if max(b - a for a, b in zip(came, came[1:])) < 800:
            self.assertEqual(len(boxes), 1)
        self.check_outputs(names)

    def test_a_gathering_run_killed_halfway_leaves_the_next_runs_free_to_gather(self):
        # The killer, started first, waits for the gathering run, takes the lock, kills the run, and
        # abandons the lock once the next two runs wait for it.
        killer, first = [subprocess.Popen([WINE, OPT.driver, *args], cwd=self.dir, stdout=subprocess.PIPE,
                                          stderr=subprocess.DEVNULL) for args in (['--kill', '2'], ['60', winpath(OPT.korvane), 'mono.mp3'])]
        self.assertEqual(killer.stdout.readline().strip(), b'KILLED')
        boxes, ends = self.gather(1, ['stereo.mp3', 'notag.mp3'])
        self.assertEqual((first.communicate(timeout=60)[0].split(), killer.communicate(timeout=60)[0], killer.returncode,
                          boxes, [code for _, code in ends]), ([b'EXIT', b'1'], b'', 0, [
            'Successfull: %s\\notag.mp3\nSuccessfull: %s\\stereo.mp3\n' % ((winpath(self.dir),) * 2)], [0, 0]))


class ShellVerbE2E(E2ECase):
    TYPE = 'KorvaneE2E.type'
    VERB = 'HKCR\\%s\\shell\\Korvane' % TYPE

    def reg(self, *args):
        subprocess.run([WINE, 'reg', *args], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)

    def setUp(self):
        super().setUp()
        for key in ('HKCR\\.mp3', 'HKCR\\' + self.TYPE):  # gone before and after each test
            self.reg('delete', key, '/f')
            self.addCleanup(self.reg, 'delete', key, '/f')

    def value(self, key):
        """The key's default value; None without the key."""
        name = key.replace('HKCR', 'HKEY_CLASSES_ROOT')
        return registry(WINE, self.dir, name).get(name, {}).get('')

    def test_registry_failures_and_quiet_order(self):
        # Options in either case, after '/' or '-'.
        for install, remove, quiet in (('/I', '-u', '-q'), ('-i', '/U', '/q')):
            self.expect([install, 'mono.mp3'], 'Unable to write to registry', 'error')
            self.expect([remove], 'Unable to delete registry entries', 'error')
            self.expect([quiet, install])
        self.assertFalse((self.dir / 'mono.wav').exists())

    def test_verb_from_a_folder_outside_the_code_page_converts_through_the_shell(self):
        self.reg('add', 'HKCR\\.mp3', '/ve', '/d', self.TYPE, '/f')
        self.reg('add', 'HKCR\\' + self.TYPE, '/f')
        (self.dir / 'Мои Программы').mkdir()
        exe = winpath(shutil.copy(OPT.korvane, self.dir / 'Мои Программы'))
        self.expect(['stereo.mp3', '/I', '/Q'], 'Successfully added registry entries', run=[exe])
        self.expect(['/I'], 'Successfully added registry entries', run=[exe])
        self.assertEqual(self.value(self.VERB), '&Convert with Korvane')
        self.assertEqual(self.value(self.VERB + '\\command'), '"%s" "%%L"' % exe)
        # The shell hands the verb a name outside the code page whole (any other
        # name is the command line's, tested there).
        song = winpath(shutil.copy(self.dir / 'stereo.mp3', self.dir / 'Песня.mp3'))
        self.expect([song], 'Successfull: %s\n' % song, run=['--verb', 'Korvane'])
        self.assertEqual((self.dir / 'Песня.wav').read_bytes(), (self.dir / 'stereo.wav').read_bytes())
        self.expect(['/U'], 'Successfully removed registry entries', run=[exe])
        self.assertIsNone(self.value(self.VERB))
        self.assertEqual(self.value('HKCR\\.mp3'), self.TYPE)


if __name__ == '__main__':
    OPT, argv = options()
    with tempfile.TemporaryDirectory(prefix='korvane-fixtures-') as FIXTURES:
        subprocess.run(['sh', ROOT / 'tests' / 'e2e' / 'make_fixtures.sh', FIXTURES], check=True)
        unittest.main(argv=argv, verbosity=2)
