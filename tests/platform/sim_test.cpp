// The simulated Windows' own test side: its journal, holds, short-name
// mappings, restarts, fault records and hooks. How its Win32 functions
// answer is checked against Windows by tests/behaviour, which also runs
// under Wine.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "simwin/machine.h"

namespace {

const char PAYLOAD[] = "C:\\KIT\\UPDATE.D_1";
const char TARGET[] = "C:\\Prog\\TrvApi.dll";

HANDLE open_for(LPCSTR path, DWORD access, DWORD share) {
  return CreateFileA(path, access, share, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
}

// The version block of a file, as the updater reads it; empty on failure.
std::vector<char> version_block(LPCSTR path, DWORD size_wanted = 0) {
  DWORD handle = 1;
  DWORD size = GetFileVersionInfoSizeA(path, &handle);
  EXPECT_EQ(0u, handle);
  if (size == 0) return {};
  std::vector<char> block(size_wanted ? size_wanted : size, '#');
  if (!GetFileVersionInfoA(path, 0, static_cast<DWORD>(block.size()), block.data())) return {};
  return block;
}

class Sim : public ::testing::Test {
 protected:
  void SetUp() override { sim::reset(); }
};

using SimFiles = Sim;
using SimRestart = Sim;
using SimRegistry = Sim;
using SimVersion = Sim;
using SimProfile = Sim;
using SimText = Sim;
using SimKernel = Sim;

TEST_F(SimFiles, FailedOpensAreJournaled) {
  sim::put_file(TARGET, "lib");
  EXPECT_EQ(INVALID_HANDLE_VALUE, open_for("C:\\Prog\\TrvAvc.dll", 0, 0));
  EXPECT_EQ("open C:\\Prog\\TrvAvc.dll failed", sim::journal().front());
  EXPECT_EQ(0, sim::open_handles());
}

TEST_F(SimFiles, PathsCompareAsWindowsComparesThem) {
  sim::put_file(TARGET, "lib");
  HANDLE h = open_for("c:/PROG//x\\..\\.\\trvapi.DLL", 0, 0);
  ASSERT_NE(INVALID_HANDLE_VALUE, h);
  EXPECT_EQ("open c:/PROG//x\\..\\.\\trvapi.DLL", sim::journal().back());
  EXPECT_EQ(1, sim::open_handles());
  EXPECT_TRUE(CloseHandle(h));
  EXPECT_EQ(0, sim::open_handles());
  EXPECT_TRUE(sim::faults().empty());

  EXPECT_FALSE(CloseHandle(h));
  EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_HANDLE), GetLastError());
  EXPECT_EQ(1u, sim::faults().size());
}

TEST_F(SimFiles, DoubleByteTrailBytesAreNeitherSeparatorsNorLetters) {
  sim::set_code_page(932);
  // "表" is 0x95 0x5C and "ア" is 0x83 0x41: trail bytes that look like
  // "\" and "A" in single-byte text.
  const std::string dir = "C:\\" + sim::to_cp932("表");
  sim::put_file(dir + "\\" + sim::to_cp932("ア.dll"), "x");
  EXPECT_TRUE(sim::exists(dir + "/" + sim::to_cp932("ア.DLL")));
  EXPECT_FALSE(sim::exists(dir + "\\" + "\x83\x61.dll"));  // "ア" with its trail byte folded
  EXPECT_FALSE(sim::exists("C:\\\x95\\\x83\x41.dll"));     // the trail byte taken for a separator
}

TEST_F(SimFiles, HoldsLastUntilReleasedAndFailuresAreJournaled) {
  sim::put_file(PAYLOAD, "new");
  sim::put_file(TARGET, "old");
  sim::set_file_version(TARGET, "1.00");
  sim::hold(TARGET, sim::Hold::module);
  EXPECT_FALSE(DeleteFileA(TARGET));
  EXPECT_EQ("delete C:\\Prog\\TrvApi.dll failed", sim::journal().back());
  sim::hold(TARGET, sim::Hold::exclusive);  // replaces the module hold
  DWORD handle;
  EXPECT_EQ(0u, GetFileVersionInfoSizeA(TARGET, &handle));
  EXPECT_EQ("read-version C:\\Prog\\TrvApi.dll failed", sim::journal().back());
  sim::release(TARGET);
  EXPECT_TRUE(CopyFileA(PAYLOAD, TARGET, FALSE));
}

