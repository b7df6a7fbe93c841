// Registry values are anyone's with write access to the key: any type,
// any bytes, any length.
// Input: what exists (0 nothing, 1 the key, 2 the value), the type (4
// bytes), the value's bytes.
#include "fuzz_input.h"
#include "update/install_location.h"

static const char KEY[] = "SOFTWARE\\Quenvor\\TRAVEN-50";

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  Input in(data, size);
  sim::reset();
  const unsigned exists = in.pick(3);
  const DWORD type = in.dword();
  const std::string bytes = in.text(1024);
  if (exists == 1) sim::set_key(KEY);
  if (exists == 2) sim::set_value(KEY, "Path", type, bytes);

  Exact destination(MAX_PATH);
  int ok = read_install_location(destination.get(), KEY, "Path");

  // A location is what the bytes hold before their first zero, when they
  // fit the buffer and something ends them there.
  const bool terminated = bytes.size() < MAX_PATH || bytes.find('\0') != std::string::npos;
  const bool readable = exists == 2 && bytes.size() <= MAX_PATH && terminated && !bytes.empty() && bytes[0] != '\0';
  FUZZ_CHECK((ok != 0) == readable);
  FUZZ_CHECK(destination.all() == (ok ? destination.holding(bytes.c_str()) : destination.untouched()));
  check_machine_clean();
  return 0;
}
