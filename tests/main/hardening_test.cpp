#include "main/hardening.h"

#include "machine_fixture.h"
#include "run/run.h"

using HardeningTest = MachineTest;

// XP SP3 and 7 RTM lack SetDefaultDllDirectories; 7 with KB2533623 and 8
// have it. Copies planted beside the updater, which an unhardened process
// would load, are never the ones the first box gets, and only where the
// function is missing are the box's libraries preloaded.
TEST_F(HardeningTest, NoLibraryPlantedBesideTheUpdaterIsLoaded) {
  struct System {
    DWORD major, minor;
    bool update;
    size_t preloads, box_libraries;
  };
  for (const System &system : {System{5, 1, false, 3, 2}, {6, 1, false, 3, 3}, {6, 1, true, 0, 3}, {6, 2, false, 0, 3}})
    for (bool hardened : {true, false}) {
      sim::reset();
      sim::set_nt_version(system.major, system.minor);
      if (system.update) sim::set_default_dll_directories(true);
      for (const char *name : {"uxtheme.dll", "dwmapi.dll", "msimg32.dll"})
        sim::put_file(KIT + std::string(name), "MZ planted");
      if (hardened) harden_process();
      char tail[] = "";
      run(INSTANCE, 0, tail, SW_SHOWDEFAULT);
      size_t planted = 0;
      for (const std::string &path : sim::loaded_modules()) planted += path.rfind(KIT, 0) == 0;
      const std::string context = std::to_string(system.major * 10 + system.minor) + (system.update ? "+KB" : "");
      EXPECT_EQ(hardened ? 0 : 1, planted) << context << (hardened ? "" : " unhardened");
      if (!hardened) continue;
      EXPECT_EQ(system.box_libraries, sim::loaded_modules().size()) << context;
      EXPECT_EQ(system.preloads, sim::library_loads().size()) << context;
    }
}
