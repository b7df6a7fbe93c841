#pragma once

#include "platform/platform.h"

enum MessageId {
  MSG_NOT_FOUND = 1,
  MSG_NO_VERSION_INFO = 2,
  MSG_NEWER_EXISTS = 3,
  MSG_FILES_IN_USE = 4,
  MSG_UPDATED = 5,
  MSG_NO_NEED = 7,
};

enum { MESSAGE_CAPACITY = 512 };

// The text for the id in the user's language, or its English fallback.
void show_catalogue_message(HINSTANCE instance, UINT id);

// One system-modal box with the caption and an OK button.
void show_box(LPCSTR text);
