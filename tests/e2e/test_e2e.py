#!/usr/bin/env python3
"""End-to-end tests of Korvane.exe under Wine: kvdriver answers its boxes, and ffprobe, mpg123
and a small RIFF walker read what it wrote. Needs DISPLAY and an initialised Wine prefix."""
import json, os, re, shutil, struct, subprocess, sys, tempfile, time, unittest
from concurrent.futures import ThreadPoolExecutor
from pathlib import Path
from e2elib import ROOT, WINE, SideBySide, beside, drive as run_driver, fixtures, long_name, options, registry, winpath

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
VBR = ['v0.mp3', 'v2.mp3', 'v9.mp3', 'abr.mp3', 'v2t.mp3', 'm2.mp3', 'm25.mp3', 'ffq4.mp3', 'ape.mp3']
MEDIAINFO_OWN = {'m2.mp3'}
# Reads a Broadcast WAVE's cart chunk with libsndfile: every text field, the first two timers.
CART_READER = r'''#include <sndfile.h>
#include <stdio.h>
int main(int argc, char** argv) {
    SF_INFO info = {0};
    SF_CART_INFO c;
    SNDFILE* f = sf_open(argv[1], SFM_READ, &info);
    if (argc < 2 || !f || !sf_command(f, SFC_GET_CART_INFO, &c, sizeof c)) return 1;
    printf("%.64s|%.64s|%.64s|%.64s|%.64s|%.64s|%.64s|%.10s %.8s|%.10s %.8s|%.64s|%.1024s|%.*s|%.64s|%.64s|"
           "%.4s=%d|%.4s=%d\n", c.title, c.artist, c.cut_id, c.client_id, c.category, c.classification, c.out_cue,
           c.start_date, c.start_time, c.end_date, c.end_time, c.user_def, c.url, (int)c.tag_text_size, c.tag_text,
           c.producer_app_id, c.producer_app_version, c.post_timers[0].usage, c.post_timers[0].value,
           c.post_timers[1].usage, c.post_timers[1].value);
    return sf_close(f);
}'''
NATIVE = ROOT / 'build' / 'native' / 'korvane'
NO_MPEG = ', not MPEG audio'


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
        korvane = ROOT / 'build' / 'native' / 'korvane'
        self.assertTrue(korvane.exists(), 'build it first: cmake --preset native && cmake --build build/native')
        subprocess.run([korvane, '/Q'] + names, cwd=native, check=True)
        for wav in [os.path.splitext(n)[0] + '.wav' for n in names]:
            self.assertEqual((self.dir / wav).read_bytes(), (native / wav).read_bytes(), wav)

    def expect(self, args, text=None, icon='information', run=None, status=None, cwd=None):
        """The run shows one box of this text, or none, and ends with the status (by default 1
        when the text tells of a failure). A box with a line wider than the screen (a long name
        has no blank to break at) has its icon off the screen: with icon None only its caption
        and text are compared."""
        boxes, end = drive(cwd or self.dir, *(run or [winpath(OPT.korvane)]), *args)
        want = [] if text is None else [('Korvane', icon, text)]
        if icon is None:
            boxes, want = [b[::2] for b in boxes], [w[::2] for w in want]
        failed = icon == 'error' or re.search('Failed : |File not found: |Invalid', text or '')
        self.assertEqual((boxes, end), (want, ['EXIT %d' % (bool(failed) if status is None else status)]))


