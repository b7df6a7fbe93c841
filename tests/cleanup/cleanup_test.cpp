#include "cleanup/deferred_deletion.h"
#include "cleanup/self_removal.h"

#include <map>
#include <string>

#include "digest_of.h"
#include "kit/own_path.h"
#include "machine_fixture.h"
#include "run/run.h"
#include "update/payload_holds.h"

class CleanupTest : public MachineTest {
 protected:
  void SetUp() override {
    MachineTest::SetUp();
    put_kit("2.0", "2.0");
    record_own_path(INSTANCE);
  }
  static bool kit_left() {
    return sim::exists(EXE) || sim::exists(KIT + API_PAYLOAD) || sim::exists(KIT + AVC_PAYLOAD);
  }
  // The clean-up as the run does it: the payloads held at the start.
  static int remove_kit() {
    Kit kit;
    take_kit(INSTANCE, &kit);
    int removed = remove_self(&kit);
    release_kit(&kit);
    return removed;
  }
  static void use_9x() { sim::set_platform(VER_PLATFORM_WIN32_WINDOWS); }
  static void put_wininit(const std::string &text) { sim::put_file("C:\\WINDOWS\\WinInit.ini", text); }
  static int run_with(std::string tail) { return run(INSTANCE, 0, &tail[0], SW_SHOWDEFAULT); }
  // A Rename section of this size as it is read: each line and its terminator.
  static std::string rename_section_of(size_t size) {
    std::string text = "[Rename]\r\n";
    size_t read_size = 0;
    for (size_t i = 0; read_size + 40 < size; ++i) {
      std::string line = "Nul=C:\\OLD\\FILE" + std::to_string(i) + ".TMP";
      text += line + "\r\n";
      read_size += line.size() + 1;
    }
    return text + "Nul=C:\\" + std::string(size - read_size - 8, 'X') + "\r\n";
  }
};

TEST_F(CleanupTest, NtSchedulesTheRunningExecutableAndDeletesThePayloads) {
  EXPECT_EQ(1, remove_kit());
  EXPECT_EQ(std::vector<std::string>{EXE}, sim::pending_deletions());
  EXPECT_FALSE(sim::exists(KIT + AVC_PAYLOAD));
  EXPECT_FALSE(sim::exists(KIT + API_PAYLOAD));
  EXPECT_EQ("", sim::wininit_text());
  sim::restart();
  EXPECT_FALSE(kit_left());
}

TEST_F(CleanupTest, NineXWritesOneNulLineForTheRunningExecutable) {
  use_9x();
  sim::put_file(KIT + API_PAYLOAD, "read-only", FILE_ATTRIBUTE_READONLY);
  remove_kit();
  EXPECT_TRUE(sim::pending_deletions().empty());
  EXPECT_EQ(std::vector<std::string>{"Nul=C:\\KIT\\TRV60U~1.EXE"}, sim::wininit_section("Rename"));
  EXPECT_FALSE(sim::exists(KIT + API_PAYLOAD));
  EXPECT_TRUE(journal_has("flush C:\\WINDOWS\\WinInit.ini"));
  sim::restart();
  EXPECT_FALSE(kit_left());
}

TEST_F(CleanupTest, NineXNamesALongPathByItsShortForm) {
  use_9x();
  const std::string exe = "C:\\Program Files\\Update Kit\\" + UPDATER;
  sim::put_file("C:\\Program Files\\Update Kit\\TRV60UPDATE1.EXE", "an earlier one");
  sim::put_file(exe, "MZ");
  sim::hold(exe, sim::Hold::module);
  remove_file(exe.c_str(), VER_PLATFORM_WIN32_WINDOWS);
  EXPECT_EQ(std::vector<std::string>{"Nul=C:\\PROGRA~1\\UPDATE~1\\TRV60U~2.EXE"}, sim::wininit_section("Rename"));
  sim::restart();
  EXPECT_FALSE(sim::exists(exe));
  EXPECT_TRUE(sim::exists("C:\\Program Files\\Update Kit\\TRV60UPDATE1.EXE"));
}

