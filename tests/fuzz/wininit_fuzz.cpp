// WinInit.ini lies in the Windows directory, where any program may have
// left anything in it; the path to schedule is the updater's own. Earlier
// lines of the "Rename" section must survive in order, and the one new line
// must name the path by its short form and nothing else, or nothing may be
// written at all.
// Input: Windows directory choice (0 C:\WINDOWS, 1 a long one, 2 a text),
// file-present flag, the file as a head, a block, a repeat count (2 bytes)
// and a tail; path choice (0 the kit's executable, 1 a text), path-exists
// flag, short-name flag and short name.
#include "cleanup/deferred_deletion.h"
#include "fuzz_input.h"
#include "kit_names.h"

enum { SECTION_CAPACITY = 32768, LARGEST_FILE = 80000 };

static std::string windows_directory(Input &in) {
  switch (in.pick(3)) {
    case 0:
      return "C:\\WINDOWS";
    case 1:
      return "C:\\" + std::string(in.byte(), 'w');
    default:
      return in.c_text(300);
  }
}

static std::string wininit_file(Input &in) {
  std::string text = in.file_text(4000);
  const std::string block = in.file_text(400);
  size_t count = in.byte() | in.byte() << 8;
  if (count > LARGEST_FILE / (block.size() + 1)) count = LARGEST_FILE / (block.size() + 1);
  for (size_t i = 0; i < count; ++i) text += block;
  return text + in.file_text(4000);
}

// The name the path goes by in the section: its short form, where there is
// one that fits; "" when there is none, and then nothing is written.
static std::string short_form(const std::string &path) {
  char buffer[MAX_PATH] = "";
  DWORD length = GetShortPathNameA(path.c_str(), buffer, MAX_PATH);
  return length > 0 && length < MAX_PATH && std::strlen(buffer) == length ? std::string(buffer) : std::string();
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  Input in(data, size);
  sim::reset();
  sim::set_platform(VER_PLATFORM_WIN32_WINDOWS);
  const std::string directory = windows_directory(in);
  sim::set_windows_directory(directory);
  const std::string file = directory + "\\WinInit.ini";
  if (in.flag()) sim::put_file(file, wininit_file(in));
  const std::string path = in.pick(2) ? in.c_text(400) : "C:\\KIT\\" + UPDATER;
  if (in.flag()) sim::put_file(path, "MZ");
  if (in.flag()) sim::set_short_name(path, in.c_text(300));

  const bool file_named = !directory.empty() && file.size() < MAX_PATH;
  static char section[SECTION_CAPACITY];
  const size_t used = file_named ? GetPrivateProfileSectionA("Rename", section, SECTION_CAPACITY, file.c_str()) : 0;
  const std::string named = short_form(path);
  const std::string text_before = sim::wininit_text();
  const std::vector<std::string> before = sim::wininit_section("Rename");
  sim::clear_journal();

  schedule_deletion_in_wininit(Exact::of(path).get());

  check_machine_clean();
  // The system may refuse the write (WinInit.ini may be a directory, or
  // read-only): that is no fault of the updater's as long as the file is
  // left as it was.
  bool refused = false;
  for (const std::string &line : sim::journal()) {
    for (const char *kind : {"copy ", "delete ", "attributes ", "move-at-restart "})
      FUZZ_CHECK(line.compare(0, std::strlen(kind), kind) != 0);
    if (line.compare(0, 14, "write-section ") != 0) continue;
    refused = line == "write-section " + file + " [Rename] failed";
    FUZZ_CHECK(refused || line == "write-section " + file + " [Rename]");
  }
  // Written exactly when the section was read whole, the line and the
  // closing terminator fit after it, and the name reads back as written:
  // no control byte, no blank at either end.
  bool reads_back = named.empty() || (named.front() != ' ' && named.back() != ' ');
  for (char c : named) reads_back &= static_cast<unsigned char>(c) >= ' ';
  const bool fits = file_named && !named.empty() && reads_back && used + 2 < SECTION_CAPACITY &&
                    used + named.size() + 6 <= SECTION_CAPACITY;
  if (!fits || refused) {
    FUZZ_CHECK(sim::wininit_text() == text_before);
    return 0;
  }
  // A section is written back as key=value lines: a line without "=" goes.
  std::vector<std::string> expected;
  for (const std::string &line : before)
    if (line.find('=') != std::string::npos) expected.push_back(line);
  expected.push_back("Nul=" + named);
  FUZZ_CHECK(sim::wininit_section("Rename") == expected);
  return 0;
}
