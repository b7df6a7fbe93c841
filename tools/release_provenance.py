"""Where a release came from: the tools it needs, the commit and whether the
tree was clean, the release time, and the BUILDINFO file that records them."""

import hashlib
import os
import shutil
import subprocess

MINGW = "i686-w64-mingw32"
# Tool on PATH -> the Debian package that brings it.
BUILD_TOOLS = {"git": "git", "cmake": "cmake", "make": "make", f"{MINGW}-g++": "g++-mingw-w64-i686",
               f"{MINGW}-ld": "binutils-mingw-w64-i686", f"{MINGW}-windres": "binutils-mingw-w64-i686"}
SIGNING_TOOLS = {"osslsigncode": "osslsigncode"}
PFX_TOOLS = {"openssl": "openssl"}
# The versions BUILDINFO records: (what, the command that prints it first).
VERSION_COMMANDS = [("compiler", [f"{MINGW}-g++", "--version"]), ("binutils", [f"{MINGW}-ld", "--version"]),
                    ("windres", [f"{MINGW}-windres", "--version"]), ("cmake", ["cmake", "--version"])]
SIGNER_VERSION = ("osslsigncode", ["osslsigncode", "--version"])
# Zip entries carry this date when neither SOURCE_DATE_EPOCH nor git gives one.
EARLIEST_ZIP_TIME = 315532800  # 1980-01-01 00:00:00 UTC


class NotReady(Exception):
    """The message says what is missing or wrong, and how to put it right."""


def missing_tools(tools):
    """One line naming each missing tool and the package to install, or None."""
    missing = {tool: package for tool, package in tools.items() if not shutil.which(tool)}
    if not missing:
        return None
    packages = " ".join(dict.fromkeys(missing.values()))
    return (f"missing {', '.join(missing)}: install with apt-get install {packages}")


def git(root, *args):
    done = subprocess.run(["git", "-C", str(root), *args], capture_output=True, text=True)
    return done.stdout if done.returncode == 0 else None


def source_state(root):
    """(commit, [changed paths]) of the tree the release is built from."""
    commit = (git(root, "rev-parse", "HEAD") or "").strip()
    status = git(root, "status", "--porcelain", "--untracked-files=all")
    if not commit or status is None:
        raise NotReady(f"{root} is not a git checkout with a commit: a release must say where it came from")
    return commit, [line[3:] for line in status.splitlines()]


def check_tree(root, allow_dirty):
    commit, changed = source_state(root)
    if changed and not allow_dirty:
        shown = ", ".join(changed[:5]) + (f" and {len(changed) - 5} more" if len(changed) > 5 else "")
        raise NotReady(f"the tree has uncommitted changes ({shown}): commit them, or give --allow-dirty "
                       "to release them anyway (BUILDINFO then says so)")
    return commit, changed


def release_time(root):
    """(seconds, where from): SOURCE_DATE_EPOCH, else the time of the commit,
    so that the same inputs give the same bytes."""
    text = os.environ.get("SOURCE_DATE_EPOCH")
    if text is not None:
        if not (text.isascii() and text.isdigit()):
            raise NotReady(f"SOURCE_DATE_EPOCH={text!r} is not a number of seconds since 1970 "
                           "(unset it to use the time of the commit)")
        return max(int(text), EARLIEST_ZIP_TIME), "SOURCE_DATE_EPOCH"
    out = (git(root, "log", "-1", "--format=%ct") or "").strip()
    return (max(int(out), EARLIEST_ZIP_TIME), "the commit") if out.isdigit() else (EARLIEST_ZIP_TIME, "none")


def first_line(cmd):
    """A tool's version line; one that ends in a colon goes on in the next."""
    done = subprocess.run(cmd, capture_output=True, text=True)
    lines = [line.strip() for line in (done.stdout or done.stderr).splitlines()] if done.returncode == 0 else []
    if not lines:
        return "unknown"
    return " ".join(lines[:2]) if lines[0].endswith(":") and len(lines) > 1 else lines[0]


def dirty_digest(root):
    """SHA-256 of the uncommitted change, so that a dirty release names its source."""
    diff = subprocess.run(["git", "-C", str(root), "diff", "HEAD", "--binary"], capture_output=True).stdout
    return hashlib.sha256(diff).hexdigest()


def buildinfo(root, commit, changed, when, signed, digests):
    """The text of BUILDINFO: no paths and no times but the release's own,
    so that it is byte-identical for the same source and inputs."""
    lines = [f"commit: {commit}"]
    if changed:
        lines.append(f"tree: dirty, released with --allow-dirty; git diff HEAD sha256 {dirty_digest(root)}")
        lines += [f"  changed: {path}" for path in changed]
    else:
        lines.append("tree: clean")
    lines.append(f"SOURCE_DATE_EPOCH: {when[0]} (from {when[1]})")
    tools = VERSION_COMMANDS + ([SIGNER_VERSION] if signed else [])
    lines += [f"{what}: {first_line(cmd)}" for what, cmd in tools]
    lines.append(f"signature: {signed or 'none'}")
    lines += [f"sha256 {digest}  {name}" for name, digest in digests]
    return "\n".join(lines) + "\n"
