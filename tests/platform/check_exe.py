#!/usr/bin/env python3
"""Checks the built updater for what lets it run on Windows 95 to 11.

    check_exe.py EXE [MAP]              check the program (and its link map)
    check_exe.py --self-test EXE [MAP]  break copies of it, one fault per
                                        check, and demand that each is caught

Prints one line per check and "N passed, M failed"; exits 1 on any failure.
The file is read with pefile (Debian: python3-pefile). The functions it may
import are the ones tests/simwin/win32_api.h declares for the logic, each
under its DLL, and the few that only the entry point, src/main/entry.cpp,
calls.
"""
import os
import re
import shutil
import struct
import sys
import tempfile
import xml.dom.minidom
from pathlib import Path

try:
    import pefile
except ImportError:
    # Debian's python3-pefile lives where a Python other than Debian's own
    # (pyenv, a virtual environment) does not look.
    sys.path.append("/usr/lib/python3/dist-packages")
    try:
        import pefile
    except ImportError:
        sys.exit("check_exe.py needs pefile: apt-get install python3-pefile")

ROOT = Path(__file__).resolve().parents[2]
API_HEADER = ROOT / "tests" / "simwin" / "win32_api.h"
STARTUP_SOURCE = ROOT / "src" / "main" / "entry.cpp"

# Only these DLLs: Windows 95 has them, and the loader always takes them
# from the system. VERSION.DLL is not a known DLL: imported by name it would
# be looked for in the program's folder first. USER32 is a known DLL, but
# on 2000 and XP, loaded as an import, it loads LPK.DLL by name before the
# program can keep its own folder out of the search.
ALLOWED_DLLS = ("KERNEL32.DLL", "ADVAPI32.DLL")
# Declared in win32_api.h for the logic, but loaded at run time by full path.
RUN_TIME_DLLS = ("USER32.DLL",)
# Called by the entry point alone, never by the logic, so the simulated
# Windows does not declare them.
STARTUP_ONLY = {"KERNEL32.DLL": {"GetCommandLineA", "GetStartupInfoA", "ExitProcess"}}
# Looked up at run time with GetProcAddress, never imported: the version
# functions of the system's VERSION.DLL and USER32's two, the KERNEL32
# functions that some systems lack (nothing shows that Windows 95 has
# FormatMessageW) and NTDLL's file calls (NtCreateFile, NtSetInformationFile,
# RtlNtStatusToDosError), which the 9x family lacks; and the libraries loaded
# by full path before the first box.
RUN_TIME_NAMES = ("VERSION.DLL", "GetFileVersionInfoSizeA", "GetFileVersionInfoA", "VerQueryValueA",
                  "user32.dll", "MessageBoxA", "LoadStringA", "SetDefaultDllDirectories", "SetDllDirectoryA",
                  "FormatMessageW", "QueryActCtxW", "NtCreateFile", "NtSetInformationFile", "RtlNtStatusToDosError",
                  "lpk.dll", "usp10.dll", "dwmapi.dll", "msimg32.dll", "uxtheme.dll")
C_RUNTIMES = re.compile(r"msvcr|msvcp|ucrt|api-ms-win-crt|libgcc|libstdc|libwinpthread|mingwm", re.I)
# 19 KB, plain and release alike (the code generated at link time, and a
# release's records trimmed to their texts, keep the two in one size). The
# limit was 16,384 bytes plain and 16,896 with digests; then the payloads
# came to be held from the first box to the end of the run and deleted
# through their holds, each library's working paths its own, USER32 loaded
# at run time after LPK.DLL and USP10.DLL, the activation context checked
# before it (17,408); since then, on the NT family, every file of the kit and
# of each installation is reached relative to a folder's handle taken before
# the first box (NTDLL's NtCreateFile and NtSetInformationFile, about 2 KB of
# code), nothing goes to the restart read-only, and a .local redirection and
# a foreign manifest, compared as files, end the run: four 512-byte pages
# more.
SIZE_LIMIT = 19456

ENGLISH, JAPANESE = 1033, 1041
RT_ICON, RT_STRING, RT_GROUP_ICON, RT_VERSION, RT_MANIFEST = 3, 6, 14, 16, 24
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