TEST_F(SimFiles, CopiesAndAttributesAreJournaled) {
  sim::put_file(PAYLOAD, "new", FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_ARCHIVE);
  sim::put_file(TARGET, "old", FILE_ATTRIBUTE_HIDDEN);
  EXPECT_FALSE(CopyFileA(PAYLOAD, TARGET, FALSE));
  EXPECT_TRUE(SetFileAttributesA(TARGET, FILE_ATTRIBUTE_NORMAL));
  EXPECT_EQ(static_cast<DWORD>(FILE_ATTRIBUTE_NORMAL), sim::attributes_of(TARGET));
  EXPECT_TRUE(CopyFileA(PAYLOAD, TARGET, FALSE));
  const std::vector<std::string> expected = {
      "copy C:\\KIT\\UPDATE.D_1 > C:\\Prog\\TrvApi.dll failed",
      "attributes C:\\Prog\\TrvApi.dll 0x80",
      "copy C:\\KIT\\UPDATE.D_1 > C:\\Prog\\TrvApi.dll",
  };
  EXPECT_EQ(expected, sim::journal());
}

TEST_F(SimFiles, ShortNamesComeFromTheMappingOfTheFileOrItsDirectory) {
  sim::put_file("C:\\Program Files\\Quenvor\\TrvApi.dll", "x");
  sim::set_short_name("C:\\Program Files", "C:\\PROGRA~1");
  char buffer[64];
  EXPECT_EQ(std::strlen("C:\\PROGRA~1\\Quenvor\\TrvApi.dll"),
            GetShortPathNameA("c:/program files/Quenvor/TrvApi.dll", buffer, sizeof buffer));
  EXPECT_STREQ("C:\\PROGRA~1\\Quenvor\\TrvApi.dll", buffer);
  // The file's own mapping is the longest and wins over its directory's.
  sim::set_short_name("C:\\Program Files\\Quenvor\\TrvApi.dll", "C:\\PROGRA~1\\Quenvor\\TRVAPI~1.DLL");
  EXPECT_NE(0u, GetShortPathNameA("C:\\Program Files\\Quenvor\\TrvApi.dll", buffer, sizeof buffer));
  EXPECT_STREQ("C:\\PROGRA~1\\Quenvor\\TRVAPI~1.DLL", buffer);
  EXPECT_EQ("x", sim::bytes_of(buffer));
}

TEST_F(SimRestart, NtDeletesWhatWasMovedToNoNameAtRestart) {
  const char exe[] = "C:\\KIT\\TRV60UPDATE.EXE";
  sim::put_file(exe, "exe");
  sim::hold(exe, sim::Hold::module);
  EXPECT_TRUE(MoveFileExA(exe, nullptr, MOVEFILE_DELAY_UNTIL_REBOOT));
  EXPECT_EQ(std::vector<std::string>{exe}, sim::pending_deletions());
  EXPECT_EQ("move-at-restart C:\\KIT\\TRV60UPDATE.EXE", sim::journal().back());
  EXPECT_TRUE(sim::exists(exe));

  sim::restart();
  EXPECT_FALSE(sim::exists(exe));
  EXPECT_TRUE(sim::pending_deletions().empty());
}

