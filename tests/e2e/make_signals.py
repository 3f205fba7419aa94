#!/usr/bin/env python3
"""Builds the loudness test's signals in <dir> as MPEG files, ffmpeg's runs two at a time."""
import subprocess, sys
from concurrent.futures import ThreadPoolExecutor
from pathlib import Path

TONE = '%g*sin(2*PI*1000*t)'
# name: ffmpeg source, encoder options. EBU Tech 3341's 1 kHz tones at -23 and -33 dBFS, Tech
# 3342's steps of 20 s at -20 and -30 dBFS (LRA 10 LU), a quarter-rate sine at 45 degrees (Tech
# 3341's true-peak case), mono MPEG-2 pink noise, and a piece with a beat and a melody.
SIGNALS = {
    'tone23-l2.mp2': ('aevalsrc=%s:s=48000:c=stereo:d=20' % (TONE % 0.0708), ['-b:a', '384k']),
    'tone23.mp3': ('aevalsrc=%s:s=48000:c=stereo:d=20' % (TONE % 0.0708), ['-b:a', '320k']),
    'tone33.mp3': ('aevalsrc=%s:s=44100:c=stereo:d=20' % (TONE % 0.0224), ['-b:a', '320k']),
    'steps.mp2': ('aevalsrc=if(lt(t\\,20)\\,0.1\\,0.0316)*sin(2*PI*1000*t):s=48000:c=stereo:d=40',
                  ['-b:a', '384k']),
    'quarter.mp2': ('aevalsrc=0.5*sin(PI/2*48000*t+PI/4):s=48000:c=stereo:d=10', ['-b:a', '384k']),
    'pink.mp3': ('anoisesrc=c=pink:r=22050:a=0.2:d=15:seed=7', ['-ac', '1', '-b:a', '64k']),
    'piece.mp3': ('aevalsrc=0.3*sin(2*PI*(220+110*floor(mod(t\\,4)))*t)*(0.3+0.7*exp(-8*mod(t\\,0.5)))'
                  '+0.05*sin(2*PI*55*t):s=44100:c=stereo:d=30', ['-q:a', '2']),
}


def make(folder):
    """The signals; silence; two seconds of the tone; and damaged: a stereo stream cut short
    within a frame, two seconds of mono frames (which the meter, made for two channels, cannot
    take), and the stereo stream again."""
    runs = [['-f', 'lavfi', '-i', source, *codec, folder / name] for name, (source, codec) in SIGNALS.items()]
    runs += [['-f', 'lavfi', '-i', 'anullsrc=r=44100:cl=stereo', '-t', '5', '-b:a', '128k', folder / 'silence.mp3'],
             ['-f', 'lavfi', '-i', 'aevalsrc=%s:s=44100:d=2' % (TONE % 0.1), '-b:a', '128k', folder / 'short.mp3']]
    runs += [['-f', 'lavfi', '-i', 'aevalsrc=%s:s=44100:d=%d' % (TONE % 0.1, {2: 12, 1: 2}[channels]), '-ac',
              str(channels), '-b:a', '128k', '-write_xing', '0', '-id3v2_version', '0', folder / (name + '.mp3')]
             for name, channels in (('stereo', 2), ('mono', 1))]
    with ThreadPoolExecutor(2) as pool:
        list(pool.map(lambda run: subprocess.run(['ffmpeg', '-nostdin', '-v', 'error', '-y', *run], check=True), runs))
    stereo = (folder / 'stereo.mp3').read_bytes()
    (folder / 'damaged.mp3').write_bytes(stereo[:-300] + (folder / 'mono.mp3').read_bytes() + stereo)


if __name__ == '__main__':
    make(Path(sys.argv[1]))
