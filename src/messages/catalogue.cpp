#include "catalogue.h"

#include "platform/system_library.h"
#include "platform/text.h"

static const char CAPTION[] = "TRAVEN-60 Update";

// The Japanese string table is written in characters of code page 932.
// Windows picks the table by the user-interface language (2000 and later)
// or by the regional settings (NT 4.0 and 9x), and LoadStringA turns each
// character the ANSI code page lacks into "?": a Japanese table over any
// other code page reads as a row of question marks. There the English
// texts stand, which are the English table's texts too.
static const UINT JAPANESE_CODE_PAGE = 932;

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
  if (GetACP() == JAPANESE_CODE_PAGE && load_string(instance, id, loaded, MESSAGE_CAPACITY) > 0 &&
      text_length(loaded, MESSAGE_CAPACITY) > 0)
    bytes_copy(message, loaded, MESSAGE_CAPACITY);
  show_box(message);
}

void show_box(LPCSTR text) { message_box(text, CAPTION, MB_OK | MB_SYSTEMMODAL); }
