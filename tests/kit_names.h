// The file names of an updater kit, the one place tests and test tools spell
// them (tests/kit_names.py reads this file for the Python tools).
// The product keeps its own: the payload table (src/kit/payload_table.cpp)
// and its built-in name (src/kit/own_path.cpp); a unit test in
// tests/kit/paths_test.cpp holds them together.
#pragma once

#include <string>

// The updater, beside its payloads.
inline const std::string UPDATER = "TRV60UPDATE.EXE";
// The first payload of the table, the new TrvAvc.dll: the payloads are
// numbered backwards to the table's order.
inline const std::string AVC_PAYLOAD = "UPDATE.D_2";
// The second payload, the new TrvApi.dll.
inline const std::string API_PAYLOAD = "UPDATE.D_1";
// The library the first payload replaces in each installation.
inline const std::string AVC_LIBRARY = "TrvAvc.dll";
// The library the second payload replaces.
inline const std::string API_LIBRARY = "TrvApi.dll";