class KorvaneE2E(E2ECase):
    def test_summary_lists_options_and_every_file_by_its_found_name(self):
        d = winpath(self.dir)  # another case gives the name found; bare names become full ones
        (self.dir / 'sub').mkdir()
        shutil.copy(self.dir / 'my song.mp3', self.dir / 'sub')
        before = os.listdir(self.dir)
        # A slash after the last backslash separates too: the file in sub, not one beside it.
        self.expect(['/x', d + '\\STEREO.MP3', 'nothere.mp3', '-y', 'bad.mp3', 'my song.mp3',
                     d + '\\sub/MY SONG.mp3'],
                    'Invalid command-line option: /x -y \n\nSuccessfull: %s\\stereo.mp3\nFile not found: nothere.mp3\n'
                    'Failed : %s\\bad.mp3 | no MPEG audio found in it\nSuccessfull: %s\\my song.mp3\n'
                    'Successfull: %s\\sub\\my song.mp3\n' % (d, d, d, d))
        self.assertEqual(sorted(os.listdir(self.dir)), sorted(before + ['stereo.wav', 'my song.wav']))
        self.assertTrue((self.dir / 'sub' / 'my song.wav').exists())

    def test_about_box_ends_the_run(self):
        for option in ('/?', '-h', '/H'):
            boxes, end = drive(self.dir, winpath(OPT.korvane), option, 'mono.mp3')
            self.assertEqual([b[:2] for b in boxes] + end, [('About Korvane', 'information'), 'EXIT 0'])
            lines = boxes[0][2].split('\n')
            self.assertEqual((lines[0], '  /Q - Quiet mode' in lines, lines[-1][:8]), (CREDIT, True, '  /URL= '))
        self.assertFalse((self.dir / 'mono.wav').exists())

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
        # Each pattern in a folder p, its matches by name in a folder n; song.wav is older than the run, the short
        # name of song.mp3x (SONG~1.MP3) matches *.mp? in the directory search, ? is one character, *.* takes 'chime'.
        files = {'a.mp3': 'stereo.mp3', 'b.mp2': 'layer2.mp2', 'cc.mp3': 'mono.mp3', 'chime': 'mono.mp3',
                 'song.mp3': 'notag.mp3', 'song.mp3x': 'bad.mp3', 'song.wav': 'bad.mp3', 'track.mp3': 'mono.mp3',
                 'tune.mp': 'mono.mp3', 'Песня\\' + 'x' * 240 + '\\é.mp3': 'mpeg2.mp3'}
        patterns, names, lines = [], [], ''  # one run by pattern, one by name
        for i, (pattern, matches) in enumerate([('?.MP3', ['a.mp3']), ('track?.mp3', []),
                                                ('*.mp?', ['a.mp3', 'b.mp2', 'cc.mp3', 'song.mp3', 'track.mp3']),
                                                ('*.*', ['a.mp3', 'b.mp2', 'cc.mp3', 'chime', 'song.mp3',
                                                         'song.mp3x', 'track.mp3', 'tune.mp']),
                                                ('Песня\\' + 'x' * 240 + '\\?.mp3', [list(files)[-1]])]):
            folders = self.dir / ('p%d' % i), self.dir / ('n%d' % i)
            for folder in folders:
                for name, source in files.items():
                    (folder / name.replace('\\', '/')).parent.mkdir(parents=True, exist_ok=True)
                    shutil.copy(self.dir / source, folder / name.replace('\\', '/'))
            p, n = map(winpath, folders)
            patterns.append(p + '\\' + pattern)
            names += [n + '\\' + m for m in matches]
            lines += ''.join(('Failed : %s\\%s | no MPEG audio found in it\n' if m.endswith('x') else
                              'Successfull: %s\\%s\n') % (p, m) for m in matches) or \
                'File not found: %s\\%s\n' % (p, pattern)
        quiet = beside(self.expect, ['/Q'] + names, status=1)
        self.expect(patterns, lines, icon=None)
        quiet.result()
        for i in range(5):
            folders = self.dir / ('p%d' % i), self.dir / ('n%d' % i)
            self.assertEqual(subprocess.run(['diff', '-r', *folders]).returncode, 0)

    def test_a_long_summary_keeps_its_failures_and_counts_the_rest(self):
        (self.dir / 'many').mkdir()
        for i in range(45):
            shutil.copy(self.dir / ('bad.mp3' if i in (7, 30) else 'mono.mp3'), self.dir / 'many' / ('%02d.mp3' % i))
        self.expect([winpath(self.dir / 'many') + '\\*.mp3'], 'Failed : %s\\07.mp3 | no MPEG audio found in it\n'
                    'Failed : %s\\30.mp3 | no MPEG audio found in it\n'
                    '43 other files converted\n' % ((winpath(self.dir / 'many'),) * 2))


