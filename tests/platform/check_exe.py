#!/usr/bin/env python3
"""Checks the built TRV60UPDATE.EXE for what lets it run on Windows 95 to 11.

    check_exe.py EXE [MAP]              check the program (and its link map)
    check_exe.py --self-test EXE [MAP]  break copies of it, one fault per
                                        check, and demand that each is caught

Prints one line per check and "N passed, M failed"; exits 1 on any failure.
Imports and header fields are read with the mingw objdump ($OBJDUMP); the
resources are read straight from the file.
"""
import os
import re
import shutil
import struct
import subprocess
import sys
import tempfile

# Everything the program may import: only these DLLs, and only functions
# that Windows 95 already exports.
ALLOWED_DLLS = {"KERNEL32.DLL", "USER32.DLL", "ADVAPI32.DLL", "VERSION.DLL"}
ALLOWED_FUNCTIONS = {
    "GetModuleHandleA", "GetCommandLineA", "GetStartupInfoA", "ExitProcess",
    "GetModuleFileNameA", "OpenMutexA", "CreateMutexA", "CloseHandle",
    "GetLastError", "SetLastError", "IsDBCSLeadByte", "CreateFileA",
    "FormatMessageA", "SetFileAttributesA", "CopyFileA", "DeleteFileA",
    "MoveFileExA", "GetShortPathNameA", "GetVersionExA", "GetWindowsDirectoryA",
    "GetPrivateProfileSectionA", "WritePrivateProfileSectionA",
    "WritePrivateProfileStringA", "GetProcessHeap", "HeapAlloc", "HeapFree",
    "lstrlenA", "RegOpenKeyExA", "RegQueryValueExA", "RegCloseKey",
    "GetFileVersionInfoSizeA", "GetFileVersionInfoA", "VerQueryValueA",
    "LoadStringA", "MessageBoxA", "wsprintfA",
    # The payload digests of a release build.
    "ReadFile", "FindResourceA", "LoadResource", "LockResource", "SizeofResource",
}
C_RUNTIMES = re.compile(r"msvcr|msvcp|ucrt|api-ms-win-crt|libgcc|libstdc|libwinpthread|mingwm", re.I)
SIZE_LIMIT = 16384

ENGLISH, JAPANESE = 1033, 1041
RT_ICON, RT_STRING, RT_GROUP_ICON, RT_VERSION = 3, 6, 14, 16
ICON_GROUP = 101
# Texts whose exact bytes show that the string tables kept their encoding
# and their escapes through the resource compiler.
EXPECTED_TEXTS = {
    (ENGLISH, 5): "Update was succeeded.",
    (JAPANESE, 5): "アップデートが終了しました",
    (JAPANESE, 4): "ファイルのコピーができません。\nTRAVEN-60を使用しているアプリケーションを\n停止し再度実行してください。",
}
VERSION_STRINGS = {
    "Comments": "",
    "CompanyName": "Quenvor",
    "FileDescription": "TRAVEN-60 Ver.3.30 Update for PELLAXION-ZEL2",
    "FileVersion": "1.01.002",
    "InternalName": "Update",
    "LegalCopyright": "Copyright (C) Quenvor",
    "LegalTrademarks": "",
    "OriginalFilename": "UPDATE.exe",
    "PrivateBuild": "",
    "ProductName": "PELLAXION-ZEL2",
    "ProductVersion": "2.00",
    "SpecialBuild": "",
}
STRING_TABLE_KEYS = ("040904b0", "041104b0")
TRANSLATIONS = [0x0409, 1200, 0x0411, 1200]
# dwFileVersionMS/LS, dwProductVersionMS/LS, dwFileOS, dwFileType
FIXED_INFO = {"file version": (0x00010001, 0x00000002), "product version": (0x00020000, 0),
              "FILEOS": 0x4, "FILETYPE": 1}  # VOS__WINDOWS32, VFT_APP

OBJDUMP = os.environ.get("OBJDUMP", "i686-w64-mingw32-objdump")


class Bad(Exception):
    """A check's finding."""


# ---- reading the file ------------------------------------------------------

