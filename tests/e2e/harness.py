"""Shared machinery of the end-to-end suite and of tools/demo: a virtual
display, Wine machines copied from a template (32-bit, or 64-bit where the
updater runs under WoW64), fixture libraries, helper programs, and runs of the
real updater with every message box recorded and answered."""

import contextlib
import fcntl
import hashlib
import json
import os
import re
import select
import shutil
import subprocess
import sys
import tempfile
import threading
import time
from pathlib import Path, PureWindowsPath

try:
    import pefile
except ImportError:
    # Debian's python3-pefile lives where a Python other than Debian's own
    # (pyenv, a virtual environment) does not look.
    sys.path.append("/usr/lib/python3/dist-packages")
    try:
        import pefile
    except ImportError:
        pefile = None

HERE = Path(__file__).resolve().parent
ROOT = HERE.parent.parent
# The kit's file names, for the scenarios too: tests/kit_names.py reads them
# from the one header that spells them.
sys.path.insert(0, str(HERE.parent))
from kit_names import API_LIBRARY, API_PAYLOAD, AVC_LIBRARY, AVC_PAYLOAD  # noqa: E402,F401
from kit_names import UPDATER as UPDATER_NAME  # noqa: E402
BUILD = ROOT / "build" / "e2e"
# E2E_UPDATER judges another copy of the file (a release, or a deliberately broken one).
UPDATER = Path(os.environ.get("E2E_UPDATER") or ROOT / "build" / "win32" / UPDATER_NAME).resolve()
CROSS = "i686-w64-mingw32-"

CAPTION = "TRAVEN-60 Update"
WS_EX_TOPMOST = 0x8
IDOK = 1

UNPRIVILEGED = 65534  # nobody

# "ja-ui" is a Japanese interface over a western code page, as a Japanese
# language pack on an English system: Wine takes the interface language
# from LC_MESSAGES and the code page from LANG, so LC_ALL must stay unset.
LOCALES = {"en": "en_US.UTF-8", "ja": "ja_JP.UTF-8", "ja-ui": "en_US.UTF-8"}
INTERFACE = {"ja-ui": "ja_JP.UTF-8"}  # LC_MESSAGES where it differs
# Wine keeps one code page per language; non-ASCII paths must be written in it.
ANSI = {"en": "cp1252", "ja": "cp932", "ja-ui": "cp1252"}

# Without these, a fresh prefix offers to download Mono and Gecko, every box
# waits for a window manager that is not there, and a crash opens a dialog
# instead of ending the process with a code the suite can see.
TEMPLATE_REG = r"""
[HKEY_CURRENT_USER\Software\Wine\X11 Driver]
"Managed"="N"

[HKEY_CURRENT_USER\Software\Wine\WineDbg]
"ShowCrashDialog"=dword:00000000

[HKEY_CURRENT_USER\Software\Wine\Drivers]
"Audio"=""
"""
DLL_OVERRIDES = "mscoree,mshtml,winemenubuilder.exe=d"


class HarnessError(Exception):
    pass


def log_file(name):
    BUILD.mkdir(parents=True, exist_ok=True)
    return open(BUILD / name, "ab")


def _run(cmd, env=None, timeout=120, log=None):
    """Runs a host command; output goes to a file, never to a pipe that a Wine
    service process could inherit and keep open."""
    with (log or log_file("commands.log")) as out:
        out.write(("\n$ " + " ".join(map(str, cmd)) + "\n").encode())
        out.flush()
        return subprocess.run(list(map(str, cmd)), env=env, stdout=out, stderr=out, stdin=subprocess.DEVNULL,
                              timeout=timeout).returncode


def missing_tools():
    need = ["wine", "wineserver", "wineboot", "Xvfb", "localedef", CROSS + "gcc", CROSS + "windres"]
    # Debian's wine64 puts its loader, for the 64-bit prefix, beside the 32-bit one.
    wine64 = [] if Path("/usr/lib/wine/wine64").exists() else ["wine64"]
    return [t for t in need if not shutil.which(t)] + wine64 + ([] if pefile else ["python3-pefile"])


@contextlib.contextmanager
def exclusive(what):
    """One user of build/e2e at a time: the suite and the demo rebuild the
    template and the machines there, and a second run would pull them away."""
    BUILD.mkdir(parents=True, exist_ok=True)
    with open(BUILD / ".lock", "w") as lock:
        try:
            fcntl.flock(lock, fcntl.LOCK_EX | fcntl.LOCK_NB)
        except BlockingIOError:
            print(f"{what}: waiting for another run that uses build/e2e", flush=True)
            fcntl.flock(lock, fcntl.LOCK_EX)
        yield


