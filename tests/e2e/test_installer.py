#!/usr/bin/env python3
"""The setup (installer/Korvane.nsi) under Wine, in a fresh prefix of its own: a silent install and
what it puts where, the verb's command and the Send To shortcut at work, an install over it, one
refused while the drop target runs, and the silent uninstall (registered and by hand), which leaves
what it did not make. Each step builds on the one before. Needs DISPLAY."""
import os, re, shutil, struct, subprocess, sys, tempfile, unittest
from pathlib import Path
import e2elib
from e2elib import ROOT, WINE, drive as run_driver, options, wait_for, winpath

ASSOC = 'HKEY_CURRENT_USER\\Software\\Classes\\SystemFileAssociations'
ENTRIES = 'HKEY_CURRENT_USER\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall'
ENTRY, TYPE = ENTRIES + '\\Korvane', 'HKEY_CLASSES_ROOT\\KorvaneTest.type'
OTHER = ASSOC + '\\.mp3\\shell\\Other'  # another program's verb
LINKS = ('Start Menu\\Programs\\Korvane.lnk', 'SendTo\\Korvane.lnk',  # under %APPDATA%\Microsoft\Windows
         'SendTo\\Korvane (Broadcast WAVE).lnk')
SETTINGS = 'HKEY_CURRENT_USER\\Software\\Korvane'
OWN_FILES = ['Korvane.exe', 'README.txt', 'Uninstall.exe', 'libmpg123.dll']


def unix(path):
    return Path(PREFIX, 'drive_c', *path[3:].split('\\'))


def run(*args, out=subprocess.PIPE):
    return subprocess.run([WINE, *args], env=ENV, stdout=out, stderr=subprocess.DEVNULL, timeout=180)


def drive(*args):
    """The boxes a program shows, as (caption, text), and how it ended."""
    boxes, ends = run_driver(WINE, OPT.driver, '60', *args, env=ENV)
    return [(caption, text) for caption, _, text in boxes], ends


def registry():
    return e2elib.registry(OPT.driver, ASSOC, ENTRIES, TYPE, SETTINGS, env=ENV)


def link(name):
    return unix(APPDATA + '\\Microsoft\\Windows\\' + name)


def link_target(name):
    """A shell link's target: the local base path of its LinkInfo."""
    data = link(name).read_bytes()
    flags = struct.unpack_from('<I', data, 0x14)[0]
    info = 0x4C + (2 + struct.unpack_from('<H', data, 0x4C)[0] if flags & 1 else 0)
    base = info + struct.unpack_from('<I', data, info + 16)[0] if flags & 2 else len(data)
    return data[base:data.find(b'\0', base)].decode('cp1252')


