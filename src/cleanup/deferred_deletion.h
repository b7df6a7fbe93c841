#pragma once

#include "platform/platform.h"

// Deletes the file at once by its name, or schedules it for the next
// restart by the family's own means.
void remove_file(LPCSTR path, DWORD platform_id);

// Schedules the file's deletion for the next restart, by its name.
void delete_at_restart(LPCSTR path, DWORD platform_id);

// Adds a "Nul=" line for the path, by its short form, to the "Rename"
// section of WinInit.ini; nothing when the path has no short form.
void schedule_deletion_in_wininit(LPCSTR path);
