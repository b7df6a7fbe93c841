#include "update/presence.h"

#include <string>

#include "machine_fixture.h"

using PresenceTest = MachineTest;

const std::string LIBRARY = avc_in("C:\\T50");

TEST_F(PresenceTest, ExistingFileIsOpenedAndClosedWithoutABox) {
  sim::put_file(LIBRARY, "MZ");
  sim::hold(LIBRARY, sim::Hold::exclusive);  // opening for no access still works
  EXPECT_EQ(1, check_file_present(LIBRARY.c_str(), 1));
  EXPECT_TRUE(sim::boxes().empty());
  EXPECT_EQ(0, sim::open_handles());
}

TEST_F(PresenceTest, MissingFileIsReportedOnlyWhenAsked) {
  sim::make_dir("C:\\T50");
  EXPECT_EQ(0, check_file_present(LIBRARY.c_str(), 0));
  EXPECT_TRUE(sim::boxes().empty());
  EXPECT_EQ(0, check_file_present(LIBRARY.c_str(), 1));
  EXPECT_EQ(0, check_file_present(avc_in("C:\\Nowhere").c_str(), 1));
  ASSERT_EQ(2u, sim::boxes().size());
  EXPECT_EQ("The system cannot find the file specified.\r\n  \n\n[ " + LIBRARY + "  ]", sim::boxes()[0].text);
  EXPECT_EQ("The system cannot find the path specified.\r\n  \n\n[ C:\\Nowhere\\" + AVC_LIBRARY + "  ]",
            sim::boxes()[1].text);
  EXPECT_EQ("TRAVEN-60 Update", sim::boxes()[0].caption);
  EXPECT_EQ(MB_SYSTEMMODAL | MB_OK, sim::boxes()[0].style);
}

// A path of 259 bytes is opened; one of MAX_PATH bytes is refused before
// the system sees it.
TEST_F(PresenceTest, PathOfMaxPathBytesNeverReachesTheSystem) {
  const std::string longest = "C:\\" + std::string(245, 'p') + "\\" + AVC_LIBRARY;
  sim::put_file(longest, "MZ");
  EXPECT_EQ(1, check_file_present(longest.c_str(), 1));
  const std::string too_long = "C:\\" + std::string(246, 'p') + "\\" + AVC_LIBRARY;
  sim::clear_journal();
  EXPECT_EQ(0, check_file_present(too_long.c_str(), 1));
  EXPECT_TRUE(sim::journal().empty());
  EXPECT_EQ(std::vector<std::string>{"The filename or extension is too long.\r\n  \n\n[ " + too_long + "  ]"},
            box_texts());
}

TEST_F(PresenceTest, ReasonWithoutSystemTextFallsBackToNotExist) {
  sim::make_dir("C:\\T50");
  sim::set_system_message(ERROR_FILE_NOT_FOUND, "");
  check_file_present(LIBRARY.c_str(), 1);
  ASSERT_EQ(1u, sim::boxes().size());
  EXPECT_EQ("Not exist.  \n\n[ " + LIBRARY + "  ]", sim::boxes()[0].text);
}

TEST_F(PresenceTest, OverlongReasonGivesWayToThePath) {
  // 1,000 bytes of double-byte text: cut between characters, never inside one.
  sim::set_code_page(932);
  std::string reason;
  while (reason.size() < 1000) reason += "\x83\x5C";
  sim::set_system_message(ERROR_FILE_NOT_FOUND, reason);
  const std::string path = "C:\\" + std::string(240, 'p') + "\\" + AVC_LIBRARY;
  sim::make_dir("C:\\" + std::string(240, 'p'));
  check_file_present(path.c_str(), 1);
  ASSERT_EQ(1u, sim::boxes().size());
  const std::string &text = sim::boxes()[0].text;
  EXPECT_LE(text.size(), 1023u);
  const std::string ending = "...  \n\n[ " + path + "  ]";
  ASSERT_GT(text.size(), ending.size());
  EXPECT_EQ(ending, text.substr(text.size() - ending.size()));
  EXPECT_EQ(0u, (text.size() - ending.size()) % 2) << "a character was split";
}