// WININIT would pass over a long name: without its short form a file is
// not scheduled, and stays.
TEST_F(CleanupTest, NineXSchedulesNothingWithoutAShortForm) {
  use_9x();
  put_wininit("[Rename]\r\na=b\r\n");
  sim::fail_call(1, ERROR_ACCESS_DENIED, "GetShortPathNameA");
  remove_kit();
  EXPECT_EQ("GetShortPathNameA", sim::failed_call());
  EXPECT_EQ(std::vector<std::string>{"a=b"}, sim::wininit_section("Rename"));
  EXPECT_FALSE(journal_has("write-section C:\\WINDOWS\\WinInit.ini [Rename]"));
  // Nor one of MAX_PATH bytes, too long for its buffer; one of 259 is taken.
  for (size_t length : {260u, 259u}) {
    sim::set_short_name(EXE, "C:\\" + std::string(length - 3, 's'));
    schedule_deletion_in_wininit(EXE.c_str());
  }
  EXPECT_EQ((std::vector<std::string>{"a=b", "Nul=C:\\" + std::string(256, 's')}), sim::wininit_section("Rename"));
  sim::restart();
  EXPECT_TRUE(sim::exists(EXE));
}

TEST_F(CleanupTest, FilesThatCanGoAtOnceLeaveNothingScheduled) {
  for (DWORD platform : {VER_PLATFORM_WIN32_NT, VER_PLATFORM_WIN32_WINDOWS}) {
    sim::put_file("C:\\KIT\\free.txt", "x", FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN);
    sim::clear_journal();
    remove_file("C:\\KIT\\free.txt", platform);
    EXPECT_FALSE(sim::exists("C:\\KIT\\free.txt"));
    EXPECT_TRUE(sim::pending_deletions().empty());
    EXPECT_EQ("", sim::wininit_text());
  }
}

TEST_F(CleanupTest, FileThatIsNotThereIsNeverScheduled) {
  for (DWORD platform : {VER_PLATFORM_WIN32_NT, VER_PLATFORM_WIN32_WINDOWS}) {
    remove_file("C:\\KIT\\UPDATE.D_9", platform);
    remove_file("C:\\GONE\\UPDATE.D_9", platform);
  }
  EXPECT_TRUE(sim::pending_deletions().empty());
  EXPECT_EQ("", sim::wininit_text());
}

TEST_F(CleanupTest, RenameSectionKeepsItsLinesAndGainsNewOnesInOrder) {
  use_9x();
  put_wininit("[Other]\r\nx=1\r\n[Rename]\r\na=b\r\n");
  sim::put_file("C:\\ONE.EXE", "1");
  sim::put_file("C:\\Second One.dll", "2");
  schedule_deletion_in_wininit("C:\\ONE.EXE");
  schedule_deletion_in_wininit("C:\\Second One.dll");
  EXPECT_EQ((std::vector<std::string>{"a=b", "Nul=C:\\ONE.EXE", "Nul=C:\\SECOND~1.DLL"}),
            sim::wininit_section("Rename"));
  EXPECT_EQ(std::vector<std::string>{"x=1"}, sim::wininit_section("Other"));
}

TEST_F(CleanupTest, SectionWithoutRoomIsLeftExactlyAsItWas) {
  use_9x();
  // One that cannot be read whole, one that can but has no room for the new
  // line, and one where the new line would end on the buffer's last byte,
  // where the zero that closes the list must go: 32,768 bytes less the 24
  // of "Nul=C:\KIT\TRV60U~1.EXE" and its terminator.
  for (size_t filled : {40000u, 32750u, 32744u}) {
    const std::string text = rename_section_of(filled);
    put_wininit(text);
    schedule_deletion_in_wininit(EXE.c_str());
    EXPECT_EQ(text, sim::wininit_text()) << filled;
  }
  // One byte less, and the line and the closing zero fill the buffer.
  put_wininit(rename_section_of(32743));
  schedule_deletion_in_wininit(EXE.c_str());
  EXPECT_EQ("Nul=C:\\KIT\\TRV60U~1.EXE", sim::wininit_section("Rename").back());
}

