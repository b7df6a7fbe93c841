// The box for a file that cannot be opened joins two texts from outside:
// the system's message for the error (any language, any length) and the
// path. The box must stay within 1,023 bytes, give way in the reason
// first, then in the head of the path, and never split a character.
// Input: UI language choice, code page flag, error choice (5 common or 4
// bytes of any code), own-message flag, the system message, the path.
#include "fuzz_input.h"
#include "platform/system_library.h"
#include "update/presence.h"

static const std::string OPENING = "  \n\n[ ";
static const std::string CLOSING = "  ]";
static const std::string ELLIPSIS = "...";
static const size_t ROOM = 1023;
static const size_t FRAME = OPENING.size() + CLOSING.size();

// What the system says for the error in a language, as a caller with room
// enough gets it.
static std::string system_text(DWORD error, DWORD language) {
  static char buffer[65536];
  DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, 0, error, language, buffer,
                                sizeof buffer, 0);
  return std::string(buffer, length);
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  // USER32's functions, taken once as the updater takes them at start-up.
  static const int user_functions = take_user_functions();
  (void)user_functions;
  Input in(data, size);
  sim::reset();
  static const WORD LANGUAGES[] = {1033, 1041, 1031};
  const WORD language = LANGUAGES[in.pick(3)];
  sim::set_ui_language(language);
  in.code_page();
  static const DWORD ERRORS[] = {ERROR_FILE_NOT_FOUND, ERROR_PATH_NOT_FOUND, ERROR_ACCESS_DENIED,
                                 ERROR_SHARING_VIOLATION, ERROR_FILENAME_EXCED_RANGE};
  const unsigned choice = in.pick(6);
  const DWORD error = choice < 5 ? ERRORS[choice] : in.dword();
  const bool own_message = in.flag();
  const std::string message = in.c_text(1400);
  if (own_message) sim::set_system_message(error, message);
  const std::string path = in.c_text(1100);
  // The system's own Japanese texts, which a western code page cannot
  // carry, give way to its English ones.
  const bool unreadable = language == 1041 && GetACP() != 932 && !own_message;
  const std::string system =
      system_text(error, unreadable ? MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US) : LANG_USER_DEFAULT);
  sim::clear_journal();

  report_unopenable(Exact::of(path).get(), error);

  FUZZ_CHECK(sim::boxes().size() == 1);
  check_box(sim::boxes()[0]);
  check_machine_clean();
  const std::string &text = sim::boxes()[0].text;
  FUZZ_CHECK(ends_with(text, CLOSING));
  if (path.size() > ROOM) return 0;  // no caller has such a path to name

  // A system text too long for the updater's 1,024 bytes is not given.
  const std::string reason = system.empty() || system.size() >= 1024 ? "Not exist." : system;
  if (reason.size() + FRAME + path.size() <= ROOM) {
    FUZZ_CHECK(text == reason + OPENING + path + CLOSING);
  } else if (path.size() + FRAME + ELLIPSIS.size() <= ROOM) {
    // The whole path, after as much of the reason as there is room for.
    FUZZ_CHECK(ends_with(text, OPENING + path + CLOSING));
    const std::string shown = text.substr(0, text.size() - FRAME - path.size());
    if (path.size() + FRAME + ELLIPSIS.size() == ROOM) {
      FUZZ_CHECK(shown.empty());
    } else {
      FUZZ_CHECK(ends_with(shown, ELLIPSIS));
      const std::string head = shown.substr(0, shown.size() - ELLIPSIS.size());
      FUZZ_CHECK(reason.compare(0, head.size(), head) == 0 && character_starts(reason)[head.size()]);
      // Cut no more than one double-byte character short of the room.
      FUZZ_CHECK(text.size() + 2 > ROOM);
    }
  } else {
    // No reason, and the end of the path, which tells which file it was.
    FUZZ_CHECK(text.compare(0, OPENING.size() + ELLIPSIS.size(), OPENING + ELLIPSIS) == 0);
    const std::string tail =
        text.substr(OPENING.size() + ELLIPSIS.size(), text.size() - OPENING.size() - ELLIPSIS.size() - CLOSING.size());
    FUZZ_CHECK(ends_with(path, tail) && character_starts(path)[path.size() - tail.size()]);
    FUZZ_CHECK(text.size() + 2 > ROOM);
  }
  return 0;
}