# ---------------------------------------------------------------- locales

def locale_env(lang):
    """An environment whose locale Wine will really honour: the locale is
    compiled into a private directory, since an uninstalled one makes glibc
    fall back to "C" and Wine then silently mangles non-ASCII names."""
    locdir = BUILD / "locale"
    name = LOCALES[lang]
    for needed in locale_names(lang):
        if not (locdir / needed / "LC_CTYPE").exists():
            locdir.mkdir(parents=True, exist_ok=True)
            src, charset = needed.split(".")
            rc = _run(["localedef", "-i", src, "-f", charset, locdir / needed])
            # localedef warns (exit 1) on harmless things; only a missing result is fatal.
            if not (locdir / needed / "LC_CTYPE").exists():
                raise HarnessError(f"localedef could not build {needed} (exit {rc}); see build/e2e/commands.log")
    env = {k: v for k, v in os.environ.items() if not k.startswith(("LC_", "WINE", "LANG"))}
    env.update(LOCPATH=str(locdir), LANG=name)
    if lang in INTERFACE:
        env.update(LC_MESSAGES=INTERFACE[lang])
    else:
        env.update(LC_ALL=name)
    return env


def locale_names(lang):
    return sorted({LOCALES[lang], INTERFACE.get(lang, LOCALES[lang])})


# ---------------------------------------------------------------- cross-built helpers

def _newer(target, *sources):
    return target.exists() and all(target.stat().st_mtime >= s.stat().st_mtime for s in sources)


def helper(name):
    """boxwatch.exe, hold.exe, probe.exe or timing.exe, built by the same cross toolchain as the updater."""
    src = HERE / f"{name}.c"
    exe = BUILD / "bin" / f"{name}.exe"
    if not _newer(exe, src):
        exe.parent.mkdir(parents=True, exist_ok=True)
        if _run([CROSS + "gcc", "-O2", "-s", "-Wall", "-o", exe, src, "-lversion", "-lshell32"]) != 0:
            raise HarnessError(f"cannot build {name}.exe; see build/e2e/commands.log")
    return exe


def _rc_string(s):
    return '"' + s.replace('"', '""') + '"'


def fixture(version=None, tag="", numeric=(1, 0, 0, 0), blocks=None, translations=((0x409, 1200),)):
    """A real DLL whose version resource carries the given FileVersion text.
    blocks maps a StringFileInfo block name ("040904b0") to its values and
    overrides version; translations is the VarFileInfo list in order. The tag
    goes into Comments so that two fixtures with the same FileVersion still
    differ byte for byte, which is what makes "left untouched" checkable."""
    if blocks is None:
        blocks = {"040904b0": {"FileVersion": version}}
    lines = ["1 VERSIONINFO",
             "FILEVERSION %d,%d,%d,%d" % numeric, "PRODUCTVERSION %d,%d,%d,%d" % numeric,
             "FILEFLAGSMASK 0x3f", "FILEFLAGS 0", "FILEOS 0x40004", "FILETYPE 2", "FILESUBTYPE 0",
             "BEGIN", ' BLOCK "StringFileInfo"', " BEGIN"]
    for block, values in blocks.items():
        lines += [f'  BLOCK "{block}"', "  BEGIN"]
        lines += [f"   VALUE {_rc_string(k)}, {_rc_string(v)}" for k, v in values.items()]
        lines += [f'   VALUE "Comments", {_rc_string("fixture " + tag)}', "  END"]
    lines += [" END", ' BLOCK "VarFileInfo"', " BEGIN",
              '  VALUE "Translation", ' + ", ".join(f"0x{l:x}, {c}" for l, c in translations),
              " END", "END", ""]
    rc = "\n".join(lines)
    src = HERE / "fixture.c"
    key = hashlib.sha256((rc + src.read_text()).encode()).hexdigest()[:16]
    dll = BUILD / "fixtures" / f"{key}.dll"
    if not dll.exists():
        dll.parent.mkdir(parents=True, exist_ok=True)
        (dll.parent / f"{key}.rc").write_text(rc)
        obj = dll.parent / f"{key}.o"
        if (_run([CROSS + "windres", "-i", dll.parent / f"{key}.rc", "-O", "coff", "-o", obj]) != 0 or
                _run([CROSS + "gcc", "-s", "-shared", "-nostdlib", "-e", "_DllMain@12", "-o", dll, src, obj]) != 0):
            raise HarnessError("cannot build a fixture library; see build/e2e/commands.log")
    return dll