# The application manifest.
ASM_V1 = "urn:schemas-microsoft-com:asm.v1"
# trustInfo must name its own namespace: Windows XP knows it under asm.v2,
# Vista and later under asm.v2 and asm.v3.
TRUST_NAMESPACES = ("urn:schemas-microsoft-com:asm.v2", "urn:schemas-microsoft-com:asm.v3")
ASM_V3 = "urn:schemas-microsoft-com:asm.v3"
COMPATIBILITY = "urn:schemas-microsoft-com:compatibility.v1"
WINDOWS_SETTINGS = "http://schemas.microsoft.com/SMI/2005/WindowsSettings"
SUPPORTED_OS = {
    "{e2011457-1546-43c5-a5fe-008deee3d3f0}": "Vista",
    "{35138b9a-5d96-4fbd-8e2d-a2440225f93a}": "7",
    "{4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38}": "8",
    "{1f676c76-80e1-4239-95bb-83d0f6d0da78}": "8.1",
    "{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}": "10/11",
}


class Bad(Exception):
    """A check's finding."""


# ---- what the program may import --------------------------------------------

def declared_imports(header_text):
    """{DLL: {function}} from win32_api.h, whose declarations stand in groups
    headed by a comment naming their DLL ("// kernel32")."""
    table, dll = {}, None
    for number, line in enumerate(header_text.splitlines(), 1):
        group = re.match(r"// (\w+)(?::.*)?$", line)
        if group:
            dll = group.group(1).upper() + ".DLL"
            table.setdefault(dll, set())
            continue
        declared = re.search(r"\bWINAPI\s+(\w+)\s*\(", line)
        if declared:
            if dll is None:
                raise Bad(f"win32_api.h line {number}: {declared.group(1)} declared before any DLL group")
            table[dll].add(declared.group(1))
    return table


def startup_calls():
    """The start-up-only functions, each of which the start-up must really call."""
    text = STARTUP_SOURCE.read_text()
    for dll, functions in STARTUP_ONLY.items():
        for function in functions:
            if not re.search(rf"\b{function}\s*\(", text):
                raise Bad(f"{function} is listed as called by the entry point, but src/main/entry.cpp never calls it")
    return STARTUP_ONLY


def allowed_imports():
    """{DLL: {function}}: the logic's declarations and the start-up's calls."""
    allowed = {dll: set(functions) for dll, functions in declared_imports(API_HEADER.read_text()).items()}
    for dll, functions in startup_calls().items():
        allowed.setdefault(dll, set()).update(functions)
    stray = sorted(dll for dll, functions in allowed.items()
                   if functions and dll not in ALLOWED_DLLS + RUN_TIME_DLLS)
    if stray:
        raise Bad(f"win32_api.h declares functions of {', '.join(stray)}, which the program may not import")
    return allowed


# ---- reading the file ------------------------------------------------------

def parse(data):
    try:
        return pefile.PE(data=bytes(data))
    except pefile.PEFormatError as error:
        raise Bad(f"not a PE file: {error}")


class Program:
    """The exe under test, read once."""

    def __init__(self, exe, link_map):
        self.exe, self.link_map = exe, link_map
        with open(exe, "rb") as handle:
            self.data = handle.read()
        self.pe = parse(self.data)

    def imports(self):
        """{dll as named: [function, ...]}, gathered over every descriptor naming the DLL."""
        table = {}
        for entry in getattr(self.pe, "DIRECTORY_ENTRY_IMPORT", []):
            table.setdefault(entry.dll.decode(), []).extend(
                imp.name.decode() if imp.name else f"#{imp.ordinal}" for imp in entry.imports)
        return table

    def resources(self):
        """{(type, name, language): resource data entry}"""
        if not hasattr(self.pe, "DIRECTORY_ENTRY_RESOURCE"):
            raise Bad("no resource section")
        found = {}
        for kind in self.pe.DIRECTORY_ENTRY_RESOURCE.entries:
            for name in kind.directory.entries:
                for language in name.directory.entries:
                    found[(kind.id, name.id, language.id)] = language.data.struct
        return found

    def resource(self, kind, name, language=None):
        for (k, n, lang), entry in self.resources().items():
            if k == kind and n == name and language in (None, lang):
                return self.pe.get_data(entry.OffsetToData, entry.Size)
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


def manifest(program):
    """The manifest as a DOM with its namespaces resolved."""
    text = program.resource(RT_MANIFEST, 1)
    try:
        return xml.dom.minidom.parseString(text)
    except Exception as error:  # expat raises its own ExpatError, and others on bad encodings
        raise Bad(f"the manifest does not parse: {error}")


