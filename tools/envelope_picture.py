#!/usr/bin/env python3
"""Draws what a Broadcast WAVE's levl and cart chunks say as an SVG picture: the peak envelope (levl)
above, its level in dBFS per 100 ms below with the trim and segue levels, and the timers (cart's
AUDs, SEGs, AUDe) across both. Usage: envelope_picture.py FILE.wav TRIM SEGUE OUT.svg"""
import math, struct, sys

WIDTH, WAVE_H, LEVEL_H, LEFT = 900, 150, 150, 50


def chunks(data):
    found, pos = {}, 12
    while pos + 8 <= len(data):
        cid, size = struct.unpack('<4sI', data[pos:pos + 8])
        found[cid.decode('latin-1')] = data[pos + 8:pos + 8 + size]
        pos += 8 + size + (size & 1)
    return found


def main(path, trim, segue, out):
    found = chunks(open(path, 'rb').read())
    rate = struct.unpack('<I', found['fmt '][4:8])[0]
    cart, levl = found['cart'], found['levl']
    timers = {cart[684 + 8 * n:688 + 8 * n].decode(): struct.unpack('<I', cart[688 + 8 * n:692 + 8 * n])[0]
              for n in range(8) if cart[684 + 8 * n]}
    _, _, _, block, channels, frames = struct.unpack('<6I', levl[:24])
    values = struct.unpack('<%dH' % (frames * channels * 2), levl[120:120 + frames * channels * 4])
    peaks = [max(values[f * channels * 2:(f + 1) * channels * 2]) / 32767 for f in range(frames)]
    samples = frames * block
    x = lambda sample: LEFT + (WIDTH - LEFT - 10) * sample / samples
    svg = ['<svg xmlns="http://www.w3.org/2000/svg" width="%d" height="%d" font-family="sans-serif" '
           'font-size="12"><rect width="100%%" height="100%%" fill="white"/>' % (WIDTH, WAVE_H + LEVEL_H + 40)]
    # The envelope: each peak frame's largest value, up and down from the middle.
    mid = WAVE_H / 2
    points = ['%.1f,%.1f' % (x(f * block), mid - p * mid * 0.95) for f, p in enumerate(peaks)]
    points += ['%.1f,%.1f' % (x(f * block), mid + p * mid * 0.95) for f, p in reversed(list(enumerate(peaks)))]
    svg.append('<polygon points="%s" fill="#4a7bb7"/>' % ' '.join(points))
    svg.append('<text x="4" y="14">levl</text>')
    # The level per 100 ms in dBFS, from -60 to 0, and the two levels.
    top, per = WAVE_H + 10, rate // 10
    y = lambda db: top + LEVEL_H * min(max(-db, 0), 60) / 60
    steps = []
    for start in range(0, samples, per):
        part = peaks[start // block:(start + per) // block] or [0]
        db = 20 * math.log10(max(part)) if max(part) > 0 else -60
        steps += ['%.1f,%.1f' % (x(start), y(db)), '%.1f,%.1f' % (x(min(start + per, samples)), y(db))]
    svg.append('<polyline points="%s" fill="none" stroke="#333"/>' % ' '.join(steps))
    for db, name, colour in ((trim, 'trim %g dBFS' % trim, '#c0392b'), (segue, 'segue %g dBFS' % segue, '#e67e22')):
        svg.append('<line x1="%d" x2="%d" y1="%.1f" y2="%.1f" stroke="%s" stroke-dasharray="4"/>'
                   % (LEFT, WIDTH - 10, y(db), y(db), colour))
        svg.append('<text x="%d" y="%.1f" fill="%s">%s</text>' % (WIDTH - 110, y(db) - 3, colour, name))
    for db in (0, -20, -40, -60):
        svg.append('<text x="4" y="%.1f">%d dB</text>' % (y(db) + 4, db))
    # The timers across both.
    for name, colour, anchor in (('AUDs', '#27ae60', 'start'), ('SEGs', '#e67e22', 'end'), ('AUDe', '#c0392b', 'start')):
        if name in timers:
            at = x(timers[name])
            svg.append('<line x1="%.1f" x2="%.1f" y1="0" y2="%d" stroke="%s" stroke-width="2"/>'
                       % (at, at, top + LEVEL_H, colour))
            svg.append('<text x="%.1f" y="%d" fill="%s" text-anchor="%s">%s %.2f s</text>'
                       % (at + (3 if anchor == 'start' else -3), top + LEVEL_H + 16, colour, anchor, name,
                          timers[name] / rate))
    svg.append('</svg>')
    open(out, 'w').write('\n'.join(svg) + '\n')


if __name__ == '__main__':
    if len(sys.argv) != 5:
        sys.exit(__doc__)
    main(sys.argv[1], float(sys.argv[2]), float(sys.argv[3]), sys.argv[4])
