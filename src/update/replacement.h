// Replacing an installed library so that it is never torn.
#pragma once

#include "kit/folder.h"
#include "platform/platform.h"

// The working names: the payload's copy, and the name the library of the
// pair of that index is set aside under (TRVOLD1.TMP for the first).
extern const char FRESH_NAME[];
enum { ASIDE_NAME_SIZE = 12 };
void aside_name(LPSTR name, int index);

enum Replacement {
  LIBRARY_KEPT = 0,       // the old bytes, under the library's name
  LIBRARY_REPLACED = 1,   // the payload's bytes, under the library's name
  LIBRARY_SET_ASIDE = 2,  // 9x: the old bytes set aside, the way back failed
};

// Replaces the library of the pair of that index, in the folder, with the bytes read through payload, from its start:
// a handle open for reading that nobody may write while it is held. With a
// digest (a release build) the bytes must hash to it. At every moment the
// library's name holds either its old bytes or the payload's, whole (on 9x,
// or for an instant nothing, the old bytes set aside): the copy is written
// into a working file made for it, flushed to disk, and only then renamed
// over the library. When the library keeps its old bytes, no working file of
// this run is left behind, and *payload_error is the reason the payload
// could not be read or did not match (ERROR_FILE_CORRUPT), or 0 when the
// library could not be replaced (it is in use, the disk is full, a working
// name is taken, a step failed). A library set aside stays so, for the next
// run to put back.
Replacement replace_library(HANDLE payload, const BYTE *digest, const Folder *folder, int index, DWORD *payload_error);

// 1 when the bytes read through payload, from its start, have the digest.
int payload_has_digest(HANDLE payload, const BYTE *digest);

// Before any library of the directory is looked at, for the pair of that
// index: a run cut between the two renames of the 9x exchange left the
// library's name empty and the old library set aside; it goes back, as it
// is whole by construction. A copy set aside whose library is in place is an
// old copy of it, left when its deletion failed or was cut, and goes. A
// library missing with no copy of its own stays missing. 0, or the reason a
// copy that lies aside with no library under its name cannot go back.
DWORD repair_set_aside(const Folder *folder, int index);

// After a walk that found every library of the directory in place: deletes
// the payload's copy that a run cut short left there, as a name only.
void clear_working_file(const Folder *folder);
