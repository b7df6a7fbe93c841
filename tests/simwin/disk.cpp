// The disk beneath the file system: volumes and their free space, the
// system's write cache, and what a power cut leaves of it.
#include "state.h"

namespace sim {
namespace detail {
namespace {

bool lies_on(const std::string &canonical_path, const std::string &canonical_root) {
  return canonical_path == canonical_root || (canonical_path.size() > canonical_root.size() &&
                                              canonical_path.compare(0, canonical_root.size(), canonical_root) == 0 &&
                                              canonical_path[canonical_root.size()] == '\\');
}

unsigned long long used_space(int volume, const std::string &except) {
  unsigned long long used = 0;
  for (const File &file : machine().files)
    if (volume_of(file.path) == volume && (except.empty() || !same_path(file.path, except))) used += file.bytes.size();
  return used;
}

}  // namespace

int volume_of(const std::string &path) {
  const std::string wanted = canonical(path);
  int found = -1;
  std::size_t longest = 0;
  const std::vector<Volume> &volumes = machine().volumes;
  for (std::size_t i = 0; i < volumes.size(); ++i) {
    const std::string root = canonical(volumes[i].root);
    if (lies_on(wanted, root) && (found < 0 || root.size() > longest)) {
      found = static_cast<int>(i);
      longest = root.size();
    }
  }
  return found;
}

unsigned long long free_space(const std::string &path, const std::string &except) {
  const int volume = volume_of(path);
  if (volume < 0) return ~0ull;
  const unsigned long long capacity = machine().volumes[volume].capacity;
  const unsigned long long used = used_space(volume, except);
  return used < capacity ? capacity - used : 0;
}

bool disk_changed() {
  Machine &m = machine();
  ++m.disk_changes;
  if (m.power_countdown > 0 && --m.power_countdown == 0) m.power_off = true;
  return !m.power_off;
}

void settle_disk() {
  Machine &m = machine();
  for (File &file : m.files) {
    if (m.power_off && file.unflushed) {
      // The names and sizes were on disk; the data never got there.
      file.bytes.assign(file.bytes.size(), '\0');
      file.has_version = false;
    }
    file.unflushed = false;
  }
  m.power_off = false;
  m.power_countdown = 0;
}

}  // namespace detail

using namespace detail;

void set_free_space(const std::string &directory, unsigned long long bytes) {
  machine().dirs.push_back(directory);
  machine().volumes.push_back(Volume{directory, 0});
  const int volume = static_cast<int>(machine().volumes.size()) - 1;
  machine().volumes[volume].capacity = used_space(volume, "") + bytes;
}

int disk_changes() { return machine().disk_changes; }
void cut_power_after(int nth) { machine().power_countdown = nth; }
bool power_is_off() { return machine().power_off; }

}  // namespace sim
