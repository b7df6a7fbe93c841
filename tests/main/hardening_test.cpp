#include "main/hardening.h"

#include "machine_fixture.h"
#include "run/run.h"

using HardeningTest = MachineTest;

static void prefer_external_manifest() {
  sim::set_value("SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\SideBySide", "PreferExternalManifest", REG_DWORD,
                 std::string("\1\0\0\0", 4));
}

// Each way in, with copies planted beside the updater, on a version that
// has it: the box's libraries (XP and 7 RTM lack SetDefaultDllDirectories,
// 7 with KB2533623 and 8 have it); LPK.DLL, which USER32 loads by name as
// it starts on 2000 and XP; a .local folder serving the manifest's Common
// Controls 6; a manifest beside the updater, which XP prefers, and Vista
// and later when told to; a .local file or folder, which 2000 and XP SP1
// honour for every full path. Started as entry() starts it, the run never
// loads a planted copy; as it was (no hardening, USER32 imported, Common
// Controls 6 asked for) or with its check blinded, it loads one.
TEST_F(HardeningTest, NoLibraryPlantedBesideTheUpdaterIsLoaded) {
  struct Row {
    DWORD major, minor;
    bool update;
    std::vector<std::string> planted;
    void (*as_before)();
    size_t loads, boxes;
    const char *blinded = nullptr;  // the control's call that finds nothing
  };
  const std::vector<std::string> box = {"uxtheme.dll", "dwmapi.dll", "msimg32.dll"};
  const std::string local = UPDATER +
                            ".local\\x86_microsoft.windows.common-controls_6595b64144ccf1df_6.0.7601.17514_"
                            "none_41e6975e2bd6f2b2\\comctl32.dll";
  const Row rows[] = {
      {5, 1, false, box, nullptr, 6, 1},
      {6, 1, false, box, nullptr, 6, 1},
      {6, 1, true, box, nullptr, 1, 1},
      {6, 2, false, box, nullptr, 1, 1},
      {5, 0, false, {"lpk.dll", "usp10.dll"}, sim::import_user32, 6, 1},
      {5, 1, false, {"lpk.dll", "usp10.dll"}, sim::import_user32, 6, 1},
      {6,
       1,
       true,
       {local},
       [] { sim::set_manifest("<dependency>Microsoft.Windows.Common-Controls</dependency>"); },
       0,
       0},
      {5, 1, false, {UPDATER + ".manifest", "uxtheme.dll"}, nullptr, 0, 0},
      {6, 0, false, {UPDATER + ".manifest", "uxtheme.dll"}, nullptr, 0, 0, "QueryActCtxW"},
      {6, 2, false, {UPDATER + ".manifest", "uxtheme.dll"}, nullptr, 0, 0, "QueryActCtxW"},
      {5, 0, false, {UPDATER + ".local", "lpk.dll"}, nullptr, 0, 0, "CreateFileA"},
      {5, 0, false, {UPDATER + ".local\\usp10.dll"}, nullptr, 0, 0, "CreateFileA"},
      {5, 1, false, {UPDATER + ".local", "msimg32.dll"}, nullptr, 0, 0, "CreateFileA"},
      {5, 1, false, {UPDATER + ".local\\uxtheme.dll"}, nullptr, 0, 0, "CreateFileA"},
  };
  for (const Row &row : rows)
    for (bool hardened : {true, false}) {
      sim::reset();
      sim::set_nt_version(row.major, row.minor);
      if (row.update) sim::set_default_dll_directories(true);
      sim::set_service_pack(1);
      prefer_external_manifest();
      sim::put_file(EXE, "MZ updater");
      for (const std::string &name : row.planted) sim::put_file(KIT + name, "MZ planted <file name=\"uxtheme.dll\"/>");
      if (!hardened && row.as_before) row.as_before();
      if (!hardened && row.blinded) sim::fail_call(1, ERROR_FILE_NOT_FOUND, row.blinded);
      char tail[] = "";
      if ((!hardened && !row.blinded) || harden_process()) run(INSTANCE, 0, tail, SW_SHOWDEFAULT);
      size_t planted = 0;
      for (const std::string &path : sim::loaded_modules()) planted += path.rfind(KIT, 0) == 0;
      const std::string context = row.planted.front() + " on " + std::to_string(row.major * 10 + row.minor) +
                                  (row.update ? "+KB" : "") + (hardened ? "" : " unmended");
      EXPECT_EQ(hardened ? 0 : 1, planted) << context;
      if (!hardened) continue;
      EXPECT_EQ(row.loads, sim::library_loads().size()) << context;
      EXPECT_EQ(row.boxes, sim::boxes().size()) << context;
    }
}

