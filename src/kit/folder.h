// The folders the run works in, and the one way to reach a file in one.
//
// Another user may be able to write the kit's folder (a downloads folder)
// or an installation's (a product folder made directly under C:\ inherits
// "Authenticated Users: Modify"), and so swap any name in it, or the folder
// itself, between two calls. A folder the user owns can become a mount
// point to \RPC Control, whose object-manager links lead a name anywhere,
// and FILE_FLAG_OPEN_REPARSE_POINT covers only the last component of a
// path. So on the NT family each folder is opened once, before the first
// box, and that open is the run's first look at it: every file in it is
// then opened, made, changed, renamed over and deleted relative to that
// handle, where the folder was when the run found it, wherever its name
// leads later. The 9x family has no links: its files are reached by the
// joined path. Paths are built for the boxes, which show them, and for the
// reads that may go by name (file_version.h).
#pragma once

#include "paths.h"

struct Folder {
  BYTE nt;        // its files are reached through handle
  HANDLE handle;  // NT family: the folder as first found, else INVALID_HANDLE_VALUE
  DWORD failure;  // why it could not be opened as a folder, or 0
  DWORD options;  // NT: how its files are opened (the last name never followed)
  char path[WHOLE_PATH_CAPACITY];  // ends in its separator, or is empty: the current folder
};

// The folder at path, which ends in its separator or is empty. On the NT
// family it is opened now, as a folder. One that is gone, is no folder, or
// leads to none (a mount point to an object-manager directory) keeps the
// reason, and every file in it fails to open with that reason.
void open_folder(Folder *folder, LPCSTR path);
void close_folder(Folder *folder);

// The path of the name in the folder, to show; 0 when it does not fit.
int path_in(const Folder *folder, LPCSTR name, LPSTR path, int capacity);

// The file of that name in the folder, as CreateFileA(path, access, share,
// 0, disposition, FILE_ATTRIBUTE_NORMAL, 0) would open it, for OPEN_EXISTING
// or CREATE_NEW: the handle, or INVALID_HANDLE_VALUE with the reason as the
// last error. A path of MAX_PATH bytes or more is refused as too long
// (ERROR_FILENAME_EXCED_RANGE) without being opened, on both families, as
// any path is. On NT a name that is a link is opened as itself.
HANDLE open_in(const Folder *folder, LPCSTR name, DWORD access, DWORD share, DWORD disposition);

// The file for its attributes alone: on the NT family with
// FILE_WRITE_ATTRIBUTES, which a running image and a read-only file allow on
// Windows, or where that is refused with no access at all, as far as the
// system then lets the attributes be changed; on 9x, which changes them by
// name, with no access. Wine, run as a user, asks for Unix write access to
// write attributes, which a read-only file denies, and lets a handle of no
// access change them.
HANDLE open_attributes(const Folder *folder, LPCSTR name);

// 1 when nothing stands under the name any more: what stood there is
// deleted as a name, never what a link leads to. A read-only file stays.
int free_name(const Folder *folder, LPCSTR name);

// The 9x family, by the joined paths: a rename that never goes over an
// existing name, and the attributes of a name.
int move_in(const Folder *folder, LPCSTR from, LPCSTR to);
int set_attributes_in(const Folder *folder, LPCSTR name, DWORD attributes);

// An open file as the system sees it: its attributes and how many names it
// has. 0 when the system will not say.
int file_facts(HANDLE file, DWORD *attributes, DWORD *links);

// The NT family, through a handle opened in a folder: the attributes (the
// handle needs FILE_WRITE_ATTRIBUTES), the deletion when the handle closes
// (DELETE), and the rename over whatever stands under the name in the
// folder (DELETE; it fails while anyone has that file open).
int set_attributes_through(HANDLE file, DWORD attributes);
int delete_through(HANDLE file);
int rename_into(HANDLE file, const Folder *folder, LPCSTR name);
