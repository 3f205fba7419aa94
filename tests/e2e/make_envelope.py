#!/usr/bin/env python3
"""Builds the envelope test's signals in <dir>: a tone after a second of silence that fades out,
encoded by lame and ffmpeg (two at a time), Layer I frames made here, and the tone 42 dB lower."""
import math, struct, subprocess, sys, wave
from concurrent.futures import ThreadPoolExecutor
from pathlib import Path

# Every signal: 1 s of silence, a 1 kHz tone at -6 dBFS (the right channel 6 dB lower), from 2.5 s a
# fade of 30 dB a second, silence from 4 s, the end at 4.5 s.
START, FADE, END, LENGTH = 1.0, 2.5, 4.0, 4.5
# name: (rate, channels, encoder command or None for the made-up Layer I frames, samples per frame,
# the delay from the source to the decoded audio: lame's 576 and the decoder's 529 samples;
# ffmpeg's Layer II encoder and its decoder's filter 481; the first Layer I frame of the tone is decoded
# where it stands)
FILES = {
    'l3.mp3': (44100, 2, ['lame', '--quiet', '-t', '-b', '128'], 1152, 1105),
    'l3m.mp3': (22050, 1, ['lame', '--quiet', '-t', '-m', 'm', '-b', '48'], 576, 1105),
    'l2.mp2': (48000, 2, ['ffmpeg', '-nostdin', '-v', 'error', '-i', '{in}', '-c:a', 'mp2', '-b:a', '256k'], 1152, 481),
    'l2m.mp2': (32000, 1, ['ffmpeg', '-nostdin', '-v', 'error', '-i', '{in}', '-c:a', 'mp2', '-b:a', '96k'], 1152, 481),
    'l1.mp1': (48000, 2, None, 384, 0),
    'l1m.mp1': (48000, 1, None, 384, 0),
}


def level(t):
    if t < START or t >= END:
        return 0.0
    return 0.5 * (10 ** (-30 * (t - FADE) / 20) if t >= FADE else 1)


def source(path, rate, channels):
    frames = bytearray()
    for n in range(int(LENGTH * rate)):
        v = level(n / rate) * math.sin(2 * math.pi * 1000 * n / rate)
        frames += struct.pack('<h', round(v * 32767))
        if channels == 2:
            frames += struct.pack('<h', round(v * 16384))
    with wave.open(str(path), 'wb') as w:
        w.setnchannels(channels)
        w.setsampwidth(2)
        w.setframerate(rate)
        w.writeframes(bytes(frames))


def layer1(channels):
    """MPEG-1 Layer I, 48 kHz, 384 kbit/s, which no Debian encoder writes: a second of empty frames, then
    frames whose subband 2 alone holds 0.5 times the frame's scalefactor (index 3 is 1.0, each index
    more 2 dB less; four frames each from 3 to 29), then empty frames to 3.96 s."""
    scales = [None] * 125 + [3] * 200 + [i for i in range(3, 30) for _ in range(4)]
    out = bytearray()
    for scale in scales + [None] * (495 - len(scales)):
        bits = []
        put = lambda value, width: bits.extend((value >> (width - 1 - n)) & 1 for n in range(width))
        for sb in range(32):
            for _ in range(channels):
                put(14 if scale is not None and sb == 2 else 0, 4)
        if scale is not None:
            for _ in range(channels):
                put(scale, 6)
            for _ in range(12 * channels):
                put(0x6000, 15)  # 0.5, its first bit inverted as Layer I codes samples
        bits += [0] * (384 * 8 - 32 - len(bits))
        out += bytes([0xFF, 0xFF, 0xC4, 0x00 if channels == 2 else 0xC0])
        out += bytes(int(''.join(map(str, bits[i:i + 8])), 2) for i in range(0, len(bits), 8))
    return bytes(out)



def make(folder):
    def encode(item):
        name, (rate, channels, encoder, _, _) = item
        if encoder is None:
            (folder / name).write_bytes(layer1(channels))
            return
        pcm = folder / (name + '.pcm.wav')
        source(pcm, rate, channels)
        if encoder[0] == 'lame':
            subprocess.run(encoder + [str(pcm), str(folder / name)], check=True)
        else:
            subprocess.run([a.replace('{in}', str(pcm)) for a in encoder] + ['-y', str(folder / name)], check=True)
        pcm.unlink()
    quiet = ('quiet.mp3', (44100, 1, ['lame', '--quiet', '-t', '--scale', '0.008', '-b', '64'], 1152, 1105))
    with ThreadPoolExecutor(2) as pool:
        list(pool.map(encode, list(FILES.items()) + [quiet]))


if __name__ == '__main__':
    make(Path(sys.argv[1]))
