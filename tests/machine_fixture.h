// A fresh simulated machine for every test, and the pieces of an updater
// kit and of the two installations.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "simwin/machine.h"

inline HINSTANCE const INSTANCE = reinterpret_cast<HINSTANCE>(0x400000);

inline const char KIT[] = "C:\\KIT\\";
inline const char EXE[] = "C:\\KIT\\TRV60UPDATE.EXE";
inline const char ZEL_KEY[] = "SOFTWARE\\Quenvor\\PELLAXION\\ZEL";
inline const char TRAVEN_KEY[] = "SOFTWARE\\Quenvor\\TRAVEN-50";

class MachineTest : public ::testing::Test {
 protected:
  void SetUp() override { sim::reset(); }
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
  // The updater with its two payloads: UPDATE.D_2 (TrvAvc.dll) and UPDATE.D_1 (TrvApi.dll).
  static void put_kit(const std::string &avc_version, const std::string &api_version) {
    sim::put_file(EXE, "MZ updater");
    sim::hold(EXE, sim::Hold::module);
    put_library(std::string(KIT) + "UPDATE.D_2", avc_version);
    put_library(std::string(KIT) + "UPDATE.D_1", api_version);
  }
  static void install(const char *key, const std::string &directory, const std::string &avc_version,
                      const std::string &api_version) {
    sim::set_string(key, std::string(key) == ZEL_KEY ? "InstallDir" : "Path", directory);
    sim::make_dir(directory);
    std::string slash = directory.back() == '\\' ? "" : "\\";
    if (!avc_version.empty()) put_library(directory + slash + "TrvAvc.dll", avc_version);
    if (!api_version.empty()) put_library(directory + slash + "TrvApi.dll", api_version);
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
