// The command line: whoever starts the updater chooses every byte of it.
// Input: code page flag, the command line.
#include "fuzz_input.h"
#include "run/command_line.h"

static bool blank(char c) { return c >= 1 && c <= 32; }

// Where the tail starts: past a name that is quoted (to the first quote
// that starts a character) or bare (to the first blank), and the blanks.
static size_t tail_start(const std::string &line) {
  size_t at = 0;
  if (!line.empty() && line[0] == '"') {
    std::vector<bool> starts = character_starts(line);
    for (at = 1; at < line.size() && !(starts[at] && line[at] == '"');) ++at;
    if (at < line.size()) ++at;
  } else {
    while (at < line.size() && !blank(line[at])) ++at;
  }
  while (at < line.size() && blank(line[at])) ++at;
  return at;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  Input in(data, size);
  sim::reset();
  in.code_page();
  const std::string line = in.c_text(4096);
  Exact buffer = Exact::of(line);

  LPSTR tail = command_line_tail(buffer.get());
  FUZZ_CHECK(tail != nullptr);
  FUZZ_CHECK(tail >= buffer.get() && tail <= buffer.get() + line.size());
  FUZZ_CHECK(static_cast<size_t>(tail - buffer.get()) == tail_start(line));
  FUZZ_CHECK(buffer.all() == line + '\0');

  FUZZ_CHECK((has_removal_switch(tail) != 0) == reference_holds_switch(tail));
  FUZZ_CHECK((has_removal_switch(buffer.get()) != 0) == reference_holds_switch(line));
  check_machine_clean();
  return 0;
}
