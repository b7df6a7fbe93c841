#include "update/install_location.h"

#include <cstring>
#include <string>

#include "machine_fixture.h"

class InstallLocationTest : public MachineTest {
 protected:
  char destination[MAX_PATH] = "untouched";
  int read() { return read_install_location(destination, TRAVEN_KEY, "Path"); }
};

TEST_F(InstallLocationTest, MissingKeyValueOrTextMeansNotInstalled) {
  EXPECT_EQ(0, read());
  sim::set_key(TRAVEN_KEY);
  EXPECT_EQ(0, read());
  sim::set_string(TRAVEN_KEY, "Path", "");
  EXPECT_EQ(0, read());
  sim::set_value(TRAVEN_KEY, "Path", REG_BINARY, std::string("\0C:\\T50\0", 8));
  EXPECT_EQ(0, read());
  EXPECT_STREQ("untouched", destination);
}

TEST_F(InstallLocationTest, AnyTypeIsReadUpToItsFirstZero) {
  sim::set_value(TRAVEN_KEY, "Path", REG_BINARY, std::string("C:\\T50\0junk", 11));
  EXPECT_EQ(1, read());
  EXPECT_STREQ("C:\\T50", destination);
  sim::set_value(TRAVEN_KEY, "Path", REG_DWORD, std::string("\x41\x42\0\0", 4));
  EXPECT_EQ(1, read());
  EXPECT_STREQ("AB", destination);
  // Stored without a terminator: the rest of the zeroed buffer closes it.
  sim::set_value(TRAVEN_KEY, "Path", REG_SZ, "C:\\Bare");
  EXPECT_EQ(1, read());
  EXPECT_STREQ("C:\\Bare", destination);
}

TEST_F(InstallLocationTest, ValueThatWouldHaveToBeCutIsRefused) {
  const std::string longest = "C:\\" + std::string(256, 'p');  // 259 bytes
  sim::set_string(TRAVEN_KEY, "Path", longest);                // 260 with the terminator
  EXPECT_EQ(1, read());
  EXPECT_EQ(longest, destination);

  std::memcpy(destination, "untouched", 10);
  sim::set_value(TRAVEN_KEY, "Path", REG_SZ, std::string(260, 'p'));  // fills the buffer, no zero
  EXPECT_EQ(0, read());
  sim::set_string(TRAVEN_KEY, "Path", std::string(260, 'p'));  // one byte past, its terminator
  EXPECT_EQ(0, read());
  sim::set_string(TRAVEN_KEY, "Path", std::string(300, 'p'));  // does not fit at all
  EXPECT_EQ(0, read());
  EXPECT_STREQ("untouched", destination);
}
