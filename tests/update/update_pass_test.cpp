#include "update/update_pass.h"

#include <algorithm>
#include <functional>
#include <string>

#include "kit/own_path.h"
#include "machine_fixture.h"
#include "run/run.h"

// The libraries of the installation most tests update.
const std::string T50_AVC = avc_in("C:\\T50");
const std::string T50_API = api_in("C:\\T50");
// The working files beside them: the payload's copy, and on 9x each
// library's own copy set aside.
const std::string T50_NEW = file_in("C:\\T50", "TRVNEW.TMP");
const std::string T50_OLD = file_in("C:\\T50", "TRVOLD1.TMP");
const std::string T50_API_OLD = file_in("C:\\T50", "TRVOLD2.TMP");

class UpdatePassTest : public MachineTest {
 protected:
  void SetUp() override {
    MachineTest::SetUp();
    sim::set_module_path(EXE);
  }
  static int pass(const char *directory, BYTE report) {
    record_own_path(INSTANCE);
    return pass_with_kit(directory, report);
  }
  static int run_updater(std::string tail = "") { return run(INSTANCE, 0, &tail[0], SW_SHOWDEFAULT); }
  // The working files made and the renames, in order.
  static std::vector<std::string> replacements() {
    std::vector<std::string> found;
    for (const auto &line : sim::journal())
      if (line.rfind("create ", 0) == 0 || line.rfind("move ", 0) == 0) found.push_back(line);
    return found;
  }
  // The journal of the first replacement: from the first deletion of the
  // working name to the second attribute reset of the library.
  // From the first line that names the working file to the second reset
  // of the library's attributes, by name (9x) or through a handle (NT).
  static std::vector<std::string> replacement_of(const std::string &library) {
    auto reset = [&](const std::string &line) {
      return line == "attributes " + library + " 0x80" || line == "attributes-through " + library + " 0x80";
    };
    const auto &journal = sim::journal();
    auto first = std::find_if(journal.begin(), journal.end(),
                              [](const std::string &line) { return line.find(T50_NEW) != std::string::npos; });
    auto last = std::find_if(first, journal.end(), reset);
    if (last != journal.end()) last = std::find_if(last + 1, journal.end(), reset);
    return std::vector<std::string>(first, last == journal.end() ? last : last + 1);
  }
};

TEST_F(UpdatePassTest, EqualVersionsAreLeftAlone) {
  put_kit("1.01.002", "1.01.A");
  install(TRAVEN_KEY, "C:\\T50", "1.01.002", "1.01.a");
  EXPECT_EQ(PASS_UP_TO_DATE, pass("C:\\T50", 1));
  EXPECT_TRUE(replacements().empty());
  EXPECT_TRUE(sim::boxes().empty());
}

TEST_F(UpdatePassTest, NewerPayloadsReplaceBothLibrariesInTableOrder) {
  put_kit("2.0", "2.0");
  install(TRAVEN_KEY, "C:\\T50\\", "1.0", "1.0");
  sim::put_file(T50_API, "old", FILE_ATTRIBUTE_READONLY);
  sim::set_file_version(T50_API, "1.0");
  EXPECT_EQ(PASS_REPLACED, pass("C:\\T50\\", 1));
  EXPECT_EQ((std::vector<std::string>{"create C:\\T50\\TRVNEW.TMP", "move C:\\T50\\TRVNEW.TMP > " + T50_AVC,
                                      "create C:\\T50\\TRVNEW.TMP", "move C:\\T50\\TRVNEW.TMP > " + T50_API}),
            replacements());
  EXPECT_EQ(sim::bytes_of(KIT + AVC_PAYLOAD), sim::bytes_of(T50_AVC));
  EXPECT_EQ(sim::written_time(KIT + AVC_PAYLOAD), sim::written_time(T50_AVC));  // as a copy keeps it
  EXPECT_EQ(sim::bytes_of(KIT + API_PAYLOAD), sim::bytes_of(T50_API));
  EXPECT_EQ(FILE_ATTRIBUTE_NORMAL, sim::attributes_of(T50_AVC));
  EXPECT_EQ(FILE_ATTRIBUTE_NORMAL, sim::attributes_of(T50_API));  // was read-only
}