def objdump(path):
    result = subprocess.run([OBJDUMP, "-p", path], capture_output=True, text=True)
    if result.returncode != 0:
        raise Bad(f"objdump cannot read it: {result.stderr.strip()}")
    return result.stdout


def header_field(dump, name):
    match = re.search(rf"^{name}\s+(\S+)", dump, re.M)
    if not match:
        raise Bad(f"objdump shows no {name}")
    return match.group(1)


def imports(dump):
    """{dll: [function, ...]} from objdump's import tables."""
    table, dll = {}, None
    for line in dump.splitlines():
        match = re.match(r"\s*DLL Name: (\S+)", line)
        if match:
            dll = match.group(1)
            table[dll] = []
        elif dll and re.match(r"\s*[0-9a-f]+\s+\d+\s+\S", line):
            table[dll].append(line.split()[2])
        elif dll and not line.strip():
            dll = None
    return table


class Program:
    """The exe under test, read once; objdump's view is fetched on demand."""

    def __init__(self, exe, link_map):
        self.exe, self.link_map = exe, link_map
        with open(exe, "rb") as handle:
            self.data = handle.read()
        self._dump = None

    @property
    def dump(self):
        if self._dump is None:
            self._dump = objdump(self.exe)
        return self._dump

    @property
    def pe(self):
        return Pe(self.data)


class Pe:
    def __init__(self, data):
        self.data = data
        if data[:2] != b"MZ":
            raise Bad("no MZ header")
        self.pe = struct.unpack_from("<I", data, 0x3C)[0]
        if data[self.pe:self.pe + 4] != b"PE\0\0":
            raise Bad("no PE signature")
        self.coff = self.pe + 4
        count, optional_size = struct.unpack_from("<H12xH", data, self.coff + 2)
        self.optional = self.coff + 20
        table = self.optional + optional_size
        self.sections = [struct.unpack_from("<8sIIII", data, table + 40 * i) for i in range(count)]
        rva, _ = struct.unpack_from("<II", data, self.optional + 96 + 8 * 2)
        self.rsrc = rva

    def offset(self, rva):
        for _, vsize, vaddr, rawsize, rawptr in self.sections:
            if vaddr <= rva < vaddr + max(vsize, rawsize):
                return rawptr + rva - vaddr
        raise Bad(f"RVA {rva:#x} lies in no section")

    def resources(self):
        """{(type, name, language): (file offset, size)}"""
        if not self.rsrc:
            raise Bad("no resource section")
        base, found = self.offset(self.rsrc), {}

        def walk(directory, path):
            named, numbered = struct.unpack_from("<12xHH", self.data, base + directory)
            for i in range(named + numbered):
                ident, target = struct.unpack_from("<II", self.data, base + directory + 16 + 8 * i)
                key = path + (ident if not ident & 0x80000000 else f"#{ident:x}",)
                if target & 0x80000000:
                    walk(target & 0x7FFFFFFF, key)
                else:
                    rva, size = struct.unpack_from("<II", self.data, base + target)
                    found[key] = (self.offset(rva), size)
        walk(0, ())
        return found

    def resource(self, kind, name, language=None):
        for (k, n, lang), (offset, size) in self.resources().items():
            if k == kind and n == name and language in (None, lang):
                return self.data[offset:offset + size]
        raise Bad(f"no resource type {kind} name {name}" + (f" language {language}" if language else ""))


def strings_of_block(block):
    """The 16 strings of one RT_STRING block."""
    texts, at = [], 0
    for _ in range(16):
        (length,) = struct.unpack_from("<H", block, at)
        texts.append(block[at + 2:at + 2 + 2 * length].decode("utf-16-le"))
        at += 2 + 2 * length
    return texts


def version_tree(data, at=0):
    """(key, value bytes, value type, children) of one VS_VERSIONINFO node."""
    length, value_length, kind = struct.unpack_from("<HHH", data, at)
    end = data.index(b"\0\0", at + 6)
    while (end - at - 6) % 2:  # the terminator of a UTF-16 string
        end = data.index(b"\0\0", end + 1)
    key = data[at + 6:end].decode("utf-16-le")
    cursor = (end + 2 + 3) & ~3
    value_size = value_length * 2 if kind == 1 else value_length
    value = data[cursor:cursor + value_size]
    cursor = (cursor + value_size + 3) & ~3
    children = []
    while cursor < at + length:
        child = version_tree(data, cursor)
        children.append(child)
        cursor = (cursor + child[4] + 3) & ~3
    return key, value, kind, children, length