def plain_file(tag=""):
    """A file with no version resource at all."""
    return ("Not a library: no version resource here. " + tag + "\r\n").encode() * 40


# ---------------------------------------------------------------- display

class Display:
    """A private Xvfb on a display number that Xvfb itself picks as free."""

    def __init__(self):
        r, w = os.pipe()
        self.log = log_file("xvfb.log")
        self.proc = subprocess.Popen(["Xvfb", "-displayfd", str(w), "-screen", "0", "1024x768x24", "-nolisten", "tcp"],
                                     pass_fds=(w,), stdout=self.log, stderr=self.log, stdin=subprocess.DEVNULL)
        os.close(w)
        number = b""
        deadline = time.time() + 20
        while not number.endswith(b"\n") and time.time() < deadline:
            ready, _, _ = select.select([r], [], [], 0.5)
            if ready:
                chunk = os.read(r, 16)
                if not chunk:
                    break
                number += chunk
        os.close(r)
        if not number.strip():
            self.stop()
            raise HarnessError("Xvfb did not start; see build/e2e/xvfb.log")
        self.name = ":" + number.decode().strip()

    def stop(self):
        if self.proc.poll() is None:
            self.proc.terminate()
            try:
                self.proc.wait(10)
            except subprocess.TimeoutExpired:
                self.proc.kill()
        self.log.close()


# ---------------------------------------------------------------- Wine machines

def wine_env(prefix, display, lang="en", win64=False):
    env = locale_env(lang)
    env.update(WINEPREFIX=str(prefix), WINEARCH="win64" if win64 else "win32", WINEDEBUG="-all",
               WINEDLLOVERRIDES=DLL_OVERRIDES, DISPLAY=display.name)
    return env


def _reg_file_bytes(text):
    return ("\ufeffWindows Registry Editor Version 5.00\r\n" + text.replace("\n", "\r\n")).encode("utf-16-le")


def template_dir(win64=False):
    return BUILD / ("template64" if win64 else "template")


def template(display, reuse=False, win64=False):
    """One fresh 32-bit prefix per suite run (made once, about 15-40 s), and a
    64-bit one where a scenario asks; every machine is a copy of one of them.
    reuse keeps one that an earlier run completed."""
    prefix = template_dir(win64)
    stamp = prefix / ".e2e-ready"
    if reuse and stamp.exists():
        return prefix
    if prefix.exists():
        shutil.rmtree(prefix)
    BUILD.mkdir(parents=True, exist_ok=True)
    env = wine_env(prefix, display, win64=win64)
    with log_file("template.log") as log:
        if _run(["wineboot", "-i"], env=env, timeout=600, log=log) != 0:
            raise HarnessError("wineboot -i failed; see build/e2e/template.log")
        (BUILD / "template.reg").write_bytes(_reg_file_bytes(TEMPLATE_REG))
    with log_file("template.log") as log:
        _run(["wine", "reg", "import", BUILD / "template.reg"], env=env, log=log)
    with log_file("template.log") as log:
        _run(["wineserver", "-w"], env=env, timeout=120, log=log)
    if not (prefix / "drive_c" / "windows" / "system32").is_dir():
        raise HarnessError("the template prefix is incomplete; see build/e2e/template.log")
    stamp.write_text("ok\n")
    return prefix


def _reachable_by_all(path):
    path = Path(path).resolve()
    return all(os.stat(p).st_mode & 0o005 == 0o005 for p in [path, *path.parents] if p.exists())


_MUTABLE = (".reg", ".ini", ".inf", ".log", ".txt", ".dat")