TEST_F(SimRestart, NineXFamilyDeletesTheNulEntriesOfWinInit) {
  sim::set_platform(VER_PLATFORM_WIN32_WINDOWS);
  const char exe[] = "C:\\Program Files\\Kit\\TRV60UPDATE.EXE";
  sim::put_file(exe, "exe");
  sim::put_file(PAYLOAD, "payload");
  sim::set_short_name("C:\\Program Files", "C:\\PROGRA~1");
  sim::hold(exe, sim::Hold::module);

  EXPECT_FALSE(MoveFileExA(exe, nullptr, MOVEFILE_DELAY_UNTIL_REBOOT));
  EXPECT_EQ("move-at-restart C:\\Program Files\\Kit\\TRV60UPDATE.EXE failed", sim::journal().back());

  const char wininit[] = "C:\\WINDOWS\\WinInit.ini";
  const char rename[] = "Nul=C:\\PROGRA~1\\Kit\\TRV60UPDATE.EXE\0no equals sign\0NUL=C:\\KIT\\UPDATE.D_1\0";
  EXPECT_TRUE(WritePrivateProfileSectionA("Rename", rename, wininit));
  EXPECT_TRUE(WritePrivateProfileSectionA("Keep", "a=b\0", wininit));
  EXPECT_EQ((std::vector<std::string>{"Nul=C:\\PROGRA~1\\Kit\\TRV60UPDATE.EXE", "NUL=C:\\KIT\\UPDATE.D_1"}),
            sim::wininit_section("Rename"));
  EXPECT_EQ("write-section C:\\WINDOWS\\WinInit.ini [Rename]", sim::journal()[1]);

  sim::restart();
  EXPECT_FALSE(sim::exists(exe));
  EXPECT_FALSE(sim::exists(PAYLOAD));
  EXPECT_TRUE(sim::wininit_section("Rename").empty());
  EXPECT_EQ(std::vector<std::string>{"a=b"}, sim::wininit_section("Keep"));
}

TEST_F(SimRegistry, OpenKeysAreCountedAndClosedOnce) {
  sim::set_string("SOFTWARE\\Quenvor\\TRAVEN-50", "Path", "C:\\T50");
  HKEY key = nullptr;
  ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Quenvor\\TRAVEN-50", 0, KEY_READ, &key));
  EXPECT_EQ(1, sim::open_keys());
  EXPECT_EQ(ERROR_SUCCESS, RegCloseKey(key));
  EXPECT_EQ(0, sim::open_keys());
  EXPECT_TRUE(sim::faults().empty());
  EXPECT_EQ(ERROR_INVALID_HANDLE, RegCloseKey(key));
  EXPECT_EQ(1u, sim::faults().size());
}

TEST_F(SimRegistry, NineXFamilyLeavesNothingUsableInABufferTooSmall) {
  sim::set_platform(VER_PLATFORM_WIN32_WINDOWS);
  sim::set_string("SOFTWARE\\Quenvor\\TRAVEN-50", "Path", "C:\\T50");
  HKEY key = nullptr;
  ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Quenvor\\TRAVEN-50", 0, KEY_READ, &key));
  char data[8] = "#######";
  DWORD size = 4;
  EXPECT_EQ(ERROR_MORE_DATA, RegQueryValueExA(key, "Path", nullptr, nullptr, reinterpret_cast<LPBYTE>(data), &size));
  EXPECT_EQ("XXXX###", std::string(data));
  RegCloseKey(key);
}

TEST_F(SimVersion, ReportedLengthFollowsTheFileAndFailedQueriesLeaveTheResultAlone) {
  sim::put_file(TARGET, "lib");
  sim::VersionResource resource;
  resource.translations = {{0x0411, 0x03a4, false, ""}, {0x0409, 0x04b0, true, "1.01.002"}};
  resource.length_counts_terminator = false;
  sim::set_version(TARGET, resource);
  std::vector<char> block = version_block(TARGET);
  ASSERT_FALSE(block.empty());

  LPVOID value = nullptr;
  UINT length = 0;
  ASSERT_TRUE(VerQueryValueA(block.data(), "\\StringFileInfo\\040904B0\\FileVersion", &value, &length));
  EXPECT_EQ(8u, length);
  EXPECT_STREQ("1.01.002", static_cast<const char *>(value));
  value = &length;
  EXPECT_FALSE(VerQueryValueA(block.data(), "\\StringFileInfo\\041103a4\\FileVersion", &value, &length));
  EXPECT_EQ(static_cast<LPVOID>(&length), value);
}