TEST_F(UpdatePassTest, VersionLibraryThatCannotBeHadIsAMissingVersion) {
  const std::function<void()> breakages[] = {
      [] { sim::fail_version_library(ERROR_MOD_NOT_FOUND); },
      [] { sim::remove_version_export("GetFileVersionInfoA"); },
      [] { sim::remove_version_export("VerQueryValueA"); },
  };
  for (const auto &breakage : breakages) {
    sim::reset();
    sim::set_module_path(EXE);
    put_kit("2.0", "2.0");
    install(TRAVEN_KEY, "C:\\T50", "1.0", "1.0");
    breakage();
    EXPECT_EQ(0, run_updater());
    EXPECT_EQ(std::vector<std::string>{"Can not get version info."}, box_texts());
    EXPECT_TRUE(replacements().empty());
    EXPECT_TRUE(sim::faults().empty());
  }
}

TEST_F(UpdatePassTest, LaterFailureKeepsEarlierReplacement) {
  put_kit("2.0", "2.0");
  sim::put_file(KIT + API_PAYLOAD, "no version resource");
  install(TRAVEN_KEY, "C:\\T50", "1.0", "1.0");
  EXPECT_EQ(PASS_FAILED, pass("C:\\T50", 1));
  EXPECT_EQ(std::vector<std::string>{"Can not get version info."}, box_texts());
  EXPECT_EQ(sim::bytes_of(KIT + AVC_PAYLOAD), sim::bytes_of(T50_AVC));
}

// The new library is written beside the old one into a file made for it,
// from the payload's open handle, and takes its name only once its bytes are
// on disk. Working files that a run cut short left behind are cleared first.
TEST_F(UpdatePassTest, NewLibraryIsFlushedBesideTheOldOneBeforeItTakesItsName) {
  const std::string payload_read = "read C:\\KIT\\" + AVC_PAYLOAD, &fresh = T50_NEW;
  const std::vector<std::string> copy = {
      "create " + fresh,      payload_read,
      "write " + fresh,       payload_read /* the end */,
      "time " + fresh,        "flush-buffers " + fresh,
  };
  // NT: in the folder's handle, the leftover goes as a name, and the new
  // file is renamed through its own handle.
  std::vector<std::string> nt = {"open " + fresh, "delete-through " + fresh};
  nt.insert(nt.end(), copy.begin(), copy.end());
  nt.insert(nt.end(), {"attributes-through " + T50_AVC + " 0x80", "move " + T50_NEW + " > " + T50_AVC,
                       "attributes-through " + T50_AVC + " 0x80"});
  // Windows 9x: the library must be free, steps aside, and goes.
  std::vector<std::string> nine_x = {"delete " + fresh};
  nine_x.insert(nine_x.end(), copy.begin(), copy.end());
  nine_x.insert(nine_x.end(), {"attributes " + T50_AVC + " 0x80", "open " + T50_AVC, "delete " + T50_OLD + " failed" /* gone before the walk */,
                               "move " + T50_AVC + " > " + T50_OLD, "move " + T50_NEW + " > " + T50_AVC,
                               "delete " + T50_OLD, "attributes " + T50_AVC + " 0x80"});
  for (DWORD family : {VER_PLATFORM_WIN32_NT, VER_PLATFORM_WIN32_WINDOWS}) {
    sim::reset();
    sim::set_module_path(EXE);
    sim::set_platform(family);
    put_kit("2.0", "1.0");
    sim::put_file(KIT + AVC_PAYLOAD, "MZ new library", FILE_ATTRIBUTE_READONLY);
    sim::set_file_version(KIT + AVC_PAYLOAD, "2.0");
    install(TRAVEN_KEY, "C:\\T50", "1.0", "1.0");
    sim::put_file(T50_NEW, "left by a run cut short");
    sim::put_file(T50_OLD, "left by a run cut short");
    EXPECT_EQ(PASS_REPLACED, pass("C:\\T50", 1)) << family;
    EXPECT_EQ(family == VER_PLATFORM_WIN32_NT ? nt : nine_x, replacement_of(T50_AVC)) << family;
    EXPECT_EQ("MZ new library", sim::bytes_of(T50_AVC));
    EXPECT_EQ(FILE_ATTRIBUTE_NORMAL, sim::attributes_of(T50_AVC));
    EXPECT_FALSE(sim::exists(T50_NEW));
    EXPECT_EQ(family == VER_PLATFORM_WIN32_NT, sim::exists(T50_OLD)) << "NT has no copy set aside: not ours";
    EXPECT_EQ(0, sim::open_handles());
  }
}

