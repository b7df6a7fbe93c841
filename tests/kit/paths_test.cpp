#include "kit/paths.h"

#include "kit/own_path.h"
#include "kit/payload_table.h"

#include <string>

#include "machine_fixture.h"

using PathsTest = MachineTest;

struct Split {
  int ok;
  std::string drive, directory;
};

static Split split(const std::string &own_path, int capacity = DIRECTORY_CAPACITY) {
  char drive[DRIVE_CAPACITY], directory[WHOLE_PATH_CAPACITY];
  int ok = split_own_path(own_path.c_str(), drive, directory, capacity);
  return {ok, drive, directory};
}

static std::string target(const std::string &install_directory, int capacity = MAX_PATH) {
  char path[WHOLE_PATH_CAPACITY] = "";
  if (!join_target_path(path, capacity, install_directory.c_str(), AVC_LIBRARY.c_str())) return "<refused>";
  return path;
}

TEST_F(PathsTest, OwnPathSplitsIntoDriveAndDirectory) {
  struct Case {
    std::string path;
    const char *drive, *directory;
  } const cases[] = {
      {EXE, "C:", "\\KIT\\"},
      {"C:/kit/sub/" + UPDATER, "C:", "/kit/sub/"},
      {"\\\\server\\share\\kit\\" + UPDATER, "", "\\\\server\\share\\kit\\"},
      {UPDATER, "", ""},
      {"C:" + UPDATER, "C:", ""},
  };
  for (const Case &c : cases) {
    Split s = split(c.path.c_str());
    EXPECT_EQ(1, s.ok) << c.path;
    EXPECT_EQ(c.drive, s.drive) << c.path;
    EXPECT_EQ(c.directory, s.directory) << c.path;
  }
}

TEST_F(PathsTest, OwnPathSplitReadsDoubleByteCharacters) {
  // "表" is 95 5C in code page 932: its trail byte is the byte of '\'.
  const std::string path = "C:\\\x95\x5C\\\x83\x5C\x83t\x83g.EXE";
  sim::set_code_page(932);
  EXPECT_EQ("\\\x95\x5C\\", split(path).directory);
  sim::set_code_page(1252);
  EXPECT_EQ("\\\x95\x5C\\\x83\x5C", split(path).directory);
}

TEST_F(PathsTest, OwnDirectoryLongerThanTheSplitAllowsIsRefused) {
  const std::string fits = "C:\\" + std::string(253, 'd') + "\\x";  // directory of 255 bytes
  EXPECT_EQ(1, split(fits).ok);
  const std::string too_long = "C:\\" + std::string(254, 'd') + "\\x";  // 259 bytes, directory of 256
  Split refused = split(too_long);
  EXPECT_EQ(0, refused.ok);
  EXPECT_EQ("", refused.directory);
  EXPECT_EQ(1, split(too_long, WHOLE_PATH_CAPACITY).ok);
}

TEST_F(PathsTest, TargetPathHasExactlyOneSeparator) {
  EXPECT_EQ("C:\\Prog\\" + AVC_LIBRARY, target("C:\\Prog\\"));
  EXPECT_EQ("C:\\Prog\\" + AVC_LIBRARY, target("C:\\Prog"));
  EXPECT_EQ("\\\\srv\\share\\" + AVC_LIBRARY, target("\\\\srv\\share"));
  sim::set_code_page(932);
  EXPECT_EQ("C:\\\x95\x5C\\" + AVC_LIBRARY, target("C:\\\x95\x5C"));    // ends in 表
  EXPECT_EQ("C:\\\x95\x5C\\" + AVC_LIBRARY, target("C:\\\x95\x5C\\"));  // 表 and a real '\'
  EXPECT_EQ("C:\\\x83\x5C\\" + AVC_LIBRARY, target("C:\\\x83\x5C"));    // ソ
}

TEST_F(PathsTest, PathsThatWouldNotFitAreRefusedNotCut) {
  const std::string directory = "C:\\" + std::string(245, 'i');  // + "\" and the library's name = 259
  EXPECT_EQ(directory + "\\" + AVC_LIBRARY, target(directory));
  EXPECT_EQ("<refused>", target(directory + "i"));
  EXPECT_EQ(directory + "i\\" + AVC_LIBRARY, target(directory + "i", WHOLE_PATH_CAPACITY));

  char path[WHOLE_PATH_CAPACITY] = "untouched";
  sim::set_module_path("C:\\" + std::string(245, 'k') + "\\T.EXE");
  record_own_path(INSTANCE);
  EXPECT_EQ(1, payload_path(path, MAX_PATH, AVC_PAYLOAD.c_str()));
  sim::set_module_path("C:\\" + std::string(246, 'k') + "\\T.EXE");
  record_own_path(INSTANCE);
  EXPECT_EQ(0, payload_path(path, MAX_PATH, AVC_PAYLOAD.c_str()));
  EXPECT_EQ(1, payload_path(path, WHOLE_PATH_CAPACITY, AVC_PAYLOAD.c_str()));
}

// The tests spell the kit's names from kit_names.h; the product has its own
// payload table and built-in name. They must say the same, in the same order.
TEST_F(PathsTest, KitNamesOfTheTestsAreTheProductsNames) {
  EXPECT_EQ(AVC_PAYLOAD, PAYLOAD_NAMES[0]);
  EXPECT_EQ(AVC_LIBRARY, TARGET_NAMES[0]);
  EXPECT_EQ(API_PAYLOAD, PAYLOAD_NAMES[1]);
  EXPECT_EQ(API_LIBRARY, TARGET_NAMES[1]);
  EXPECT_STREQ("", PAYLOAD_NAMES[2]);
  EXPECT_STREQ("", TARGET_NAMES[2]);
  // A module path that does not fit leaves the built-in name: by far, and
  // by its terminator alone; one of 259 bytes is taken.
  for (size_t directory : {size_t{MAX_PATH}, size_t{241}, size_t{240}}) {
    const std::string module = "C:\\" + std::string(directory, 'k') + "\\" + UPDATER;
    sim::set_module_path(module);
    record_own_path(INSTANCE);
    EXPECT_EQ(module.size() < MAX_PATH ? module : UPDATER, own_path()) << module.size();
  }
}