// A Windows directory of 247 bytes leaves "\WinInit.ini" the path buffer's
// last byte for its terminator; one more, and no such file is named at all.
TEST_F(CleanupTest, NineXWinInitPathMustFitWithItsName) {
  use_9x();
  for (size_t length : {247u, 248u}) {
    sim::set_windows_directory("C:\\" + std::string(length - 3, 'w'));
    sim::clear_journal();
    schedule_deletion_in_wininit(EXE.c_str());
    EXPECT_EQ(length == 247, journal_has("write-section " + sim::wininit_path() + " [Rename]")) << length;
    EXPECT_TRUE(length == 247 || sim::journal().empty()) << length;
  }
}

TEST_F(CleanupTest, PathThatWouldBreakItsLineIsNeverScheduled) {
  use_9x();
  put_wininit("[Rename]\r\na=b\r\n");
  // Each line break would start a line of its own: one that deletes a
  // system file at the next start, or a section header. No Windows names
  // a file so; here the system's short forms carry the breaks.
  for (const char *path :
       {"C:\\KIT\\X\r\nNul=C:\\WINDOWS\\SYSTEM\\KERNEL32.DLL", "C:\\KIT\\X\n[Other]\nb=c", "C:\\KIT\\X\tY"}) {
    sim::put_file(path, "x");
    sim::set_short_name(path, path);
    schedule_deletion_in_wininit(path);
  }
  EXPECT_EQ(std::vector<std::string>{"a=b"}, sim::wininit_section("Rename"));
  EXPECT_TRUE(sim::wininit_section("Other").empty());
}

// Windows drops the blanks and dots that end a name, so a kit whose path
// ends in one names, for deletion, a neighbour without them.
TEST_F(CleanupTest, NameThatWindowsWouldRewriteIsNeverDeletedNorScheduled) {
  const struct {
    const char *own_path;
    const char *neighbour;
  } cases[] = {
      {"C:\\KIT\\butes ", "C:\\KIT\\butes"},
      {"C:\\KIT\\setup.", "C:\\KIT\\setup"},
      {"C:\\KIT\\en . ", "C:\\KIT\\en"},
      {"\\\\server\\share\\kit\\setup \xFF ", "\\\\server\\share\\kit\\setup \xFF"},
  };
  for (DWORD family : {VER_PLATFORM_WIN32_NT, VER_PLATFORM_WIN32_WINDOWS}) {
    for (const auto &c : cases) {
      sim::reset();
      sim::set_platform(family);
      sim::set_module_path(c.own_path);
      sim::put_file(c.own_path, "MZ updater");
      sim::hold(c.own_path, sim::Hold::module);
      sim::put_file(c.neighbour, "somebody else's file");
      record_own_path(INSTANCE);
      remove_kit();
      sim::restart();
      EXPECT_EQ("somebody else's file", sim::bytes_of(c.neighbour)) << family << " " << c.own_path;
      EXPECT_TRUE(sim::exists(c.own_path)) << family << " " << c.own_path;
    }
  }
  // A middle component that ends in a blank is kept by Windows, but the
  // clean-up does not rely on that.
  sim::reset();
  const std::string beside_blank = "C:\\KIT \\" + AVC_PAYLOAD;
  sim::put_file(beside_blank, "payload");
  remove_file(beside_blank.c_str(), VER_PLATFORM_WIN32_NT);
  EXPECT_TRUE(sim::exists(beside_blank));
}

TEST_F(CleanupTest, NineXLineThatWouldNotReadBackIsNeverWritten) {
  use_9x();
  put_wininit("[Rename]\r\na=b\r\n");
  // Whatever form the system hands back, a value with a blank at either
  // end would be read back without it, naming another file.
  sim::put_file("C:\\KIT\\X", "x");
  for (const char *given : {" C:\\KIT\\X", "C:\\KIT\\X "}) {
    sim::set_short_name("C:\\KIT\\X", given);
    schedule_deletion_in_wininit("C:\\KIT\\X");
  }
  EXPECT_EQ(std::vector<std::string>{"a=b"}, sim::wininit_section("Rename"));
}

