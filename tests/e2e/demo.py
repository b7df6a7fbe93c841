"""What tools/demo shows: a sample Windows machine under Wine with TRAVEN-50
installed, the updater run with "/d", and what the user and the disk see."""

import argparse
import shutil
import subprocess
import sys
from pathlib import Path

import harness
from harness import API_LIBRARY, API_PAYLOAD, AVC_LIBRARY, AVC_PAYLOAD
from scenarios import KIT, TRAVEN, install, new_api, new_avc, old, reg_text, ship

# Under a Japanese locale Wine draws message boxes in "MS Shell Dlg", which it
# maps to "MS UI Gothic", a font it does not ship: without a stand-in with
# Japanese glyphs (IPAGothic, installed by tests/e2e/deps.sh --demo) the
# screenshot shows empty squares. The recorded text is right either way.
JAPANESE_FONT = (r'[HKEY_LOCAL_MACHINE\Software\Microsoft\Windows NT\CurrentVersion\FontSubstitutes]' "\n"
                 '"MS Shell Dlg"="IPAGothic"\n"MS UI Gothic"="IPAGothic"\n')
# Wine draws a caption's buttons with its Marlett font (the close button's
# cross is its "r") and a box's text in Tahoma, fonts it ships (fonts-wine).
# Debian's Wine 8 looks for them in "/usr/share/wine\../fonts", a folder that
# is not there (WINEDEBUG=+file shows each lookup fail): a prefix has neither,
# and the close button shows a plain "r". Windows keeps its fonts in
# C:\windows\Fonts, and so does the demo's machine.
WINE_FONTS = Path(shutil.which("wine") or "/usr/bin/wine").resolve().parents[1] / "share" / "wine" / "fonts"
DEMO = harness.ROOT / "build" / "demo"
INSTALL = r"C:\Program Files\TRAVEN-50"


def rel(p):
    return p.relative_to(harness.ROOT)


def main():
    ap = argparse.ArgumentParser(prog="tools/demo")
    ap.add_argument("--japanese", action="store_true", help="Japanese user interface (LC_ALL=ja_JP.UTF-8)")
    ap.add_argument("--win98", action="store_true", help="Windows 98 (Wine's version setting win98)")
    args = ap.parse_args()
    lang = "ja" if args.japanese else "en"
    kit = KIT + " Kit" if args.win98 else KIT
    if DEMO.exists():
        shutil.rmtree(DEMO)
    DEMO.mkdir(parents=True)

    display = harness.Display()
    machine = None
    try:
        harness.template(display, reuse=True)
        machine = m = harness.Machine(display, "demo", lang=lang, win98=args.win98, home=DEMO / "machine")
        fonts = sorted(WINE_FONTS.glob("*"))
        if not fonts:
            print(f"tools/demo: no Wine fonts in {WINE_FONTS}: the close button shows an \"r\"", file=sys.stderr)
        for font in fonts:
            m.put(rf"C:\windows\Fonts\{font.name}", font)
        exe = ship(m, kit=kit, avc=new_avc(), api=new_api())
        install(m, INSTALL, avc=old(AVC_LIBRARY), api=old(API_LIBRARY))
        m.registry(reg_text(TRAVEN, Path=INSTALL))
        if args.japanese:
            m.registry(JAPANESE_FONT)
        wine = subprocess.run(["wine", "--version"], capture_output=True, text=True).stdout.strip()
        print(f"Sample machine: {wine}, 32-bit prefix, "
              f"{'Windows 98' if args.win98 else 'Windows NT family'}, LC_ALL={harness.LOCALES[lang]}")
        print(f"  C: is {rel(m.c('C:/'))}")
        print(f"  TRAVEN-50 installed in {INSTALL} (HKLM\\SOFTWARE\\Quenvor\\TRAVEN-50, Path)")
        print(f"  updater and payloads in {kit}")

        files = [rf"{INSTALL}\{AVC_LIBRARY}", rf"{INSTALL}\{API_LIBRARY}", rf"{kit}\{AVC_PAYLOAD}", rf"{kit}\{API_PAYLOAD}"]
        before = m.probe(*[("version", f) for f in files])
        print("\nFileVersion before the run:")
        for f, v in zip(files, before):
            print(f"  {f:<50} {v}")

        cmd = f'"{exe}" /d'
        shot = DEMO / "box1.png"

        def take_shot(box):
            harness.screenshot(display, shot, box["rect"])

        print(f"\nRunning {cmd}")
        run = m.run(cmd, on_first_box=take_shot)
        for box in run.boxes:
            buttons = " ".join(f"[{b['text']}]" for b in box.buttons if b["visible"])
            style = "system-modal" if box.exstyle & harness.WS_EX_TOPMOST else "NOT system-modal"
            print(f"\n  +-- {box.caption} ({style}) " + "-" * 10)
            for line in box.text.replace("\r\n", "\n").split("\n"):
                print(f"  | {line}")
            print(f"  +-- {buttons}")
        print(f"\n  {len(run.boxes)} box(es); exit code {run.exit_code}")
        if shot.exists():
            print(f"  screenshot of the first box: {rel(shot)}")

        after = m.probe(*[("version", f) for f in files[:2]])
        print("\nFileVersion after the run:")
        for f, b, a in zip(files, before, after):
            print(f"  {f:<50} {b} -> {a}" + ("  (replaced)" if a != b else "  (unchanged)"))

        print("\nRemoved at once:")
        for f in [f for f in files[2:] + [exe] if not m.c(f).exists()] or ["(nothing)"]:
            print(f"  {f}")
        print("Scheduled for deletion at the next restart:")
        scheduled = [f"{e.split(' => ')[0].removeprefix(chr(92) + '??' + chr(92))}   (PendingFileRenameOperations)"
                     for e in m.one("pending").split("|") if e]
        ini = m.windows_dir_file("wininit.ini")
        if ini:
            scheduled += [f"{line[4:]}   (WinInit.ini, [Rename] {line})"
                          for line in ini.read_bytes().decode(harness.ANSI[lang]).splitlines()
                          if line.lower().startswith("nul=")]
        for line in scheduled or ["(nothing)"]:
            print(f"  {line}")
        m.restart()
        print("After the restart (wineboot -r):")
        for f in [exe] + files[2:]:
            print(f"  {f}: {'still there' if m.c(f).exists() else 'gone'}")
        return 0 if run.exit_code == 0 else 1
    finally:
        if machine:
            machine.close(keep=True)
        display.stop()


if __name__ == "__main__":
    with harness.exclusive("demo"):
        sys.exit(main())