class Installer(unittest.TestCase):
    def setup(self, version, *args):
        return drive(winpath(WORK / ('setup-%s.exe' % version)), *args)

    def uninstall(self, *command):
        """The entry's quiet uninstall command, or the one given, until the programs it started have ended."""
        quiet = registry()[ENTRY]['QuietUninstallString'].split(' ')
        programs = lambda: sorted(run('wmic', 'process', 'get', 'Name').stdout.decode('utf-16').split()[1:])
        before, ended = programs(), drive(*(command or [quiet[0].strip('"'), *quiet[1:]]))
        self.assertTrue(wait_for(lambda: programs() == before, 60), 'an uninstaller still runs')
        return ended

    def converts(self, command, names):
        for name in names:
            shutil.copy(ROOT / 'samples' / 'tone.mp3', WORK / name)
        self.assertEqual(drive(*command, *[winpath(WORK / n) for n in names]), ([('Korvane', ''.join(
            'Successfull: %s\n' % winpath(WORK / n) for n in names))], ['EXIT 0']))

    def test_1_silent_install(self):
        self.assertEqual(self.setup(VERSIONS[0], '/S'), ([], ['EXIT 0']))
        self.assertEqual(sorted(os.listdir(unix(FOLDER))), OWN_FILES)
        self.assertEqual(unix(EXE).read_bytes(), Path(OPT.korvane).read_bytes())
        self.assertEqual([link_target(n) for n in LINKS], [EXE] * 3)
        self.assertIn('/B'.encode('utf-16-le'), link(LINKS[2]).read_bytes())  # its argument
        keys = registry()
        for ext in ('.mp1', '.mp2', '.mp3', '.mpa', '.wav'):
            verb = '%s\\%s\\shell\\Korvane' % (ASSOC, ext)
            player = {'MultiSelectModel': 'Player'}
            self.assertEqual([keys.get(v) for v in (verb, verb + '\\command', verb + 'Broadcast', verb + 'Broadcast\\command')],
                             [dict(player, **{'': '&Convert with Korvane'}), {'': '"%s" "%%L"' % EXE}] + ([None, None] if ext == '.wav' else [
                              dict(player, **{'': 'Convert to &Broadcast WAVE with Korvane'}), {'': '"%s" /B "%%L"' % EXE}]))
        uninstaller = '"%s\\Uninstall.exe"' % FOLDER
        self.assertEqual(keys[ENTRY], {
            'DisplayName': 'Korvane', 'DisplayVersion': VERSIONS[0], 'Publisher': 'The Korvane developers',
            'DisplayIcon': EXE + ',0', 'InstallLocation': FOLDER, 'NoModify': 1, 'NoRepair': 1,
            'EstimatedSize': keys[ENTRY]['EstimatedSize'], 'UninstallString': uninstaller + ' _?=' + FOLDER,
            'QuietUninstallString': uninstaller + ' /S _?=' + FOLDER})
        self.assertGreater(keys[ENTRY]['EstimatedSize'], 300)  # KiB: the program alone is larger

    def test_2_verb_commands_as_the_shell_runs_them(self):
        for verb, name in (('Korvane', 'Моя песня.mp3'), ('KorvaneBroadcast', 'broadcast.mp3')):
            command = registry()[ASSOC + '\\.mp3\\shell\\%s\\command' % verb]['']
            self.converts([a.strip('"') for a in re.findall(r'"[^"]*"|\S+', command.replace('"%L"', ''))], [name])
            self.assertEqual((WORK / name).with_suffix('.wav').read_bytes()[62:66], b'bext' if 'B' in verb else b'data')

    def test_3_send_to_hands_every_file_to_one_run(self):
        self.converts([link_target(LINKS[1])], ['first.mp3', 'second song.mp3', 'третий.mp3'])

    def test_4_install_over_the_first(self):
        self.assertEqual(self.setup(VERSIONS[1], '/S'), ([], ['EXIT 0']))
        keys = registry()
        entries = [k for k, v in keys.items() if v.get('DisplayName') == 'Korvane']
        self.assertEqual((entries, keys[ENTRY]['DisplayVersion'], sorted(os.listdir(unix(FOLDER)))),
                         ([ENTRY], VERSIONS[1], OWN_FILES))

    def test_5_refused_while_the_drop_target_runs(self):
        target = subprocess.Popen([WINE, EXE], env=ENV, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        self.addCleanup(target.wait, 30)
        self.addCleanup(run, OPT.driver, '--close')
        wait_for(lambda: run(OPT.driver, '--window').stdout[:6] == b'WINDOW', 30)
        before = {n: (unix(FOLDER) / n).read_bytes() for n in OWN_FILES}
        self.assertEqual(self.setup(VERSIONS[0], '/S'), ([], ['EXIT 2']))
        self.assertEqual(self.uninstall(), ([], ['EXIT 2']))
        self.assertEqual({n: (unix(FOLDER) / n).read_bytes() for n in os.listdir(unix(FOLDER))}, before)
        self.assertEqual(registry()[ENTRY]['DisplayVersion'], VERSIONS[1])

    def test_6_uninstall_leaves_what_it_did_not_make(self):
        for name in ('CUSTOM.BMP', 'notes.txt'):
            shutil.copy(ROOT / 'samples' / 'tone.mp3', unix(FOLDER) / name)
        run('reg', 'add', OTHER + '\\command', '/ve', '/d', 'other.exe "%1"', '/f')
        run('reg', 'add', 'HKCR\\.mp3', '/ve', '/d', TYPE.split('\\')[1], '/f')
        run('reg', 'add', TYPE, '/f')
        self.assertEqual(drive(EXE, '/I'), ([('Korvane', 'Successfully added registry entries')], ['EXIT 0']))
        # As registered (a copy in %TEMP% then removes Uninstall.exe, which Windows keeps while it runs), and
        # started by hand: without _?= NSIS hands the whole work to a copy in %TEMP% and returns at once.
        for command in ((), (FOLDER + '\\Uninstall.exe', '/S')):
            if command:
                self.assertEqual(self.setup(VERSIONS[0], '/S'), ([], ['EXIT 0']))
            run('reg', 'add', SETTINGS, '/v', 'BroadcastWave', '/t', 'REG_DWORD', '/d', '1', '/f')
            for name, value in (('Category', 'COM'), ('End', '+14'), ('NextCutID', '1001')):
                run('reg', 'add', SETTINGS, '/v', name, '/d', value, '/f')
            self.assertEqual(self.uninstall(*command), ([], ['EXIT 0']))
            keys, listing = registry(), sorted(f.name for f in unix(FOLDER).glob('*'))
            self.assertEqual((listing, [n for n in LINKS if link(n).exists()], ENTRY in keys, SETTINGS in keys),
                             (['CUSTOM.BMP', 'notes.txt'], [], False, False), command)
            self.assertEqual(sorted(k for k in keys if k.startswith(ASSOC)),
                             [ASSOC, ASSOC + '\\.mp3', ASSOC + '\\.mp3\\shell', OTHER, OTHER + '\\command'])
            self.assertEqual(keys[TYPE + '\\shell\\Korvane\\command'][''], '"%s" "%%L"' % EXE)


if __name__ == '__main__':
    OPT, argv = options()
    PREFIX = str(Path(OPT.driver).parent / 'installer-prefix')
    ENV = dict(os.environ, KORVANE_WINEPREFIX=PREFIX, WINEPREFIX=PREFIX)
    shutil.rmtree(PREFIX, ignore_errors=True)
    os.makedirs(PREFIX)  # a fresh prefix each run: nothing left from an earlier one
    VERSIONS, passed = ('1.0.0.0', '1.0.0.1'), False
    try:
        subprocess.run([ROOT / 'tools' / 'wine-session.sh'], env=ENV, check=True)
        # Where a per-user install goes: %LOCALAPPDATA%\Programs\Korvane.
        LOCAL, APPDATA = run('cmd', '/c', 'echo', '%LOCALAPPDATA%*%APPDATA%').stdout.decode().strip().split('*')
        FOLDER = LOCAL + '\\Programs\\Korvane'
        EXE = FOLDER + '\\Korvane.exe'
        with tempfile.TemporaryDirectory(prefix='korvane-setup-') as WORK:
            WORK = Path(WORK)
            shutil.copy(OPT.korvane, WORK / 'Korvane.exe')
            (WORK / 'README.txt').write_bytes(b'Korvane\r\n')
            shutil.copy(Path(OPT.korvane).parent / 'libmpg123.dll', WORK)
            # The x86-64 build, which stands in where no 32-bit code runs, gets a setup of its kind.
            exe = Path(OPT.korvane).read_bytes()
            machine = struct.unpack_from('<H', exe, struct.unpack_from('<I', exe, 0x3C)[0] + 4)[0]
            target = ['-DTARGET=amd64-unicode'] if machine == 0x8664 else []
            for v in VERSIONS:
                subprocess.run(['makensis', '-V1', *target, '-DVERSION=' + v, '-DSTAGE=%s' % WORK,
                                '-DOUTFILE=%s/setup-%s.exe' % (WORK, v), str(ROOT / 'installer' / 'Korvane.nsi')], check=True)
            passed = unittest.main(argv=argv, verbosity=2, exit=False).result.wasSuccessful()
    finally:
        subprocess.run(['wineserver', '-k'], env=ENV)  # ends the desktop holder too
    if passed:  # 1.3 GB; a failed run's prefix stays to be looked at
        shutil.rmtree(PREFIX, ignore_errors=True)
    sys.exit(0 if passed else 1)
