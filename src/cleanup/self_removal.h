#pragma once

// Deletes the executable and its payloads, or has them deleted at the next
// restart. 0 when the platform's version was not available.
int remove_self();
