"""How tools/release signs the updater: with a PFX, with a key behind PKCS#11
(a hardware token, an HSM, or a cloud signer's PKCS#11 module), or with a
command of the publisher's own; then the time stamps, and the verification.

Which Windows checks which signature: Windows 95, 98, Me and NT 4 never
check a program's signature. XP and Vista check the SHA-1 signature; they
cannot check a SHA-256 file digest (Server 2008 SP2, Vista's server, learns
it and nested signatures from its SHA-2 code signing update). Windows 7 and
later check SHA-256 and read a nested signature. The legacy signature is
therefore SHA-1 with the SHA-256 one nested in it.
"""

import os
import re
import shlex
import shutil
import subprocess
import tempfile
from pathlib import Path

SIGNER_NAME = "TRAVEN-60 Update"
# A stamp attempt that hangs (a service that accepts and never answers) is
# given up after this long; osslsigncode itself waits for ever.
STAMP_WAIT_SECONDS = 30
STAMP_ATTEMPTS = 2
COMMAND_EXE = "{exe}"
SYSTEM_CERTIFICATES = "/etc/ssl/certs/ca-certificates.crt"
# A script osslsigncode can sign: the key, its password and the module are
# tried on it before anything is built.
PROBE_SCRIPT = 'Write-Host "TRAVEN-60 release key check"\r\n'
# OpenSSL's error queue: <thread>:error:<code>:<library>:<function>:<reason>:<file>:<line>:
QUEUE_LINE = re.compile(r"^[0-9A-F]+:error:[0-9A-F]+:([^:]*):[^:]*:([^:]*):")
PIN_IN_URI = r"[;?&]pin-value=[^;?&]*"
NOISE = ("Succeeded", "Failed", "Engine \"pkcs11\" set.")
NOISE_STARTS = ("Script file format", "Signature position", "Connecting to", "PE checksum", "Use the \"-t\" option",
                "Unable to set unauthenticated attributes")


class SigningFailed(Exception):
    """The message is the reason, as osslsigncode or the command gave it."""


def reason(output):
    """The lines of a tool's output that say why it failed, the OpenSSL
    error queue cut to its library and reason."""
    found = []
    for line in output.splitlines():
        line = line.strip()
        queued = QUEUE_LINE.match(line)
        if queued:
            line = f"{queued.group(1)}: {queued.group(2)}"
        if line and line not in NOISE and not line.startswith(NOISE_STARTS) and line not in found:
            found.append(line)
    return "; ".join(found) or "no reason given"


def run(cmd, log=None, timeout=None):
    """Runs a tool; its output goes to the log. Returns (ok, output)."""
    try:
        done = subprocess.run(list(map(str, cmd)), capture_output=True, text=True, errors="replace",
                              stdin=subprocess.DEVNULL, timeout=timeout)
        ok, output = done.returncode == 0, done.stdout + done.stderr
    except subprocess.TimeoutExpired:
        ok, output = False, f"no answer within {timeout} s"
    if log:
        with open(log, "a") as out:
            out.write("\n$ " + " ".join(map(str, cmd)) + "\n" + output)
    return ok, output


# ---------------------------------------------------------------- the signers

class KeySigner:
    """osslsigncode with a PFX, or with a certificate and a key behind PKCS#11."""

    def __init__(self, args):
        self.args = args
        if args.sign:
            self.material = ["-pkcs12", args.sign]
            self.what, self.kind = f"the PFX {args.sign}", "a PFX"
        else:
            engine = ["-pkcs11engine", args.pkcs11_engine] if args.pkcs11_engine else []
            self.material = engine + ["-pkcs11module", args.pkcs11_module, "-certs", args.cert,
                                      "-key", args.key]
            # A PIN in the key's URI stays out of every message and record.
            self.what = f"the PKCS#11 key {re.sub(PIN_IN_URI, '', args.key)}"
            self.kind = "a key behind PKCS#11"
        if args.pass_file:
            self.material += ["-readpass", args.pass_file]

    def files(self):
        named = [(self.args.sign, "PFX"), (self.args.pass_file, "--pass-file"), (self.args.cert, "--cert"),
                 (self.args.pkcs11_module, "--pkcs11-module"), (self.args.pkcs11_engine, "--pkcs11-engine")]
        return [(path, what) for path, what in named if path]

    def sign(self, source, target, digest, when, nest, log=None):
        cmd = ["osslsigncode", "sign", *self.material, "-h", digest, "-n", SIGNER_NAME]
        cmd += ["-time", when] if when is not None else []
        ok, output = run(cmd + (["-nest"] if nest else []) + ["-in", source, "-out", target], log)
        if not ok:
            raise SigningFailed(reason(output))

    def probe(self):
        """Signs a small script with the same key: a wrong password, PIN,
        module, key URI or certificate shows here, with its reason."""
        with tempfile.TemporaryDirectory(prefix="release-key-") as folder:
            script = Path(folder) / "probe.ps1"
            script.write_text(PROBE_SCRIPT, newline="")
            self.sign(script, Path(folder) / "signed.ps1", "sha256", None, False)

    def certificates(self, work, log):
        """The certificates to verify against, beside the system's."""
        if not self.args.sign:
            return Path(self.args.cert).read_bytes()
        chain = work / "pfx-certificates.pem"
        ok, output = run(["openssl", "pkcs12", "-in", self.args.sign, "-passin", f"file:{self.args.pass_file}",
                          "-nokeys", "-out", chain], log)
        if not ok:
            raise SigningFailed("reading the certificates of the PFX: " + reason(output))
        return chain.read_bytes()