// 9x: when the new library cannot take the name and the old one cannot go
// back (a file made there meanwhile), both working files stay, for the next
// run to put the old library back: its bytes are never deleted.
// Nor does "/d" then remove the kit, which is what puts the library back.
TEST_F(UpdatePassTest, ExchangeWhoseWayBackFailsKeepsBothWorkingFiles) {
  sim::set_platform(VER_PLATFORM_WIN32_WINDOWS);
  put_kit("2.0", "2.0");
  install(TRAVEN_KEY, "C:\\T50", "1.0", "1.0");
  sim::on_call("MoveFileA", [&] {
    if (!sim::exists(T50_AVC) && sim::exists(T50_OLD)) sim::put_file(T50_AVC, "theirs");
  });
  char tail[] = "/d";
  run(INSTANCE, 0, tail, SW_SHOWDEFAULT);
  EXPECT_EQ(std::vector<std::string>{"Files in use. Please stop application using TRAVEN-60."}, box_texts());
  EXPECT_EQ("MZ library 1.0", sim::bytes_of(T50_OLD));
  EXPECT_EQ(sim::bytes_of(KIT + AVC_PAYLOAD), sim::bytes_of(T50_NEW));
  sim::restart();
  EXPECT_TRUE(sim::exists(EXE) && sim::exists(KIT + AVC_PAYLOAD) && sim::exists(KIT + API_PAYLOAD));
}

// A library whose name is a link may lead to any file; it is left as it is.
TEST_F(UpdatePassTest, LibraryThatIsALinkIsLeftAlone) {
  put_kit("2.0", "2.0");
  install(TRAVEN_KEY, "C:\\T50", "1.0", "1.0");
  sim::put_file(T50_AVC, "MZ library 1.0", FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_REPARSE_POINT);
  sim::set_file_version(T50_AVC, "1.0");
  EXPECT_EQ(PASS_FAILED, pass("C:\\T50", 1));
  EXPECT_EQ(std::vector<std::string>{"Files in use. Please stop application using TRAVEN-60."}, box_texts());
  EXPECT_EQ(FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_REPARSE_POINT, sim::attributes_of(T50_AVC));
  EXPECT_TRUE(replacements().empty());
}

