#include "run/run.h"

#include <algorithm>
#include <map>
#include <string>

#include "machine_fixture.h"
#include "messages/catalogue.h"

using RunTest = MachineTest;

static int run_with(std::string tail) { return run(INSTANCE, 0, &tail[0], SW_SHOWDEFAULT); }

TEST_F(RunTest, OutcomeFollowsTheFirstRuleThatHolds) {
  // Rows: first pass result 0..3; columns: second pass result 0..3.
  const UINT expected[4][4] = {
      {0, 0, 0, 0},
      {0, MSG_UPDATED, MSG_UPDATED, MSG_UPDATED},
      {0, MSG_UPDATED, MSG_NEWER_EXISTS, MSG_NEWER_EXISTS},
      {0, MSG_UPDATED, MSG_NEWER_EXISTS, MSG_NO_NEED},
  };
  for (int first = 0; first < 4; ++first)
    for (int second = 0; second < 4; ++second)
      EXPECT_EQ(expected[first][second], outcome_message(first, second)) << first << "," << second;
}

TEST_F(RunTest, NeitherProductFoundShowsOneSystemModalBox) {
  EXPECT_EQ(0, run_with(""));
  ASSERT_EQ(1u, sim::boxes().size());
  const sim::Box &box = sim::boxes()[0];
  EXPECT_EQ("PELLAXION-ZEL1/2 or TRAVEN-60 is not found.", box.text);
  EXPECT_EQ("TRAVEN-60 Update", box.caption);
  EXPECT_EQ(MB_SYSTEMMODAL | MB_OK, box.style);
  EXPECT_EQ(nullptr, box.owner);
  EXPECT_FALSE(sim::mutex_exists("TRAVEN-60 Update"));
  EXPECT_EQ(0, sim::open_handles());
}

TEST_F(RunTest, EmptyValuesCountAsNotInstalled) {
  sim::set_string(ZEL_KEY, "InstallDir", "");
  sim::set_string(TRAVEN_KEY, "Path", "");
  run_with("");
  EXPECT_EQ(std::vector<std::string>{"PELLAXION-ZEL1/2 or TRAVEN-60 is not found."}, box_texts());
}

TEST_F(RunTest, JapaneseInterfaceShowsTheJapaneseText) {
  sim::set_ui_language(1041);
  sim::set_code_page(932);
  run_with("");
  EXPECT_EQ(std::vector<std::string>{sim::to_cp932("PELLAXION-ZEL1/2又はTRAVEN-60がインストールされていません。")},
            box_texts());
}

TEST_F(RunTest, SecondInstanceEndsSilentlyAndTouchesNothing) {
  // The other instance's mutex opens for us; or it refuses us (another
  // user's, or an elevated instance's); or such an instance creates it
  // between our open and our create.
  for (int way = 0; way < 3; ++way) {
    sim::reset();
    put_kit("2.0", "2.0");
    install(TRAVEN_KEY, "C:\\T50", "1.0", "1.0");
    if (way < 2) sim::hold_mutex("TRAVEN-60 Update", way == 1);
    if (way == 2) sim::on_call("CreateMutexA", [] { sim::hold_mutex("TRAVEN-60 Update", true); });
    sim::clear_journal();
    EXPECT_EQ(0, run_with("/d")) << way;
    EXPECT_TRUE(sim::boxes().empty()) << way;
    EXPECT_TRUE(sim::journal().empty()) << way;
    EXPECT_EQ(0, sim::open_handles()) << way;
  }
}

TEST_F(RunTest, InstanceThatLosesTheRaceForTheMutexStepsBack) {
  sim::on_call("CreateMutexA", [] { sim::hold_mutex("TRAVEN-60 Update"); });
  EXPECT_EQ(0, run_with("/d"));
  EXPECT_TRUE(sim::boxes().empty());
  EXPECT_EQ(0, sim::open_handles());
}

TEST_F(RunTest, StartWhileTheFirstShowsItsBoxEndsAtOnce) {
  int nested = 0;
  sim::on_call("MessageBoxA", [&] {
    if (nested++ == 0) {
      EXPECT_EQ(0, run_with("/d"));
    }
  });
  run_with("");
  EXPECT_EQ(1u, sim::boxes().size());
  EXPECT_EQ(1, nested);
}

TEST_F(RunTest, WithoutAMutexTheRunGoesOnUnprotected) {
  // Another kind of object holds the name.
  sim::fail_mutex_creation(ERROR_INVALID_HANDLE);
  EXPECT_EQ(0, run_with(""));
  EXPECT_EQ(1u, sim::boxes().size());
}