# ---- the checks ------------------------------------------------------------

def check_pe32_i386(program):
    if not re.search(r"file format pei-i386", program.dump):
        raise Bad("not pei-i386")
    if header_field(program.dump, "Magic") != "010b":
        raise Bad("optional header is not PE32")
    return "pei-i386, PE32"


def check_subsystem(program):
    found = (header_field(program.dump, "Subsystem"), header_field(program.dump, "MajorSubsystemVersion"),
             header_field(program.dump, "MinorSubsystemVersion"))
    if found != ("00000002", "4", "0"):
        raise Bad(f"subsystem {found[0]} version {found[1]}.{found[2]}, want GUI (2) 4.0")
    return "Windows GUI 4.0"


def check_os_version(program):
    found = (header_field(program.dump, "MajorOSystemVersion"), header_field(program.dump, "MinorOSystemVersion"))
    if found != ("4", "0"):
        raise Bad(f"{found[0]}.{found[1]}, want 4.0")
    return "4.0"


def check_import_dlls(program):
    dlls = imports(program.dump)
    stray = sorted(d for d in dlls if d.upper() not in ALLOWED_DLLS)
    if stray or not dlls:
        raise Bad(f"not allowed: {', '.join(stray) or 'no import table at all'}")
    return ", ".join(sorted(dlls))


def check_import_functions(program):
    table = imports(program.dump)
    stray = sorted(f"{d}!{f}" for d, fs in table.items() for f in fs if f not in ALLOWED_FUNCTIONS)
    if stray:
        raise Bad(f"not allowed: {', '.join(stray)}")
    return f"{sum(map(len, table.values()))} functions, all allowed"


def check_no_c_runtime(program):
    runtimes = [d for d in imports(program.dump) if C_RUNTIMES.search(d)]
    if runtimes:
        raise Bad(f"imports {', '.join(runtimes)}")
    return "none imported"


def signature_size(data):
    """Bytes of the Authenticode certificate table that signing appends after
    the image (data directory 4 holds its file offset and size); 0 unsigned."""
    optional = struct.unpack_from("<I", data, 0x3C)[0] + 24
    offset, size = struct.unpack_from("<II", data, optional + 96 + 8 * 4)
    return size if offset and offset + size == len(data) else 0


def check_size(program):
    # The limit is the program's: a signature is not part of the image that
    # Windows loads, and Windows 95 ignores it.
    signature = signature_size(program.data)
    size = len(program.data) - signature
    if size >= SIZE_LIMIT:
        raise Bad(f"{size} bytes, limit {SIZE_LIMIT}")
    signed = f", plus a signature of {signature} bytes" if signature else ""
    return f"{size} bytes (limit {SIZE_LIMIT}){signed}"


def check_string_tables(program):
    blocks = {}
    for language in (ENGLISH, JAPANESE):
        # Ids 1 to 15 live in block 1.
        blocks[language] = strings_of_block(program.pe.resource(RT_STRING, 1, language))
    for (language, ident), want in EXPECTED_TEXTS.items():
        got = blocks[language][ident]
        if got != want:
            raise Bad(f"language {language} id {ident} reads {got!r}, want {want!r}")
    return "English and Japanese, texts intact"