def one_path(document, *steps):
    """The elements at the end of a path of (namespace, name) steps from the root."""
    found = [document.documentElement]
    for namespace, name in steps:
        found = [c for e in found for c in e.childNodes
                 if c.nodeType == c.ELEMENT_NODE and c.namespaceURI == namespace and c.localName == name]
    return found


# ---- the checks ------------------------------------------------------------

def check_pe32_i386(program):
    if program.pe.FILE_HEADER.Machine != 0x14C:
        raise Bad(f"machine {program.pe.FILE_HEADER.Machine:#x}, not i386")
    if program.pe.OPTIONAL_HEADER.Magic != 0x10B:
        raise Bad("optional header is not PE32")
    return "i386, PE32"


def check_subsystem(program):
    header = program.pe.OPTIONAL_HEADER
    found = (header.Subsystem, header.MajorSubsystemVersion, header.MinorSubsystemVersion)
    if found != (2, 4, 0):
        raise Bad(f"subsystem {found[0]} version {found[1]}.{found[2]}, want GUI (2) 4.0")
    return "Windows GUI 4.0"


def check_os_version(program):
    header = program.pe.OPTIONAL_HEADER
    found = (header.MajorOperatingSystemVersion, header.MinorOperatingSystemVersion)
    if found != (4, 0):
        raise Bad(f"{found[0]}.{found[1]}, want 4.0")
    return "4.0"


def check_import_dlls(program):
    dlls = program.imports()
    if any(d.upper() == "VERSION.DLL" for d in dlls):
        raise Bad("VERSION.dll is imported statically: Windows would look for it in the program's folder first")
    stray = sorted(d for d in dlls if d.upper() not in ALLOWED_DLLS)
    if stray or not dlls:
        raise Bad(f"not allowed: {', '.join(stray) or 'no import table at all'}")
    return ", ".join(sorted(dlls))


def check_import_functions(program):
    allowed = allowed_imports()
    table = program.imports()
    stray = sorted(f"{d}!{f}" for d, fs in table.items() for f in fs if f not in allowed.get(d.upper(), ()))
    looked_up = [f for f in stray if f.split("!")[1] in RUN_TIME_NAMES]
    if looked_up:
        raise Bad(f"imported, where some systems lack them and the program would not load: {', '.join(looked_up)}")
    if stray:
        raise Bad(f"not declared in win32_api.h under that DLL, nor called by the start-up alone: {', '.join(stray)}")
    return f"{sum(map(len, table.values()))} functions, each declared for the logic or the start-up"


def check_no_c_runtime(program):
    runtimes = [d for d in program.imports() if C_RUNTIMES.search(d)]
    if runtimes:
        raise Bad(f"imports {', '.join(runtimes)}")
    return "none imported"


def check_run_time_names(program):
    # The names handed to LoadLibraryExA and GetProcAddress, as terminated strings.
    missing = [name for name in RUN_TIME_NAMES if name.encode() + b"\0" not in program.data]
    if missing:
        raise Bad(f"not in the image: {', '.join(missing)}")
    return ", ".join(RUN_TIME_NAMES[1:]) + " looked up"


def signature_size(data):
    """Bytes of the Authenticode certificate table that signing appends after
    the image (the security data directory holds its file offset and size);
    0 unsigned."""
    pe = pefile.PE(data=data, fast_load=True)
    entry = pe.OPTIONAL_HEADER.DATA_DIRECTORY[pefile.DIRECTORY_ENTRY["IMAGE_DIRECTORY_ENTRY_SECURITY"]]
    offset, size = entry.VirtualAddress, entry.Size
    return size if offset and offset + size == len(data) else 0


def check_size(program):
    # The limit is the program's: a signature is not part of the image that
    # Windows loads, and Windows 95 ignores it.
    signature = signature_size(program.data)
    size = len(program.data) - signature
    if size > SIZE_LIMIT:
        raise Bad(f"{size} bytes, limit {SIZE_LIMIT}")
    signed = f", plus a signature of {signature} bytes" if signature else ""
    return f"{size} bytes (limit {SIZE_LIMIT}){signed}"


def check_string_tables(program):
    blocks = {}
    for language in (ENGLISH, JAPANESE):
        # Ids 1 to 15 live in block 1.
        blocks[language] = strings_of_block(program.resource(RT_STRING, 1, language))
    for (language, ident), want in EXPECTED_TEXTS.items():
        got = blocks[language][ident]
        if got != want:
            raise Bad(f"language {language} id {ident} reads {got!r}, want {want!r}")
    return "English and Japanese, texts intact"