TEST_F(RunTest, ModulePathThatDoesNotFitIsNeverUsedCut) {
  // 300 bytes: GetModuleFileNameA hands back 260 of them unterminated.
  std::string long_path = "C:\\" + std::string(280, 'k') + "\\" + UPDATER;
  sim::set_module_path(long_path);
  install(TRAVEN_KEY, "C:\\T50", "1.0", "1.0");
  run_with("");
  ASSERT_EQ(1u, sim::boxes().size());
  // The payload is looked for beside the built-in name, in the current directory.
  EXPECT_NE(std::string::npos, sim::boxes()[0].text.find("[ " + AVC_PAYLOAD + "  ]"));
}

// Every fallible call of a typical "/d" run, in turn, fails: the run must
// still end in order, whatever the system refuses.
TEST_F(RunTest, AnyCallThatFailsLeavesTheMachineInOrder) {
  const std::string libraries[] = {avc_in("C:\\T50"), api_in("C:\\T50"), avc_in("C:\\ZEL"), api_in("C:\\ZEL")};
  const std::vector<std::string> kit = {EXE, KIT + AVC_PAYLOAD, KIT + API_PAYLOAD};
  const std::vector<std::string> catalogue = {"PELLAXION-ZEL1/2 or TRAVEN-60 is not found.",
                                              "Can not get version info.",
                                              "Newer version exist.",
                                              "Files in use. Please stop application using TRAVEN-60.",
                                              "Update was succeeded.",
                                              "No need to update."};
  // A release binds the payloads by their digests (SHA-256 of "MZ library 2.0").
  const std::string digest =
      "\x34\x83\x03\x05\xeb\x8b\xa9\xe4\xa1\xfc\x2a\x6e\xf6\x99\x7b\xb5\x4a\x69\xac\xba\x9b\x45\x5a\x53\x84\x47\x47\x34"
      "\x90\xbc\x1f\x83";
  auto machine = [&](DWORD family, bool release) {
    sim::reset();
    sim::set_platform(family);
    put_kit("2.0", "2.0");
    install(ZEL_KEY, "C:\\ZEL", "1.0", "3.0");
    install(TRAVEN_KEY, "C:\\T50", "1.0", "1.0");
    if (release) {
      const std::string version = "2.0" + std::string(VERSION_CAPACITY - 3, '\0');
      sim::set_resource(10, "#1", digest + version + digest + version);
    }
  };
  for (int variant = 0; variant < 4; ++variant) {
    const DWORD family = variant % 2 ? VER_PLATFORM_WIN32_WINDOWS : VER_PLATFORM_WIN32_NT;
    const bool release = variant >= 2;
    machine(family, release);
    run_with("/d");
    ASSERT_EQ(std::vector<std::string>{"Update was succeeded."}, box_texts()) << "the digest above is stale";
    const int calls = sim::fallible_calls();
    ASSERT_GT(calls, 20);
    RecordProperty("calls_family_" + std::to_string(family) + (release ? "_release" : ""), calls);
    for (int k = 1; k <= calls; ++k) {
      machine(family, release);
      std::map<std::string, std::string> before;
      for (const std::string &path : sim::file_paths()) before[path] = sim::bytes_of(path);
      sim::fail_call(k, ERROR_ACCESS_DENIED);
      const std::string where =
          "family " + std::to_string(family) + (release ? " release" : "") + ", call " + std::to_string(k);
      EXPECT_EQ(0, run_with("/d")) << where;
      const std::string failed = sim::failed_call();
      EXPECT_FALSE(failed.empty()) << where;
      for (const sim::Box &box : sim::boxes()) {
        bool known = std::find(catalogue.begin(), catalogue.end(), box.text) != catalogue.end() ||
                     (box.text.find("\n\n[ ") != std::string::npos && box.text.size() >= 3 &&
                      box.text.compare(box.text.size() - 3, 3, "  ]") == 0);
        EXPECT_TRUE(known) << where << " (" << failed << "): " << box.text;
        EXPECT_EQ(MB_SYSTEMMODAL | MB_OK, box.style) << where;
      }
      EXPECT_EQ(0, sim::open_handles()) << where << " (" << failed << ")";
      EXPECT_EQ(0, sim::open_keys()) << where << " (" << failed << ")";
      EXPECT_EQ(0, sim::heap_blocks()) << where << " (" << failed << ")";
      EXPECT_TRUE(sim::faults().empty()) << where << " (" << failed << ")";
      sim::restart();
      for (const std::string &path : sim::file_paths()) {
        bool allowed = path == sim::wininit_path() || std::count(kit.begin(), kit.end(), path) != 0 ||
                       std::count(std::begin(libraries), std::end(libraries), path) != 0;
        // On 9x the old library steps aside under its pair's TRVOLDn.TMP;
        // when deleting it afterwards is what failed, it stays there, whole.
        const size_t aside = path.size() - 11;
        if (failed == "DeleteFileA" && path.size() > 11 && path.compare(aside, 6, "TRVOLD") == 0) {
          const std::string library = path.substr(0, aside) + (path[aside + 6] == '1' ? AVC_LIBRARY : API_LIBRARY);
          EXPECT_TRUE(sim::bytes_of(path) == before[library]) << where << ": " << path;
          allowed = true;
        }
        if (!allowed) {
          EXPECT_EQ(before.count(path) ? before[path] : "<new>", sim::bytes_of(path)) << where << ": " << path;
        }
      }
      for (const auto &file : before) {
        if (std::count(kit.begin(), kit.end(), file.first)) continue;
        EXPECT_TRUE(sim::exists(file.first)) << where << " (" << failed << "): lost " << file.first;
      }
      // A library holds its old bytes or its payload's, whole.
      for (const std::string &library : libraries) {
        const std::string bytes = sim::bytes_of(library);
        EXPECT_TRUE(bytes == before[library] || bytes == "MZ library 2.0") << where << ": " << library;
      }
    }
  }
}