// Whatever stops a replacement, on either family and in either pass: the
// library keeps its old bytes, no working file of the run stays, a file of
// somebody else's stays as it was, message 4 is shown and the pass fails, as
// a failed copy always did.
TEST_F(UpdatePassTest, ReplacementThatCannotFinishLeavesTheOldLibraryWhole) {
  const DWORD NT = VER_PLATFORM_WIN32_NT, NINE_X = VER_PLATFORM_WIN32_WINDOWS, ANY = 0;
  struct Case {
    const char *what;
    DWORD family;
    std::function<void()> arrange;
    std::string shows;     // a journal line that shows where it stopped
    std::string nt_shows;  // the same on NT, where it differs
  };
  auto held_by_another = [](const std::string &path) {
    return [=] {
      sim::put_file(path, "theirs");
      sim::hold(path, sim::Hold::exclusive);
    };
  };
  const Case cases[] = {
      {"a full disk", ANY, [] { sim::set_free_space("C:\\T50", 1000); }, "write " + T50_NEW + " failed"},
      // NT refuses to rename over a loaded library, after the copy.
      {"a library in use", NT, [] { sim::hold(T50_AVC, sim::Hold::module); },
       "move C:\\T50\\TRVNEW.TMP > " + T50_AVC + " failed"},
      // 9x: found out before anything is renamed, since Wine's 9x mode would
      // rename a loaded library. (Loaded before the pass, the library already
      // fails the presence check there: this one is loaded during the copy.)
      {"a library in use", NINE_X, [] { sim::on_call("WriteFile", [] { sim::hold(T50_AVC, sim::Hold::module); }); },
       "open " + T50_AVC + " failed"},
      // Working names that are not free: another user's file held open, or
      // one made between the delete and the creation. Neither is touched.
      {"a working file held open", ANY, held_by_another(T50_NEW), "delete " + T50_NEW + " failed",
       "open " + T50_NEW + " failed"},
      {"a working name taken meanwhile", ANY,
       [=] {
         for (const char *create : {"CreateFileA", "NtCreateFile"})
           sim::on_call(create, [=] {
             const std::string last = sim::journal().empty() ? "" : sim::journal().back();
             if (last == "delete " + T50_NEW + " failed" || last == "open " + T50_NEW + " failed")
               sim::put_file(T50_NEW, "theirs");
           });
       },
       "create " + T50_NEW + " failed"},
      {"an old working file held open", NINE_X, held_by_another(T50_OLD), "delete " + T50_OLD + " failed"},
      {"no write", ANY, [] { sim::fail_call(1, ERROR_ACCESS_DENIED, "WriteFile"); }, "delete " + T50_NEW,
       "delete-through " + T50_NEW},
      {"no time", ANY, [] { sim::fail_call(1, ERROR_ACCESS_DENIED, "SetFileTime"); }, "delete " + T50_NEW,
       "delete-through " + T50_NEW},
      {"no flush", ANY, [] { sim::fail_call(1, ERROR_NOT_READY, "FlushFileBuffers"); }, "delete " + T50_NEW,
       "delete-through " + T50_NEW},
      // The first call clears the library's attributes, the second renames.
      {"no rename", NT, [] { sim::fail_call(2, ERROR_ACCESS_DENIED, "NtSetInformationFile"); },
       "delete-through " + T50_NEW},
      // The first two MoveFileA look for a library set aside by a cut run.
      {"no first rename", NINE_X, [] { sim::fail_call(3, ERROR_ACCESS_DENIED, "MoveFileA"); }, "delete " + T50_NEW},
      // The new library cannot take the name: the old one goes back.
      {"no second rename", NINE_X, [] { sim::fail_call(4, ERROR_ACCESS_DENIED, "MoveFileA"); },
       "move " + T50_OLD + " > " + T50_AVC},
  };
  const std::string payload(4096, 'N');
  for (const Case &c : cases) {
    for (DWORD family : {NT, NINE_X}) {
      if (c.family != ANY && c.family != family) continue;
      for (BYTE report : {BYTE{0}, BYTE{1}}) {
        const std::string where =
            std::string(c.what) + ", family " + std::to_string(family) + ", report " + std::to_string(report);
        sim::reset();
        sim::set_module_path(EXE);
        sim::set_platform(family);
        put_kit("2.0", "2.0");
        sim::put_file(KIT + AVC_PAYLOAD, payload);
        sim::set_file_version(KIT + AVC_PAYLOAD, "2.0");
        install(report ? TRAVEN_KEY : ZEL_KEY, "C:\\T50", "1.0", "1.0");
        sim::put_file(T50_AVC, "MZ library 1.0", FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN);
        sim::set_file_version(T50_AVC, "1.0");
        // Every file with the head of its bytes, but for another user's.
        auto listing = [] {
          std::vector<std::string> files;
          for (const std::string &path : sim::file_paths())
            if (sim::bytes_of(path) != "theirs") files.push_back(path + ": " + sim::bytes_of(path).substr(0, 16));
          return files;
        };
        const std::vector<std::string> files = listing();
        c.arrange();
        EXPECT_EQ(PASS_FAILED, pass("C:\\T50", report)) << where;
        EXPECT_EQ(std::vector<std::string>{"Files in use. Please stop application using TRAVEN-60."}, box_texts())
            << where;
        EXPECT_TRUE(journal_has(family == NT && !c.nt_shows.empty() ? c.nt_shows : c.shows)) << where;
        EXPECT_EQ(files, listing()) << where;
        EXPECT_EQ(FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN, sim::attributes_of(T50_AVC)) << where;
        for (const char *name : {"TRVNEW.TMP", "TRVOLD1.TMP"})
          EXPECT_TRUE(!sim::exists(file_in("C:\\T50", name)) || sim::bytes_of(file_in("C:\\T50", name)) == "theirs")
              << where;
        EXPECT_EQ(0, sim::open_handles()) << where;
      }
    }
  }
}

