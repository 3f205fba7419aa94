#!/usr/bin/env python3
"""Reads what a Windows program says of itself: its machine, subsystem and version resource.

  peinfo.py --version EXE       prints the version (e.g. 1.0.0.0)
  peinfo.py --check-zip ZIP     checks a release package: Korvane.exe, PE i686, GUI,
                                stripped, its version resource matching the package's name;
                                and the setup beside it, Korvane-<version>-setup.exe: PE i686,
                                GUI, its own version resource of the same version
"""
import re, struct, sys, zipfile

I386, GUI, PE32 = 0x14C, 2, 0x10B


def pe_facts(exe):
    """Machine, optional-header magic, subsystem, symbol count and the fixed and string versions."""
    pe = struct.unpack_from('<I', exe, 0x3C)[0]
    if exe[:2] != b'MZ' or exe[pe:pe + 4] != b'PE\0\0':
        raise ValueError('not a PE file')
    machine, _, _, _, symbols = struct.unpack_from('<HHIII', exe, pe + 4)
    magic = struct.unpack_from('<H', exe, pe + 24)[0]
    subsystem = struct.unpack_from('<H', exe, pe + 24 + 68)[0]
    fixed = exe.find(struct.pack('<I', 0xFEEF04BD))
    if fixed < 0:
        raise ValueError('no version resource')
    ms, ls = struct.unpack_from('<II', exe, fixed + 8)
    version = '%d.%d.%d.%d' % (ms >> 16, ms & 0xFFFF, ls >> 16, ls & 0xFFFF)
    strings = {}
    for key in ('FileVersion', 'ProductVersion'):
        m = re.search(re.escape(key.encode('utf-16-le')) + b'\0\0(?:\0\0)?((?:[^\0].|\0[^\0])*?)\0\0',
                      exe, re.S)
        strings[key] = m.group(1).decode('utf-16-le') if m else None
    return dict(machine=machine, magic=magic, subsystem=subsystem, symbols=symbols,
                version=version, strings=strings)


def check_zip(path):
    m = re.search(r'Korvane-([0-9.]+)\.zip$', path)
    problems = [] if m else ['the name is not Korvane-<version>.zip']
    with zipfile.ZipFile(path) as z:
        names = sorted(z.namelist())
        if names != ['Korvane.exe', 'README.txt', 'libmpg123.dll']:
            problems.append('holds %s' % names)
        facts = pe_facts(z.read('Korvane.exe')) if 'Korvane.exe' in names else None
        dll = z.read('libmpg123.dll') if 'libmpg123.dll' in names else None
        readme = z.read('README.txt').decode('latin-1') if 'README.txt' in names else ''
    if facts:
        expected = dict(machine=I386, magic=PE32, subsystem=GUI, symbols=0)
        problems += ['%s is %#x, not %#x' % (k, facts[k], v) for k, v in expected.items() if facts[k] != v]
        if m and facts['version'] != m.group(1):
            problems.append('version resource %s, name %s' % (facts['version'], m.group(1)))
        if any(s != facts['version'] for s in facts['strings'].values()):
            problems.append('version texts %s, fixed version %s' % (facts['strings'], facts['version']))
    if dll and struct.unpack_from('<H', dll, struct.unpack_from('<I', dll, 0x3C)[0] + 4)[0] != I386:
        problems.append('libmpg123.dll is no i686 DLL')
    if not all(w in readme for w in ('Usage', '/I', '/U', 'libmpg123', 'libebur128', 'LGPL', '\r\n')):
        problems.append('README.txt lacks the usage or Windows line ends')
    setup = path[:-len('.zip')] + '-setup.exe'
    try:
        ours = pe_facts(open(setup, 'rb').read())
        expected = dict(machine=I386, magic=PE32, subsystem=GUI, version=m.group(1) if m else None)
        problems += ['setup: %s is %s, not %s' % (k, ours[k], v) for k, v in expected.items() if ours[k] != v]
    except (OSError, ValueError) as e:
        problems.append('setup: %s' % e)
    for p in problems:
        print('package check: %s: %s' % (path, p))
    if not problems:
        print('package check: %s holds a stripped PE i686 GUI Korvane.exe, version %s; the setup '
              'beside it has the same version' % (path, facts['version']))
    return not problems


if __name__ == '__main__':
    if len(sys.argv) == 3 and sys.argv[1] == '--version':
        print(pe_facts(open(sys.argv[2], 'rb').read())['version'])
    elif len(sys.argv) == 3 and sys.argv[1] == '--check-zip':
        sys.exit(0 if check_zip(sys.argv[2]) else 1)
    else:
        sys.exit(__doc__)
