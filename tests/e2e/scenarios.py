"""The end-to-end scenarios: the shipped updater on Wine, one fresh
machine per scenario, every box read back from the screen and answered."""

import functools
import re
from pathlib import PureWindowsPath

from harness import (API_LIBRARY, API_PAYLOAD, AVC_LIBRARY, AVC_PAYLOAD, UPDATER, UPDATER_NAME, Reader, fixture,
                     plain_file)

SCENARIOS = []


def scenario(group, lang="en", win98=False, unprivileged=False, version=None, win64=False):
    def register(fn):
        SCENARIOS.append(dict(group=group, name=fn.__name__, fn=fn, lang=lang, win98=win98, unprivileged=unprivileged,
                              version=version, win64=win64, doc=(fn.__doc__ or "").strip()))
        return fn
    return register


EN = {1: "PELLAXION-ZEL1/2 or TRAVEN-60 is not found.",
      2: "Can not get version info.",
      3: "Newer version exist.",
      4: "Files in use. Please stop application using TRAVEN-60.",
      5: "Update was succeeded.",
      7: "No need to update."}
JA = {4: "ファイルのコピーができません。\nTRAVEN-60を使用しているアプリケーションを\n停止し再度実行してください。",
      5: "アップデートが終了しました"}

KIT = r"C:\Program Files\TRAVEN-60 Update"
TRAVEN = r"HKEY_LOCAL_MACHINE\SOFTWARE\Quenvor\TRAVEN-50"
PELLAXION = r"HKEY_LOCAL_MACHINE\SOFTWARE\Quenvor\PELLAXION\ZEL"
FILE_ATTRIBUTE_READONLY, FILE_ATTRIBUTE_HIDDEN, FILE_ATTRIBUTE_SYSTEM = 1, 2, 4
ERROR_FILE_NOT_FOUND = 2


# ---------------------------------------------------------------- fixtures
# FileVersion texts are chosen so that a numeric or case-sensitive comparison,
# or one that ignores the first listed translation, gives a visibly wrong result.

@functools.cache
def new_avc():
    """The first payload; its only translation is Japanese, so a fixed 040904b0 query finds nothing."""
    return fixture(blocks={"041104b0": {"FileVersion": "3.30.010"}}, translations=((0x411, 1200),),
                   tag=AVC_PAYLOAD, numeric=(1, 0, 0, 0))


@functools.cache
def new_api():
    return fixture("3.30.010", tag=API_PAYLOAD, numeric=(1, 0, 0, 0))


@functools.cache
def old(name):
    """Older by text, newer by the numeric fields."""
    return fixture("3.30.009", tag="installed " + name, numeric=(9, 9, 9, 9))


@functools.cache
def equal(name):
    """Same FileVersion text as the payload, different bytes."""
    return fixture("3.30.010", tag="installed " + name)


@functools.cache
def lib(version, tag, **kw):
    return fixture(version, tag=tag, **kw)


def data(path):
    return path.read_bytes()


