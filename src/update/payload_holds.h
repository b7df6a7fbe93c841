// The payloads of the kit, taken once at the start of the run.
#pragma once

#include "kit/held_payloads.h"

// Right after the single-instance check: the kit's folder, opened now
// (folder.h), and on the NT family the executable's own file in it; then
// for each payload of the table, before the first box, whether it can be
// opened, its FileVersion (a release's from the executable, a plain build's
// from the file), and then its hold. The version is read by name before the
// hold is opened, as the presence check's open is: Microsoft documents no
// share mode for GetFileVersionInfoA's open, and the version code of Wine and
// ReactOS maps the file as a data file (LoadLibraryExW) and falls back to
// LZOpenFileW with OF_READ, DOS's compatibility mode, as 16-bit VER.DLL did.
// Such an open fails on 9x beside a handle that denies writing (Ralf Brown's
// table of DOS sharing), and on NT beside a hold with delete access unless it
// shares deletion; opened in this order, neither can matter. On the NT family
// the hold has delete access and is opened as a reparse point, so that a
// link at the payload's name is held as itself, and refused.
void take_kit(HINSTANCE instance, Kit *kit);

// Before a release's clean-up: a payload whose bytes were not yet read
// through its hold (no installation needed it, or a pass stopped first) is
// hashed through the hold now, and may go only when it has its digest.
void check_unread_payloads(HeldPayload *payloads);