TEST_F(CleanupTest, NothingIsRemovedWithoutThePlatformVersion) {
  sim::fail_version_query();
  EXPECT_EQ(0, remove_kit());
  EXPECT_TRUE(sim::exists(EXE) && sim::exists(KIT + API_PAYLOAD) && sim::exists(KIT + AVC_PAYLOAD));
  EXPECT_TRUE(sim::pending_deletions().empty());
}

TEST_F(CleanupTest, SwitchCleansUpAfterEveryOutcome) {
  // Not found.
  run_with("/d");
  EXPECT_EQ(1u, sim::boxes().size());
  sim::restart();
  EXPECT_FALSE(kit_left());

  // Success.
  sim::reset();
  put_kit("2.0", "2.0");
  install(TRAVEN_KEY, "C:\\T50", "1.0", "2.0");
  run_with("-d");
  EXPECT_EQ(std::vector<std::string>{"Update was succeeded."}, box_texts());
  sim::restart();
  EXPECT_FALSE(kit_left());
  EXPECT_TRUE(sim::exists(avc_in("C:\\T50")) && sim::exists(api_in("C:\\T50")));

  // A failed pass, on the 9x family: the presence check meets the library
  // in use.
  sim::reset();
  use_9x();
  put_kit("2.0", "2.0");
  install(TRAVEN_KEY, "C:\\T50", "1.0", "1.0");
  sim::hold(avc_in("C:\\T50"), sim::Hold::module);
  run_with("/D");
  EXPECT_EQ(std::vector<std::string>{"The process cannot access the file because it is being used by another "
                                     "process.\r\n  \n\n[ C:\\T50\\" +
                                     AVC_LIBRARY + "  ]"},
            box_texts());
  sim::restart();
  EXPECT_FALSE(kit_left());
}

TEST_F(CleanupTest, WithoutTheSwitchNothingIsRemoved) {
  install(TRAVEN_KEY, "C:\\T50", "1.0", "1.0");
  run_with("");
  EXPECT_FALSE(journal_has("delete " + std::string(EXE)));
  sim::restart();
  EXPECT_TRUE(sim::exists(EXE) && sim::exists(KIT + API_PAYLOAD) && sim::exists(KIT + AVC_PAYLOAD));
}

// While the last box waits, the kit's folder is made to lead elsewhere (a
// junction pointed at another folder), to read-only files of the kit's
// names. The clean-up deletes the files the run began with, a read-only one
// too, through its holds: through SetFileInformationByHandle on Vista and
// later, NTDLL before; the files the names lead to now keep their bytes and
// their attributes, and only the executable is left to the restart.
TEST_F(CleanupTest, NtKitRepointedWhileTheBoxWaitsLosesOnlyItsOwnFiles) {
  for (DWORD major : {4u, 5u, 6u}) {
    SetUp();
    sim::set_nt_version(major, 0);
    sim::put_file(KIT + AVC_PAYLOAD, "read-only payload", FILE_ATTRIBUTE_READONLY);
    sim::on_call("MessageBoxA", [] {
      for (const std::string &name : {UPDATER, AVC_PAYLOAD, API_PAYLOAD}) {
        sim::relink(KIT + name, "somebody else's");
        sim::put_file(KIT + name, "somebody else's", FILE_ATTRIBUTE_READONLY);
      }
    });
    run_with("/d");
    ASSERT_EQ(1u, sim::boxes().size());
    for (const std::string &name : {UPDATER, AVC_PAYLOAD, API_PAYLOAD}) {
      EXPECT_EQ("somebody else's", sim::bytes_of(KIT + name)) << major;
      EXPECT_EQ(static_cast<DWORD>(FILE_ATTRIBUTE_READONLY), sim::attributes_of(KIT + name)) << major;
    }
    EXPECT_TRUE(journal_has("delete-through C:\\KIT\\" + AVC_PAYLOAD)) << major;
    EXPECT_TRUE(journal_has("delete-through C:\\KIT\\" + API_PAYLOAD)) << major;
    EXPECT_EQ(std::vector<std::string>{EXE}, sim::pending_deletions());
    EXPECT_EQ(0, sim::open_handles());
  }
}