// A user without administrator rights on the NT family may read but not
// write the installations under Program Files, the Windows directory or
// HKEY_LOCAL_MACHINE. The run must end in an honest failure, never in
// "Update was succeeded.", and leave every library whole.
TEST_F(RunTest, LimitedUserSeesAFailureAndNoSuccess) {
  const std::string traven = "C:\\Program Files\\TRAVEN-50";
  const std::string protected_kit = "C:\\Program Files\\TRAVEN-60 Update\\";
  const std::vector<std::string> outcomes = {"Update was succeeded.", "Newer version exist.", "No need to update."};
  struct {
    const char *what;
    bool zel;            // PELLAXION-ZEL in a directory the user may write
    bool kit_protected;  // the updater itself under Program Files
  } cases[] = {{"TRAVEN-50 alone", false, false},
               {"PELLAXION-ZEL updated first", true, false},
               {"kit under Program Files", false, true}};
  for (bool administrator : {true, false}) {
    for (const auto &c : cases) {
      sim::reset();
      sim::set_administrator(administrator);
      const std::string kit = c.kit_protected ? protected_kit : std::string(KIT);
      const std::string exe = kit + UPDATER;
      sim::set_module_path(exe);
      sim::put_file(exe, "MZ updater");
      sim::hold(exe, sim::Hold::module);
      put_library(kit + AVC_PAYLOAD, "2.0");
      put_library(kit + API_PAYLOAD, "2.0");
      install(TRAVEN_KEY, traven, "1.0", "1.0");
      if (c.zel) install(ZEL_KEY, "C:\\ZEL", "1.0", "1.0");
      const std::string where = std::string(c.what) + (administrator ? ", administrator" : ", limited user");
      EXPECT_EQ(0, run_with("/d")) << where;
      sim::restart();
      if (administrator) {
        EXPECT_EQ(std::vector<std::string>{"Update was succeeded."}, box_texts()) << where;
        EXPECT_FALSE(sim::exists(exe)) << where;
        continue;
      }
      ASSERT_EQ(1u, sim::boxes().size()) << where;
      EXPECT_EQ(0, std::count(outcomes.begin(), outcomes.end(), sim::boxes()[0].text)) << where;
      EXPECT_EQ("MZ library 1.0", sim::bytes_of(avc_in(traven))) << where;
      EXPECT_EQ("MZ library 1.0", sim::bytes_of(api_in(traven))) << where;
      if (c.zel) {
        EXPECT_EQ("MZ library 2.0", sim::bytes_of(api_in("C:\\ZEL"))) << where;
      }
      // Deletion at restart needs administrator rights: the updater stays,
      // and so does all of a kit the user may not write.
      EXPECT_TRUE(sim::exists(exe)) << where;
      EXPECT_EQ(c.kit_protected, sim::exists(kit + API_PAYLOAD)) << where;
      EXPECT_TRUE(journal_has("move-at-restart " + exe + " failed")) << where;
    }
  }
}