def padded(path, size):
    """A fixture library grown to size bytes by data after its image, as large
    libraries are; the version resource reads as before."""
    head = data(path)
    chunk = bytes(range(1, 256)) * 64
    return head + (chunk * ((size - len(head)) // len(chunk) + 1))[:size - len(head)]


# ---------------------------------------------------------------- checks

class Checks:
    def __init__(self):
        self.failures = []

    def fail(self, what):
        self.failures.append(what)

    def eq(self, got, want, what):
        if got != want:
            self.fail(f"{what}: got {got!r}, expected {want!r}")

    def true(self, cond, what):
        if not cond:
            self.fail(what)

    def run_ok(self, run):
        """What holds for every run: it started, ended by itself with exit code 0,
        and every box follows the box convention."""
        self.eq(run.start_error, None, "the updater could not be started (Win32 error)")
        self.true(not run.timed_out, "the updater did not end (killed after the time limit)")
        self.eq(run.stuck, [], "boxes that did not close on OK")
        self.eq(run.exit_code, 0, "exit code")
        for box in run.boxes:
            for p in box.problems():
                self.fail(f"box {box.text!r}: {p}")

    def boxes(self, run, texts):
        self.run_ok(run)
        self.eq(run.texts, texts, "boxes shown, in order")

    def locale(self, run, acp, ui):
        """Guards against passing for the wrong reason when a locale is not really in effect."""
        self.eq((run.header.get("acp"), run.header.get("ui_language")), (acp, ui), "Wine's ANSI code page and UI language")

    def content(self, m, winpath, want, what):
        p = m.c(winpath)
        if not p.exists():
            self.fail(f"{what}: {winpath} is missing")
        elif p.read_bytes() != want:
            self.fail(f"{what}: {winpath} does not hold the expected bytes")

    def exists(self, m, winpath, what):
        self.true(m.c(winpath).exists(), f"{what}: {winpath} should exist")

    def gone(self, m, winpath, what):
        self.true(not m.c(winpath).exists(), f"{what}: {winpath} should be gone")

    def listing(self, m, windir, names, what):
        """The directory holds these files and no other: nothing left behind."""
        p = m.c(windir)
        got = sorted(f.name for f in p.iterdir()) if p.is_dir() else None
        self.eq(got, sorted(names), what)

    def pending(self, m, entries, what):
        got = [e for e in m.one("pending").split("|") if e]
        self.eq(got, [rf"\??\{p} => " for p in entries], what)


# ---------------------------------------------------------------- machine set-up

def reg_text(key, **values):
    lines = [f"[{key}]"]
    for name, value in values.items():
        if isinstance(value, str):
            lines.append(f'"{name}"="' + value.replace("\\", "\\\\").replace('"', '\\"') + '"')
        elif isinstance(value, bytes):
            lines.append(f'"{name}"=hex:' + ",".join(f"{b:02x}" for b in value))
        else:
            lines.append(f'"{name}"=dword:{value:08x}')
    return "\n".join(lines) + "\n\n"


def ship(m, kit=KIT, avc=None, api=None):
    """The updater as delivered, with its two payloads beside it."""
    m.put_updater(kit)
    if avc is not False:
        m.put(rf"{kit}\{AVC_PAYLOAD}", data(avc or new_avc()))
    if api is not False:
        m.put(rf"{kit}\{API_PAYLOAD}", data(api or new_api()))
    return rf"{kit}\{UPDATER_NAME}"


def install(m, directory, avc=None, api=None):
    """Puts libraries into an installation directory (None: absent)."""
    base = directory.rstrip("\\")
    m.c(base).mkdir(parents=True, exist_ok=True)
    if avc:
        m.put(rf"{base}\{AVC_LIBRARY}", data(avc))
    if api:
        m.put(rf"{base}\{API_LIBRARY}", data(api))


def quoted(exe, tail=""):
    return f'"{exe}"' + (" " + tail if tail else "")


def missing_text(m, path):
    """The box of a file that cannot be opened: the system's own reason, then the path."""
    return m.one("message", ERROR_FILE_NOT_FOUND) + "  \n\n[ " + path + "  ]"


def payloads_kept(m, t, exe, kit=KIT):
    t.exists(m, exe, "without the switch the updater stays")
    t.exists(m, rf"{kit}\{API_PAYLOAD}", "without the switch the payload stays")
    t.exists(m, rf"{kit}\{AVC_PAYLOAD}", "without the switch the payload stays")
    t.pending(m, [], "without the switch nothing is scheduled")


def removed_after_restart(m, t, exe, kit=KIT):
    """With the switch on the NT family: payloads gone at once, the running
    executable scheduled and gone only after the next restart."""
    t.gone(m, rf"{kit}\{API_PAYLOAD}", "payload deleted at once")
    t.gone(m, rf"{kit}\{AVC_PAYLOAD}", "payload deleted at once")
    t.exists(m, exe, "the executable survives until the restart")
    t.pending(m, [exe], "only the executable is scheduled for deletion")
    m.restart()
    t.gone(m, exe, "the executable after the restart")


# ================================================================ outcomes

@scenario("outcome")
def neither_installed(m, t):
    """No product in the registry, "-D": message 1, then self-removal all the same."""
    exe = ship(m)
    run = m.run(quoted(exe, "-D"))
    t.boxes(run, [EN[1]])
    removed_after_restart(m, t, exe)


@scenario("outcome")
def both_values_empty_no_switch(m, t):
    """Both registry values present but empty count as not installed; no switch, nothing removed."""
    exe = ship(m)
    install(m, r"C:\TRV50", avc=old(AVC_LIBRARY), api=old(API_LIBRARY))
    m.registry(reg_text(TRAVEN, Path="") + reg_text(PELLAXION, InstallDir=""))
    run = m.run(quoted(exe))
    t.boxes(run, [EN[1]])
    t.content(m, rf"C:\TRV50\{AVC_LIBRARY}", data(old(AVC_LIBRARY)), "library of a product counted as absent")
    payloads_kept(m, t, exe)


def typical_update(m, t, inst, register):
    """TRAVEN-50 alone, registered by register(inst), with an older TrvAvc and an equal TrvApi, "/d"."""
    exe = ship(m)
    install(m, inst, avc=old(AVC_LIBRARY), api=equal(API_LIBRARY))
    register(inst)
    run = m.run(quoted(exe, "/d"))
    t.eq(run.wow64, m.win64, "the updater runs under WoW64 (IsWow64Process), on the 64-bit machine alone")
    t.boxes(run, [EN[5]])
    t.content(m, rf"{inst}\{AVC_LIBRARY}", data(new_avc()), f"older library replaced by {AVC_PAYLOAD}")
    t.content(m, rf"{inst}\{API_LIBRARY}", data(equal(API_LIBRARY)), "equal library left alone")
    attrs = m.one("attrs", rf"{inst}\{AVC_LIBRARY}")
    t.true(attrs and not int(attrs) & FILE_ATTRIBUTE_READONLY, f"replaced library attributes {attrs}")
    t.listing(m, inst, [API_LIBRARY, AVC_LIBRARY], "no working file is left beside the libraries")
    removed_after_restart(m, t, exe)


@scenario("outcome")
def traven50_older_and_equal_with_switch(m, t):
    """TRAVEN-50 only, TrvAvc older and TrvApi equal, "/d": success; the older one replaced
    byte for byte and left with normal attributes, the equal one untouched, payloads gone
    at once, the executable gone after the restart."""
    typical_update(m, t, r"C:\Program Files\TRAVEN-50", lambda inst: m.registry(reg_text(TRAVEN, Path=inst)))


@scenario("wow64", win64=True)
def wow64_traven50_older_and_equal_with_switch(m, t):
    """A 64-bit Windows (WINEARCH=win64), where the updater runs under WoW64: TRAVEN-50 in
    "Program Files (x86)", registered by reg.exe in the 32-bit view of the registry alone, as its
    32-bit installer does. Then as on 32-bit: the updater finds it there, replaces the older
    TrvAvc through its folder handles, leaves the equal TrvApi, says "Update was succeeded.",
    deletes its payloads at once and is gone after the restart."""
    def register(inst):
        t.eq(m.wine("reg", "add", TRAVEN, "/v", "Path", "/d", inst, "/f", "/reg:32"), 0, "reg add /reg:32")
        views = [m.wine("reg", "query", TRAVEN, "/v", "Path", f"/reg:{bits}") for bits in (32, 64)]
        t.eq(views, [0, 1], "TRAVEN-50 in the registry's 32-bit and 64-bit views (reg query's exit code)")
    typical_update(m, t, r"C:\Program Files (x86)\TRAVEN-50", register)


@scenario("outcome")
def equal_and_older_payloads(m, t):
    """Payloads equal (differing only in letter case) and older by text though newer
    by number: "Newer version exist.", nothing copied."""
    exe = ship(m, avc=lib("1.00.a", AVC_PAYLOAD), api=lib("10.0", API_PAYLOAD, numeric=(10, 0, 0, 0)))
    inst = r"C:\TRV50"
    avc, api = lib("1.00.A", f"installed {AVC_LIBRARY}"), lib("9.0", f"installed {API_LIBRARY}", numeric=(9, 0, 0, 0))
    install(m, inst, avc=avc, api=api)
    m.registry(reg_text(TRAVEN, Path=inst))
    run = m.run(quoted(exe))
    t.boxes(run, [EN[3]])
    t.content(m, rf"{inst}\{AVC_LIBRARY}", data(avc), "1.00.a is not newer than 1.00.A")
    t.content(m, rf"{inst}\{API_LIBRARY}", data(api), "10.0 is not newer than 9.0 as text")
    payloads_kept(m, t, exe)


@scenario("outcome")
def pellaxion_without_libraries(m, t):
    """PELLAXION-ZEL installed without the libraries, TRAVEN-50 absent: "No need to update."."""
    exe = ship(m)
    m.c(r"C:\PELLAXION").mkdir(parents=True)
    m.registry(reg_text(PELLAXION, InstallDir=r"C:\PELLAXION"))
    run = m.run(quoted(exe))
    t.boxes(run, [EN[7]])
    t.gone(m, rf"C:\PELLAXION\{AVC_LIBRARY}", "no library is created")
    payloads_kept(m, t, exe)


@scenario("outcome")
def pellaxion_replaces_then_misses_a_target(m, t):
    """PELLAXION-ZEL's quiet pass replaces TrvAvc and then finds no TrvApi: the
    replacement is reported (message 5). The tail C:/data/setup holds "/d", so the
    updater removes itself too."""
    exe = ship(m)
    install(m, r"C:\PZ", avc=old(AVC_LIBRARY))
    m.registry(reg_text(PELLAXION, InstallDir=r"C:\PZ"))
    run = m.run(quoted(exe, "C:/data/setup"))
    t.boxes(run, [EN[5]])
    t.content(m, rf"C:\PZ\{AVC_LIBRARY}", data(new_avc()), "older library replaced")
    t.gone(m, rf"C:\PZ\{API_LIBRARY}", "the missing library is not created")
    removed_after_restart(m, t, exe)


@scenario("outcome")
def both_installations(m, t):
    """Both products, one library to replace in each; install directories with and without
    a trailing backslash; "9.0" is newer than "10.0" as text."""
    exe = ship(m, api=lib("9.0", API_PAYLOAD))
    install(m, r"C:\PZ", avc=old(AVC_LIBRARY), api=lib("9.0", f"PZ {API_LIBRARY}"))
    install(m, r"C:\TRV50", avc=equal(AVC_LIBRARY), api=lib("10.0", f"TRV50 {API_LIBRARY}", numeric=(10, 0, 0, 0)))
    m.registry(reg_text(PELLAXION, InstallDir=r"C:\PZ") + reg_text(TRAVEN, Path="C:\\TRV50\\"))
    run = m.run(quoted(exe))
    t.boxes(run, [EN[5]])
    t.content(m, rf"C:\PZ\{AVC_LIBRARY}", data(new_avc()), "PELLAXION-ZEL's older TrvAvc replaced")
    t.content(m, rf"C:\PZ\{API_LIBRARY}", data(lib("9.0", f"PZ {API_LIBRARY}")), "PELLAXION-ZEL's equal TrvApi left alone")
    t.content(m, rf"C:\TRV50\{AVC_LIBRARY}", data(equal(AVC_LIBRARY)), "TRAVEN-50's equal TrvAvc left alone")
    t.content(m, rf"C:\TRV50\{API_LIBRARY}", data(lib("9.0", API_PAYLOAD)), "TRAVEN-50's TrvApi 10.0 replaced by 9.0")
    # A copy keeps its source's last-write time (Windows counts in 100 ns).
    written = m.c(rf"{KIT}\{AVC_PAYLOAD}").stat().st_mtime_ns
    t.true(abs(m.c(rf"C:\PZ\{AVC_LIBRARY}").stat().st_mtime_ns - written) < 100, "the payload's time on the library")
    payloads_kept(m, t, exe)


# ================================================================ failures

@scenario("failure")
def missing_target_after_other_installation_updated(m, t):
    """PELLAXION-ZEL is updated; TRAVEN-50 ("C:\\TRV50\\", trailing backslash) lacks TrvApi:
    the system's reason and TrvApi's path in brackets, no outcome box, nothing rolled back."""
    exe = ship(m)
    install(m, r"C:\PZ", avc=old(AVC_LIBRARY), api=old(API_LIBRARY))
    install(m, r"C:\TRV50", avc=old(AVC_LIBRARY))
    m.registry(reg_text(PELLAXION, InstallDir=r"C:\PZ") + reg_text(TRAVEN, Path="C:\\TRV50\\"))
    run = m.run(quoted(exe))
    t.boxes(run, [missing_text(m, rf"C:\TRV50\{API_LIBRARY}")])
    t.content(m, rf"C:\PZ\{AVC_LIBRARY}", data(new_avc()), "PELLAXION-ZEL's TrvAvc replaced")
    t.content(m, rf"C:\PZ\{API_LIBRARY}", data(new_api()), "PELLAXION-ZEL's TrvApi replaced")
    t.content(m, rf"C:\TRV50\{AVC_LIBRARY}", data(new_avc()), "TRAVEN-50's TrvAvc replaced before the failure")
    payloads_kept(m, t, exe)


@scenario("failure", unprivileged=True)
def read_only_target(m, t):
    """A read-only, hidden, system target is replaced and ends with those attributes
    cleared; a read-only kit run with "/d" leaves nothing after the restart. Run by an
    unprivileged user: Wine run by root overwrites a read-only file where Windows
    refuses."""
    exe = ship(m)
    inst = r"C:\TRV50"
    install(m, inst, avc=old(AVC_LIBRARY), api=equal(API_LIBRARY))
    m.registry(reg_text(TRAVEN, Path=inst))
    sticky = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM
    # Wine as a user stores hidden and system only while the file is still writable.
    m.set_attrs(rf"{inst}\{AVC_LIBRARY}", FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM)
    m.set_attrs(rf"{inst}\{AVC_LIBRARY}", sticky)
    payloads = [rf"{KIT}\{AVC_PAYLOAD}", rf"{KIT}\{API_PAYLOAD}"]
    for path in [exe] + payloads:
        m.set_attrs(path, FILE_ATTRIBUTE_READONLY)
    t.eq(int(m.one("attrs", rf"{inst}\{AVC_LIBRARY}")) & sticky, sticky, "attributes of the target before the run")
    run = m.run(quoted(exe, "/d"))
    t.boxes(run, [EN[5]])
    t.content(m, rf"{inst}\{AVC_LIBRARY}", data(new_avc()), "read-only library replaced")
    attrs = m.one("attrs", rf"{inst}\{AVC_LIBRARY}")
    t.true(attrs != "" and not int(attrs) & sticky, f"attributes of the replaced library: {attrs}")
    t.listing(m, inst, [API_LIBRARY, AVC_LIBRARY], "the read-only copy of the payload is not left behind")
    # Windows lets the payload's hold clear its read-only attribute, and the payload
    # goes at once. Wine, run as a user, opens a file for FILE_WRITE_ATTRIBUTES with
    # Unix write access (FILE_UNIX_WRITE_ACCESS, server/file.h), which a read-only
    # file refuses: the hold is one for reading only, and the payloads are left to
    # the restart, as the executable is, each made writable through our handle.
    t.pending(m, [exe] + payloads, "the executable and, under Wine as a user, the read-only payloads")
    m.restart()
    # Wine's restart deletes a pending name with DeleteFileW (pendingRename in
    # programs/wineboot/wineboot.c), which refuses a read-only file, as Windows'
    # session manager does: nothing of the kit may go to it read-only.
    for path in [exe] + payloads:
        t.gone(m, path, "after the restart")


@scenario("failure")
def target_in_use(m, t):
    """TrvAvc loaded by a running program: message 4 alone, no outcome box, nothing
    replaced; "/d" still removes the updater and its payloads."""
    exe = ship(m)
    inst = r"C:\TRV50"
    install(m, inst, avc=old(AVC_LIBRARY), api=old(API_LIBRARY))
    m.registry(reg_text(TRAVEN, Path=inst))
    with m.holding("dll", rf"{inst}\{AVC_LIBRARY}"):
        run = m.run(quoted(exe, "/d"))
    t.boxes(run, [EN[4]])
    t.content(m, rf"{inst}\{AVC_LIBRARY}", data(old(AVC_LIBRARY)), "library in use")
    t.content(m, rf"{inst}\{API_LIBRARY}", data(old(API_LIBRARY)), "the pass stops at the failed copy")
    t.listing(m, inst, [API_LIBRARY, AVC_LIBRARY], "no working file is left beside the libraries")
    removed_after_restart(m, t, exe)


@scenario("failure")
def working_file_held_by_another(m, t):
    """A TRVNEW.TMP that another program planted and holds open without delete sharing:
    message 4, the library untouched, and the planted file keeps its bytes."""
    exe = ship(m)
    inst = r"C:\TRV50"
    install(m, inst, avc=old(AVC_LIBRARY), api=old(API_LIBRARY))
    m.put(rf"{inst}\TRVNEW.TMP", b"planted")
    m.registry(reg_text(TRAVEN, Path=inst))
    with m.holding("file", rf"{inst}\TRVNEW.TMP"):
        run = m.run(quoted(exe))
    t.boxes(run, [EN[4]])
    t.content(m, rf"{inst}\{AVC_LIBRARY}", data(old(AVC_LIBRARY)), "library beside the planted file")
    t.content(m, rf"{inst}\TRVNEW.TMP", b"planted", "the planted file")
    payloads_kept(m, t, exe)


def full_disks(m, t):
    exe = ship(m, avc=False)
    m.put(rf"{KIT}\{AVC_PAYLOAD}", padded(new_avc(), 1 << 20))
    for d in (r"C:\PZ", r"C:\TRV50"):
        m.small_disk(d, 512 * 1024)
        install(m, d, avc=old(AVC_LIBRARY), api=old(API_LIBRARY))
    m.registry(reg_text(PELLAXION, InstallDir=r"C:\PZ") + reg_text(TRAVEN, Path=r"C:\TRV50"))
    run = m.run(quoted(exe))
    t.boxes(run, [EN[4], EN[4]])
    for d in (r"C:\PZ", r"C:\TRV50"):
        t.content(m, rf"{d}\{AVC_LIBRARY}", data(old(AVC_LIBRARY)), "library on the full disk")
        t.content(m, rf"{d}\{API_LIBRARY}", data(old(API_LIBRARY)), "the pass stops at the failure")
        t.listing(m, d, [API_LIBRARY, AVC_LIBRARY], "no file is left on the full disk")
    payloads_kept(m, t, exe)


@scenario("failure")
def disk_full(m, t):
    """Both products, each on a 512 KB disk of its own (a tmpfs), and a 1 MB first payload
    newer than the 4 KB TrvAvc: each pass, the quiet and the reporting one, shows
    message 4 and leaves its library byte for byte and its directory as it was."""
    full_disks(m, t)


def read_while_replaced(m, t, may_be_missing):
    big = padded(new_avc(), 32 << 20)
    exe = ship(m, avc=False)
    m.put(rf"{KIT}\{AVC_PAYLOAD}", big)
    inst = r"C:\TRV50"
    install(m, inst, avc=old(AVC_LIBRARY), api=equal(API_LIBRARY))
    m.registry(reg_text(TRAVEN, Path=inst))
    with Reader(m.c(rf"{inst}\{AVC_LIBRARY}"), {"old": data(old(AVC_LIBRARY)), "new": big}) as reader:
        run = m.run(quoted(exe))
    t.boxes(run, [EN[5]])
    allowed = (["old", "new"], ["old", "missing", "new"]) if may_be_missing else (["old", "new"],)
    t.true(reader.seen in allowed and not reader.others,
           f"what the reader saw, in order: {reader.seen} (sizes of the other reads: {reader.others[:5]})")
    t.true(reader.reads >= 100, f"the reader looked only {reader.reads} times")
    t.listing(m, inst, [API_LIBRARY, AVC_LIBRARY], "no working file is left beside the libraries")


@scenario("torn")
def never_torn_while_read(m, t):
    """TrvAvc replaced by a 32 MB payload while a program on the Linux side reads it
    whole again and again: every read finds the old library or the new, whole."""
    read_while_replaced(m, t, may_be_missing=False)


@scenario("failure")
def missing_payload(m, t):
    """The first payload is missing and both products are installed: each pass shows the system's
    reason and "[ path  ]", no outcome box; with "/d" the missing payload is not scheduled."""
    exe = ship(m, avc=False)
    install(m, r"C:\PZ", avc=old(AVC_LIBRARY), api=old(API_LIBRARY))
    install(m, r"C:\TRV50", avc=old(AVC_LIBRARY), api=old(API_LIBRARY))
    m.registry(reg_text(PELLAXION, InstallDir=r"C:\PZ") + reg_text(TRAVEN, Path=r"C:\TRV50"))
    run = m.run(quoted(exe, "/d"))
    expected = missing_text(m, rf"{KIT}\{AVC_PAYLOAD}")
    t.boxes(run, [expected, expected])
    for d in (r"C:\PZ", r"C:\TRV50"):
        t.content(m, rf"{d}\{AVC_LIBRARY}", data(old(AVC_LIBRARY)), "nothing copied")
        t.content(m, rf"{d}\{API_LIBRARY}", data(old(API_LIBRARY)), "nothing copied")
    removed_after_restart(m, t, exe)


@scenario("failure")
def missing_payload_and_quiet_target(m, t):
    """PELLAXION-ZEL without TrvAvc and its payload missing too: the payload's box, then
    "No need to update.", the only way an error box is followed by an outcome."""
    exe = ship(m, avc=False)
    m.c(r"C:\PZ").mkdir(parents=True)
    m.registry(reg_text(PELLAXION, InstallDir=r"C:\PZ"))
    run = m.run(quoted(exe))
    t.boxes(run, [missing_text(m, rf"{KIT}\{AVC_PAYLOAD}"), EN[7]])


@scenario("failure")
def payload_without_version_resource(m, t):
    """The second payload is a plain file: message 2 after pair 1 was replaced, no outcome box."""
    exe = ship(m, api=False)
    m.put(rf"{KIT}\{API_PAYLOAD}", plain_file(API_PAYLOAD))
    inst = r"C:\TRV50"
    install(m, inst, avc=old(AVC_LIBRARY), api=old(API_LIBRARY))
    m.registry(reg_text(TRAVEN, Path=inst))
    run = m.run(quoted(exe))
    t.boxes(run, [EN[2]])
    t.content(m, rf"{inst}\{AVC_LIBRARY}", data(new_avc()), "pair 1 stays replaced")
    t.content(m, rf"{inst}\{API_LIBRARY}", data(old(API_LIBRARY)), "pair 2 not copied")
    t.content(m, rf"{KIT}\{API_PAYLOAD}", plain_file(API_PAYLOAD), "payload")


@scenario("failure")
def version_only_under_a_later_translation(m, t):
    """The installed TrvAvc lists Japanese/932 first, whose block has no FileVersion, and
    US English second, whose block has one: message 2, nothing copied."""
    exe = ship(m)
    inst = r"C:\TRV50"
    avc = fixture(blocks={"041103a4": {"ProductVersion": "3.30"}, "040904b0": {"FileVersion": "1.00.000"}},
                  translations=((0x411, 932), (0x409, 1200)), tag=f"installed {AVC_LIBRARY}, two translations")
    install(m, inst, avc=avc, api=old(API_LIBRARY))
    m.registry(reg_text(TRAVEN, Path=inst))
    run = m.run(quoted(exe))
    t.boxes(run, [EN[2]])
    t.content(m, rf"{inst}\{AVC_LIBRARY}", data(avc), "library whose version cannot be read")
    t.content(m, rf"{inst}\{API_LIBRARY}", data(old(API_LIBRARY)), "the pass stops at the failure")


# ================================================================ Japanese user interface

@scenario("japanese", lang="ja")
def japanese_outcome(m, t):
    """LC_ALL=ja_JP.UTF-8: the success text from the Japanese string table."""
    exe = ship(m)
    install(m, r"C:\TRV50", avc=old(AVC_LIBRARY), api=old(API_LIBRARY))
    m.registry(reg_text(TRAVEN, Path=r"C:\TRV50"))
    run = m.run(quoted(exe))
    t.locale(run, 932, 0x411)
    t.boxes(run, [JA[5]])
    t.content(m, rf"C:\TRV50\{API_LIBRARY}", data(new_api()), "both libraries replaced")


@scenario("japanese", lang="ja")
def japanese_in_use(m, t):
    """LC_ALL=ja_JP.UTF-8 and TrvAvc in use: the in-use text in three lines."""
    exe = ship(m)
    install(m, r"C:\TRV50", avc=old(AVC_LIBRARY), api=old(API_LIBRARY))
    m.registry(reg_text(TRAVEN, Path=r"C:\TRV50"))
    with m.holding("dll", rf"C:\TRV50\{AVC_LIBRARY}"):
        run = m.run(quoted(exe))
    t.locale(run, 932, 0x411)
    t.boxes(run, [JA[4]])
    t.eq(len(run.texts[0].split("\n")) if run.texts else 0, 3, "lines of the in-use text")


@scenario("japanese", lang="ja")
def cp932_directories_with_5c_trail_byte(m, t):
    """The updater in C:\\表 (0x95 0x5C) and TRAVEN-50 in C:\\ソフト\\表 without a trailing
    backslash, unquoted command line with "/D": the payloads beside the updater are found,
    both libraries replaced, and the updater removes itself."""
    kit = "C:\\表"
    exe = ship(m, kit=kit)
    inst = "C:\\ソフト\\表"
    install(m, inst, avc=old(AVC_LIBRARY), api=old(API_LIBRARY))
    m.registry(reg_text(TRAVEN, Path=inst))
    run = m.run(exe + " /D")
    t.locale(run, 932, 0x411)
    t.boxes(run, [JA[5]])
    t.content(m, inst + f"\\{AVC_LIBRARY}", data(new_avc()), "TrvAvc replaced")
    t.content(m, inst + f"\\{API_LIBRARY}", data(new_api()), "TrvApi replaced")
    removed_after_restart(m, t, exe, kit=kit)


@scenario("japanese", lang="ja-ui")
def japanese_interface_western_code_page_outcome(m, t):
    """LC_MESSAGES=ja_JP.UTF-8 over LANG=en_US.UTF-8 (a Japanese language pack on a western
    system, code page 1252): the Japanese table would read as question marks, so the
    success is told in English."""
    exe = ship(m)
    install(m, r"C:\TRV50", avc=old(AVC_LIBRARY), api=old(API_LIBRARY))
    m.registry(reg_text(TRAVEN, Path=r"C:\TRV50"))
    run = m.run(quoted(exe))
    t.locale(run, 1252, 0x411)
    t.boxes(run, [EN[5]])
    t.content(m, rf"C:\TRV50\{API_LIBRARY}", data(new_api()), "both libraries replaced")


@scenario("japanese", lang="ja-ui")
def japanese_interface_western_code_page_presence(m, t):
    """The same machine with the first payload missing: the system's Japanese reason would read as
    question marks, so the box gives its US English reason, then the path."""
    exe = ship(m, avc=False)
    install(m, r"C:\TRV50", avc=old(AVC_LIBRARY), api=old(API_LIBRARY))
    m.registry(reg_text(TRAVEN, Path=r"C:\TRV50"))
    run = m.run(quoted(exe))
    t.locale(run, 1252, 0x411)
    own = m.one("message", ERROR_FILE_NOT_FOUND)
    t.true(any(ord(c) >= 0x3000 for c in own), f"Wine's reason in the user's language is Japanese: {own!r}")
    english = m.one("message", ERROR_FILE_NOT_FOUND, "0x409")
    t.true(english.strip() != "" and english.isascii(), f"Wine's US English reason: {english!r}")
    t.boxes(run, [english + "  \n\n[ " + KIT + f"\\{AVC_PAYLOAD}  ]"])
    t.content(m, rf"C:\TRV50\{AVC_LIBRARY}", data(old(AVC_LIBRARY)), "nothing copied")


# ================================================================ Windows 9x family

def rename_section(m):
    """The lines of WinInit.ini's [Rename] section, as the next 9x start would read them."""
    f = m.windows_dir_file("wininit.ini")
    if f is None:
        return None
    lines, inside = [], False
    for line in f.read_bytes().decode("cp1252").splitlines():
        s = line.strip()
        if s.startswith("["):
            inside = s.lower() == "[rename]"
        elif inside and s:
            lines.append(s)
    return lines


@scenario("win9x", win98=True)
def win98_long_directory_existing_line(m, t):
    """Windows 98, updater in a long-named directory, WinInit.ini already holding a line:
    that line stays first, "Nul=" and the short path of the executable follow, nothing
    goes through MoveFileExA; the restart deletes the executable."""
    kit = r"C:\Program Files\TRAVEN-60 Update Kit"
    exe = ship(m, kit=kit)
    install(m, r"C:\TRV50", avc=old(AVC_LIBRARY), api=equal(API_LIBRARY))
    m.registry(reg_text(TRAVEN, Path=r"C:\TRV50"))
    m.put(r"C:\leftover.tmp", b"left by an earlier installer\r\n")
    m.put(r"C:\windows\WININIT.INI", b"[Rename]\r\nNUL=C:\\leftover.tmp\r\n")
    run = m.run(quoted(exe, "/d"))
    t.boxes(run, [EN[5]])
    short = m.one("short", exe)
    t.true(short and short != exe and " " not in short, f"Wine gives a distinct 8.3 form for {exe}: {short!r}")
    t.eq(rename_section(m), [r"NUL=C:\leftover.tmp", "Nul=" + short], "[Rename] section of WinInit.ini")
    t.gone(m, rf"{kit}\{API_PAYLOAD}", "payload deleted at once")
    t.gone(m, rf"{kit}\{AVC_PAYLOAD}", "payload deleted at once")
    t.pending(m, [], "the 9x family is not asked through MoveFileExA")
    t.exists(m, exe, "the executable survives until the restart")
    m.restart()
    t.gone(m, exe, "the executable after the restart")
    t.gone(m, r"C:\leftover.tmp", "the earlier line is still carried out")


@scenario("win9x", win98=True)
def win98_no_wininit_yet(m, t):
    """Windows 98, no WinInit.ini, nothing installed, "-d": the section is created holding
    exactly one "Nul=" line, for the executable."""
    kit = r"C:\UPD"
    exe = ship(m, kit=kit)
    run = m.run(quoted(exe, "-d"))
    t.boxes(run, [EN[1]])
    short = m.one("short", exe)
    t.eq(rename_section(m), ["Nul=" + short], "[Rename] section of WinInit.ini")
    t.gone(m, rf"{kit}\{API_PAYLOAD}", "payload deleted at once")
    t.gone(m, rf"{kit}\{AVC_PAYLOAD}", "payload deleted at once")
    t.pending(m, [], "the 9x family is not asked through MoveFileExA")
    m.restart()
    t.gone(m, exe, "the executable after the restart")


@scenario("win9x", win98=True)
def win98_exchange_cut_between_renames(m, t):
    """Windows 98, as a power cut between the two renames left it: no TrvAvc, its old
    bytes set aside in its own TRVOLD1.TMP, the new ones in TRVNEW.TMP. The run puts the old library
    back, replaces it, says "Update was succeeded." and leaves no working file."""
    exe = ship(m)
    inst = r"C:\TRV50"
    install(m, inst, api=old(API_LIBRARY))
    m.put(rf"{inst}\TRVOLD1.TMP", data(old(AVC_LIBRARY)))
    m.put(rf"{inst}\TRVNEW.TMP", data(new_avc()))
    m.registry(reg_text(TRAVEN, Path=inst))
    run = m.run(quoted(exe))
    t.boxes(run, [EN[5]])
    t.content(m, rf"{inst}\{AVC_LIBRARY}", data(new_avc()), "the library put back and replaced")
    t.listing(m, inst, [API_LIBRARY, AVC_LIBRARY], "no working file is left beside the libraries")


@scenario("win9x", win98=True)
def win98_disk_full(m, t):
    """Windows 98, both products on full disks of their own: as on NT, message 4 from
    each pass, the libraries byte for byte, no file left on either disk."""
    full_disks(m, t)


@scenario("win9x", win98=True)
def win98_never_torn_while_read(m, t):
    """Windows 98, TrvAvc replaced by a 32 MB payload while read again and again: the
    old library, then at most an instant with no library (between two renames, the old
    bytes wait under TRVOLD1.TMP), then the new one; never anything else."""
    read_while_replaced(m, t, may_be_missing=True)


@scenario("win9x", win98=True)
def win98_target_in_use(m, t):
    """Windows 98 and TrvAvc loaded by a running program: Wine's 9x mode would let the
    library be renamed, but the updater finds it in use first: message 4, the library
    untouched, no working file left."""
    exe = ship(m)
    inst = r"C:\TRV50"
    install(m, inst, avc=old(AVC_LIBRARY), api=old(API_LIBRARY))
    m.registry(reg_text(TRAVEN, Path=inst))
    with m.holding("dll", rf"{inst}\{AVC_LIBRARY}"):
        run = m.run(quoted(exe))
    t.boxes(run, [EN[4]])
    t.content(m, rf"{inst}\{AVC_LIBRARY}", data(old(AVC_LIBRARY)), "library in use")
    t.listing(m, inst, [API_LIBRARY, AVC_LIBRARY], "no working file is left beside the libraries")


# ================================================================ start-up and discovery

@scenario("start-up")
def second_instance(m, t):
    """While a first instance holds the mutex: no box, exit code 0, nothing touched, even with "/d"."""
    exe = ship(m)
    install(m, r"C:\TRV50", avc=old(AVC_LIBRARY), api=old(API_LIBRARY))
    m.registry(reg_text(TRAVEN, Path=r"C:\TRV50"))
    with m.holding("mutex", "TRAVEN-60 Update"):
        run = m.run(quoted(exe, "/d"))
    t.boxes(run, [])
    t.content(m, rf"C:\TRV50\{AVC_LIBRARY}", data(old(AVC_LIBRARY)), "library")
    payloads_kept(m, t, exe)


@scenario("start-up")
def registry_values_of_other_types(m, t):
    """TRAVEN-50's Path is REG_BINARY holding "C:\\TRV50" and a zero: taken as the location.
    PELLAXION-ZEL's InstallDir is a REG_DWORD 0: empty, so not installed."""
    exe = ship(m)
    install(m, r"C:\TRV50", avc=old(AVC_LIBRARY), api=equal(API_LIBRARY))
    m.registry(reg_text(TRAVEN, Path=b"C:\\TRV50\0") + reg_text(PELLAXION, InstallDir=0))
    run = m.run(quoted(exe))
    t.boxes(run, [EN[5]])
    t.content(m, rf"C:\TRV50\{AVC_LIBRARY}", data(new_avc()), "library under the binary value's path")


@scenario("start-up")
def second_instance_refusing_us(m, t):
    """The mutex exists but refuses us (an empty access list, as another user's or an elevated
    instance's does): that is another instance too. No box, exit code 0, nothing touched."""
    exe = ship(m)
    install(m, r"C:\TRV50", avc=old(AVC_LIBRARY), api=old(API_LIBRARY))
    m.registry(reg_text(TRAVEN, Path=r"C:\TRV50"))
    with m.holding("refusing-mutex", "TRAVEN-60 Update"):
        run = m.run(quoted(exe, "/d"))
    t.boxes(run, [])
    t.content(m, rf"C:\TRV50\{AVC_LIBRARY}", data(old(AVC_LIBRARY)), "library")
    payloads_kept(m, t, exe)


# ================================================================ Windows versions, and what the updater loads

SEM_FAILCRITICALERRORS, SEM_NOOPENFILEERRORBOX = 0x0001, 0x8000
LOAD_LIBRARY_SEARCH_SYSTEM32 = 0x800
LOADS = ("LoadLibraryA", "LoadLibraryExA")
RESTRICTIONS = ("SetDefaultDllDirectories", "SetDllDirectoryA")
TRACED = ("SetErrorMode",) + RESTRICTIONS + LOADS
SYSTEM_DIRECTORY = r"c:\windows\system32"
# Wine's version setting, and what GetVersionExA then tells boxwatch.exe: major, minor,
# platform. Like Windows 8.1 and later, win10 tells a program without a manifest 6.2.
WINDOWS_VERSIONS = {"win95": (4, 0, 1), "win98": (4, 10, 1), "nt40": (4, 0, 2), "winxp": (5, 1, 2),
                    "win7": (6, 1, 2), "win10": (6, 2, 2)}


def started_safely(t, run):
    """From the updater's own calls (Wine's relay trace): critical errors come back as error
    codes before anything else; later loads are restricted to the system directory before the
    first load; and every library it loads itself is named by its full path there."""
    calls = run.calls
    t.true(calls and calls[0].function == "SetErrorMode" and
           int(calls[0].arguments, 16) == SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX,
           f"SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX) comes first: {calls[:1]}")
    loads = [i for i, c in enumerate(calls) if c.function in LOADS]
    restrictions = [i for i, c in enumerate(calls) if c.function in RESTRICTIONS and c.retval]
    t.true(loads, f"the updater loads VERSION.DLL itself: {calls}")
    t.true(restrictions and loads and restrictions[0] < loads[0],
           f"later loads are restricted, with success, before the first load: {calls}")
    if restrictions:
        first = calls[restrictions[0]]
        t.eq((first.function, int(first.arguments, 16)), ("SetDefaultDllDirectories", LOAD_LIBRARY_SEARCH_SYSTEM32),
             "Wine has SetDefaultDllDirectories, so it is the one used")
    for i in loads:
        names = calls[i].strings()
        name = names[0] if names else ""
        t.true(str(PureWindowsPath(name).parent).lower() == SYSTEM_DIRECTORY and PureWindowsPath(name).drive,
               f"a library loaded by a name other than its full path in the system directory: {calls[i]}")


def _windows_version_scenario(version):
    def updates_under(m, t):
        exe = ship(m)
        inst = r"C:\TRV50"
        install(m, inst, avc=old(AVC_LIBRARY), api=equal(API_LIBRARY))
        m.registry(reg_text(TRAVEN, Path=inst))
        run = m.trace(quoted(exe), TRACED)
        t.eq(tuple(run.header.get("os", ())), WINDOWS_VERSIONS[version], "Windows version in effect (GetVersionExA)")
        t.boxes(run, [EN[5]])
        t.content(m, rf"{inst}\{AVC_LIBRARY}", data(new_avc()), "older library replaced")
        t.content(m, rf"{inst}\{API_LIBRARY}", data(equal(API_LIBRARY)), "equal library left alone")
        started_safely(t, run)

    updates_under.__name__ = f"updates_under_{version}"
    updates_under.__doc__ = f"""Wine's version set to {version}: the updater with its manifest starts, reads both
        versions through the system's VERSION.DLL and shows "Update was succeeded."; its own calls
        show SetErrorMode first, loads restricted before the first, and only full paths loaded."""
    scenario("windows-versions", version=version)(updates_under)


for _version in WINDOWS_VERSIONS:
    _windows_version_scenario(_version)


def mapped_libraries(m, cmdline):
    """The run, and the path of every library that Wine's loader mapped meanwhile (WINEDEBUG=+loaddll)."""
    log = m.dir / "loaddll.log"
    log.unlink(missing_ok=True)
    quiet, m.env["WINEDEBUG"] = m.env["WINEDEBUG"], "+loaddll"
    try:
        run = m.run(cmdline, debug_log=log)
    finally:
        m.env["WINEDEBUG"] = quiet
    return run, [p.replace("\\\\", "\\") for p in re.findall(r'Loaded L"([^"]+)"', log.read_text(errors="replace"))]


@scenario("windows-versions", version="winxp")
def planted_libraries_never_loaded(m, t):
    """XP mode, uxtheme.dll, dwmapi.dll and msimg32.dll planted beside the updater, Wine told to prefer
    native copies: the updater, its SetDefaultDllDirectories lookup broken as XP and 7 RTM lack the
    function, loads the system's copies by full path before its box, and no planted one is ever mapped.
    With the uxtheme.dll preload broken too, the box maps the planted uxtheme.dll: the check can fail."""
    exe = ship(m)
    planted = [rf"{KIT}\{name}" for name in ("uxtheme.dll", "dwmapi.dll", "msimg32.dll")]
    for path in planted:
        m.put(path, data(lib("1.0", "planted " + path)))
    m.env["WINEDLLOVERRIDES"] += ";uxtheme,dwmapi,msimg32=n,b"
    as_on_xp = UPDATER.read_bytes().replace(b"SetDefaultDllDirectories\0", b"SetDefaultDllDirectorieZ\0")
    m.put(exe, as_on_xp)
    run, mapped = mapped_libraries(m, quoted(exe))
    t.boxes(run, [EN[1]])
    t.eq([p for p in mapped if p.lower() in map(str.lower, planted)], [], "planted libraries mapped")
    t.true(any(p.lower() == rf"{SYSTEM_DIRECTORY}\uxtheme.dll" for p in mapped), f"the system's uxtheme.dll: {mapped}")
    m.put(exe, as_on_xp.replace(b"uxtheme.dll\0", b"uxthemZ.dll\0"))
    _, mapped = mapped_libraries(m, quoted(exe))
    t.true(planted[0].lower() in map(str.lower, mapped), f"without the preload the box maps {planted[0]}: {mapped}")


@scenario("windows-versions", version="winxp")
def started_by_its_short_name(m, t):
    """XP mode, started by its 8.3 path: before its first load it compares its manifest with itself as
    files, not as spellings, and updates as any other."""
    exe = ship(m)
    install(m, r"C:\TRV50", avc=old(AVC_LIBRARY), api=equal(API_LIBRARY))
    m.registry(reg_text(TRAVEN, Path=r"C:\TRV50"))
    short = m.one("short", exe)
    t.true(short and short.lower() != exe.lower(), f"Wine gives a distinct 8.3 form for {exe}: {short!r}")
    run = m.trace(quoted(short), ("QueryActCtxW", "GetFileInformationByHandle") + LOADS)
    t.eq(tuple(run.header.get("os", ())), WINDOWS_VERSIONS["winxp"], "Windows version in effect (GetVersionExA)")
    t.boxes(run, [EN[5]])
    first = next((i for i, c in enumerate(run.calls) if c.function in LOADS), 0)
    t.eq([(c.function, bool(c.retval)) for c in run.calls[:first]],
         [("QueryActCtxW", True)] + [("GetFileInformationByHandle", True)] * 2, "the checks before the first load")
    t.content(m, rf"C:\TRV50\{AVC_LIBRARY}", data(new_avc()), "older library replaced")