TEST_F(SimVersion, DamagedAndCutBlocksAreNeverReadPastTheirEnd) {
  sim::put_file(TARGET, "lib");
  sim::VersionResource resource;
  resource.translations = {{0x0409, 0x04b0, true, "1.01.002"}, {0x0411, 0x04b0, true, "9.99"}};
  resource.unterminated = true;
  sim::set_version(TARGET, resource);
  std::vector<char> block = version_block(TARGET);
  LPVOID value = nullptr;
  UINT length = 0;
  ASSERT_TRUE(VerQueryValueA(block.data(), "\\StringFileInfo\\040904b0\\FileVersion", &value, &length));
  EXPECT_EQ(8u, length);
  // The resource ends with the string; after it come only the spare bytes
  // that the size asked for, and they hold no terminator.
  const char *end = static_cast<char *>(value) + length;
  EXPECT_EQ(std::string::npos, std::string(end, static_cast<const char *>(block.data() + block.size())).find('\0'));

  // A copy cut short keeps its head; what was cut off is not found.
  std::vector<char> cut = version_block(TARGET, static_cast<DWORD>(end - block.data()) - 1);
  EXPECT_TRUE(VerQueryValueA(cut.data(), "\\VarFileInfo\\Translation", &value, &length));
  EXPECT_FALSE(VerQueryValueA(cut.data(), "\\StringFileInfo\\040904b0\\FileVersion", &value, &length));

  sim::put_file(PAYLOAD, "no resource");
  sim::set_version(PAYLOAD, sim::VersionResource{});
  value = nullptr;
  EXPECT_FALSE(VerQueryValueA(version_block(PAYLOAD).data(), "\\VarFileInfo\\Translation", &value, &length));
  EXPECT_EQ(nullptr, value);
}

TEST_F(SimProfile, WritingASectionShowsInTheFileAndTheJournal) {
  const char ini[] = "C:\\WINDOWS\\WinInit.ini";
  EXPECT_TRUE(WritePrivateProfileSectionA("Rename", "Nul=C:\\A\0", ini));
  EXPECT_EQ("[Rename]\r\nNul=C:\\A\r\n", sim::wininit_text());
  EXPECT_TRUE(WritePrivateProfileSectionA("rename", "a=b\0Nul=C:\\B\0", ini));
  EXPECT_EQ("[Rename]\r\na=b\r\nNul=C:\\B\r\n", sim::wininit_text());

  WritePrivateProfileStringA(nullptr, nullptr, nullptr, ini);
  EXPECT_EQ("flush C:\\WINDOWS\\WinInit.ini", sim::journal().back());
  EXPECT_FALSE(WritePrivateProfileSectionA("Rename", "a=b\0", "C:\\Gone\\WinInit.ini"));
  EXPECT_EQ("write-section C:\\Gone\\WinInit.ini [Rename] failed", sim::journal().back());
}

TEST_F(SimText, StringTablesFollowTheUiLanguageAndSayWhenTheyHaveNothing) {
  char buffer[512];
  sim::set_ui_language(1041);
  EXPECT_TRUE(IsDBCSLeadByte(0x81));
  const std::string four = sim::to_cp932(
      "ファイルのコピーができません。\nTRAVEN-60を使用しているアプリケーションを\n停止し再度実行してください。");
  EXPECT_EQ(static_cast<int>(four.size()), LoadStringA(nullptr, 4, buffer, sizeof buffer));
  EXPECT_EQ(four, buffer);

  sim::set_ui_language(1031);
  std::strcpy(buffer, "fallback");
  EXPECT_EQ(0, LoadStringA(nullptr, 5, buffer, sizeof buffer));
  EXPECT_STREQ("", buffer);
  sim::set_ui_language(1033);
  sim::remove_string_tables();
  EXPECT_EQ(0, LoadStringA(nullptr, 5, buffer, sizeof buffer));
}

