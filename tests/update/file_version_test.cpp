#include "update/file_version.h"

#include <cctype>
#include <cstring>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "machine_fixture.h"

#ifndef VERSION_ORDER_CASES
#error "VERSION_ORDER_CASES must name the table of version order cases"
#endif

// One quoted text of the case table, with its \xNN, \\ and \" escapes.
static bool parse_quoted(const char *&at, std::string &text) {
  while (*at == ' ' || *at == '\t') ++at;
  if (*at++ != '"') return false;
  text.clear();
  for (; *at && *at != '"'; ++at) {
    if (*at != '\\') {
      text += *at;
    } else if (at[1] == 'x' && std::isxdigit(static_cast<unsigned char>(at[2])) &&
               std::isxdigit(static_cast<unsigned char>(at[3]))) {
      text += static_cast<char>(std::stoi(std::string(at + 2, 2), nullptr, 16));
      at += 3;
    } else if (at[1] == '\\' || at[1] == '"') {
      text += *++at;
    } else {
      return false;
    }
  }
  return *at++ == '"';
}

// The table is shared with the release kit's tests, whose preview must
// order texts exactly as the updater does.
TEST(VersionOrder, ComparesTextNotNumbers) {
  std::ifstream table(VERSION_ORDER_CASES);
  ASSERT_TRUE(table) << VERSION_ORDER_CASES;
  std::string line;
  int cases = 0;
  for (int number = 1; std::getline(table, line); ++number) {
    if (line.empty() || line[0] == '#') continue;
    const char *at = line.c_str();
    std::string payload, installed;
    ASSERT_TRUE(parse_quoted(at, payload) && parse_quoted(at, installed)) << "line " << number << ": " << line;
    std::string verdict, extra;
    std::istringstream rest(at);
    rest >> verdict >> extra;
    ASSERT_TRUE(extra.empty()) << "line " << number << ": " << line;
    ASSERT_TRUE(verdict == "newer" || verdict == "not-newer") << "line " << number << ": " << line;
    EXPECT_EQ(verdict == "newer", is_newer(payload.c_str(), installed.c_str()) != 0)
        << "line " << number << ": " << line;
    ++cases;
  }
  EXPECT_GT(cases, 20);
}

class FileVersionTest : public MachineTest {
 protected:
  const std::string library = avc_in("C:\\T50");
  char version[VERSION_CAPACITY] = "untouched";
  int read() { return read_file_version(library.c_str(), version, VERSION_CAPACITY); }
  void give(const sim::VersionResource &resource) {
    sim::put_file(library, "MZ");
    sim::set_version(library, resource);
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
  sim::put_file(library, "no resource");
  EXPECT_EQ(0, read());
  give({{}});  // a resource without a translation table
  EXPECT_EQ(0, read());
  give({{{0x0409, 1200, true, "1.0"}}});
  sim::hold(library, sim::Hold::exclusive);
  EXPECT_EQ(0, read());
  sim::release(library);
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
  // A system directory of 247 bytes: "\\VERSION.DLL" ends on the path buffer's last byte.
  sim::set_system_directory("C:\\" + std::string(244, 's'));
  EXPECT_EQ(1, read());
  EXPECT_EQ(sim::system_directory() + "\\VERSION.DLL", sim::library_loads().back());
}

TEST_F(FileVersionTest, WithoutTheLibraryOrOneOfItsFunctionsNothingIsRead) {
  const std::function<void()> breakages[] = {
      [] { sim::fail_version_library(ERROR_MOD_NOT_FOUND); },
      [] { sim::fail_version_library(ERROR_BAD_EXE_FORMAT); },
      [] { sim::remove_version_export("GetFileVersionInfoSizeA"); },
      [] { sim::remove_version_export("GetFileVersionInfoA"); },
      [] { sim::remove_version_export("VerQueryValueA"); },
      [] { sim::fail_call(1, ERROR_ACCESS_DENIED, "GetSystemDirectoryA"); },
      // A system directory whose VERSION.DLL would not fit MAX_PATH, by one
      // byte and by more, and one that does not fit itself: nothing is
      // loaded by a cut path.
      [] { sim::set_system_directory("C:\\" + std::string(245, 's')); },
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
  for (const char *text : {"1.0", "1.00", "12.0.5"}) {  // strings end on and off a 4-byte boundary
    sim::VersionResource resource{{{0x0409, 1200, true, text}}};
    resource.unterminated = true;
    give(resource);
    EXPECT_EQ(0, read()) << text;
  }
  EXPECT_STREQ("untouched", version);
}

// Windows 9x hands back a 16-bit file's resource with no room after it:
// the translation ends the block.
TEST_F(FileVersionTest, TranslationMayEndTheBlock) {
  sim::set_platform(VER_PLATFORM_WIN32_WINDOWS);
  sim::VersionResource resource{{{0x0409, 1200, true, "1.0"}}};
  resource.sixteen_bit = true;
  give(resource);
  EXPECT_EQ(1, read());
  EXPECT_STREQ("1.0", version);
}
