// The payloads shipped beside the updater and the libraries they replace.
#pragma once

// At most five pairs are ever looked at; a FileVersion text is read into
// 50 bytes with its terminator.
enum { MAX_PAIRS = 5, VERSION_CAPACITY = 50 };

// Parallel lists, each closed by an empty entry.
extern const char *const PAYLOAD_NAMES[];
extern const char *const TARGET_NAMES[];