def _copy_prefix(src, dst):
    """Copies the template; the large system binaries are hard links (nothing
    writes them in place), the rest is real copies so machines cannot leak
    into each other or back into the template."""
    for dirpath, dirnames, filenames in os.walk(src):
        rel = Path(dirpath).relative_to(src)
        target = dst / rel
        target.mkdir(parents=True, exist_ok=True)
        for d in list(dirnames):
            s = Path(dirpath) / d
            if s.is_symlink():
                os.symlink(os.readlink(s), target / d)
                dirnames.remove(d)
        for f in filenames:
            s = Path(dirpath) / f
            if dirpath == str(src) and f == "wineserver":
                continue  # names the template's own server directory; each machine makes its own
            if s.is_symlink():
                os.symlink(os.readlink(s), target / f)
            elif s.stat().st_size >= 65536 and not f.lower().endswith(_MUTABLE):
                try:
                    os.link(s, target / f)
                except OSError:  # another file system
                    shutil.copy2(s, target / f)
            else:
                shutil.copy2(s, target / f)


class Box:
    def __init__(self, record):
        self.__dict__.update(record)

    def problems(self):
        """What makes this box break the convention shared by every box of the updater."""
        out = []
        if self.caption != CAPTION:
            out.append(f"caption {self.caption!r}")
        if not self.exstyle & WS_EX_TOPMOST:
            out.append(f"not system-modal (exstyle 0x{self.exstyle:x} lacks WS_EX_TOPMOST)")
        shown = [(b["id"], b["text"]) for b in self.buttons if b["visible"]]
        if [i for i, _ in shown] != [IDOK]:
            out.append(f"buttons {shown} instead of OK alone")
        if self.owner:
            out.append("has an owner window")
        if not self.from_child:
            out.append("shown by another process")
        return out

    def __repr__(self):
        return f"<box {self.text!r}>"


class Run:
    def __init__(self, lines):
        self.header = lines[0] if lines else {}
        self.boxes = [Box(l) for l in lines if "box" in l]
        end = [l for l in lines if "exit" in l]
        self.exit_code = end[-1]["exit"] if end else None
        self.pid = end[-1].get("pid") if end else None
        self.wow64 = end[-1].get("wow64") if end else None
        self.calls = []  # filled by Machine.trace
        self.timed_out = any("timeout" in l for l in lines)
        self.start_error = next((l["start_error"] for l in lines if "start_error" in l), None)
        self.stuck = [l["stuck"] for l in lines if "stuck" in l]

    @property
    def texts(self):
        return [b.text for b in self.boxes]


