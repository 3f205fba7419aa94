#!/usr/bin/env python3
"""/Info end to end: the native korvane describes WAV files that it and ffmpeg wrote as ffprobe and
the files' own chunks have them, and Korvane.exe shows the same text for all the files named in one
window, converting nothing. Needs DISPLAY and an initialised Wine prefix."""
import os, struct, subprocess, sys, unittest
import test_e2e as base
from e2elib import ROOT, fixtures, options, winpath

NATIVE = ROOT / 'build' / 'native' / 'korvane'
FF = ['ffmpeg', '-nostdin', '-loglevel', 'error', '-y', '-i', 'stereo.mp3']
# name: how it is made
MADE = {'bwf.wav': [NATIVE, '/Q', '/B', 'bwf.mp3'], 'loud.wav': [NATIVE, '/Q', '/L', 'loud.mp3'],
        'rf64.wav': FF + ['-c:a', 'copy', '-write_bext', '1', '-rf64', 'always', 'rf64.wav'],
        'pcm.wav': FF + ['pcm.wav']}


def chunk_lines(data):
    """'Chunk: id size bytes at offset' for each chunk after the form; RF64's data size from ds64."""
    lines, pos = [], 12
    while pos + 8 <= len(data):
        cid, size = struct.unpack('<4sI', data[pos:pos + 8])
        if data[:4] == b'RF64' and cid == b'data' and size == 0xFFFFFFFF:
            size = struct.unpack('<Q', data[28:36])[0]
        lines.append('Chunk: %s %d bytes at %d' % (cid.decode('latin-1'), size, pos))
        pos += 8 + size + size % 2
    return lines


class InfoE2E(base.E2ECase):
    def setUp(self):
        super().setUp()
        for name, command in MADE.items():
            if name in ('bwf.wav', 'loud.wav'):
                (self.dir / name.replace('.wav', '.mp3')).write_bytes((self.dir / 'stereo.mp3').read_bytes())
            subprocess.run(command, cwd=self.dir, check=True)
        self.before = sorted(os.listdir(self.dir))

    def tearDown(self):
        self.assertEqual(sorted(os.listdir(self.dir)), self.before)  # /Info converts nothing

    def native(self, *names):
        run = subprocess.run([NATIVE, '--info', *names], cwd=self.dir, stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        return run.stdout.decode(), run.stderr.decode(), run.returncode

    def test_files_of_korvane_and_ffmpeg_are_described_alike_by_both_builds(self):
        text, errors, status = self.native(*MADE)
        self.assertEqual((errors, status), ('', 0))
        # ffprobe leaves the stream's info frame out of its count; the frame walk counts it as Korvane wraps it.
        count = base.probe(self.dir / 'stereo.mp3', '-count_packets', '-show_streams')['streams'][0]
        samples = (int(count['nb_read_packets']) + (b'Info' in (self.dir / 'stereo.mp3').read_bytes()[:200])) * 1152
        for name, block in zip(MADE, text.split('\n\n')):
            with self.subTest(name=name):
                lines = block.splitlines()
                value = dict(line.split(': ', 1) for line in reversed(lines))  # the first of each key
                self.assertEqual(lines[0], 'File: %s' % (self.dir / name))
                self.assertEqual([line for line in lines if line.startswith('Chunk: ')],
                                 chunk_lines((self.dir / name).read_bytes()))
                self.assertEqual(value['Format'], 'PCM, 44100 Hz, 2 channels, 16 bits' if name == 'pcm.wav' else
                                 'MPEG-1 Layer III, 44100 Hz, joint stereo, 128 kbit/s')
                stream = base.probe(self.dir / name, '-show_streams')['streams'][0]
                # Korvane's fact value keeps whole seconds, which ffprobe takes for the length.
                true = int(stream['duration_ts']) if name in ('pcm.wav', 'rf64.wav') else samples
                self.assertEqual(value['Length'], '%d samples, %.3f s' % (true, true / 44100))
                self.assertEqual(value.get('bext Version'), {'pcm.wav': None, 'loud.wav': '2'}.get(name, '1'))
        self.assertRegex(text, r'\nbext LoudnessValue: -\d+\.\d\d LUFS\n')
        # Korvane.exe: one window with the same text, every file's, and nothing converted.
        for name in MADE:
            text = text.replace('File: %s\n' % (self.dir / name), 'File: %s\n' % winpath(self.dir / name))
        self.expect(['/Info', *MADE], text, 'none')

    def test_a_file_that_is_no_wave_and_one_not_found_fail_and_info_is_no_install(self):
        d = winpath(self.dir)
        for option in ('/INFO', '-info'):
            self.expect([option, 'stereo.mp3', 'nothere.wav', 'pcm.wav'], 'Failed : %s\\stereo.mp3 | not a WAV file\n'
                        '\nFile not found: nothere.wav\n\n' % d + self.native('pcm.wav')[0].replace(
                            str(self.dir / 'pcm.wav'), d + '\\pcm.wav'), 'none', status=1)
        self.assertEqual(self.native('stereo.mp3'), ('', 'Failed : %s | not a WAV file\n' % (self.dir / 'stereo.mp3'), 1))


if __name__ == '__main__':
    base.OPT, argv = options()
    base.FIXTURES = fixtures(base.OPT.driver)
    sys.exit(0 if unittest.main(argv=argv, verbosity=2, exit=False).result.wasSuccessful() else 1)