def check_version_resource(program):
    key, fixed, _, children, _ = version_tree(program.resource(RT_VERSION, 1, ENGLISH))
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
    group = program.resource(RT_GROUP_ICON, ICON_GROUP)
    _, kind, count = struct.unpack_from("<HHH", group)
    entries = [struct.unpack_from("<BBBBHHIH", group, 6 + 14 * i) for i in range(count)]
    sizes = sorted((e[0], e[1]) for e in entries)
    if kind != 1 or sizes != [(16, 16), (32, 32)]:
        raise Bad(f"group {ICON_GROUP} holds sizes {sizes}, want 32x32 and 16x16")
    for width, height, colours, _, _, bits, _, ident in entries:
        image = program.resource(RT_ICON, ident)
        _, dib_width, dib_height, _, dib_bits = struct.unpack_from("<IiiHH", image)
        if (colours, bits, dib_bits, dib_width, dib_height) != (16, 4, 4, width, 2 * height):
            raise Bad(f"{width}x{height} image is not a 16-colour bitmap of that size")
    return "group 101: 32x32 and 16x16, 16 colours"


def check_manifest_form(program):
    document = manifest(program)
    for element in document.getElementsByTagName("*"):
        declared = [a for a in element.attributes.keys() if a == "xmlns" or a.startswith("xmlns:")]
        # Windows XP SP2 restarts the machine on an element that declares
        # one namespace twice: as the default and under a prefix.
        if len(declared) > 1 or element.prefix or any(a.startswith("xmlns:") for a in declared):
            raise Bad(f"<{element.tagName}> declares {', '.join(declared) or 'a prefix'}: "
                      "one default namespace per element, no prefixes")
    root = document.documentElement
    if (root.namespaceURI, root.localName, root.getAttribute("manifestVersion")) != (ASM_V1, "assembly", "1.0"):
        raise Bad(f"root <{root.tagName}> is not an asm.v1 assembly of manifestVersion 1.0")
    identity = one_path(document, (ASM_V1, "assemblyIdentity"))
    if len(identity) != 1 or not all(identity[0].getAttribute(a) for a in ("type", "name", "version")):
        raise Bad("the assembly has no identity of its own with type, name and version")
    # Windows XP refuses to start a program whose trustInfo has no namespace.
    trust = [c for c in root.childNodes if c.nodeType == c.ELEMENT_NODE and c.localName == "trustInfo"]
    if not trust or any(t.getAttribute("xmlns") not in TRUST_NAMESPACES for t in trust):
        raise Bad("trustInfo missing or without a namespace of its own (asm.v2 or asm.v3)")
    return f"{len(program.resource(RT_MANIFEST, 1))} bytes, one default namespace per element"


def check_manifest_elevation(program):
    document = manifest(program)
    levels = [e for ns in TRUST_NAMESPACES
              for e in one_path(document, (ns, "trustInfo"), (ns, "security"), (ns, "requestedPrivileges"),
                                (ns, "requestedExecutionLevel"))]
    got = [(e.getAttribute("level"), e.getAttribute("uiAccess")) for e in levels]
    if got != [("requireAdministrator", "false")]:
        raise Bad(f"requestedExecutionLevel {got}, want requireAdministrator without uiAccess")
    return "requireAdministrator, uiAccess false"


def check_manifest_supported_os(program):
    document = manifest(program)
    ids = {e.getAttribute("Id").lower()
           for e in one_path(document, (COMPATIBILITY, "compatibility"), (COMPATIBILITY, "application"),
                             (COMPATIBILITY, "supportedOS"))}
    missing = [name for guid, name in SUPPORTED_OS.items() if guid not in ids]
    if missing:
        raise Bad(f"no supportedOS for Windows {', '.join(missing)}")
    return "Vista, 7, 8, 8.1, 10/11"


def check_manifest_dpi_aware(program):
    document = manifest(program)
    found = one_path(document, (ASM_V3, "application"), (ASM_V3, "windowsSettings"), (WINDOWS_SETTINGS, "dpiAware"))
    values = ["".join(t.data for t in e.childNodes if t.nodeType == t.TEXT_NODE).strip().lower() for e in found]
    if values != ["true"]:
        raise Bad(f"dpiAware {values}, want true")
    return "dpiAware true"