class Machine:
    """One Windows machine under Wine for one scenario: its own prefix copied
    from the template, its own wineserver kept alive for the whole scenario
    (a new server session would run Wine's start-up processing, which is a
    restart), and a language."""

    def __init__(self, display, name, lang="en", win98=False, unprivileged=False, home=None, version=None,
                 win64=False):
        self.display, self.lang, self.name, self.win64 = display, lang, name, win64
        self._mounts = []
        # Wine run by root may overwrite a read-only file that Windows would refuse to;
        # an unprivileged machine keeps that refusal.
        self.uid = UNPRIVILEGED if unprivileged else None
        self.dir = Path(home) if home else BUILD / "machines" / name
        if self.dir.exists():
            shutil.rmtree(self.dir)
        if self.uid is not None and not _reachable_by_all(self.dir.parent):
            # The user must reach the prefix; a checkout in a private directory keeps it out.
            self.dir = Path(tempfile.mkdtemp(prefix=f"trv60-e2e-{name}-"))
            os.chmod(self.dir, 0o755)
        self.prefix = self.dir / "prefix"
        _copy_prefix(template_dir(win64), self.prefix)
        self.env = wine_env(self.prefix, display, lang, win64)
        if self.uid is not None:
            self.env["HOME"] = str(self.dir)
            if not _reachable_by_all(Path(self.env["LOCPATH"])):
                for name in locale_names(lang):
                    shutil.copytree(Path(self.env["LOCPATH"]) / name, self.dir / "locale" / name)
                self.env["LOCPATH"] = str(self.dir / "locale")
        self.log = self.dir / "wine.log"
        self._calls = 0
        # The server is started first and by itself so that no later command
        # ends the session; its output goes to a file, never to our pipes.
        self._wine(["wineserver", "-p"], timeout=30)
        try:
            self.c(r"C:\e2e").mkdir(parents=True, exist_ok=True)
            # Wine's Windows version: win95, win98, nt40, winxp, win7, win10, ...
            version = "win98" if win98 else version
            if version:
                self.registry(f'[HKEY_CURRENT_USER\\Software\\Wine]\n"Version"="{version}"\n')
        except BaseException:
            self.close(keep=True)
            raise

    # -- paths
    def c(self, winpath):
        """The host path of a path on the machine's drive C:."""
        p = PureWindowsPath(winpath)
        if p.drive.upper() != "C:":
            raise HarnessError(f"not on drive C: {winpath}")
        return self.prefix.joinpath("drive_c", *p.parts[1:])

    def windows_dir_file(self, name):
        """A file in C:\\windows found the way Windows finds it, whatever its case."""
        d = self.c(r"C:\windows")
        for f in d.iterdir():
            if f.name.lower() == name.lower():
                return f
        return None

    # -- running things
    def _helper(self, name):
        """A helper program, copied onto the machine so that its user can always run it."""
        win = rf"C:\e2e\bin\{name}.exe"
        if not self.c(win).exists():
            self.put(win, helper(name))
        return win

    def _as_user(self, cmd):
        if self.uid is None:
            return list(map(str, cmd))
        # Whatever the harness wrote as root becomes the machine's user's; the
        # template's hard-linked system files stay root's and are only read.
        for dirpath, dirnames, filenames in os.walk(self.dir):
            os.chown(dirpath, self.uid, self.uid)
            for f in filenames:
                p = os.path.join(dirpath, f)
                st = os.lstat(p)
                if st.st_nlink == 1 and st.st_uid != self.uid:
                    os.chown(p, self.uid, self.uid, follow_symlinks=False)
        return ["setpriv", f"--reuid={self.uid}", f"--regid={self.uid}", "--clear-groups", "--", *map(str, cmd)]

    def _wine(self, cmd, timeout=120):
        with open(self.log, "ab") as log:
            return _run(self._as_user(cmd), env=self.env, timeout=timeout, log=log)

    def wine(self, *args, timeout=120):
        return self._wine(["wine", *args], timeout=timeout)

    def registry(self, text):
        """Imports .reg text with Wine's own reg.exe (written as UTF-16, so any value survives)."""
        self._calls += 1
        f = self.c(rf"C:\e2e\import{self._calls}.reg")
        f.parent.mkdir(parents=True, exist_ok=True)
        f.write_bytes(_reg_file_bytes(text))
        if self.wine("reg", "import", rf"C:\e2e\import{self._calls}.reg") != 0:
            raise HarnessError("reg import failed; see " + str(self.log))

    def put(self, winpath, content):
        """Writes a file on the machine: content is bytes or a host path to copy."""
        p = self.c(winpath)
        p.parent.mkdir(parents=True, exist_ok=True)
        if isinstance(content, (bytes, bytearray)):
            p.write_bytes(content)
        else:
            shutil.copyfile(content, p)
        return p

    def put_updater(self, windir):
        if not UPDATER.exists():
            raise HarnessError(f"{UPDATER} does not exist")
        return self.put(str(PureWindowsPath(windir) / UPDATER_NAME), UPDATER)

    def run(self, cmdline, cwd=r"C:\windows", timeout=60, on_first_box=None, debug_log=None):
        """Starts cmdline through boxwatch and returns what the user saw and the
        exit code. on_first_box(record) is called while the first box is still
        on the screen. debug_log: Wine's output goes to this file instead."""
        self._calls += 1
        n = self._calls
        flag_win = rf"C:\e2e\box{n}.flag"
        logf = self.c(rf"C:\e2e\boxes{n}.jsonl")
        job = [rf"log=C:\e2e\boxes{n}.jsonl", "cmd=" + cmdline, "cwd=" + cwd, f"timeout={timeout}"]
        if on_first_box:
            job += ["pause=1", "flag=" + flag_win]
        self.c(rf"C:\e2e\job{n}.txt").write_text("\n".join(job) + "\n", encoding="utf-8")
        with open(debug_log or self.log, "ab") as log:
            proc = subprocess.Popen(self._as_user(["wine", self._helper("boxwatch"), rf"C:\e2e\job{n}.txt"]), env=self.env,
                                    stdout=log, stderr=log, stdin=subprocess.DEVNULL)
            deadline = time.time() + timeout + 60
            while proc.poll() is None:
                if time.time() > deadline:
                    proc.kill()
                    raise HarnessError(f"boxwatch did not end; see {self.log}")
                if on_first_box and self.c(flag_win).exists():
                    first = next(json.loads(l) for l in logf.read_text(encoding="utf-8").splitlines() if '"box"' in l)
                    try:
                        on_first_box(first)
                    finally:
                        self.c(flag_win).unlink(missing_ok=True)
                time.sleep(0.05)
        if not logf.exists():
            raise HarnessError(f"boxwatch failed ({proc.returncode}); see {self.log}")
        return Run([json.loads(l) for l in logf.read_text(encoding="utf-8").splitlines() if l.strip()])

    def trace(self, cmdline, functions, **kw):
        """Runs cmdline as run() does, with Wine's relay channel tracing the
        named functions of kernel32 and kernelbase, and returns the Run with
        .calls: the calls the started program made itself, in order, as
        Call(function, arguments, retval). A call is the program's own when
        it comes from its process and returns into its image; the loader's
        and the system DLLs' calls on its behalf are not."""
        include = ";".join(f"{dll}.{f}" for f in functions for dll in ("kernel32", "kernelbase"))
        self.registry('[HKEY_CURRENT_USER\\Software\\Wine\\Debug]\n"RelayInclude"="' + include + '"\n')
        self._calls += 1
        debug_log = self.dir / f"relay{self._calls}.log"
        debug_log.unlink(missing_ok=True)
        quiet = self.env["WINEDEBUG"]
        self.env["WINEDEBUG"] = "+pid,+relay"
        try:
            run = self.run(cmdline, debug_log=debug_log, **kw)
        finally:
            self.env["WINEDEBUG"] = quiet
        image = pefile.PE(str(UPDATER), fast_load=True).OPTIONAL_HEADER
        run.calls = relay_calls(debug_log.read_text(errors="replace"), run.pid, image.ImageBase,
                                image.ImageBase + image.SizeOfImage)
        return run

    def probe(self, *requests):
        """Asks probe.exe; each request is a tuple like ("version", r"C:\\x.dll")."""
        self._calls += 1
        n = self._calls
        self.c(rf"C:\e2e\ask{n}.txt").write_text("".join("\t".join(map(str, r)) + "\n" for r in requests),
                                                encoding="utf-8")
        self._wine(["wine", self._helper("probe"), rf"C:\e2e\ask{n}.txt", rf"C:\e2e\answer{n}.txt"])
        ans = self.c(rf"C:\e2e\answer{n}.txt")
        if not ans.exists():
            raise HarnessError(f"probe.exe gave no answer; see {self.log}")
        lines = ans.read_text(encoding="utf-8").split("\n")[:len(requests)]
        return [l.replace("\\\\", "\0").replace("\\n", "\n").replace("\\r", "\r").replace("\0", "\\") for l in lines]

    def one(self, *request):
        return self.probe(request)[0]

    def set_attrs(self, winpath, attrs):
        if self.one("setattrs", winpath, attrs) != "1":
            raise HarnessError(f"cannot set attributes of {winpath}")

    @contextlib.contextmanager
    def holding(self, kind, what):
        """While inside, hold.exe holds a library loaded ("dll"), a file open ("file") or the named mutex ("mutex")."""
        self._calls += 1
        flag_win = rf"C:\e2e\held{self._calls}.flag"
        flag = self.c(flag_win)
        log = open(self.log, "ab")
        proc = subprocess.Popen(self._as_user(["wine", self._helper("hold"), kind, what, flag_win]), env=self.env,
                                stdout=log, stderr=log, stdin=subprocess.DEVNULL)
        try:
            deadline = time.time() + 30
            while not flag.exists():
                if proc.poll() is not None or time.time() > deadline:
                    raise HarnessError(f"hold.exe could not hold {what}; see {self.log}")
                time.sleep(0.05)
            yield
        finally:
            flag.unlink(missing_ok=True)
            try:
                proc.wait(20)
            except subprocess.TimeoutExpired:
                proc.kill()
            log.close()

    def small_disk(self, winpath, size):
        """Mounts a tmpfs of size bytes at the directory: a disk that fills up.
        Mounting needs root, as the suite runs; close() unmounts it."""
        p = self.c(winpath)
        p.mkdir(parents=True, exist_ok=True)
        if _run(["mount", "-t", "tmpfs", "-o", f"size={size},mode=0777", "tmpfs", p]) != 0:
            raise HarnessError(f"cannot mount a tmpfs at {p} (root is needed); see build/e2e/commands.log")
        self._mounts.append(p)
        return p

    def restart(self):
        """The machine's next start: wineboot -r carries out PendingFileRenameOperations and WinInit.ini."""
        if self.wine("wineboot", "-r", timeout=120) != 0:
            raise HarnessError("wineboot -r failed; see " + str(self.log))

    def close(self, keep=False):
        try:
            self._wine(["wineserver", "-k"], timeout=30)
        except subprocess.TimeoutExpired:
            pass
        for p in reversed(self._mounts):
            if keep:  # what the small disk held stays beside it
                shutil.copytree(p, p.with_name(p.name + ".tmpfs"), dirs_exist_ok=True)
            if _run(["umount", p]) != 0:
                _run(["umount", "-l", p])
        self._mounts = []
        if not keep:
            shutil.rmtree(self.dir, ignore_errors=True)