// Without USER32 nothing can be shown, so the run does not start; nor where
// a check cannot look (a path of 259 bytes has no room for its .local),
// unless what is missing is the question itself (no activation context to
// ask, no folder to hold a .local). No handle stays open.
TEST_F(HardeningTest, NoRunWithoutUser32OrWhereACheckCannotLook) {
  const struct {
    const char *function;
    DWORD error;
    int runs;
  } rows[] = {{"GetModuleFileNameA", ERROR_NOT_ENOUGH_MEMORY, 0},    {"CreateFileA", ERROR_ACCESS_DENIED, 0},
              {"CreateFileA", ERROR_PATH_NOT_FOUND, 1},       {"QueryActCtxW", ERROR_NOT_ENOUGH_MEMORY, 1},
              {"WideCharToMultiByte", ERROR_INSUFFICIENT_BUFFER, 0}, {"CreateFileA", ERROR_ACCESS_DENIED, 0},
              {"GetFileInformationByHandle", ERROR_NOT_READY, 0},    {"LoadLibraryExA", ERROR_MOD_NOT_FOUND, 0}};
  for (const auto &row : rows) {
    sim::reset();
    sim::set_nt_version(6, 2);
    sim::put_file(EXE, "MZ updater");
    sim::fail_call(1, row.error, row.function);
    EXPECT_EQ(row.runs, harden_process()) << row.function;
    EXPECT_EQ(row.function, sim::failed_call());
    EXPECT_EQ(0, sim::open_handles()) << row.function;
  }
  sim::set_nt_version(5, 0);
  sim::set_module_path("C:\\" + std::string(240, 'k') + "\\" + UPDATER);
  EXPECT_EQ(0, harden_process());
}

// The genuine program started by its short name, through a share, in
// another case: the root manifest is named otherwise, yet the run updates;
// with a manifest beside it that the system prefers, it ends at once.
TEST_F(HardeningTest, TheGenuineProgramStartedByAnyOfItsNamesUpdates) {
  const std::string share = "\\\\SERVER\\KIT\\" + UPDATER;
  const struct {
    DWORD major, minor;
    std::string started;  // "" for the short name
  } rows[] = {{5, 1, ""}, {5, 1, share}, {5, 1, "c:\\kit\\trv60update.exe"}, {6, 1, share}, {10, 0, ""}};
  for (const auto &row : rows)
    for (bool foreign : {false, true}) {
      sim::reset();
      sim::set_nt_version(row.major, row.minor);
      sim::set_share("\\\\SERVER\\KIT", "C:\\KIT");
      prefer_external_manifest();
      put_kit("2.0", "2.0");
      install(TRAVEN_KEY, "C:\\T50", "1.0", "1.0");
      const std::string started = row.started.empty() ? KIT + sim::alias_of(EXE) : row.started;
      sim::set_module_path(started);
      if (foreign) sim::put_file(started + ".manifest", "<assembly/>");
      SCOPED_TRACE(std::to_string(row.major * 10 + row.minor) + " " + started + (foreign ? " +manifest" : ""));
      char tail[] = "";
      const int hardened = harden_process();
      if (hardened) run(INSTANCE, 0, tail, SW_SHOWDEFAULT);
      EXPECT_EQ(!foreign, hardened);
      EXPECT_EQ(foreign ? "MZ library 1.0" : "MZ library 2.0", sim::bytes_of(avc_in("C:\\T50")));
      if (!foreign) EXPECT_NE(started, sim::root_manifest());
    }
}
