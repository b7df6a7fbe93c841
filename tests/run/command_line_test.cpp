#include "run/command_line.h"

#include <string>

#include "machine_fixture.h"

using CommandLineTest = MachineTest;

static std::string tail_of(std::string line) {
  std::string copy = line;
  return command_line_tail(&copy[0]);
}

TEST_F(CommandLineTest, TailSkipsTheProgramNameAndTheBlanksAfterIt) {
  EXPECT_EQ("/d", tail_of(UPDATER + " /d"));
  EXPECT_EQ("-d x", tail_of("\"C:\\Program Files\\Kit\\" + UPDATER + "\" \t -d x"));
  EXPECT_EQ("/d", tail_of("prog\x01\x1f /d"));
  EXPECT_EQ("", tail_of("\"C:\\Kit\\" + UPDATER + "\""));
  EXPECT_EQ("", tail_of("\"C:\\Kit\\" + UPDATER));  // unclosed quote runs to the end
  EXPECT_EQ("", tail_of(""));
  EXPECT_EQ("/d", tail_of("\"\" /d"));
  EXPECT_STREQ("", command_line_tail(nullptr));
}

TEST_F(CommandLineTest, QuotedNameReadsDoubleByteCharacters) {
  // 0x81 is a lead byte in code page 932; the pair 81 22 is one character
  // there, so its second byte does not close the quote.
  const std::string quoted_trail = "\"C:\\\x81\"x\\" + UPDATER + "\" /d";
  const std::string blank_trail = "\"C:\\\x81 x\\" + UPDATER + "\" /d";
  sim::set_code_page(932);
  EXPECT_EQ("/d", tail_of(quoted_trail));
  EXPECT_EQ("/d", tail_of(blank_trail));
  sim::set_code_page(1252);
  EXPECT_EQ("x\\" + UPDATER + "\" /d", tail_of(quoted_trail));
  // A lead byte at the very end must not carry the scan past the terminator.
  sim::set_code_page(932);
  EXPECT_EQ("", tail_of("\"C:\\\x81"));
}

TEST_F(CommandLineTest, RemovalSwitchIsFoundAnywhereInTheTail) {
  for (const char *tail : {"/d", "/D", "-D", "-d", "C:/data/setup", "x-dy", "a /Debug"})
    EXPECT_TRUE(has_removal_switch(tail)) << tail;
  for (const char *tail : {"", "d", "/x -e", "\\d", "/ d"}) EXPECT_FALSE(has_removal_switch(tail)) << tail;
  EXPECT_FALSE(has_removal_switch(nullptr));
}