// What a user sees with libraries in use, by family. NT opens them for no
// access and fails at the copy (message 4); 9x fails the presence check
// under DOS sharing rules, and either pass shows the system's reason: only a
// library that is not there is passed over in silence. Libraries replaced
// before the failure stay replaced, as on NT.
TEST_F(UpdatePassTest, LibrariesInUseOnEachFamily) {
  const std::string in_use = "The process cannot access the file because it is being used by another process.\r\n";
  const std::string files_in_use = "Files in use. Please stop application using TRAVEN-60.";
  const DWORD NT = VER_PLATFORM_WIN32_NT, NINE_X = VER_PLATFORM_WIN32_WINDOWS;
  enum { AVC = 1, API = 2 };
  struct {
    DWORD platform;
    const char *key;
    int held;
    bool both_products;  // TRAVEN-50 besides, in C:\T50, its libraries free
    std::vector<std::string> boxes;
    bool avc_replaced;
  } cases[] = {
      {NT, TRAVEN_KEY, AVC, false, {files_in_use}, false},
      {NT, ZEL_KEY, AVC, false, {files_in_use}, false},
      {NT, ZEL_KEY, API, false, {files_in_use}, true},
      {NINE_X, TRAVEN_KEY, AVC, false, {in_use + "  \n\n[ C:\\Prog\\" + AVC_LIBRARY + "  ]"}, false},
      {NINE_X, ZEL_KEY, AVC, false, {in_use + "  \n\n[ C:\\Prog\\" + AVC_LIBRARY + "  ]"}, false},
      {NINE_X, ZEL_KEY, API, false, {in_use + "  \n\n[ C:\\Prog\\" + API_LIBRARY + "  ]"}, true},
      {NINE_X, ZEL_KEY, AVC | API, false, {in_use + "  \n\n[ C:\\Prog\\" + AVC_LIBRARY + "  ]"}, false},
      {NINE_X, ZEL_KEY, AVC, true, {in_use + "  \n\n[ C:\\Prog\\" + AVC_LIBRARY + "  ]"}, false},
  };
  for (const auto &c : cases) {
    const std::string where = std::to_string(c.platform) + " " + c.key + " " + std::to_string(c.held);
    sim::reset();
    sim::set_platform(c.platform);
    sim::set_module_path(EXE);
    put_kit("2.0", "2.0");
    install(c.key, "C:\\Prog", "1.0", "1.0");
    if (c.both_products) install(TRAVEN_KEY, "C:\\T50", "1.0", "1.0");
    if (c.held & AVC) sim::hold(avc_in("C:\\Prog"), sim::Hold::module);
    if (c.held & API) sim::hold(api_in("C:\\Prog"), sim::Hold::module);
    run_updater();
    EXPECT_EQ(c.boxes, box_texts()) << where;
    EXPECT_EQ(c.avc_replaced ? "MZ library 2.0" : "MZ library 1.0", sim::bytes_of(avc_in("C:\\Prog"))) << where;
    EXPECT_EQ("MZ library 1.0", sim::bytes_of(api_in("C:\\Prog"))) << where;
    if (c.both_products) {
      EXPECT_EQ("MZ library 2.0", sim::bytes_of(T50_API)) << where;
    }
  }
}

