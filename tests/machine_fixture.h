// A fresh simulated machine for every test, and the pieces of an updater
// kit and of the two installations.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "kit_names.h"
#include "platform/system_library.h"
#include "simwin/machine.h"
#include "update/payload_holds.h"
#include "update/update_pass.h"

inline HINSTANCE const INSTANCE = reinterpret_cast<HINSTANCE>(0x400000);

inline const char KIT[] = "C:\\KIT\\";
inline const std::string EXE = KIT + UPDATER;
inline const char ZEL_KEY[] = "SOFTWARE\\Quenvor\\PELLAXION\\ZEL";
inline const char TRAVEN_KEY[] = "SOFTWARE\\Quenvor\\TRAVEN-50";

// A file of an installation directory, given with or without its closing '\'
// (so not for one that ends in a double-byte character whose second byte is 0x5C).
inline std::string file_in(const std::string &directory, const std::string &name) {
  return directory + (!directory.empty() && directory.back() == '\\' ? "" : "\\") + name;
}
inline std::string avc_in(const std::string &directory) { return file_in(directory, AVC_LIBRARY); }
inline std::string api_in(const std::string &directory) { return file_in(directory, API_LIBRARY); }

// One update pass with the payloads held as the run holds them.
inline int pass_with_kit(const char *directory, BYTE report) {
  Kit kit;
  take_kit(INSTANCE, &kit);
  char path[WHOLE_PATH_CAPACITY] = {};
  join_target_path(path, WHOLE_PATH_CAPACITY, directory, "");
  Folder install;
  open_folder(&install, path);
  int result = update_product(INSTANCE, &kit, &install, report);
  close_folder(&install);
  release_kit(&kit);
  return result;
}

class MachineTest : public ::testing::Test {
 protected:
  // USER32's functions are taken as the updater takes them at start-up,
  // on a machine of their own.
  void SetUp() override {
    sim::reset();
    take_user_functions();
    sim::reset();
  }
  void TearDown() override {
    EXPECT_TRUE(sim::faults().empty()) << sim::faults().front();
    EXPECT_EQ(0, sim::open_keys());
    EXPECT_EQ(0, sim::heap_blocks());
    EXPECT_EQ(0, sim::loaded_libraries());
  }

  static void put_library(const std::string &path, const std::string &version) {
    sim::put_file(path, "MZ library " + version);
    sim::set_file_version(path, version);
  }
  // The updater with its two payloads, the new libraries at these versions.
  static void put_kit(const std::string &avc_version, const std::string &api_version) {
    sim::put_file(EXE, "MZ updater");
    sim::hold(EXE, sim::Hold::module);
    put_library(KIT + AVC_PAYLOAD, avc_version);
    put_library(KIT + API_PAYLOAD, api_version);
  }
  static void install(const char *key, const std::string &directory, const std::string &avc_version,
                      const std::string &api_version) {
    sim::set_string(key, std::string(key) == ZEL_KEY ? "InstallDir" : "Path", directory);
    sim::make_dir(directory);
    if (!avc_version.empty()) put_library(avc_in(directory), avc_version);
    if (!api_version.empty()) put_library(api_in(directory), api_version);
  }
  static std::vector<std::string> box_texts() {
    std::vector<std::string> texts;
    for (const auto &box : sim::boxes()) texts.push_back(box.text);
    return texts;
  }
  static bool journal_has(const std::string &line) {
    for (const auto &entry : sim::journal())
      if (entry == line) return true;
    return false;
  }
};