class Call:
    def __init__(self, function, arguments, retval):
        self.function, self.arguments, self.retval = function, arguments, retval

    def strings(self):
        """The string arguments, unescaped."""
        return [re.sub(r"\\(.)", r"\1", s) for s in re.findall(r'"((?:[^"\\]|\\.)*)"', self.arguments)]

    def __repr__(self):
        return f"{self.function}({self.arguments}) = {self.retval:#x}"


_RELAY = re.compile(r"^([0-9a-f]{4}):([0-9a-f]{4}):(Call|Ret)\s+\w+\.(\w+)\((.*)\)(?: retval=([0-9a-f]+))? ret=([0-9a-f]+)$")


def relay_calls(text, pid, image_start, image_end):
    """Calls of process pid whose return address lies in [image_start, image_end),
    each paired with its return, from the output of WINEDEBUG=+pid,+relay."""
    calls, open_calls = [], {}
    for line in text.splitlines():
        match = _RELAY.match(line.strip())
        if not match or pid is None or int(match.group(1), 16) != pid:
            continue
        _, thread, kind, function, arguments, retval, ret = match.groups()
        if not image_start <= int(ret, 16) < image_end:
            continue
        if kind == "Call":
            call = Call(function, arguments, None)
            calls.append(call)
            open_calls.setdefault((thread, function), []).append(call)
        elif open_calls.get((thread, function)):
            open_calls[(thread, function)].pop().retval = int(retval, 16)
    return calls