class CommandSigner:
    """The publisher's own signing command (a cloud signer's client, signtool
    under Wine, ...), run on the executable in place, as Inno Setup's SignTool
    and NSIS's !finalize do."""

    def __init__(self, args):
        self.args = args
        self.words = shlex.split(args.sign_command)
        self.what, self.kind = f"the command {self.words[0]}", "a signing command"

    def files(self):
        return [(self.args.cert, "--cert")] if self.args.cert else []

    def sign(self, source, target, digest, when, nest, log=None):
        shutil.copyfile(source, target)
        ok, output = run([w.replace(COMMAND_EXE, str(target)) for w in self.words], log)
        if not ok:
            raise SigningFailed(f"{self.words[0]}: " + reason(output))

    def probe(self):
        if not shutil.which(self.words[0]):
            raise SigningFailed(f"the signing command {self.words[0]} is not on PATH")

    def certificates(self, work, log):
        return Path(self.args.cert).read_bytes() if self.args.cert else b""


def signer_for(args):
    if args.sign or args.key:
        return KeySigner(args)
    return CommandSigner(args) if args.sign_command else None


# ---------------------------------------------------------------- the whole signature

def check_signer(signer):
    """Everything signing needs, tried before the build. Raises SigningFailed."""
    for path, what in signer.files():
        if not Path(path).is_file():
            raise SigningFailed(f"{what} {path}: no such file")
    signer.probe()


def stamp(exe, index, urls, wait, work, log, say):
    """A time stamp on signature `index`: each URL in turn, each tried twice."""
    failures = {}
    for url in urls:
        for attempt in range(1, STAMP_ATTEMPTS + 1):
            stamped = work / f"stamped-{index}.exe"
            stamped.unlink(missing_ok=True)
            ok, output = run(["osslsigncode", "add", "-ts", url, "-index", index, "-in", exe, "-out", stamped],
                             log, timeout=wait)
            if ok:
                shutil.move(stamped, exe)
                return url
            failures[url] = reason(output)
            say(f"  time stamp from {url}, attempt {attempt} of {STAMP_ATTEMPTS}: {reason(output)}")
    raise SigningFailed(f"no time-stamping service gave a time stamp in {STAMP_ATTEMPTS} attempts each (" +
                        "; ".join(f"{url}: {why}" for url, why in failures.items()) + ")")


def verify(exe, signer, stamped, work, log):
    """The signatures, and their time stamps, are whole, cover this file and
    chain to the signer's certificates or the system's (SSL_CERT_FILE, as
    with OpenSSL, names another file of them)."""
    chain = work / "verify-certificates.pem"
    system = Path(os.environ.get("SSL_CERT_FILE") or SYSTEM_CERTIFICATES)
    chain.write_bytes(signer.certificates(work, log) + (system.read_bytes() if system.is_file() else b""))
    cmd = ["osslsigncode", "verify", "-in", exe, "-CAfile", chain] + (["-TSA-CAfile", chain] if stamped else [])
    ok, output = run(cmd, log)
    if not ok:
        raise SigningFailed("osslsigncode verify: " + reason(output))
    return output


def sign_release(exe, signer, args, when, work, log, say):
    """The signed executable, and how it was signed: for the console, and
    for BUILDINFO (no file names)."""
    signed = work / "signed.exe"
    digests = ["sha1", "sha256"] if args.legacy_sha1 else ["sha256"]
    source = exe
    for n, digest in enumerate(digests):
        target = work / f"signed-{digest}.exe"
        signer.sign(source, target, digest, when, nest=n > 0, log=log)
        source = target
    shutil.move(source, signed)
    stamps, urls = [], args.timestamp
    for index in range(len(digests) if urls else 0):
        stamps.append(stamp(signed, index, urls, args.timestamp_wait, work, log, say))
        # A later signature starts with the service that answered.
        urls = urls[urls.index(stamps[-1]):]
    verify(signed, signer, bool(stamps), work, log)
    how = " with a nested ".join(d.upper().replace("SHA", "SHA-") for d in digests) + " "
    how = how if isinstance(signer, KeySigner) else ""
    stamped = f", time-stamped by {', '.join(dict.fromkeys(stamps))}" if stamps else ", no time stamp"
    return signed, f"{how}by {signer.what}{stamped}", f"{how}by {signer.kind}{stamped}"