class QuietE2E(E2ECase):
    """Quiet runs (/Q) only, beside the other tests."""
    windowless = True

    def test_every_stream_kind_converts_byte_for_byte_and_back(self):
        self.convert(list(STREAMS))
        waves = [os.path.splitext(n)[0] + '.wav' for n in STREAMS]
        with ThreadPoolExecutor(2) as pool:  # ffprobe and mpg123 read two files at a time
            reads = list(pool.map(self.read_back, STREAMS, waves))
        for (name, kind), wav, read in zip(STREAMS.items(), waves, reads):
            with self.subTest(name=name):
                self.check_wave(name, wav, *kind, *read)
            (self.dir / name).unlink()
        self.expect(['/Q'] + waves)  # (the way back's summary line is the loudness test's)
        for name in STREAMS:
            with self.subTest(back=name):
                src = Path(FIXTURES, name).read_bytes()
                start, end = audio_span(src)  # an ID3v1 tag is kept, or one made from INFO
                title = b'Covered' if name == 'cover.mp3' else b''  # from the ID3v2 tag
                self.assertEqual((self.dir / name).read_bytes(), src[start:end] + (
                    src[end:] or b'TAG' + title.ljust(124, b'\0') + b'\x94'))

    def read_back(self, name, wav):
        """What ffprobe reads of the output, and the samples mpg123 decodes of the input and the output."""
        return probe(self.dir / wav, '-show_streams', '-show_format'), [subprocess.run(
            ['mpg123', '-q', '-s', self.dir / n], stdout=subprocess.PIPE, stderr=subprocess.DEVNULL).stdout
            for n in (name, wav)]

    def check_wave(self, name, wav, rate, channels, kbps, read, pcm):
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
        stream, fmt = read['streams'][0], read['format']
        self.assertEqual((fmt['format_name'], stream['codec_name'], int(stream['sample_rate']),
                          stream['channels']), ('wav', name[-3:], rate, channels))
        self.assertEqual(fmt.get('tags'), STEREO_TAGS if name == 'stereo.mp3' else
                         dict(OWN_TAGS, title='Covered') if name == 'cover.mp3' else OWN_TAGS)
        self.assertEqual((len(pcm[0]) > 0, pcm[1]), (True, pcm[0]))

    def test_vbr_streams_tell_their_true_length_and_other_audio_is_refused(self):
        # (Junk with a false sync before or amid a stream, and a one-frame file, are the unit tests';
        # other audio is the failure reasons' table's.)
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

    def test_broadcast_wave_is_read_by_ffprobe_mediainfo_and_libsndfile(self):
        # A tag without comment or year, so that ffprobe's comment and date are bext's.
        src = (self.dir / 'notag.mp3').read_bytes() + b'TAG' + b'Cart Song'.ljust(30, b'\0') + \
            b'Radio Band'.ljust(30, b'\0') + bytes(64) + b'\xff'
        (self.dir / 'bwf.mp3').write_bytes(src)
        native = self.dir / 'native'
        native.mkdir()
        shutil.copy2(self.dir / 'bwf.mp3', native)  # the same last-write time
        self.expect(['/Q', '/B', 'bwf.mp3'])
        subprocess.run([ROOT / 'build' / 'native' / 'korvane', '/Q', '-b', 'bwf.mp3'], cwd=native, check=True)
        shutil.copy(self.dir / 'bwf.mp3', self.dir / 'plain.mp3')
        subprocess.run([ROOT / 'build' / 'native' / 'korvane', '/Q', 'plain.mp3'], cwd=self.dir, check=True)
        wav, other = (self.dir / 'bwf.wav').read_bytes(), (native / 'bwf.wav').read_bytes()
        ref = 70 + 288  # the OriginatorReference, new for every file written
        self.assertEqual((wav[:ref], wav[ref + 32:]), (other[:ref], other[ref + 32:]))
        chunks = riff_chunks(wav)
        self.assertEqual(list(chunks), ['fmt ', 'fact', 'bext', 'mext', 'cart', 'data', 'LIST'])
        self.assertEqual(chunks['data'], src[:-128])
        made = time.localtime((self.dir / 'bwf.mp3').stat().st_mtime)
        history = 'A=MPEG1L3,F=44100,B=128,M=joint-stereo,T=Korvane 1.0.0.0\r\n'
        tags = probe(self.dir / 'bwf.wav')['format']['tags']
        self.assertEqual({k: tags[k] for k in ('comment', 'encoded_by', 'date', 'creation_time', 'coding_history')},
                         {'comment': 'Radio Band - Cart Song', 'encoded_by': 'Korvane', 'coding_history': history,
                          'date': time.strftime('%Y-%m-%d', made), 'creation_time': time.strftime('%H:%M:%S', made)})
        self.assertRegex(tags['originator_reference'], '^ZZKVN[0-9]{27}$')
        info = probe(self.dir / 'bwf.wav', 'mediainfo')
        self.assertEqual([info.get(k) for k in ('Description', 'Producer', 'Encoded_Date', 'Encoded_Library_Settings')],
                         ['Radio Band - Cart Song', 'Korvane', time.strftime('%Y-%m-%d %H:%M:%S', made), history[:-2]])
        cart = self.dir / 'cart'
        subprocess.run(['cc', '-x', 'c', '-', '-lsndfile', '-o', cart], input=CART_READER.encode(), check=True)
        frames = int(probe(self.dir / 'bwf.mp3', '-count_packets', '-show_streams')['streams'][0]['nb_read_packets'])
        self.assertEqual(subprocess.run([cart, self.dir / 'bwf.wav'], stdout=subprocess.PIPE, check=True).stdout,
                         b'Cart Song|Radio Band||||||1900-01-01 00:00:00|9999-12-31 23:59:59||||Korvane|1.0.0.0|'
                         b'AUDs=0|AUDe=%d\n' % (frames * 1152))
        decoded = [subprocess.run(['ffmpeg', '-v', 'error', '-i', w, '-f', 'md5', '-'], stdout=subprocess.PIPE,
                                  check=True).stdout for w in (self.dir / 'bwf.wav', self.dir / 'plain.wav')]
        self.assertEqual(decoded[0], decoded[1])

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


