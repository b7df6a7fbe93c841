// FileVersion strings come from the files, so from whoever built them.
// Input: three version strings.
#include "fuzz_input.h"
#include "update/file_version.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  Input in(data, size);
  const std::string versions[3] = {in.c_text(100), in.c_text(100), in.c_text(100)};
  for (const std::string &a : versions) {
    for (const std::string &b : versions) {
      Exact payload = Exact::of(a), installed = Exact::of(b);
      FUZZ_CHECK((is_newer(payload.get(), installed.get()) != 0) == reference_newer(a, b));
    }
  }
  return 0;
}