def check_version_resource(program):
    key, fixed, _, children, _ = version_tree(program.pe.resource(RT_VERSION, 1, ENGLISH))
    if key != "VS_VERSION_INFO" or len(fixed) != 52:
        raise Bad("no VS_FIXEDFILEINFO")
    fields = struct.unpack("<13I", fixed)
    got = {"file version": fields[2:4], "product version": fields[4:6],
           "FILEOS": fields[8], "FILETYPE": fields[9]}
    for name, want in FIXED_INFO.items():
        if got[name] != want:
            raise Bad(f"{name} is {got[name]}, want {want}")
    parts = {child[0]: child for child in children}
    tables = {table[0]: {k: v.decode("utf-16-le").rstrip("\0") for k, v, *_ in table[3]}
              for table in parts["StringFileInfo"][3]} if "StringFileInfo" in parts else {}
    if sorted(tables) != sorted(STRING_TABLE_KEYS):
        raise Bad(f"string tables {sorted(tables)}, want {list(STRING_TABLE_KEYS)}")
    for name, strings in tables.items():
        if strings != VERSION_STRINGS:
            wrong = sorted(set(strings.items()) ^ set(VERSION_STRINGS.items()))
            raise Bad(f"{name} differs: {wrong}")
    var = {child[0]: child[1] for child in parts.get("VarFileInfo", ("", b"", 0, []))[3]}
    translations = list(struct.unpack(f"<{len(var.get('Translation', b'')) // 2}H", var.get("Translation", b"")))
    if translations != TRANSLATIONS:
        raise Bad(f"Translation {translations}, want {TRANSLATIONS}")
    return "1.1.0.2 / 2.0.0.0, application, both string tables exact"


def check_icon(program):
    group = program.pe.resource(RT_GROUP_ICON, ICON_GROUP)
    _, kind, count = struct.unpack_from("<HHH", group)
    entries = [struct.unpack_from("<BBBBHHIH", group, 6 + 14 * i) for i in range(count)]
    sizes = sorted((e[0], e[1]) for e in entries)
    if kind != 1 or sizes != [(16, 16), (32, 32)]:
        raise Bad(f"group {ICON_GROUP} holds sizes {sizes}, want 32x32 and 16x16")
    for width, height, colours, _, _, bits, _, ident in entries:
        image = program.pe.resource(RT_ICON, ident)
        _, dib_width, dib_height, _, dib_bits = struct.unpack_from("<IiiHH", image)
        if (colours, bits, dib_bits, dib_width, dib_height) != (16, 4, 4, width, 2 * height):
            raise Bad(f"{width}x{height} image is not a 16-colour bitmap of that size")
    return "group 101: 32x32 and 16x16, 16 colours"


def check_no_static_constructors(program):
    # Without the C runtime nobody runs .ctors: such an object would stay
    # zero-filled without a word.
    with open(program.link_map) as text:
        found = re.findall(r"^ (\.[cd]tors(?:\.\d+)?)\s+0x[0-9a-f]+\s+0x([0-9a-f]+)\s+(\S+)", text.read(), re.M)
    users = sorted({source for _, size, source in found if int(size, 16)})
    if users:
        raise Bad(f"static constructors or destructors in {', '.join(users)}")
    return "none linked"


CHECKS = [
    ("PE32 i386", check_pe32_i386),
    ("subsystem GUI 4.0", check_subsystem),
    ("OS version 4.0", check_os_version),
    ("import DLLs", check_import_dlls),
    ("import functions", check_import_functions),
    ("no C runtime", check_no_c_runtime),
    ("size", check_size),
    ("string tables", check_string_tables),
    ("version resource", check_version_resource),
    ("icon", check_icon),
    ("no static constructors", check_no_static_constructors),
]


def run_checks(exe, link_map, quiet=False):
    """Names of the failed checks."""
    program = Program(exe, link_map)
    failed = []
    for name, check in CHECKS:
        if check is check_no_static_constructors and not link_map:
            continue
        try:
            detail, ok = check(program), True
        except Bad as finding:
            detail, ok = str(finding), False
        except (struct.error, ValueError, KeyError, IndexError, UnicodeDecodeError) as error:
            detail, ok = f"unreadable: {type(error).__name__}: {error}", False
        if not ok:
            failed.append(name)
        if not quiet:
            print(f"{'PASS' if ok else 'FAIL'}  {name}: {detail}")
    return failed


# ---- the self-test: every check must catch its own fault -------------------

def patch(data, old, new, what):
    at = data.find(old)
    if at < 0:
        raise Bad(f"cannot plant {what}: {old!r} not found")
    return data[:at] + new + data[at + len(old):]


def plant_unicode_import(data, dump):
    # The likeliest slip: a "W" entry point, which Windows 95 only stubs.
    name = next(f for fs in imports(dump).values() for f in fs if f.endswith("A"))
    return patch(data, name.encode() + b"\0", name[:-1].encode() + b"W\0", "a W import")