// A payload that a program has loaded cannot go at once on NT either: it is
// left to the restart. One that was never there is not scheduled.
TEST_F(CleanupTest, NtPayloadInUseGoesAtTheRestart) {
  sim::hold(KIT + AVC_PAYLOAD, sim::Hold::module);
  ASSERT_TRUE(DeleteFileA((KIT + API_PAYLOAD).c_str()));
  EXPECT_EQ(1, remove_kit());
  EXPECT_EQ((std::vector<std::string>{EXE, KIT + AVC_PAYLOAD}), sim::pending_deletions());
  sim::restart();
  EXPECT_FALSE(kit_left());
}

// NT: each folder is opened at the run's first look, and every file in it
// is reached through that handle. A folder made afterwards to lead to
// \RPC Control, whose links lead each name of ours to a file outside, leaves
// those files as they were; so does a payload with another name beside
// ours, whose attributes are every name's, and whose bytes a plain build,
// which has no digest, never installs.
TEST_F(CleanupTest, NtFoldersKeepWhatTheRunFirstFound) {
  const std::string outside_avc = "C:\\OTHER\\A.DLL", outside_api = "C:\\OTHER\\B.DLL", made = "C:\\OTHER\\NEW.DLL";
  const std::map<std::string, std::string> links = {{AVC_PAYLOAD, outside_avc}, {API_PAYLOAD, outside_api},
                                                    {AVC_LIBRARY, outside_avc}, {API_LIBRARY, outside_api},
                                                    {"TRVNEW.TMP", made},       {UPDATER, outside_avc}};
  const std::string t50_avc = avc_in("C:\\T50");
  struct Row {
    const char *what;
    std::function<void()> arrange;
    bool installs;  // the new TrvAvc.dll reaches the installation
  };
  const Row rows[] = {
      {"the kit, at the first open of a payload",
       [&] { sim::on_open(KIT + AVC_PAYLOAD, [&] { sim::repoint("C:\\KIT", "", links); }); }, true},
      {"the installation, while the box before its pass waits",
       [&] {
         install(ZEL_KEY, "C:\\ZEL", "1.0", "1.0");
         sim::hold(avc_in("C:\\ZEL"), sim::Hold::module);
         sim::on_call("MessageBoxA", [&] {
           if (sim::boxes().empty()) sim::repoint("C:\\T50", "", links);
         });
       },
       true},
      {"a payload with another name", [] { sim::set_links(KIT + AVC_PAYLOAD, 2); }, false},
  };
  for (DWORD major : {4u, 5u, 10u}) {
    for (const Row &row : rows) {
      for (bool release : {false, true}) {
        const std::string where = std::string(row.what) + (release ? ", release, NT " : ", NT ") + std::to_string(major);
        SetUp();
        sim::set_nt_version(major, major == 5 ? 1 : 0);
        sim::put_file(KIT + AVC_PAYLOAD, "MZ library 2.0", FILE_ATTRIBUTE_READONLY);
        sim::set_file_version(KIT + AVC_PAYLOAD, "2.0");
        install(TRAVEN_KEY, "C:\\T50", "1.0", "1.0");
        // A release's decoys bear the payloads' very bytes, and digests.
        for (const std::string &path : {outside_avc, outside_api}) {
          sim::put_file(path, release ? sim::bytes_of(KIT + API_PAYLOAD) : "MZ somebody else's",
                        FILE_ATTRIBUTE_READONLY);
          sim::set_file_version(path, "1.5");  // between the library and the payload
        }
        if (release)
          sim::set_resource(10, "#1",
                            record_of(sim::bytes_of(KIT + AVC_PAYLOAD), "2.0") +
                                record_of(sim::bytes_of(KIT + API_PAYLOAD), "2.0"));
        row.arrange();
        const std::string outside = sim::bytes_of(outside_avc);
        run_with("/d");
        for (const std::string &path : {outside_avc, outside_api}) {
          EXPECT_EQ(outside, sim::bytes_of(path)) << where;
          EXPECT_EQ(static_cast<DWORD>(FILE_ATTRIBUTE_READONLY), sim::attributes_of(path)) << where;
        }
        EXPECT_FALSE(sim::exists(made)) << where;
        // The installation's TrvAvc.dll, wherever its folder went.
        const std::string moved = avc_in("C:\\T50.moved1");
        EXPECT_EQ(row.installs || release, sim::bytes_of(sim::exists(moved) ? moved : t50_avc) == "MZ library 2.0")
            << where;
        if (!row.installs) EXPECT_EQ(static_cast<DWORD>(FILE_ATTRIBUTE_READONLY), sim::attributes_of(KIT + AVC_PAYLOAD)) << where;
        EXPECT_EQ(0, sim::open_handles()) << where;
        EXPECT_TRUE(sim::faults().empty()) << where;
      }
    }
  }
}

