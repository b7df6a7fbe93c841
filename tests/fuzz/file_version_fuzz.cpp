// Version resources come with the files: any translations, any string,
// terminated or not, its length counted either way.
// Input: a shape byte (1 file present, 2 with a resource, 4 held
// exclusively, 8 length counts the terminator, 16 unterminated strings,
// 32 no heap to read the resource into),
// the number of translations (0-4), for each its language (2 bytes), code
// page (2 bytes), has-FileVersion flag and FileVersion text; the capacity.
#include "fuzz_input.h"
#include "kit_names.h"
#include "update/file_version.h"

static const std::string PATH = "C:\\T50\\" + AVC_LIBRARY;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  Input in(data, size);
  sim::reset();
  const unsigned shape = in.byte();
  sim::VersionResource resource;
  resource.length_counts_terminator = shape & 8;
  resource.unterminated = shape & 16;
  const unsigned count = in.pick(5);
  for (unsigned i = 0; i < count; ++i) {
    sim::Translation t{static_cast<WORD>(in.byte() | in.byte() << 8), static_cast<WORD>(in.byte() | in.byte() << 8),
                       in.flag(), in.text(80)};
    // A repeat of the first translation would name the same string table.
    const sim::Translation *first = resource.translations.empty() ? nullptr : &resource.translations[0];
    if (first && t.language == first->language && t.code_page == first->code_page) t.code_page ^= 1;
    resource.translations.push_back(t);
  }
  const size_t capacity = in.pick(2) ? VERSION_CAPACITY : 1 + in.pick(80);
  if (shape & 1) {
    sim::put_file(PATH, "MZ");
    if (shape & 2) sim::set_version(PATH, resource);
    if (shape & 4) sim::hold(PATH, sim::Hold::exclusive);
  }
  if (shape & 32) sim::fail_heap_allocations();

  Exact destination(capacity);
  int ok = read_file_version(PATH.c_str(), destination.get(), static_cast<int>(capacity));

  // Only the first translation counts, and only a string that ends within
  // the resource and fits with its terminator.
  const std::string version = count ? resource.translations[0].file_version : "";
  // A string without its terminator is followed by the translations, the
  // first one's language first: a zero there ends it all the same.
  const bool terminated = !resource.unterminated || version.find('\0') != std::string::npos ||
                          (count && (resource.translations[0].language & 0xFF) == 0);
  const bool readable = (shape & 39) == 3 && count && resource.translations[0].has_file_version && terminated &&
                        std::strlen(version.c_str()) < capacity;
  FUZZ_CHECK((ok != 0) == readable);
  FUZZ_CHECK(destination.all() == (ok ? destination.holding(version.c_str()) : destination.untouched()));
  check_machine_clean();
  return 0;
}