// A 9x run cut between its two renames left a library's name empty: its old
// bytes under its own TRVOLDn.TMP, the new ones under TRVNEW.TMP. The next run
// puts the old library back before the walk and goes on; when it cannot, both
// stay and the library counts as missing. A copy set aside goes once its own
// library is in place, and never takes another library's name. Set-aside
// names are only the updater's on 9x. TRVNEW.TMP goes once every library is
// in place, or when the next copy is made.
TEST_F(UpdatePassTest, NextRunRepairsAnExchangeCutBetweenItsRenames) {
  const DWORD NT = VER_PLATFORM_WIN32_NT, NINE_X = VER_PLATFORM_WIN32_WINDOWS;
  const std::string not_found = "The system cannot find the file specified.\r\n  \n\n[ " + T50_AVC + "  ]";
  // A copy that cannot come back fails either pass, and the kit stays.
  const std::string held = "Access is denied.\r\n  \n\n[ " + T50_OLD + "  ]";
  const char *const NONE = "";
  struct {
    const char *what;
    DWORD platform;
    const char *key;
    const char *avc, *api, *avc_aside, *api_aside, *kit;  // versions, before the run
    bool aside_held;
    std::string box;
    const char *avc_after, *api_after;
    bool asides_stay, new_stays;
  } cases[] = {
      {"reporting", NINE_X, TRAVEN_KEY, NONE, "1.0", "1.0", NONE, "2.0", false, "Update was succeeded.", "2.0", "2.0",
       false, false},
      {"quiet", NINE_X, ZEL_KEY, NONE, "1.0", "1.0", NONE, "2.0", false, "Update was succeeded.", "2.0", "2.0", false,
       false},
      {"restore fails", NINE_X, TRAVEN_KEY, NONE, "1.0", "1.0", NONE, "2.0", true, held, NONE, "1.0", true, true},
      {"restore fails, quiet", NINE_X, ZEL_KEY, NONE, "1.0", "1.0", NONE, "2.0", true, held, NONE, "1.0", true, true},
      {"not ours on NT", NT, TRAVEN_KEY, NONE, "1.0", "1.0", NONE, "2.0", false, not_found, NONE, "1.0", true, true},
      {"leftovers beside libraries", NT, TRAVEN_KEY, "1.0", "1.0", "1.0", "1.0", "1.0", false, "Newer version exist.",
       "1.0", "1.0", true, false},
      {"leftovers beside libraries", NINE_X, ZEL_KEY, "1.0", "1.0", "1.0", "1.0", "1.0", false, "Newer version exist.",
       "1.0", "1.0", false, false},
      // Cut after TrvAvc.dll's exchange, before its old copy went, where
      // PELLAXION-ZEL has no TrvApi.dll: that copy is never taken for one.
      {"TrvAvc.dll's old copy, no TrvApi.dll", NINE_X, ZEL_KEY, "2.0", NONE, "1.0", NONE, "2.0", false,
       "No need to update.", "2.0", NONE, false, true},
      // Cut between TrvApi.dll's renames, then a newer kit: TrvAvc.dll's
      // exchange frees only its own names, and TrvApi.dll's only old copy
      // comes back first.
      {"TrvApi.dll cut, newer kit", NINE_X, TRAVEN_KEY, "1.0", NONE, NONE, "1.0", "3.0", false, "Update was succeeded.",
       "3.0", "3.0", false, false},
  };
  auto library = [](const char *version) { return *version ? "MZ library " + std::string(version) : ""; };
  for (const auto &c : cases) {
    const std::string where = std::string(c.what) + ", family " + std::to_string(c.platform);
    sim::reset();
    sim::set_platform(c.platform);
    sim::set_module_path(EXE);
    put_kit(c.kit, c.kit);
    install(c.key, "C:\\T50", c.avc, c.api);
    for (const auto &aside : {std::make_pair(T50_OLD, c.avc_aside), std::make_pair(T50_API_OLD, c.api_aside)})
      if (*aside.second) put_library(aside.first, aside.second);
    put_library(T50_NEW, "2.0");
    if (c.aside_held) sim::hold(T50_OLD, sim::Hold::exclusive);
    run_updater("/d");
    EXPECT_EQ(std::vector<std::string>{c.box}, box_texts()) << where;
    EXPECT_EQ(c.aside_held, sim::exists(KIT + AVC_PAYLOAD) && sim::exists(KIT + API_PAYLOAD)) << where;
    EXPECT_EQ(library(c.avc_after), sim::bytes_of(T50_AVC)) << where;
    EXPECT_EQ(library(c.api_after), sim::bytes_of(T50_API)) << where;
    EXPECT_EQ(c.asides_stay && *c.avc_aside, sim::exists(T50_OLD)) << where;
    EXPECT_EQ(c.asides_stay && *c.api_aside, sim::exists(T50_API_OLD)) << where;
    EXPECT_EQ(c.new_stays, sim::exists(T50_NEW)) << where;
  }
}

TEST_F(UpdatePassTest, MissingLibrariesFollowTheReportFlag) {
  put_kit("2.0", "2.0");
  sim::make_dir("C:\\ZEL");
  EXPECT_EQ(PASS_NO_TARGET, pass("C:\\ZEL", 0));
  EXPECT_TRUE(sim::boxes().empty());
  EXPECT_FALSE(journal_has("open C:\\ZEL\\" + API_LIBRARY)) << "the second pair was examined";

  EXPECT_EQ(PASS_FAILED, pass("C:\\ZEL", 1));
  EXPECT_EQ(
      std::vector<std::string>{"The system cannot find the file specified.\r\n  \n\n[ C:\\ZEL\\" + AVC_LIBRARY + "  ]"},
      box_texts());
}

TEST_F(UpdatePassTest, MissingPayloadIsReportedEvenWhenItsLibraryIsMissing) {
  sim::put_file(EXE, "MZ updater");
  put_library(KIT + API_PAYLOAD, "2.0");
  sim::make_dir("C:\\ZEL");
  EXPECT_EQ(PASS_NO_TARGET, pass("C:\\ZEL", 0));
  EXPECT_EQ(
      std::vector<std::string>{"The system cannot find the file specified.\r\n  \n\n[ C:\\KIT\\" + AVC_PAYLOAD + "  ]"},
      box_texts());
}