// The box's 1,023 bytes filled exactly, and one byte past them; then
// reasons that fill the system's 1,024-byte buffer with and without their
// terminator.
TEST_F(PresenceTest, ReasonGivesWayFromTheFirstBytePastTheBox) {
  const std::string path = "C:\\" + std::string(245, 'p') + "\\" + AVC_LIBRARY;  // 259 bytes
  const std::string framed = "  \n\n[ " + path + "  ]";
  for (size_t reason : {755u, 756u, 1023u, 1024u}) {
    sim::set_system_message(ERROR_FILE_NOT_FOUND, std::string(reason, 'r'));
    report_unopenable(path.c_str(), ERROR_FILE_NOT_FOUND);
  }
  const std::string cut = std::string(752, 'r') + "..." + framed;
  EXPECT_EQ((std::vector<std::string>{std::string(755, 'r') + framed, cut, cut, "Not exist." + framed}), box_texts());
  // A path of 1,011 bytes leaves a reason one byte too long no room at all:
  // it goes whole, and no "..." stands for it.
  const std::string longest = "C:\\" + std::string(1008, 'p');
  sim::set_system_message(ERROR_FILE_NOT_FOUND, "rrrr");
  report_unopenable(longest.c_str(), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ("  \n\n[ " + longest + "  ]", box_texts().back());
  // On 932 a path a byte shorter leaves an odd room, 753 bytes, a double-byte character right past it.
  sim::set_code_page(932);
  const std::string shorter = "C:\\" + std::string(244, 'p') + "\\" + AVC_LIBRARY;
  sim::set_system_message(ERROR_FILE_NOT_FOUND, std::string(753, 'r') + "\x83\x5C\x83\x5C");
  report_unopenable(shorter.c_str(), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(std::string(753, 'r') + "...  \n\n[ " + shorter + "  ]", box_texts().back());
}

TEST_F(PresenceTest, PathLongerThanTheBoxKeepsItsEnd) {
  sim::set_code_page(932);
  std::string path = "C:\\";
  while (path.size() < 1010) path += "\x95\x5C";
  path += "\\" + AVC_LIBRARY;
  report_unopenable(path.c_str(), ERROR_FILE_NOT_FOUND);
  ASSERT_EQ(1u, sim::boxes().size());
  const std::string &text = sim::boxes()[0].text;
  EXPECT_LE(text.size(), 1023u);
  EXPECT_EQ(0u, text.find("  \n\n[ ..."));
  EXPECT_EQ("\x95\x5C\\" + AVC_LIBRARY + "  ]", text.substr(text.size() - 16));
  EXPECT_EQ(0u, (text.size() - 16 - 9) % 2) << "a character was split";
  // Its 1,011 bytes in the box begin right at a character, and inside one, which goes whole: no lone 0x5C shows.
  std::string japanese;
  while (japanese.size() < 1004) japanese += "\x95\x5C";
  for (const auto &[end, shown] :
       {std::pair<std::string, size_t>{"\\" + AVC_LIBRARY, 500}, {"\\60\\" + AVC_LIBRARY, 498}})
    for (size_t characters : {501, 502}) {
      report_unopenable(("C:\\" + japanese.substr(0, 2 * characters) + end).c_str(), ERROR_FILE_NOT_FOUND);
      EXPECT_EQ("  \n\n[ ..." + japanese.substr(0, 2 * shown) + end + "  ]", box_texts().back()) << characters << end;
    }
}

// A Japanese interface over a western code page: the system's Japanese
// reason would read as question marks, so it is asked in US English, and
// where the system has no English text, "Not exist." stays.
TEST_F(PresenceTest, ReasonTheCodePageCannotCarryIsShownInEnglish) {
  sim::make_dir("C:\\T50");
  sim::set_ui_language(1041);
  check_file_present(LIBRARY.c_str(), 1);
  sim::set_message_languages({1041});
  check_file_present(LIBRARY.c_str(), 1);
  // On 932 the Japanese reason stays, and on the 9x family, where the
  // system's texts are in its own code page, the reason is asked as ever,
  // also of a KERNEL32 without FormatMessageW.
  sim::set_code_page(932);
  check_file_present(LIBRARY.c_str(), 1);
  sim::set_platform(VER_PLATFORM_WIN32_WINDOWS);
  check_file_present(LIBRARY.c_str(), 1);
  sim::remove_version_export("FormatMessageW");
  check_file_present(LIBRARY.c_str(), 1);
  const std::string japanese = sim::to_cp932("指定されたファイルが見つかりません。\r\n") + "  \n\n[ " + LIBRARY + "  ]";
  EXPECT_EQ((std::vector<std::string>{"The system cannot find the file specified.\r\n  \n\n[ " + LIBRARY + "  ]",
                                      "Not exist.  \n\n[ " + LIBRARY + "  ]", japanese, japanese, japanese}),
            box_texts());
}