def field(data, offset, fmt, *values):
    return data[:offset] + struct.pack(fmt, *values) + data[offset + struct.calcsize(fmt):]


def mutants(program):
    """(what, the check that must fail, broken exe bytes, a line for the map or None)"""
    data, dump, pe = program.data, program.dump, program.pe
    opt = pe.optional
    resources = pe.resources()
    icon = next(v for (k, n, _), v in resources.items() if k == RT_GROUP_ICON and n == ICON_GROUP)
    ctor = " .ctors         0x00402558        0x4 CMakeFiles/updater.dir/objects.a(run.cpp.obj)\n"
    return [
        ("machine AMD64", "PE32 i386", field(data, pe.coff, "<H", 0x8664), None),
        ("console subsystem", "subsystem GUI 4.0", field(data, opt + 68, "<H", 3), None),
        ("subsystem version 5.0", "subsystem GUI 4.0", field(data, opt + 48, "<H", 5), None),
        ("OS version 5.0", "OS version 4.0", field(data, opt + 40, "<H", 5), None),
        ("USER32 renamed msvcrt", "import DLLs", patch(data, b"USER32.dll", b"msvcrt.dll", "msvcrt"), None),
        ("USER32 renamed msvcrt", "no C runtime", patch(data, b"USER32.dll", b"msvcrt.dll", "msvcrt"), None),
        ("an A import made W", "import functions", plant_unicode_import(data, dump), None),
        ("padding to the limit", "size", data + bytes(max(1, SIZE_LIMIT - len(data))), None),
        ("Japanese text mangled", "string tables",
         patch(data, "アップデートが終了".encode("utf-16-le"), "?".encode("utf-16-le") * 9, "ja"), None),
        ("company name changed", "version resource",
         patch(data, "Quenvor".encode("utf-16-le"), "Quenvar".encode("utf-16-le"), "company"), None),
        ("file version 1.1.0.3", "version resource",
         patch(data, struct.pack("<II", 0x00010001, 2), struct.pack("<II", 0x00010001, 3), "version"), None),
        ("32x32 entry made 48x48", "icon", field(data, icon[0] + 6, "<BB", 48, 48), None),
        ("a static constructor", "no static constructors", data, ctor),
    ]


def self_test(exe, link_map):
    failures = run_checks(exe, link_map, quiet=True)
    if failures:
        print(f"FAIL  the unbroken program must pass first; failing: {', '.join(failures)}")
        return 1
    try:
        cases = mutants(Program(exe, link_map))
    except Bad as finding:
        print(f"FAIL  {finding}")
        return 1
    passed = failed = 0
    work = tempfile.mkdtemp()
    try:
        broken_exe = os.path.join(work, "broken.exe")
        broken_map = os.path.join(work, "broken.map")
        for what, check, exe_bytes, map_extra in cases:
            with open(broken_exe, "wb") as handle:
                handle.write(exe_bytes)
            if link_map:
                with open(link_map) as source, open(broken_map, "w") as target:
                    text = source.read()
                    if map_extra:
                        text = text.replace(" *(.ctors)\n", " *(.ctors)\n" + map_extra, 1)
                    target.write(text)
            elif map_extra:
                continue
            caught = check in run_checks(broken_exe, broken_map if link_map else None, quiet=True)
            print(f"{'PASS' if caught else 'FAIL'}  {what}: {'caught' if caught else 'missed'} by '{check}'")
            passed, failed = passed + caught, failed + (not caught)
    finally:
        shutil.rmtree(work)
    print(f"{passed} passed, {failed} failed")
    return 1 if failed else 0


def main(argv):
    testing = argv[:1] == ["--self-test"]
    args = argv[1:] if testing else argv
    if not 1 <= len(args) <= 2:
        sys.exit(__doc__)
    exe, link_map = args[0], args[1] if len(args) == 2 else None
    if testing:
        return self_test(exe, link_map)
    failed = run_checks(exe, link_map)
    print(f"{len(CHECKS) - (0 if link_map else 1) - len(failed)} passed, {len(failed)} failed")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