class Reader:
    """Another program on the Linux side that opens a file again and again, for
    as long as the block runs, and names what it found: the known content it
    matched, "missing" when there was no file, or "other". To look often
    enough to meet a copy half done, a look reads the size, the first and the
    last 64 KB; a look that finds a known content other than the last one
    found, and the very last look, read the whole file. The names in order,
    repeats folded, are in .seen; the sizes of the "other" files in .others."""

    EDGE = 65536

    def __init__(self, path, known):
        self.path, self.known = Path(path), known
        self.seen, self.reads, self.others = [], 0, []
        self._stop = threading.Event()
        self._thread = threading.Thread(target=self._loop, daemon=True)

    def _name(self, whole):
        try:
            with open(self.path, "rb") as f:
                if whole:
                    got = f.read()
                    size, head, tail = len(got), got[:self.EDGE], got[-self.EDGE:]
                else:
                    size = os.fstat(f.fileno()).st_size
                    head = f.read(self.EDGE)
                    f.seek(max(0, size - self.EDGE))
                    tail = f.read(self.EDGE)
        except FileNotFoundError:
            return "missing"
        for name, content in self.known.items():
            if size == len(content) and head == content[:self.EDGE] and tail == content[-self.EDGE:] and \
                    (not whole or got == content):
                return name
        self.others.append(size)
        return "other"

    def _loop(self):
        while True:
            stopping = self._stop.is_set()
            name = self._name(whole=stopping)
            if name in self.known and name != (self.seen[-1] if self.seen else None) and not stopping:
                name = self._name(whole=True)
            self.reads += 1
            if not self.seen or self.seen[-1] != name:
                self.seen.append(name)
            if stopping:
                return

    def __enter__(self):
        self._thread.start()
        while not self.reads:
            time.sleep(0.01)
        return self

    def __exit__(self, *exc):
        self._stop.set()
        self._thread.join(60)


def screenshot(display, path, rect=None):
    """A PNG of the screen, or of one window's rectangle [left, top, right, bottom]."""
    cmd = ["import", "-display", display.name, "-window", "root"]
    if rect:
        l, t, r, b = rect
        cmd += ["-crop", f"{r - l}x{b - t}+{l}+{t}", "+repage"]
    return _run(cmd + [path]) == 0