TEST_F(UpdatePassTest, QuietPassThatReplacedALibraryReportsSuccess) {
  put_kit("2.0", "2.0");
  install(ZEL_KEY, "C:\\ZEL", "1.0", "");
  EXPECT_EQ(0, run_updater());
  EXPECT_EQ(std::vector<std::string>{"Update was succeeded."}, box_texts());
  EXPECT_EQ(sim::bytes_of(KIT + AVC_PAYLOAD), sim::bytes_of(avc_in("C:\\ZEL")));
}

TEST_F(UpdatePassTest, RunFoldsBothInstallations) {
  put_kit("2.0", "2.0");
  install(ZEL_KEY, "C:\\ZEL", "2.0", "2.0");
  install(TRAVEN_KEY, "C:\\T50", "1.0", "2.0");
  run_updater();
  EXPECT_EQ(std::vector<std::string>{"Update was succeeded."}, box_texts());

  sim::reset();
  put_kit("2.0", "2.0");
  install(ZEL_KEY, "C:\\ZEL", "", "");
  run_updater();
  EXPECT_EQ(std::vector<std::string>{"No need to update."}, box_texts());

  // The first installation is updated, the second fails: its box is all.
  sim::reset();
  put_kit("2.0", "2.0");
  install(ZEL_KEY, "C:\\ZEL", "1.0", "1.0");
  install(TRAVEN_KEY, "C:\\T50", "1.0", "1.0");
  sim::hold(T50_AVC, sim::Hold::module);
  run_updater();
  EXPECT_EQ(std::vector<std::string>{"Files in use. Please stop application using TRAVEN-60."}, box_texts());
  EXPECT_EQ(sim::bytes_of(KIT + API_PAYLOAD), sim::bytes_of(api_in("C:\\ZEL")));
}

TEST_F(UpdatePassTest, DoubleByteDirectoriesEndingInTheBackslashByte) {
  sim::set_ui_language(1041);
  sim::set_code_page(932);
  const std::string kit = "C:\\" + sim::to_cp932("表") + "\\";
  sim::set_module_path(kit + UPDATER);
  put_library(kit + AVC_PAYLOAD, "2.0");
  put_library(kit + API_PAYLOAD, "2.0");
  const std::string installed = "C:\\" + sim::to_cp932("ソフト十");
  sim::set_string(TRAVEN_KEY, "Path", installed);
  put_library(installed + "\\" + AVC_LIBRARY, "1.0");  // its last byte is 0x5C
  put_library(installed + "\\" + API_LIBRARY, "1.0");
  EXPECT_EQ(0, run_updater());
  EXPECT_EQ(std::vector<std::string>{sim::to_cp932("アップデートが終了しました")}, box_texts());
  EXPECT_EQ(sim::bytes_of(kit + API_PAYLOAD), sim::bytes_of(installed + "\\" + API_LIBRARY));
}

TEST_F(UpdatePassTest, PathsTooLongAreNeverCutAndNeverOpened) {
  put_kit("2.0", "2.0");
  const std::string directory = "C:\\" + std::string(250, 'i');
  EXPECT_EQ(PASS_NO_TARGET, pass(directory.c_str(), 0));
  EXPECT_TRUE(sim::boxes().empty());
  EXPECT_EQ(PASS_FAILED, pass(directory.c_str(), 1));
  EXPECT_EQ(std::vector<std::string>{"The filename or extension is too long.\r\n  \n\n[ " + avc_in(directory) + "  ]"},
            box_texts());
  // The folder fits, and is opened; no path in it does.
  for (const auto &line : sim::journal())
    if (line.rfind("open " + directory + "\\", 0) != 0) EXPECT_EQ(std::string::npos, line.find(std::string(250, 'i'))) << line;

  // An own directory longer than the split allows.
  sim::reset();
  const std::string kit = "C:\\" + std::string(254, 'k') + "\\";
  sim::set_module_path(kit + "X");  // 259 bytes: the path itself fits
  install(TRAVEN_KEY, "C:\\T50", "1.0", "1.0");
  EXPECT_EQ(PASS_FAILED, pass("C:\\T50", 1));
  EXPECT_EQ(std::vector<std::string>{"The filename or extension is too long.\r\n  \n\n[ " + kit + AVC_PAYLOAD + "  ]"},
            box_texts());
}