// A power cut right after any change that a typical "/d" run makes to the
// disk, on either family, as SQLite's crash tests cut theirs, with
// PELLAXION-ZEL lacking TrvApi.dll. After the restart every library is whole:
// its old bytes or its payload's, or on the 9x family, between the two
// renames, its old bytes under its own TRVOLDn.TMP. No other file has
// changed, and the only new files are the working files beside the
// libraries. Then a newer kit is started, as its user would: every library
// there before holds that kit's bytes, no library appears that was not
// there, and no working file is left.
TEST_F(RunTest, PowerCutAfterAnyChangeLeavesEveryLibraryWhole) {
  const std::vector<std::string> directories = {"C:\\ZEL\\", "C:\\T50\\"};
  const std::vector<std::string> names = {AVC_LIBRARY, API_LIBRARY};
  const std::vector<std::string> working = {"TRVNEW.TMP", "TRVOLD1.TMP", "TRVOLD2.TMP"};
  const std::vector<std::string> kit = {EXE, KIT + AVC_PAYLOAD, KIT + API_PAYLOAD};
  auto machine = [&](DWORD family) {
    sim::reset();
    sim::set_platform(family);
    put_kit("2.0", "2.0");
    sim::put_file(sim::wininit_path(), "[Rename]\r\n");
    install(ZEL_KEY, "C:\\ZEL", "1.0", "");
    install(TRAVEN_KEY, "C:\\T50", "1.0", "1.0");
    sim::put_file("C:\\T50\\ReadMe.txt", "left alone");
  };
  for (DWORD family : {VER_PLATFORM_WIN32_NT, VER_PLATFORM_WIN32_WINDOWS}) {
    machine(family);
    run_with("/d");
    const int changes = sim::disk_changes();
    ASSERT_GT(changes, 10);
    RecordProperty("changes_family_" + std::to_string(family), changes);
    int windows = 0;
    for (int n = 1; n <= changes; ++n) {
      machine(family);
      std::map<std::string, std::string> before;
      for (const std::string &path : sim::file_paths()) before[path] = sim::bytes_of(path);
      sim::cut_power_after(n);
      run_with("/d");
      const std::string where = "family " + std::to_string(family) + ", power cut after change " + std::to_string(n);
      EXPECT_TRUE(sim::power_is_off()) << where;
      sim::restart();
      for (const std::string &directory : directories) {
        for (size_t pair = 0; pair < names.size(); ++pair) {
          const std::string library = directory + names[pair];
          if (!before.count(library)) {
            EXPECT_FALSE(sim::exists(library)) << where << ": " << library << " appeared";
            continue;
          }
          const std::string old = before[library];
          const std::string bytes = sim::bytes_of(library);
          if (sim::exists(library)) {
            EXPECT_TRUE(bytes == old || bytes == before[kit[pair + 1]])
                << where << ": " << library << " holds \"" << bytes << "\"";
          } else if (family != VER_PLATFORM_WIN32_NT && sim::bytes_of(directory + working[pair + 1]) == old) {
            ++windows;
          } else {
            ADD_FAILURE() << where << ": " << library << " is lost";
          }
        }
      }
      for (const std::string &path : sim::file_paths()) {
        if (path == sim::wininit_path()) continue;
        if (before.count(path) == 0) {
          // A working file beside a library, left by the cut.
          bool left = false;
          for (const std::string &directory : directories)
            for (const std::string &name : working) left |= path == directory + name;
          EXPECT_TRUE(left) << where << ": new file " << path;
        } else if (std::count(kit.begin(), kit.end(), path) != 0 || sim::bytes_of(path) != before[path]) {
          bool library = false;
          for (const std::string &directory : directories)
            for (const std::string &name : names) library |= path == directory + name;
          EXPECT_TRUE(library || std::count(kit.begin(), kit.end(), path) != 0) << where << ": " << path << " changed";
          if (!library) {
            EXPECT_EQ(before[path], sim::bytes_of(path)) << where << ": " << path;
          }
        }
      }
      EXPECT_EQ("left alone", sim::bytes_of("C:\\T50\\ReadMe.txt")) << where;

      // The second run, with a newer kit.
      const size_t shown = sim::boxes().size();
      put_kit("3.0", "3.0");
      run_with("/d");
      sim::restart();
      ASSERT_EQ(shown + 1, sim::boxes().size()) << where;
      EXPECT_EQ("Update was succeeded.", sim::boxes().back().text) << where;
      for (const std::string &directory : directories) {
        for (const std::string &name : names) {
          const bool was_there = before.count(directory + name) != 0;
          EXPECT_EQ(was_there ? "MZ library 3.0" : "", sim::bytes_of(directory + name)) << where << ": " << name;
        }
        for (const std::string &name : working)
          EXPECT_FALSE(sim::exists(directory + name)) << where << ": " << directory << name << " left";
      }
    }
    // The 9x family's two-rename window was met, once per replaced library.
    EXPECT_EQ(family == VER_PLATFORM_WIN32_NT ? 0 : 3, windows);
  }
}