TEST_F(SimText, SystemMessagesCanBeMadeUnknown) {
  const DWORD flags = FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS;
  char buffer[128] = "Not exist.";
  sim::set_system_message(ERROR_ACCESS_DENIED, "");
  EXPECT_EQ(0u, FormatMessageA(flags, nullptr, ERROR_ACCESS_DENIED, LANG_USER_DEFAULT, buffer, sizeof buffer, nullptr));
  EXPECT_EQ(static_cast<DWORD>(ERROR_MR_MID_NOT_FOUND), GetLastError());
  EXPECT_STREQ("Not exist.", buffer);
}

TEST_F(SimKernel, ModulePathPastMaxPathAndWindowsDirectoryThatDoesNotFit) {
  const std::string path = "C:\\" + std::string(300, 'k') + "\\TRV60UPDATE.EXE";
  sim::set_module_path(path);
  char buffer[MAX_PATH + 1];
  buffer[MAX_PATH] = '#';
  EXPECT_EQ(static_cast<DWORD>(MAX_PATH), GetModuleFileNameA(nullptr, buffer, MAX_PATH));
  EXPECT_EQ(path.substr(0, MAX_PATH), std::string(buffer, MAX_PATH));
  EXPECT_EQ('#', buffer[MAX_PATH]);

  char windows[4] = "###";
  EXPECT_EQ(11u, GetWindowsDirectoryA(windows, sizeof windows));
  EXPECT_STREQ("###", windows);
}

TEST_F(SimKernel, MutexesEndWithTheRestartAndCanBeMadeToFail) {
  const char name[] = "TRAVEN-60 Update";
  HANDLE first = CreateMutexA(nullptr, FALSE, name);
  CloseHandle(first);
  EXPECT_FALSE(sim::mutex_exists(name));
  sim::hold_mutex(name);
  EXPECT_TRUE(sim::mutex_exists(name));
  EXPECT_FALSE(sim::mutex_exists("traven-60 update"));
  sim::restart();
  EXPECT_FALSE(sim::mutex_exists(name));

  // Another user's, or an elevated process's: neither opened nor created.
  sim::hold_mutex(name, true);
  EXPECT_EQ(nullptr, OpenMutexA(MUTEX_ALL_ACCESS, FALSE, name));
  EXPECT_EQ(static_cast<DWORD>(ERROR_ACCESS_DENIED), GetLastError());
  EXPECT_EQ(nullptr, CreateMutexA(nullptr, FALSE, name));
  EXPECT_EQ(static_cast<DWORD>(ERROR_ACCESS_DENIED), GetLastError());
  sim::restart();

  sim::fail_mutex_creation(ERROR_INVALID_HANDLE);
  EXPECT_EQ(nullptr, CreateMutexA(nullptr, FALSE, name));
  EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_HANDLE), GetLastError());
  EXPECT_EQ(0, sim::open_handles());
}