def check_manifest_no_dependency(program):
    # On Windows 7 and later a dependent assembly's files are taken from a
    # TRV60UPDATE.EXE.local folder beside the program before WinSxS.
    found = [e.getAttribute("name") or "?" for e in manifest(program).getElementsByTagName("*")
             if e.localName in ("dependency", "dependentAssembly")]
    if found:
        raise Bad(f"dependencies that a .local folder beside the program can serve: {found}")
    return "none"


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
    ("run-time lookups", check_run_time_names),
    ("size", check_size),
    ("string tables", check_string_tables),
    ("version resource", check_version_resource),
    ("icon", check_icon),
    ("manifest form", check_manifest_form),
    ("manifest elevation", check_manifest_elevation),
    ("manifest supported OS", check_manifest_supported_os),
    ("manifest DPI awareness", check_manifest_dpi_aware),
    ("manifest dependencies", check_manifest_no_dependency),
    ("no static constructors", check_no_static_constructors),
]


def run_checks(exe, link_map, quiet=False):
    """Names of the failed checks."""
    try:
        program = Program(exe, link_map)
    except Bad as finding:
        if not quiet:
            print(f"FAIL  reading the file: {finding}")
        return [name for name, _ in CHECKS]
    failed = []
    for name, check in CHECKS:
        if check is check_no_static_constructors and not link_map:
            continue
        try:
            detail, ok = check(program), True
        except Bad as finding:
            detail, ok = str(finding), False
        except (struct.error, ValueError, KeyError, IndexError, UnicodeDecodeError, pefile.PEFormatError) as error:
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


def plant_unicode_import(program):
    # The likeliest slip: a "W" entry point, which Windows 95 only stubs.
    allowed = {f for fs in allowed_imports().values() for f in fs}
    name = next(f for fs in program.imports().values() for f in fs if f.endswith("A") and f[:-1] + "W" not in allowed)
    return patch(program.data, name.encode() + b"\0", name[:-1].encode() + b"W\0", "a W import")


def field(data, offset, fmt, *values):
    return data[:offset] + struct.pack(fmt, *values) + data[offset + struct.calcsize(fmt):]


def with_manifest(program, text, what):
    """The program with another manifest: the new text goes at the end of the
    last section, which grows to hold it, and the manifest's data entry
    points there."""
    pe = parse(program.data)
    entries = [lang.data.struct for kind in pe.DIRECTORY_ENTRY_RESOURCE.entries if kind.id == RT_MANIFEST
               for name in kind.directory.entries if name.id == 1 for lang in name.directory.entries]
    last = pe.sections[-1]
    if len(entries) != 1 or not last.contains_rva(entries[0].OffsetToData):
        raise Bad(f"cannot plant {what}: the manifest is not in the last section")
    new = text.encode()
    file_align, section_align = pe.OPTIONAL_HEADER.FileAlignment, pe.OPTIONAL_HEADER.SectionAlignment
    used = (max(last.Misc_VirtualSize, last.SizeOfRawData) + 3) & ~3
    raw_size = (used + len(new) + file_align - 1) // file_align * file_align
    entries[0].OffsetToData = last.VirtualAddress + used
    entries[0].Size = len(new)
    last.Misc_VirtualSize = used + len(new)
    last.SizeOfRawData = raw_size
    pe.OPTIONAL_HEADER.SizeOfImage = (last.VirtualAddress + raw_size + section_align - 1) // section_align * section_align
    data = bytearray(pe.write())
    start = last.PointerToRawData + used
    data[start:] = new + bytes(raw_size - used - len(new))
    return bytes(data)


def manifest_text(program):
    return program.resource(RT_MANIFEST, 1).decode()


