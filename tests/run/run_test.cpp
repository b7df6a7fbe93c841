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
  run_with("");
  EXPECT_EQ(std::vector<std::string>{sim::to_cp932("PELLAXION-ZEL1/2又はTRAVEN-60がインストールされていません。")},
            box_texts());
}

TEST_F(RunTest, SecondInstanceEndsSilentlyAndTouchesNothing) {
  put_kit("2.0", "2.0");
  install(TRAVEN_KEY, "C:\\T50", "1.0", "1.0");
  sim::hold_mutex("TRAVEN-60 Update");
  sim::clear_journal();
  EXPECT_EQ(0, run_with("/d"));
  EXPECT_TRUE(sim::boxes().empty());
  EXPECT_TRUE(sim::journal().empty());
  EXPECT_EQ(0, sim::open_handles());
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
  sim::fail_mutex_creation(ERROR_ACCESS_DENIED);
  EXPECT_EQ(0, run_with(""));
  EXPECT_EQ(1u, sim::boxes().size());
}

TEST_F(RunTest, ModulePathThatDoesNotFitIsNeverUsedCut) {
  // 300 bytes: GetModuleFileNameA hands back 260 of them unterminated.
  std::string long_path = "C:\\" + std::string(280, 'k') + "\\TRV60UPDATE.EXE";
  sim::set_module_path(long_path);
  install(TRAVEN_KEY, "C:\\T50", "1.0", "1.0");
  run_with("");
  ASSERT_EQ(1u, sim::boxes().size());
  // The payload is looked for beside the built-in name, in the current directory.
  EXPECT_NE(std::string::npos, sim::boxes()[0].text.find("[ UPDATE.D_2  ]"));
}

// Every fallible call of a typical "/d" run, in turn, fails: the run must
// still end in order, whatever the system refuses.
TEST_F(RunTest, AnyCallThatFailsLeavesTheMachineInOrder) {
  const std::string libraries[] = {"C:\\T50\\TrvAvc.dll", "C:\\T50\\TrvApi.dll", "C:\\ZEL\\TrvAvc.dll",
                                   "C:\\ZEL\\TrvApi.dll"};
  const std::vector<std::string> kit = {EXE, std::string(KIT) + "UPDATE.D_2", std::string(KIT) + "UPDATE.D_1"};
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
      sim::set_resource(10, "#1", digest + digest);
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
