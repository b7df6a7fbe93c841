// Replacing an installed library so that it is never torn.
#pragma once

#include "platform/platform.h"

// Replaces the library at target, which lies in install_directory, with the
// bytes read through payload, from its start: a handle open for reading that
// nobody may write while it is held. With a digest (a release build)
// the bytes must hash to it. At every moment the library's name holds either
// its old bytes or the payload's, whole: the copy is written beside the
// library into a working file made for it, flushed to disk, and only then
// renamed over it. 1 when the library was replaced. 0 when it keeps its old
// bytes, with no working file of this run left behind: *payload_error is
// then the reason the payload could not be read or did not match
// (ERROR_FILE_CORRUPT), or 0 when the library could not be replaced (it is
// in use, the disk is full, a working name is taken, a step failed).
int replace_library(HANDLE payload, const BYTE *digest, LPCSTR target, LPCSTR install_directory, DWORD *payload_error);

// 1 when the bytes read through payload, from its start, have the digest.
int payload_has_digest(HANDLE payload, const BYTE *digest);

// Before the library at target is looked at. A run cut between the two
// renames of the 9x exchange left its name empty, the old library under a
// working name and the new copy under another. The old one goes back under
// the library's name, as it is whole by construction, while the new copy may
// have been cut; the new copy is then deleted. Nothing changes while the
// library's name is taken, and when the rename fails both working files stay.
void restore_cut_exchange(LPCSTR target, LPCSTR install_directory);

// After a walk that found every library of the directory in place: deletes
// the working files a run cut short left there, as names only.
void clear_working_files(LPCSTR install_directory);
