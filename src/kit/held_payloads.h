// The kit the run started with: its folder, its executable and its
// payloads. Each payload is opened once, before the first box, and held
// until the run ends: the update pass reads its bytes through that hold, and
// the clean-up deletes it through the same hold. On the NT family every one
// of them is reached relative to the folder's handle (folder.h), so another
// user who may write the kit's folder (a downloads folder, a profile) cannot
// make the run read, change or delete any other file, whatever the folder
// comes to lead to, from the run's first look at it on.
#pragma once

#include "folder.h"
#include "payload_table.h"

struct HeldPayload {
  HANDLE file;         // INVALID_HANDLE_VALUE when the payload is not held
  DWORD failure;       // why not: shown by the pass that needs the payload
  BYTE deletable;      // held with delete access (NT family)
  BYTE removable;      // the clean-up may delete it: a plain build's, or a
                       // release's whose bytes had their digest through file
  BYTE bound;          // the executable's record of it could be read
  BYTE linked;         // NT: the file has another name beside ours
  const BYTE *digest;  // a release's: the SHA-256 its bytes must have
  BYTE set_aside;      // its library was left set aside by an exchange whose
                       // way back failed: the kit's next run puts it back
  BYTE has_version;
  char version[VERSION_CAPACITY];  // the FileVersion that decides
};

struct Kit {
  Folder folder;      // where the executable and its payloads lie
  HANDLE executable;  // NT: the running executable, for its attributes only
  HeldPayload payloads[MAX_PAIRS];
};

// Closes every hold still open; a payload marked for deletion goes now.
void release_payloads(HeldPayload *payloads);

// Closes the holds, the executable's handle and the folder.
void release_kit(Kit *kit);

// 1 when a library waits, set aside, for the kit's next run.
int kit_still_needed(const Kit *kit);