TEST_F(SimKernel, OnlyTheSystemDirectorysVersionLibraryLoads) {
  char directory[MAX_PATH];
  EXPECT_EQ(19u, GetSystemDirectoryA(directory, MAX_PATH));
  EXPECT_STREQ("C:\\WINDOWS\\system32", directory);
  EXPECT_EQ(20u, GetSystemDirectoryA(directory, 19));  // the size it needs
  sim::set_platform(VER_PLATFORM_WIN32_WINDOWS);
  EXPECT_EQ("C:\\WINDOWS\\SYSTEM", sim::system_directory());

  HMODULE library = LoadLibraryA("c:/windows/system\\version.dll");
  ASSERT_NE(nullptr, library);
  EXPECT_EQ(library, LoadLibraryA("C:\\WINDOWS\\SYSTEM\\VERSION.DLL"));
  EXPECT_EQ(2, sim::loaded_libraries());
  FARPROC size = GetProcAddress(library, "GetFileVersionInfoSizeA");
  EXPECT_EQ(reinterpret_cast<FARPROC>(reinterpret_cast<void (*)()>(&GetFileVersionInfoSizeA)), size);
  EXPECT_EQ(nullptr, GetProcAddress(library, "GetFileVersionInfoSizeW"));
  EXPECT_EQ(static_cast<DWORD>(ERROR_PROC_NOT_FOUND), GetLastError());
  sim::remove_version_export("VerQueryValueA");
  EXPECT_EQ(nullptr, GetProcAddress(library, "VerQueryValueA"));
  EXPECT_TRUE(FreeLibrary(library));
  EXPECT_TRUE(FreeLibrary(library));
  EXPECT_EQ(0, sim::loaded_libraries());
  EXPECT_TRUE(sim::faults().empty());

  EXPECT_EQ(nullptr, LoadLibraryA("C:\\KIT\\VERSION.DLL"));
  EXPECT_EQ(static_cast<DWORD>(ERROR_MOD_NOT_FOUND), GetLastError());
  sim::fail_version_library(ERROR_BAD_EXE_FORMAT);
  EXPECT_EQ(nullptr, LoadLibraryA("C:\\WINDOWS\\SYSTEM\\VERSION.DLL"));
  EXPECT_EQ(static_cast<DWORD>(ERROR_BAD_EXE_FORMAT), GetLastError());
  EXPECT_TRUE(sim::faults().empty());
  // Misuse: a name the loader searches for, the program's folder first,
  // and a module that is no longer loaded.
  EXPECT_EQ(nullptr, LoadLibraryA("VERSION.DLL"));
  EXPECT_EQ(nullptr, GetProcAddress(library, "VerQueryValueA"));
  EXPECT_FALSE(FreeLibrary(library));
  EXPECT_EQ(3u, sim::faults().size());
  EXPECT_EQ(5u, sim::library_loads().size());
}

TEST_F(SimKernel, HeapVersionAndMisuse) {
  HANDLE heap = GetProcessHeap();
  BYTE *zeroed = static_cast<BYTE *>(HeapAlloc(heap, HEAP_ZERO_MEMORY, 64));
  ASSERT_NE(nullptr, zeroed);
  EXPECT_EQ(std::vector<BYTE>(64, 0), std::vector<BYTE>(zeroed, zeroed + 64));
  EXPECT_EQ(1, sim::heap_blocks());
  EXPECT_TRUE(HeapFree(heap, 0, zeroed));
  EXPECT_TRUE(sim::faults().empty());
  EXPECT_FALSE(HeapFree(heap, 0, zeroed));
  EXPECT_EQ(1u, sim::faults().size());
  EXPECT_EQ(0, sim::heap_blocks());
  sim::fail_heap_allocations();
  EXPECT_EQ(nullptr, HeapAlloc(heap, 0, 16));

  OSVERSIONINFOA info = {};
  info.dwOSVersionInfoSize = sizeof info;
  sim::set_platform(VER_PLATFORM_WIN32_WINDOWS);
  ASSERT_TRUE(GetVersionExA(&info));
  EXPECT_EQ(2222u, info.dwBuildNumber & 0xFFFF);
  sim::fail_version_query();
  EXPECT_FALSE(GetVersionExA(&info));
}

TEST_F(SimKernel, HooksRunFirstAndNotInsideThemselves) {
  int seen = -1;
  sim::on_call("MessageBoxA", [&] {
    seen = static_cast<int>(sim::boxes().size());
    MessageBoxA(nullptr, "second", "TRAVEN-60 Update", MB_SYSTEMMODAL);
  });
  EXPECT_EQ(IDOK, MessageBoxA(nullptr, "first", "TRAVEN-60 Update", MB_OK | MB_SYSTEMMODAL));
  EXPECT_EQ(0, seen);
  ASSERT_EQ(2u, sim::boxes().size());
  EXPECT_EQ("second", sim::boxes()[0].text);
  EXPECT_EQ("first", sim::boxes()[1].text);
  EXPECT_EQ(static_cast<UINT>(MB_SYSTEMMODAL), sim::boxes()[1].style);
}

}  // namespace
