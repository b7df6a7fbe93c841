// The own path (from the module, so from wherever the kit was copied) and
// the install directory (from the registry) are joined to names. Nothing
// may be cut, and nothing written past a buffer or its text.
// Input: code page flag, own path, split capacity choice, install
// directory, name, join capacity.
#include "fuzz_input.h"
#include "kit/own_path.h"
#include "kit/paths.h"
#include "kit_names.h"

static size_t capacity_from(Input &in) {
  switch (in.pick(3)) {
    case 0:
      return MAX_PATH;
    case 1:
      return WHOLE_PATH_CAPACITY;
    default:
      return 1 + in.byte() + in.pick(2) * 256;
  }
}

static void check_split(const std::string &own, size_t capacity, std::string &drive, std::string &directory) {
  Exact path = Exact::at_most(own, MAX_PATH);
  Exact drive_buffer(DRIVE_CAPACITY), directory_buffer(capacity);
  int ok = split_own_path(path.get(), drive_buffer.get(), directory_buffer.get(), static_cast<int>(capacity));

  const OwnSplit split = reference_split(own);
  const size_t start = split.drive_end, end = split.directory_end;
  bool fits = own.size() < MAX_PATH && end - start < capacity;
  FUZZ_CHECK((ok != 0) == fits);
  drive = fits ? own.substr(0, start) : "";
  directory = fits ? own.substr(start, end - start) : "";
  FUZZ_CHECK(drive_buffer.all() == drive_buffer.holding(drive));
  FUZZ_CHECK(directory_buffer.all() == directory_buffer.holding(directory));
}

// A join either holds the whole text or leaves its buffer untouched.
static void check_join(const Exact &buffer, size_t capacity, int ok, const std::string &whole) {
  FUZZ_CHECK((ok != 0) == (whole.size() < capacity));
  FUZZ_CHECK(buffer.all() == (ok ? buffer.holding(whole) : buffer.untouched()));
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  Input in(data, size);
  sim::reset();
  in.code_page();
  const std::string own = in.c_text(600);
  std::string drive, directory;
  check_split(own, in.pick(2) ? DIRECTORY_CAPACITY : capacity_from(in), drive, directory);

  const std::string install = in.c_text(600);
  std::string name = in.c_text(300);
  if (name.empty()) name = AVC_LIBRARY;
  const size_t capacity = capacity_from(in);

  // The payload's path is the own folder, split once when the path is
  // recorded, and the name.
  sim::set_module_path(own);
  record_own_path(reinterpret_cast<HINSTANCE>(0x400000));
  std::string folder;
  if (own.size() < MAX_PATH) {
    std::string whole_drive, whole_directory;
    check_split(own, MAX_PATH, whole_drive, whole_directory);
    folder = whole_drive + whole_directory;
  }
  FUZZ_CHECK(folder == own_folder());
  Exact payload(capacity);
  int ok = payload_path(payload.get(), static_cast<int>(capacity), Exact::of(name).get());
  check_join(payload, capacity, ok, folder + name);

  Exact target(capacity);
  ok = join_target_path(target.get(), static_cast<int>(capacity), Exact::at_most(install, MAX_PATH).get(),
                        Exact::of(name).get());
  if (install.size() >= MAX_PATH)
    FUZZ_CHECK(ok == 0 && target.all() == target.untouched());
  else
    check_join(target, capacity, ok, reference_target_path(install, name));
  check_machine_clean();
  return 0;
}