// NT: a restart leaves a read-only file where it is, so nothing of the kit
// goes to it read-only: the executable's attribute is cleared through the
// handle taken before the first box, and a payload's through its hold.
TEST_F(CleanupTest, NtReadOnlyKitLeavesNothingAfterTheRestart) {
  for (DWORD major : {4u, 5u, 10u}) {
    SetUp();
    sim::set_nt_version(major, major == 5 ? 1 : 0);
    for (const std::string &path : {EXE, KIT + AVC_PAYLOAD, KIT + API_PAYLOAD})
      sim::put_file(path, "read-only " + path, FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN);
    // Loaded: it goes at the restart. The other cannot be held for its
    // deletion (another program reads it without sharing that), only for
    // its attributes.
    sim::hold(KIT + AVC_PAYLOAD, sim::Hold::module);
    sim::fail_call(5, ERROR_SHARING_VIOLATION, "NtCreateFile");
    run_with("/d");
    EXPECT_EQ((std::vector<std::string>{EXE, KIT + AVC_PAYLOAD, KIT + API_PAYLOAD}), sim::pending_deletions())
        << major;
    EXPECT_EQ(static_cast<DWORD>(FILE_ATTRIBUTE_HIDDEN), sim::attributes_of(EXE)) << major << ": only read-only goes";
    sim::restart();
    EXPECT_FALSE(kit_left()) << major;
  }
}

// NT: a folder that leads to no folder at the run's first look (a mount
// point to an object-manager directory) fails its pass as a missing library
// does, and the kit's fails as payloads that cannot be opened.
TEST_F(CleanupTest, NtFolderThatLeadsToNoFolderFailsAsOneMissing) {
  const std::string reason = "The system cannot find the path specified.\r\n  \n\n[ ";
  const struct {
    const char *key, *folder;
    std::vector<std::string> boxes;
  } rows[] = {
      {TRAVEN_KEY, "C:\\T50", {reason + avc_in("C:\\T50") + "  ]"}},
      {ZEL_KEY, "C:\\T50", {"No need to update."}},
      {TRAVEN_KEY, "C:\\KIT", {reason + KIT + AVC_PAYLOAD + "  ]"}},
      {ZEL_KEY, "", {"No need to update."}},  // a file where the folder should be
      // A payload that is a link is opened as itself, and refused.
      {TRAVEN_KEY, "link", {std::string("The file cannot be accessed by the system.\r\n  \n\n[ ") + KIT + AVC_PAYLOAD + "  ]"}},
  };
  for (const auto &row : rows) {
    SetUp();
    install(row.key, "C:\\T50", "1.0", "1.0");
    if (!*row.folder) sim::set_string(row.key, "InstallDir", avc_in("C:\\T50"));
    sim::set_system_message(ERROR_CANT_ACCESS_FILE, "The file cannot be accessed by the system.\r\n");
    if (row.folder == std::string("link"))
      sim::put_file(KIT + AVC_PAYLOAD, "MZ", FILE_ATTRIBUTE_REPARSE_POINT);
    else if (*row.folder)
      sim::repoint(row.folder, "", {{AVC_LIBRARY, "C:\\OTHER\\A.DLL"}, {AVC_PAYLOAD, "C:\\OTHER\\A.DLL"}});
    sim::put_file("C:\\OTHER\\A.DLL", "MZ somebody else's");
    run_with("");
    EXPECT_EQ(row.boxes, box_texts()) << row.key << " " << row.folder;
    EXPECT_EQ("MZ somebody else's", sim::bytes_of("C:\\OTHER\\A.DLL"));
  }
}
