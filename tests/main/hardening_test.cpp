#include "main/hardening.h"

#include "machine_fixture.h"
#include "run/run.h"

using HardeningTest = MachineTest;

// Each way in, with copies planted beside the updater, on a version that
// has it: the box's libraries (XP and 7 RTM lack SetDefaultDllDirectories,
// 7 with KB2533623 and 8 have it); LPK.DLL, which USER32 loads by name as
// it starts on 2000 and XP; a .local folder serving the manifest's Common
// Controls 6; a manifest beside the updater, which XP prefers. Started as
// entry() starts it, the run never loads a planted copy; the program as it
// was (no hardening, USER32 imported, Common Controls 6 asked for) loads one.
TEST_F(HardeningTest, NoLibraryPlantedBesideTheUpdaterIsLoaded) {
  struct Row {
    DWORD major, minor;
    bool update;
    std::vector<std::string> planted;
    void (*as_before)();
    size_t loads, boxes;
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
       1,
       1},
      {5, 1, false, {UPDATER + ".manifest", "uxtheme.dll"}, nullptr, 0, 0},
  };
  for (const Row &row : rows)
    for (bool hardened : {true, false}) {
      sim::reset();
      sim::set_nt_version(row.major, row.minor);
      if (row.update) sim::set_default_dll_directories(true);
      for (const std::string &name : row.planted) sim::put_file(KIT + name, "MZ planted <file name=\"uxtheme.dll\"/>");
      if (!hardened && row.as_before) row.as_before();
      char tail[] = "";
      if (!hardened || harden_process()) run(INSTANCE, 0, tail, SW_SHOWDEFAULT);
      size_t planted = 0;
      for (const std::string &path : sim::loaded_modules()) planted += path.rfind(KIT, 0) == 0;
      const std::string context = row.planted.front() + " on " + std::to_string(row.major * 10 + row.minor) +
                                  (row.update ? "+KB" : "") + (hardened ? "" : " as before");
      EXPECT_EQ(hardened ? 0 : 1, planted) << context;
      if (!hardened) continue;
      EXPECT_EQ(row.loads, sim::library_loads().size()) << context;
      EXPECT_EQ(row.boxes, sim::boxes().size()) << context;
    }
}

// Without USER32 nothing can be shown, so the run does not start.
TEST_F(HardeningTest, NoRunWithoutUser32) {
  sim::set_nt_version(6, 2);
  sim::fail_call(1, ERROR_MOD_NOT_FOUND, "LoadLibraryExA");
  EXPECT_EQ(0, harden_process());
}
