#include "catalogue.h"

#include "platform/text.h"

static const char CAPTION[] = "TRAVEN-60 Update";

// The English texts, shown when the string table has none for an id.
static const char *const FALLBACKS[] = {
    "",
    "PELLAXION-ZEL1/2 or TRAVEN-60 is not found.",
    "Can not get version info.",
    "Newer version exist.",
    "Files in use. Please stop application using TRAVEN-60.",
    "Update was succeeded.",
    "",
    "No need to update.",
};

void show_catalogue_message(HINSTANCE instance, UINT id) {
  char message[MESSAGE_CAPACITY];
  char loaded[MESSAGE_CAPACITY];
  bytes_zero(message, MESSAGE_CAPACITY);
  if (id < sizeof FALLBACKS / sizeof FALLBACKS[0]) text_append(message, MESSAGE_CAPACITY, FALLBACKS[id]);
  // LoadStringA empties its buffer when the id has no text (the NT family
  // does), so it loads into a buffer of its own and the fallback is kept
  // unless text came.
  bytes_zero(loaded, MESSAGE_CAPACITY);
  if (LoadStringA(instance, id, loaded, MESSAGE_CAPACITY) > 0 && text_length(loaded, MESSAGE_CAPACITY) > 0)
    bytes_copy(message, loaded, MESSAGE_CAPACITY);
  show_box(message);
}

void show_box(LPCSTR text) { MessageBoxA(0, text, CAPTION, MB_OK | MB_SYSTEMMODAL); }
