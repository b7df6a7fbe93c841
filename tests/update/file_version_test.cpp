#include "update/file_version.h"

#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "machine_fixture.h"

TEST(VersionOrder, ComparesTextNotNumbers) {
  struct Case {
    const char *payload, *installed;
    bool newer;
  } const cases[] = {
      {"9.0", "10.0", true},
      {"10.0", "9.0", false},
      {"1.01.002", "1.01.010", false},
      {"1.01.010", "1.01.002", true},
      {"2.0a", "2.0", true},
      {"2.0", "2.0a", false},
      {"1.00.A", "1.00.a", false},
      {"1.00.a", "1.00.A", false},
      {"1.0", "1.0", false},
      {"", "", false},
      {"1", "", true},
      {"B", "a", true},
      // Only A-Z fold; bytes above 0x7f compare unsigned.
      {"\xe9", "z", true},
      {"[", "a", false},
      {"\xc9", "\xe9", false},
  };
  for (const Case &c : cases)
    EXPECT_EQ(c.newer, is_newer(c.payload, c.installed) != 0) << c.payload << " vs " << c.installed;
}

class FileVersionTest : public MachineTest {
 protected:
  char version[VERSION_CAPACITY] = "untouched";
  int read() { return read_file_version("C:\\T50\\TrvAvc.dll", version, VERSION_CAPACITY); }
  static void give(const sim::VersionResource &resource) {
    sim::put_file("C:\\T50\\TrvAvc.dll", "MZ");
    sim::set_version("C:\\T50\\TrvAvc.dll", resource);
  }
};

TEST_F(FileVersionTest, ReadsTheFirstTranslationOnly) {
  give({{{0x0411, 1200, true, "3.30.001"}, {0x0409, 1200, true, "9.99"}}});
  EXPECT_EQ(1, read());
  EXPECT_STREQ("3.30.001", version);

  give({{{0x0411, 932, false, ""}, {0x0409, 1200, true, "9.99"}}});
  std::memcpy(version, "untouched", 10);
  EXPECT_EQ(0, read());
  EXPECT_STREQ("untouched", version);
}

TEST_F(FileVersionTest, FilesWithoutUsableVersionGiveNothing) {
  EXPECT_EQ(0, read());  // missing file
  sim::put_file("C:\\T50\\TrvAvc.dll", "no resource");
  EXPECT_EQ(0, read());
  give({{}});  // a resource without a translation table
  EXPECT_EQ(0, read());
  give({{{0x0409, 1200, true, "1.0"}}});
  sim::hold("C:\\T50\\TrvAvc.dll", sim::Hold::exclusive);
  EXPECT_EQ(0, read());
  sim::release("C:\\T50\\TrvAvc.dll");
  sim::fail_heap_allocations();
  EXPECT_EQ(0, read());
  EXPECT_STREQ("untouched", version);
}

TEST_F(FileVersionTest, FunctionsComeFromTheSystemDirectorysLibraryByFullPath) {
  give({{{0x0409, 1200, true, "1.0"}}});
  EXPECT_EQ(1, read());
  sim::set_platform(VER_PLATFORM_WIN32_WINDOWS);
  EXPECT_EQ(1, read());
  EXPECT_EQ((std::vector<std::string>{"C:\\WINDOWS\\system32\\VERSION.DLL", "C:\\WINDOWS\\SYSTEM\\VERSION.DLL"}),
            sim::library_loads());
}

TEST_F(FileVersionTest, WithoutTheLibraryOrOneOfItsFunctionsNothingIsRead) {
  const std::function<void()> breakages[] = {
      [] { sim::fail_version_library(ERROR_MOD_NOT_FOUND); },
      [] { sim::fail_version_library(ERROR_BAD_EXE_FORMAT); },
      [] { sim::remove_version_export("GetFileVersionInfoSizeA"); },
      [] { sim::remove_version_export("GetFileVersionInfoA"); },
      [] { sim::remove_version_export("VerQueryValueA"); },
      [] { sim::fail_call(1, ERROR_ACCESS_DENIED, "GetSystemDirectoryA"); },
      // A system directory whose VERSION.DLL would not fit MAX_PATH, and
      // one that does not fit itself: nothing is loaded by a cut path.
      [] { sim::set_system_directory("C:\\" + std::string(250, 's')); },
      [] { sim::set_system_directory("C:\\" + std::string(300, 's')); },
  };
  for (const auto &breakage : breakages) {
    sim::reset();
    give({{{0x0409, 1200, true, "1.0"}}});
    breakage();
    EXPECT_EQ(0, read());
    EXPECT_STREQ("untouched", version);
    for (const std::string &load : sim::library_loads()) EXPECT_EQ(sim::system_directory() + "\\VERSION.DLL", load);
    EXPECT_TRUE(sim::faults().empty());
    EXPECT_EQ(0, sim::loaded_libraries());
  }
}

TEST_F(FileVersionTest, StringMustFitWithItsTerminatorWhateverLengthIsReported) {
  for (bool counts_terminator : {true, false}) {
    sim::VersionResource resource{{{0x0409, 1200, true, std::string(49, '7')}}};
    resource.length_counts_terminator = counts_terminator;
    give(resource);
    EXPECT_EQ(1, read()) << counts_terminator;
    EXPECT_EQ(std::string(49, '7'), version);

    resource.translations[0].file_version = std::string(50, '8');
    give(resource);
    EXPECT_EQ(0, read()) << counts_terminator;
    EXPECT_EQ(std::string(49, '7'), version);
  }
}

TEST_F(FileVersionTest, UnterminatedStringIsRefusedWithoutReadingPastTheBlock) {
  for (const char *text : {"1.0", "1.00", "12.0.5"}) {  // block ends on and off a 4-byte boundary
    sim::VersionResource resource{{{0x0409, 1200, true, text}}};
    resource.unterminated = true;
    give(resource);
    EXPECT_EQ(0, read()) << text;
  }
  EXPECT_STREQ("untouched", version);
}