class LargeFileE2E(E2ECase):
    def test_a_file_past_2_gib_wraps_and_comes_back_byte_for_byte(self):
        # The frames of a real stream, repeated past 2 GiB; Korvane.exe and the native korvane
        # convert it there and back, and write the same bytes.
        d, frames = self.dir, (self.dir / 'notag.mp3').read_bytes()
        with open(d / 'big.mp3', 'wb') as out:
            for _ in range((1 << 31) // len(frames) + 2):
                out.write(frames)
        length = (d / 'big.mp3').stat().st_size
        same = lambda a, b, *n: subprocess.run(['cmp', *n, d / a, d / b]).returncode == 0
        for name, made in (('big.mp3', 'big.wav'), ('big.wav', 'big.mp3')):
            if name == 'big.wav':
                os.rename(d / 'big.mp3', d / 'src.mp3')
            self.expect(['/Q', name])
            os.rename(d / made, d / 'wine.out')
            subprocess.run([ROOT / 'build' / 'native' / 'korvane', '/Q', name], cwd=d, check=True)
            self.assertTrue(same('wine.out', made), made)
            os.unlink(d / 'wine.out')
            with open(d / made, 'rb') as f:
                head = f.read(70)
            if made == 'big.wav':
                self.assertEqual(struct.unpack('<4sI4s', head[:12]) + struct.unpack('<I', head[66:]),
                                 (b'RIFF', (d / made).stat().st_size - 8, b'WAVE', length))
        self.assertTrue(same('src.mp3', 'big.mp3', '-n', str(length)))
        with open(d / 'big.mp3', 'rb') as f:
            f.seek(length)
            self.assertEqual(f.read(), b'TAG' + bytes(124) + b'\x94')


def wave(fmt, *chunks):
    """A RIFF/WAVE file of this `fmt ` body and further (id, body) chunks."""
    body = b'WAVE' + b''.join(cid + struct.pack('<I', len(data)) + data for cid, data in [(b'fmt ', fmt), *chunks])
    return b'RIFF' + struct.pack('<I', len(body)) + body


def made(*args):
    """What ffmpeg makes of a short tone with these output options."""
    return subprocess.run(['ffmpeg', '-v', 'error', '-f', 'lavfi', '-i', 'sine=d=0.3', *args, '-'],
                          stdout=subprocess.PIPE, check=True).stdout


MPEG_FMT = struct.pack('<HHIIHHHHIHHH', 0x55, 2, 44100, 16000, 1, 0, 12, 1, 2, 1, 0x900, 1)[:30]


class FailureReasons(E2ECase):
    def held(self, path):
        """Another program (kvdriver) holds the file open without sharing until the test ends."""
        holder = subprocess.Popen([WINE, OPT.driver, '--lock', winpath(path)], stdin=subprocess.PIPE,
                                  stdout=subprocess.PIPE)
        self.addCleanup(holder.communicate, timeout=30)
        self.assertEqual(holder.stdout.readline().strip(), b'LOCKED')

    def full(self, folder, size):
        """The folder becomes a disk (tmpfs) with room for Size bytes of files and one page more."""
        size = 'size=%dk' % (4 + sum(-(-n // 4096) * 4 for n in size))
        if subprocess.run(['mount', '-t', 'tmpfs', '-o', size, 'tmpfs', folder]).returncode:
            self.skipTest('no tmpfs can be mounted here')
        self.addCleanup(subprocess.run, ['umount', folder])

    def test_every_failure_names_its_reason_and_leaves_nothing(self):
        fixture = lambda name: Path(FIXTURES, name).read_bytes()
        stereo = fixture('stereo.mp3')
        # builds (n native, w Windows), input, its bytes, the reason; how: as user nobody, with
        # the input or the older output held by another program, on a full disk, the output
        # a link to the input; a cut WAVE keeps what it held.
        rows = [('nw', 'empty.mp3', b'', 'the file is empty', None),
                ('nw', 'pcm.mp3', made('-f', 'wav'), 'a WAV file of PCM audio' + NO_MPEG, None),
                ('nw', 'pcm.wav', made('-f', 'wav'), 'a WAV file of PCM audio' + NO_MPEG, None),
                ('nw', 'extensible.wav', made('-ac', '3', '-f', 'wav'), 'a WAV file of PCM audio' + NO_MPEG, None),
                ('nw', 'adpcm.wav', made('-c:a', 'adpcm_ms', '-f', 'wav'), 'a WAV file of ADPCM audio' + NO_MPEG, None),
                ('nw', 'float.wav', made('-c:a', 'pcm_f32le', '-f', 'wav'), 'a WAV file of other audio' + NO_MPEG, None),
                ('nw', 'nodata.wav', wave(MPEG_FMT, (b'fact', bytes(4))), 'a WAV file without MPEG audio data', None),
                ('nw', 'rf64.wav', made('-rf64', 'always', '-f', 'wav'), 'a WAV file of PCM audio' + NO_MPEG, None),
                ('nw', 'aac.mp3', fixture('aac.mp3'), 'AAC audio' + NO_MPEG, None),
                ('nw', 'm4a.mp3', fixture('m4a.mp3'), 'an MP4/M4A file' + NO_MPEG, None),
                ('nw', 'ogg.mp3', fixture('ogg.mp3'), 'an Ogg file (Vorbis or Opus)' + NO_MPEG, None),
                ('nw', 'flac.mp3', fixture('flac.mp3'), 'FLAC audio' + NO_MPEG, None),
                ('nw', 'ac3.mp3', fixture('ac3.mp3'), 'AC-3 audio' + NO_MPEG, None),
                ('nw', 'tag.mp3', b'ID3\3\0\0\0\0\0\x10' + bytes(16), 'an ID3 tag with no MPEG audio behind it', None),
                ('nw', 'jpg.mp3', fixture('jpg.mp3'), 'no MPEG audio found in it', None),
                ('nw', 'stream.wav', stereo, 'not a WAV file', None),
                ('nw', 'cut.wav', wave(MPEG_FMT, (b'data', stereo))[:-1000],
                 'the audio data ends before the size the file gives (the part there was kept)', 'kept'),
                ('nw', 'stereo.mp3', stereo, 'the disk is full', 'full'),
                ('n', 'locked.mp3', stereo, 'no right to read it', 'unreadable'),
                ('n', 'stereo.mp3', stereo, 'no right to write in the folder', 'unwritable'),
                ('n', 'stereo.mp3', stereo, 'the output would be the input file itself', 'link'),
                ('w', 'stereo.mp3', stereo, 'another program holds it open', 'held'),
                ('w', 'stereo.mp3', stereo, 'the older output file is held by another program or read-only', 'older')]
        self.dir.chmod(0o755)
        for i, (builds, name, data, reason, how) in enumerate(rows):
            for build in builds:
                with self.subTest(name=name, reason=reason, build=build):
                    folder = self.dir / ('%d%s' % (i, build))
                    folder.mkdir()
                    output = folder / (name[:-4] + ('.mp3' if name.endswith('.wav') else '.wav'))
                    if how == 'full':
                        self.full(folder, [len(data), 5])
                    (folder / name).write_bytes(data)
                    if how == 'link':
                        output.symlink_to(name)
                    else:
                        output.write_bytes(b'older')
                    (folder / name).chmod(0 if how == 'unreadable' else 0o644)
                    folder.chmod(0o555 if how == 'unwritable' else 0o755)
                    if how in ('held', 'older'):
                        self.held(folder / name if how == 'held' else output)
                    before = sorted(os.listdir(folder))
                    if build == 'n':
                        nobody = ['setpriv', '--reuid=65534', '--regid=65534', '--clear-groups']
                        run = subprocess.run(nobody * (how in ('unreadable', 'unwritable')) + [NATIVE, name],
                                             cwd=folder, stdout=subprocess.PIPE)
                        self.assertEqual((run.stdout.decode(), run.returncode),
                                         ('Failed : %s/%s | %s\n' % (folder, name, reason), 1))
                    else:
                        self.expect([name], 'Failed : %s\\%s | %s\n' % (winpath(folder), name, reason), cwd=folder)
                    self.assertEqual(sorted(os.listdir(folder)), before)
                    self.assertEqual(output.read_bytes(), stereo[:-1000] if how == 'kept'
                                     else data if how == 'link' else b'older')


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
        return names, [('Failed : %s | no MPEG audio found in it' if i % 5 == 4 else 'Successfull: %s') %
                       winpath(self.dir / n) for i, n in enumerate(names)]

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
            # Only the gathering run, the last to end, knows that a file failed.
            self.assertEqual((boxes, [code for _, code in ends]), ([text], [0] * (count - 1) + [int(count > 1)]))
            print('%d runs at once: the box within %.1f s of the first start' % (count, ends[-1][0] / 1000),
                  file=sys.stderr)
            self.check_outputs(names)

    def test_runs_coming_one_after_another_join_while_they_come(self):
        # Eight runs 0.2 s apart, 1.4 s in all, longer than the quiet period of 1 s that each restarts.
        names, lines = self.files('s', 8)
        boxes, ends = self.gather(200, [winpath(self.dir / n) for n in names[::-1]])
        got = [box.splitlines() for box in boxes]
        self.assertEqual((sorted(sum(got, [])), sorted(code for _, code in ends)), (sorted(lines), [0] * 7 + [1]))
        for box in got:  # each round's box lists its files by name
            self.assertEqual(box, [l for l in lines if l in box])
        # One round, unless a run came more than the quiet period after the one before (a slow
        # machine): each run but the gathering one ends as soon as it has handed over.
        came = [0] + [ms for ms, _ in ends[:-1]]
        if max(b - a for a, b in zip(came, came[1:])) < 800:
            self.assertEqual(len(boxes), 1)
        self.check_outputs(names)

    def test_runs_with_b_gather_apart_from_the_others(self):
        for name in ('b1.mp3', 'b2.mp3', 'p1.mp3'):
            shutil.copy(self.dir / 'mono.mp3', self.dir / name)
        boxes, ends = self.gather(1, ['/B ' + winpath(self.dir / 'b1.mp3'), winpath(self.dir / 'p1.mp3'),
                                      '/B ' + winpath(self.dir / 'b2.mp3')])
        line = lambda n: 'Successfull: %s\n' % winpath(self.dir / n)
        self.assertEqual(sorted(boxes), [line('b1.mp3') + line('b2.mp3'), line('p1.mp3')])
        self.assertEqual([(self.dir / n).read_bytes()[62:66] for n in ('b1.wav', 'b2.wav', 'p1.wav')],
                         [b'bext', b'bext', b'data'])

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


class RefusedHandOverE2E(E2ECase):
    def test_a_refused_hand_over_converts_its_files_itself(self):
        # A gathering run that refuses every record (kvdriver --refuse): the run that handed its
        # files converts them alone and shows their true lines.
        refuser = subprocess.Popen([WINE, OPT.driver, '--refuse', '1'], cwd=self.dir, stdout=subprocess.PIPE,
                                   stderr=subprocess.DEVNULL)
        self.addCleanup(refuser.kill)
        self.assertEqual(refuser.stdout.readline().strip(), b'REFUSING')
        d = winpath(self.dir)
        self.expect(['mono.mp3', 'bad.mp3', 'nothere.mp3'], 'Successfull: %s\\mono.mp3\nFailed : %s\\bad.mp3 | '
                    'no MPEG audio found in it\nFile not found: nothere.mp3\n' % (d, d))
        self.assertEqual((refuser.communicate(timeout=60)[0].split(), refuser.returncode), ([b'REFUSED', b'1'], 0))
        self.assertTrue((self.dir / 'mono.wav').exists())


class ShellVerbE2E(E2ECase):
    TYPE = 'KorvaneE2E.type'
    CLASSES = 'HKEY_CLASSES_ROOT\\'
    VERB = CLASSES + TYPE + '\\shell\\Korvane'

    def reg(self, *args):
        run_driver(WINE, OPT.driver, '--reg', *args)

    def setUp(self):
        super().setUp()
        for key in (self.CLASSES + '.mp3', self.CLASSES + self.TYPE):  # gone before and after each test
            self.reg('delete', key)
            self.addCleanup(self.reg, 'delete', key)

    def value(self, key):
        """The key's default value; None without the key."""
        return registry(OPT.driver, key).get(key, {}).get('')

    def test_registry_failures_and_quiet_order(self):
        # Options in either case, after '/' or '-'.
        for install, remove, quiet in (('/I', '-u', '-q'), ('-i', '/U', '/q')):
            self.expect([install, 'mono.mp3'], 'Unable to write to registry', 'error')
            self.expect([remove], 'Unable to delete registry entries', 'error')
            self.expect([quiet, install], status=1)
        self.assertFalse((self.dir / 'mono.wav').exists())

    def test_verb_from_a_folder_outside_the_code_page_converts_through_the_shell(self):
        self.reg('add', self.CLASSES + '.mp3', self.TYPE)
        self.reg('add', self.CLASSES + self.TYPE)
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
        self.assertEqual(self.value(self.CLASSES + '.mp3'), self.TYPE)


# The long cases: a file past 2 GiB, every failure cause, runs by the dozen. "quick" before the
# arguments runs every other case, "long" these; ctest has them as e2e and e2e_long (label "long").
LONG = ('LargeFileE2E', 'FailureReasons', 'GatheringE2E')

if __name__ == '__main__':
    OPT, argv = options()
    if argv[1:2] in (['quick'], ['long']):
        part = argv.pop(1)
        argv += [name for name, case in list(globals().items()) if isinstance(case, type) and
                 issubclass(case, E2ECase) and case is not E2ECase and (name in LONG) == (part == 'long')]
    FIXTURES = fixtures(OPT.driver)
    unittest.main(argv=argv, verbosity=2, testRunner=SideBySide)