def mutants(program):
    """(what, the check that must fail, broken exe bytes, a line for the map or None)"""
    data, pe = program.data, program.pe
    header = pe.OPTIONAL_HEADER.get_file_offset()
    coff = pe.FILE_HEADER.get_file_offset()
    resources = program.resources()
    icon = pe.get_offset_from_rva(
        next(v for (k, n, _), v in resources.items() if k == RT_GROUP_ICON and n == ICON_GROUP).OffsetToData)
    ctor = " .ctors         0x00402558        0x4 CMakeFiles/updater.dir/objects.a(run.cpp.obj)\n"
    text = manifest_text(program)

    def rewritten(old, new, what):
        if old not in text:
            raise Bad(f"cannot plant {what}: {old!r} not in the manifest")
        return with_manifest(program, text.replace(old, new, 1), what)

    trust_open = '<trustInfo xmlns="urn:schemas-microsoft-com:asm.v2">'
    windows_10 = '<supportedOS Id="{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}"/>'
    return [
        ("machine AMD64", "PE32 i386", field(data, coff, "<H", 0x8664), None),
        ("console subsystem", "subsystem GUI 4.0", field(data, header + 68, "<H", 3), None),
        ("subsystem version 5.0", "subsystem GUI 4.0", field(data, header + 48, "<H", 5), None),
        ("OS version 5.0", "OS version 4.0", field(data, header + 40, "<H", 5), None),
        ("ADVAPI32 renamed msvcrt", "import DLLs", patch(data, b"ADVAPI32.dll", b"msvcrt.dll\0\0", "msvcrt"), None),
        ("ADVAPI32 renamed msvcrt", "no C runtime", patch(data, b"ADVAPI32.dll", b"msvcrt.dll\0\0", "msvcrt"), None),
        ("ADVAPI32 renamed USER32: a load-time USER32", "import DLLs",
         patch(data, b"ADVAPI32.dll", b"USER32.dll\0\0", "USER32"), None),
        ("ADVAPI32 renamed VERSION: a static VERSION import", "import DLLs",
         patch(data, b"ADVAPI32.dll\0", b"VERSION.dll\0\0", "VERSION"), None),
        ("an A import made W", "import functions", plant_unicode_import(program), None),
        ("RegOpenKeyExA imported from KERNEL32", "import functions",
         patch(data, b"ADVAPI32.dll\0", b"KERNEL32.dll\0", "KERNEL32"), None),
        ("FormatMessageA's import made FormatMessageW", "import functions",
         patch(data, b"FormatMessageA\0", b"FormatMessageW\0", "FormatMessageW"), None),
        ("SetDefaultDllDirectories no longer looked up", "run-time lookups",
         patch(data, b"SetDefaultDllDirectories\0", b"SetDefaultDllDirectorieZ\0", "lookup"), None),
        ("padding to the limit", "size", data + bytes(max(1, SIZE_LIMIT + 1 - len(data))), None),
        ("Japanese text mangled", "string tables",
         patch(data, "アップデートが終了".encode("utf-16-le"), "?".encode("utf-16-le") * 9, "ja"), None),
        ("company name changed", "version resource",
         patch(data, "Quenvor".encode("utf-16-le"), "Quenvar".encode("utf-16-le"), "company"), None),
        ("file version 1.1.0.3", "version resource",
         patch(data, struct.pack("<II", 0x00010001, 2), struct.pack("<II", 0x00010001, 3), "version"), None),
        ("32x32 entry made 48x48", "icon", field(data, icon + 6, "<BB", 48, 48), None),
        ("trustInfo's namespace declared twice, as on Windows XP SP2's crash", "manifest form",
         rewritten(trust_open, trust_open[:-1] + ' xmlns:v2="urn:schemas-microsoft-com:asm.v2">',
                   "a doubled namespace"), None),
        ("trustInfo without a namespace", "manifest form", rewritten(trust_open, "<trustInfo>", "no namespace"),
         None),
        ("the manifest filed as type 25", "manifest form",
         field(data, next(e for e in pe.DIRECTORY_ENTRY_RESOURCE.entries if e.id == RT_MANIFEST).struct.get_file_offset(),
               "<I", 25), None),
        ("asInvoker", "manifest elevation",
         rewritten('level="requireAdministrator"', 'level="asInvoker"', "asInvoker"), None),
        ("uiAccess true", "manifest elevation", rewritten('uiAccess="false"', 'uiAccess="true"', "uiAccess"), None),
        ("no Windows 10", "manifest supported OS", rewritten(windows_10, "", "no Windows 10"), None),
        ("dpiAware false", "manifest DPI awareness", rewritten(">true</dpiAware>", ">false</dpiAware>", "dpi"),
         None),
        ("a dependency", "manifest dependencies", rewritten(trust_open, "<dependency/>" + trust_open, "dep"), None),
        ("QueryActCtxW no longer looked up", "run-time lookups",
         patch(data, b"QueryActCtxW\0", b"QueryActCtxZ\0", "lookup"), None),
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
                        # cmake/win32.ld names no .ctors: one would be linked
                        # as an orphan section of its own, at the end.
                        text += "\n.ctors          0x00409000        0x4\n" + map_extra
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
