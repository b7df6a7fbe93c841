// The simulated Windows' own test side: its journal, holds, short-name
// mappings, restarts, fault records and hooks. How its Win32 functions
// answer is checked against Windows by tests/behaviour, which also runs
// under Wine.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "kit_names.h"
#include "simwin/machine.h"

namespace {

using namespace std::string_literals;

const std::string PAYLOAD_PATH = "C:\\KIT\\" + API_PAYLOAD;
const std::string TARGET_PATH = "C:\\Prog\\" + API_LIBRARY;
// The Win32 calls take C strings.
const char *const PAYLOAD = PAYLOAD_PATH.c_str();
const char *const TARGET = TARGET_PATH.c_str();

HANDLE open_for(const std::string &path, DWORD access, DWORD share) {
  return CreateFileA(path.c_str(), access, share, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
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
  EXPECT_EQ(INVALID_HANDLE_VALUE, open_for("C:\\Prog\\" + AVC_LIBRARY, 0, 0));
  EXPECT_EQ("open C:\\Prog\\" + AVC_LIBRARY + " failed", sim::journal().front());
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
  EXPECT_EQ("delete " + TARGET_PATH + " failed", sim::journal().back());
  sim::hold(TARGET, sim::Hold::exclusive);  // replaces the module hold
  DWORD handle;
  EXPECT_EQ(0u, GetFileVersionInfoSizeA(TARGET, &handle));
  EXPECT_EQ("read-version " + TARGET_PATH + " failed", sim::journal().back());
  sim::release(TARGET);
  EXPECT_TRUE(CopyFileA(PAYLOAD, TARGET, FALSE));
}

// DOS sharing rules: every open reads, so the open for no access with no
// sharing meets the loader's own open of a running image or library.
TEST_F(SimFiles, NineXRefusesTheExclusiveOpenOfAnOpenFile) {
  sim::set_platform(VER_PLATFORM_WIN32_WINDOWS);
  sim::put_file(PAYLOAD, "new");
  sim::put_file(TARGET, "old");
  sim::set_file_version(TARGET, "1.00");
  sim::hold(TARGET, sim::Hold::module);
  EXPECT_EQ(INVALID_HANDLE_VALUE, open_for(TARGET, 0, 0));
  EXPECT_EQ(static_cast<DWORD>(ERROR_SHARING_VIOLATION), GetLastError());
  HANDLE reader = open_for(TARGET, GENERIC_READ, FILE_SHARE_READ);
  EXPECT_NE(INVALID_HANDLE_VALUE, reader);
  CloseHandle(reader);
  EXPECT_FALSE(version_block(TARGET).empty());
  EXPECT_FALSE(CopyFileA(PAYLOAD, TARGET, FALSE));
  EXPECT_EQ(static_cast<DWORD>(ERROR_SHARING_VIOLATION), GetLastError());

  // A version read opens the DOS way, in compatibility mode: beside an open
  // that denies writing, only a read-only file can be read so.
  sim::release(TARGET);
  HANDLE holder = open_for(TARGET, GENERIC_READ, FILE_SHARE_READ);
  EXPECT_TRUE(version_block(TARGET).empty());
  ASSERT_TRUE(SetFileAttributesA(TARGET, FILE_ATTRIBUTE_READONLY));
  EXPECT_FALSE(version_block(TARGET).empty());
  CloseHandle(holder);
  SetFileAttributesA(TARGET, FILE_ATTRIBUTE_NORMAL);

  // Our own open for no access counts as well.
  HANDLE first = open_for(TARGET, 0, FILE_SHARE_READ | FILE_SHARE_WRITE);
  EXPECT_EQ(INVALID_HANDLE_VALUE, open_for(TARGET, 0, 0));
  CloseHandle(first);
  HANDLE alone = open_for(TARGET, 0, 0);
  EXPECT_NE(INVALID_HANDLE_VALUE, alone);
  CloseHandle(alone);
}

TEST_F(SimFiles, LimitedUserWritesNothingUnderProtectedDirectories) {
  const std::string installed = "C:\\Program Files\\T50\\" + API_LIBRARY;
  sim::put_file(PAYLOAD, "new");
  sim::put_file(installed, "old");
  sim::put_file("C:\\T50\\" + API_LIBRARY, "old");
  sim::set_key("SOFTWARE\\Quenvor");
  sim::set_administrator(false);
  sim::protect("C:\\T50");
  for (const std::string &name : {installed, "c:\\progra~1\\t50\\trvapi.dll"s, "C:\\T50\\" + API_LIBRARY}) {
    const char *target = name.c_str();
    EXPECT_FALSE(CopyFileA(PAYLOAD, target, FALSE)) << target;
    EXPECT_EQ(static_cast<DWORD>(ERROR_ACCESS_DENIED), GetLastError());
    EXPECT_FALSE(SetFileAttributesA(target, FILE_ATTRIBUTE_NORMAL));
    EXPECT_FALSE(DeleteFileA(target));
    EXPECT_EQ(static_cast<DWORD>(ERROR_ACCESS_DENIED), GetLastError());
    EXPECT_EQ(INVALID_HANDLE_VALUE, open_for(target, GENERIC_WRITE, FILE_SHARE_READ));
  }
  EXPECT_FALSE(CopyFileA(PAYLOAD, "C:\\Program Files\\T50\\New.dll", FALSE));
  EXPECT_FALSE(WritePrivateProfileSectionA("Rename", "a=b\0", "C:\\WINDOWS\\WinInit.ini"));
  EXPECT_FALSE(MoveFileExA(PAYLOAD, nullptr, MOVEFILE_DELAY_UNTIL_REBOOT));
  EXPECT_EQ(static_cast<DWORD>(ERROR_ACCESS_DENIED), GetLastError());
  HKEY key;
  EXPECT_EQ(ERROR_ACCESS_DENIED, RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Quenvor", 0, 0x20006, &key));
  // Reading is everyone's, and so is the user's own directory.
  ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Quenvor", 0, KEY_READ, &key));
  RegCloseKey(key);
  HANDLE h = open_for(installed, 0, 0);
  EXPECT_NE(INVALID_HANDLE_VALUE, h);
  CloseHandle(h);
  EXPECT_TRUE(DeleteFileA(PAYLOAD));
  EXPECT_EQ("old", sim::bytes_of(installed));

  // The 9x family has no rights to check.
  sim::set_platform(VER_PLATFORM_WIN32_WINDOWS);
  EXPECT_TRUE(DeleteFileA(installed.c_str()));
}

TEST_F(SimFiles, CopiesAndAttributesAreJournaled) {
  sim::put_file(PAYLOAD, "new", FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_ARCHIVE);
  sim::put_file(TARGET, "old", FILE_ATTRIBUTE_HIDDEN);
  EXPECT_FALSE(CopyFileA(PAYLOAD, TARGET, FALSE));
  EXPECT_TRUE(SetFileAttributesA(TARGET, FILE_ATTRIBUTE_NORMAL));
  EXPECT_EQ(static_cast<DWORD>(FILE_ATTRIBUTE_NORMAL), sim::attributes_of(TARGET));
  EXPECT_TRUE(CopyFileA(PAYLOAD, TARGET, FALSE));
  const std::vector<std::string> expected = {
      "copy " + PAYLOAD_PATH + " > " + TARGET_PATH + " failed",
      "attributes " + TARGET_PATH + " 0x80",
      "copy " + PAYLOAD_PATH + " > " + TARGET_PATH,
  };
  EXPECT_EQ(expected, sim::journal());
}

// Renames in place, as the NT family's MoveFileExA and every family's
// MoveFileA make them: a loaded library may be renamed but not replaced.
TEST_F(SimFiles, RenamesReplaceOnlyWhatMayBeDeleted) {
  const char fresh[] = "C:\\Prog\\TRVNEW.TMP";
  const DWORD REPLACE = MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH;
  sim::put_file(fresh, "new");
  sim::put_file(TARGET, "old", FILE_ATTRIBUTE_READONLY);
  EXPECT_FALSE(MoveFileExA(fresh, TARGET, MOVEFILE_REPLACE_EXISTING | MOVEFILE_COPY_ALLOWED));
  EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_PARAMETER), GetLastError());
  EXPECT_FALSE(MoveFileA(fresh, TARGET));
  EXPECT_EQ(static_cast<DWORD>(ERROR_ALREADY_EXISTS), GetLastError());
  EXPECT_FALSE(MoveFileExA(fresh, TARGET, REPLACE));
  EXPECT_EQ(static_cast<DWORD>(ERROR_ACCESS_DENIED), GetLastError());  // read-only
  SetFileAttributesA(TARGET, FILE_ATTRIBUTE_NORMAL);
  sim::hold(TARGET, sim::Hold::module);
  EXPECT_FALSE(MoveFileExA(fresh, TARGET, REPLACE));
  EXPECT_EQ(static_cast<DWORD>(ERROR_ACCESS_DENIED), GetLastError());
  sim::hold(fresh, sim::Hold::exclusive);
  EXPECT_FALSE(MoveFileA(fresh, "C:\\Prog\\other.tmp"));
  EXPECT_EQ(static_cast<DWORD>(ERROR_SHARING_VIOLATION), GetLastError());
  sim::release(fresh);
  // The loaded library itself moves, and its holder with it.
  EXPECT_TRUE(MoveFileA(TARGET, "C:\\Prog\\TRVOLD.TMP"));
  EXPECT_FALSE(DeleteFileA("C:\\Prog\\TRVOLD.TMP"));
  EXPECT_TRUE(MoveFileExA(fresh, TARGET, REPLACE));
  EXPECT_EQ("new", sim::bytes_of(TARGET));
  EXPECT_FALSE(sim::exists(fresh));
  EXPECT_EQ("move C:\\Prog\\TRVNEW.TMP > " + TARGET_PATH, sim::journal().back());
  EXPECT_FALSE(MoveFileA("C:\\Prog\\gone.tmp", TARGET));
  EXPECT_EQ(static_cast<DWORD>(ERROR_FILE_NOT_FOUND), GetLastError());

  // Windows 9x: no replacing rename, and no rename of a file another holds.
  sim::set_platform(VER_PLATFORM_WIN32_WINDOWS);
  sim::put_file(fresh, "newer");
  EXPECT_FALSE(MoveFileExA(fresh, TARGET, REPLACE));
  EXPECT_EQ(static_cast<DWORD>(ERROR_CALL_NOT_IMPLEMENTED), GetLastError());
  EXPECT_FALSE(MoveFileA("C:\\Prog\\TRVOLD.TMP", "C:\\Prog\\x.tmp"));
  EXPECT_EQ(static_cast<DWORD>(ERROR_ACCESS_DENIED), GetLastError());
  EXPECT_TRUE(MoveFileA(TARGET, "C:\\Prog\\y.tmp"));
}

// A small volume: a copy that does not fit writes what fits and leaves it;
// nothing moves to another volume by a rename.
TEST_F(SimFiles, FullVolumeCutsACopyShortAndKeepsRenamesAtHome) {
  sim::put_file(PAYLOAD, std::string(3000, 'p'));
  sim::set_file_version(PAYLOAD, "2.00");
  sim::put_file(TARGET, std::string(500, 'o'));
  sim::set_free_space("C:\\Prog", 1000);
  const char fresh[] = "C:\\Prog\\TRVNEW.TMP";
  EXPECT_FALSE(CopyFileA(PAYLOAD, fresh, FALSE));
  EXPECT_EQ(static_cast<DWORD>(ERROR_DISK_FULL), GetLastError());
  EXPECT_EQ(std::string(1000, 'p'), sim::bytes_of(fresh));
  EXPECT_EQ("copy " + PAYLOAD_PATH + " > C:\\Prog\\TRVNEW.TMP failed", sim::journal().back());
  EXPECT_FALSE(version_block(fresh).empty());  // its head still holds the resource
  // Copying over the library frees its bytes first: 1500 then fit.
  EXPECT_TRUE(DeleteFileA(fresh));
  EXPECT_FALSE(CopyFileA(PAYLOAD, TARGET, FALSE));
  EXPECT_EQ(std::string(1500, 'p'), sim::bytes_of(TARGET));
  EXPECT_TRUE(DeleteFileA(TARGET));
  sim::put_file(PAYLOAD, "small");
  EXPECT_TRUE(CopyFileA(PAYLOAD, fresh, FALSE));
  EXPECT_FALSE(MoveFileA(fresh, "C:\\KIT\\TRVNEW.TMP"));
  EXPECT_EQ(static_cast<DWORD>(ERROR_NOT_SAME_DEVICE), GetLastError());
  EXPECT_TRUE(MoveFileA(PAYLOAD, ("C:\\" + API_PAYLOAD).c_str()));  // the system volume is one
}

// Data waits in the cache until it is flushed; names, sizes and attributes
// reach the disk at once. A power cut after the nth change stops everything
// there, and the restart finds unflushed data as zeros.
TEST_F(SimRestart, PowerCutLosesWhatWasNeverFlushed) {
  const char fresh[] = "C:\\Prog\\TRVNEW.TMP";
  const char other[] = "C:\\Prog\\Other.dll";
  sim::put_file(PAYLOAD, "new bytes");
  sim::set_file_version(PAYLOAD, "2.00");
  sim::put_file(TARGET, "old");
  EXPECT_TRUE(CopyFileA(PAYLOAD, fresh, FALSE));
  EXPECT_TRUE(CopyFileA(PAYLOAD, other, FALSE));
  HANDLE reader = open_for(fresh, GENERIC_READ, FILE_SHARE_READ);
  EXPECT_FALSE(FlushFileBuffers(reader));
  EXPECT_EQ(static_cast<DWORD>(ERROR_ACCESS_DENIED), GetLastError());
  CloseHandle(reader);
  HANDLE writer = open_for(fresh, GENERIC_WRITE, 0);
  EXPECT_TRUE(FlushFileBuffers(writer));
  CloseHandle(writer);
  EXPECT_EQ("flush-buffers C:\\Prog\\TRVNEW.TMP", sim::journal().back());
  EXPECT_EQ(5, sim::disk_changes());  // two copies of two changes, one flush

  sim::cut_power_after(2);
  EXPECT_TRUE(SetFileAttributesA(other, FILE_ATTRIBUTE_HIDDEN));
  EXPECT_TRUE(MoveFileExA(fresh, TARGET, MOVEFILE_REPLACE_EXISTING));  // the power goes with it
  EXPECT_TRUE(sim::power_is_off());
  EXPECT_FALSE(DeleteFileA(other));
  EXPECT_EQ(static_cast<DWORD>(ERROR_NOT_READY), GetLastError());
  EXPECT_TRUE(sim::exists(other));
  sim::restart();
  EXPECT_FALSE(sim::power_is_off());
  EXPECT_EQ("new bytes", sim::bytes_of(TARGET));
  EXPECT_FALSE(version_block(TARGET).empty());
  EXPECT_EQ(std::string(9, '\0'), sim::bytes_of(other));
  EXPECT_EQ(static_cast<DWORD>(FILE_ATTRIBUTE_HIDDEN), sim::attributes_of(other));
  EXPECT_TRUE(version_block(other).empty());

  // A clean restart writes the cache out.
  EXPECT_TRUE(SetFileAttributesA(other, FILE_ATTRIBUTE_NORMAL));
  EXPECT_TRUE(CopyFileA(PAYLOAD, other, FALSE));
  sim::restart();
  EXPECT_EQ("new bytes", sim::bytes_of(other));
}

TEST_F(SimFiles, ShortNamesComeFromTheMappingOfTheFileOrItsDirectory) {
  const std::string library = "C:\\Program Files\\Quenvor\\" + API_LIBRARY;
  sim::put_file(library, "x");
  sim::set_short_name("C:\\Program Files", "C:\\PROGRA~1");
  char buffer[64];
  const std::string short_form = "C:\\PROGRA~1\\Quenvor\\" + API_LIBRARY;
  EXPECT_EQ(short_form.size(),
            GetShortPathNameA(("c:/program files/Quenvor/" + API_LIBRARY).c_str(), buffer, sizeof buffer));
  EXPECT_EQ(short_form, buffer);
  // The file's own mapping is the longest and wins over its directory's.
  sim::set_short_name(library, "C:\\PROGRA~1\\Quenvor\\TRVAPI~1.DLL");
  EXPECT_NE(0u, GetShortPathNameA(library.c_str(), buffer, sizeof buffer));
  EXPECT_STREQ("C:\\PROGRA~1\\Quenvor\\TRVAPI~1.DLL", buffer);
  EXPECT_EQ("x", sim::bytes_of(buffer));
}

TEST_F(SimFiles, EveryLongNameHasAnAliasMadeWindowsWay) {
  sim::put_file("C:\\Program Files\\TRAVEN-60 Update\\" + UPDATER, "a");
  sim::put_file("C:\\Program Files\\TRAVEN-60 Update\\TRV60UPDATE2.EXE", "b");
  sim::put_file("C:\\Program Files\\TRAVEN-60 Update\\update.d_1", "c");
  sim::make_dir("C:\\Program Files\\a+b [c].setup.old");
  sim::put_file("C:\\Program Files\\TRAVEN-60 Update Kit\\x", "d");
  char buffer[MAX_PATH];
  ASSERT_NE(0u, GetShortPathNameA("C:\\Program Files\\TRAVEN-60 Update\\TRV60UPDATE2.EXE", buffer, MAX_PATH));
  EXPECT_STREQ("C:\\PROGRA~1\\TRAVEN~1\\TRV60U~2.EXE", buffer);
  EXPECT_EQ("TRV60U~1.EXE", sim::alias_of("C:\\Program Files\\TRAVEN-60 Update\\" + UPDATER));
  EXPECT_EQ("", sim::alias_of("C:\\Program Files\\TRAVEN-60 Update\\update.d_1"));  // 8.3 already
  EXPECT_EQ("TRAVEN~2", sim::alias_of("C:\\Program Files\\TRAVEN-60 Update Kit"));
  EXPECT_EQ("A_B_C_~1.OLD", sim::alias_of("C:\\Program Files\\a+b [c].setup.old"));
  // Every file operation takes an alias for the long name.
  EXPECT_EQ("b", sim::bytes_of("c:\\progra~1\\traven~1\\trv60u~2.exe"));
  EXPECT_TRUE(DeleteFileA("C:\\PROGRA~1\\TRAVEN~1\\TRV60U~1.EXE"));
  EXPECT_FALSE(sim::exists("C:\\Program Files\\TRAVEN-60 Update\\" + UPDATER));
  // A freed alias goes to the next name that needs one.
  sim::put_file("C:\\Program Files\\TRAVEN-60 Update\\TRV60UPDATE3.EXE", "e");
  EXPECT_EQ("TRV60U~1.EXE", sim::alias_of("C:\\Program Files\\TRAVEN-60 Update\\TRV60UPDATE3.EXE"));
  // Ten clashes leave room for the number.
  for (int i = 3; i <= 12; ++i) sim::put_file("C:\\KIT\\TRV60UPDATE" + std::to_string(i) + ".EXE", "f");
  EXPECT_EQ("TRV60~10.EXE", sim::alias_of("C:\\KIT\\TRV60UPDATE12.EXE"));
}

TEST_F(SimRestart, NtDeletesWhatWasMovedToNoNameAtRestart) {
  const std::string exe = "C:\\KIT\\" + UPDATER;
  sim::put_file(exe, "exe");
  sim::hold(exe, sim::Hold::module);
  EXPECT_TRUE(MoveFileExA(exe.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT));
  EXPECT_EQ(std::vector<std::string>{exe}, sim::pending_deletions());
  EXPECT_EQ("move-at-restart " + exe, sim::journal().back());
  EXPECT_TRUE(sim::exists(exe));

  sim::restart();
  EXPECT_FALSE(sim::exists(exe));
  EXPECT_TRUE(sim::pending_deletions().empty());
}

TEST_F(SimRestart, NineXFamilyDeletesTheNulEntriesOfWinInit) {
  sim::set_platform(VER_PLATFORM_WIN32_WINDOWS);
  const std::string exe = "C:\\Program Files\\Kit\\" + UPDATER;
  sim::put_file(exe, "exe");
  sim::put_file(PAYLOAD, "payload");
  sim::set_short_name("C:\\Program Files", "C:\\PROGRA~1");
  sim::hold(exe, sim::Hold::module);

  EXPECT_FALSE(MoveFileExA(exe.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT));
  EXPECT_EQ("move-at-restart " + exe + " failed", sim::journal().back());

  // WININIT runs under DOS: a long name in a line leaves it undone.
  const char long_one[] = "C:\\Program Files\\Kit\\Long Name.dll";
  sim::put_file(long_one, "kept");
  const char wininit[] = "C:\\WINDOWS\\WinInit.ini";
  const std::string rename = "Nul=C:\\PROGRA~1\\Kit\\TRV60U~1.EXE\0no equals sign\0NUL="s + PAYLOAD +
                             "\0Nul=C:\\PROGRA~1\\Kit\\Long Name.dll\0Nul=C:\\Program Files\\Kit\\LONGNA~1.DLL\0"s;
  EXPECT_TRUE(WritePrivateProfileSectionA("Rename", rename.c_str(), wininit));
  EXPECT_TRUE(WritePrivateProfileSectionA("Keep", "a=b\0", wininit));
  EXPECT_EQ(
      (std::vector<std::string>{"Nul=C:\\PROGRA~1\\Kit\\TRV60U~1.EXE", "NUL="s + PAYLOAD,
                                "Nul=C:\\PROGRA~1\\Kit\\Long Name.dll", "Nul=C:\\Program Files\\Kit\\LONGNA~1.DLL"}),
      sim::wininit_section("Rename"));
  EXPECT_EQ("write-section C:\\WINDOWS\\WinInit.ini [Rename]", sim::journal()[1]);

  sim::restart();
  EXPECT_FALSE(sim::exists(exe));
  EXPECT_FALSE(sim::exists(PAYLOAD));
  EXPECT_EQ("kept", sim::bytes_of(long_one));
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
  // After the string come only the translations, which end the resource,
  // and the spare bytes that the size asked for: none holds a terminator.
  const char *end = static_cast<char *>(value) + length;
  EXPECT_EQ(std::string::npos, std::string(end, static_cast<const char *>(block.data() + block.size())).find('\0'));

  // A copy cut short keeps its head; what was cut off is not found, and the
  // translations are the first to go.
  std::vector<char> cut = version_block(TARGET, static_cast<DWORD>(end - block.data()));
  EXPECT_FALSE(VerQueryValueA(cut.data(), "\\VarFileInfo\\Translation", &value, &length));
  EXPECT_TRUE(VerQueryValueA(cut.data(), "\\StringFileInfo\\040904b0\\FileVersion", &value, &length));
  cut = version_block(TARGET, static_cast<DWORD>(end - block.data()) - 1);
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
  sim::set_code_page(932);
  EXPECT_TRUE(IsDBCSLeadByte(0x81));
  const std::string four = sim::to_cp932(
      "ファイルのコピーができません。\nTRAVEN-60を使用しているアプリケーションを\n停止し再度実行してください。");
  EXPECT_EQ(static_cast<int>(four.size()), LoadStringA(nullptr, 4, buffer, sizeof buffer));
  EXPECT_EQ(four, buffer);

  // A language without a table of its own loads US English.
  sim::set_ui_language(1031);
  EXPECT_EQ(21, LoadStringA(nullptr, 5, buffer, sizeof buffer));
  EXPECT_STREQ("Update was succeeded.", buffer);
  sim::set_ui_language(1033);
  sim::remove_string_tables();
  EXPECT_EQ(0, LoadStringA(nullptr, 5, buffer, sizeof buffer));
  EXPECT_STREQ("", buffer);
}

// Which table LoadStringA picks, and what the code page makes of it.
TEST_F(SimText, TableFollowsTheFamilysLanguageAndTheCodePageConverts) {
  struct {
    DWORD platform, nt_major;
    WORD ui, regional;
    bool japanese;
  } cases[] = {
      {VER_PLATFORM_WIN32_NT, 5, 1041, 1033, true},  // 2000 and later: the UI language
      {VER_PLATFORM_WIN32_NT, 5, 1033, 1041, false},
      {VER_PLATFORM_WIN32_NT, 4, 1041, 1033, false},  // NT 4.0: the regional settings
      {VER_PLATFORM_WIN32_NT, 4, 1033, 1041, true},
      {VER_PLATFORM_WIN32_WINDOWS, 4, 1033, 1041, true},  // 9x likewise
      {VER_PLATFORM_WIN32_WINDOWS, 4, 1041, 1033, false},
      {VER_PLATFORM_WIN32_WINDOWS, 4, 1041, 1031, true},  // then the system's own language
  };
  const std::string japanese = "アップデートが終了しました";
  for (const auto &c : cases) {
    for (UINT code_page : {932u, 1252u}) {
      sim::reset();
      sim::set_platform(c.platform);
      sim::set_nt_version(c.nt_major, 0);
      sim::set_ui_language(c.ui);
      sim::set_regional_language(c.regional);
      sim::set_code_page(code_page);
      char buffer[512];
      LoadStringA(nullptr, 5, buffer, sizeof buffer);
      const std::string expected = !c.japanese        ? "Update was succeeded."
                                   : code_page == 932 ? sim::to_cp932(japanese)
                                                      : std::string(13, '?');
      EXPECT_EQ(expected, buffer) << c.platform << "/" << c.nt_major << " " << c.ui << " " << c.regional << " "
                                  << code_page;
      EXPECT_EQ(code_page, GetACP());
    }
  }
}

TEST_F(SimText, SystemMessagesCanBeMadeUnknown) {
  const DWORD flags = FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS;
  char buffer[128] = "Not exist.";
  sim::set_system_message(ERROR_ACCESS_DENIED, "");
  EXPECT_EQ(0u, FormatMessageA(flags, nullptr, ERROR_ACCESS_DENIED, LANG_USER_DEFAULT, buffer, sizeof buffer, nullptr));
  EXPECT_EQ(static_cast<DWORD>(ERROR_MR_MID_NOT_FOUND), GetLastError());
  EXPECT_STREQ("Not exist.", buffer);

  sim::set_ui_language(1041);
  sim::set_code_page(932);
  EXPECT_NE(0u,
            FormatMessageA(flags, nullptr, ERROR_FILE_NOT_FOUND, LANG_USER_DEFAULT, buffer, sizeof buffer, nullptr));
  EXPECT_EQ("指定されたファイルが見つかりません。\r\n", sim::from_cp932(buffer));
}

// The system's texts are in the UI language whatever the code page; only
// the Unicode form and WideCharToMultiByte tell what the conversion lost.
TEST_F(SimText, SystemTextsInUnicodeShowWhatTheCodePageLoses) {
  const DWORD flags = FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS;
  sim::set_ui_language(1041);
  char ansi[256];
  WCHAR wide[256];
  ASSERT_EQ(20u, FormatMessageA(flags, nullptr, ERROR_FILE_NOT_FOUND, LANG_USER_DEFAULT, ansi, sizeof ansi, nullptr));
  EXPECT_EQ(std::string(18, '?') + "\r\n", ansi);
  ASSERT_EQ(20u, FormatMessageW(flags, nullptr, ERROR_FILE_NOT_FOUND, LANG_USER_DEFAULT, wide, 256, nullptr));
  EXPECT_EQ(0x6307, wide[0]);  // 指
  BOOL lost = FALSE;
  EXPECT_EQ(21, WideCharToMultiByte(CP_ACP, 0, wide, -1, ansi, sizeof ansi, nullptr, &lost));
  EXPECT_TRUE(lost);
  EXPECT_EQ(std::string(18, '?') + "\r\n", ansi);
  sim::set_code_page(932);
  EXPECT_EQ(39, WideCharToMultiByte(CP_ACP, 0, wide, -1, ansi, sizeof ansi, nullptr, &lost));
  EXPECT_FALSE(lost);
  EXPECT_EQ(0, WideCharToMultiByte(CP_ACP, 0, wide, -1, ansi, 38, nullptr, &lost));
  EXPECT_EQ(static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER), GetLastError());

  // Asked by name, a text comes only in an installed language.
  const DWORD english = MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US);
  EXPECT_NE(0u, FormatMessageA(flags, nullptr, ERROR_FILE_NOT_FOUND, english, ansi, sizeof ansi, nullptr));
  EXPECT_STREQ("The system cannot find the file specified.\r\n", ansi);
  sim::set_message_languages({1041});
  std::strcpy(ansi, "Not exist.");
  EXPECT_EQ(0u, FormatMessageA(flags, nullptr, ERROR_FILE_NOT_FOUND, english, ansi, sizeof ansi, nullptr));
  EXPECT_EQ(1815u, GetLastError());  // ERROR_RESOURCE_LANG_NOT_FOUND
  EXPECT_STREQ("Not exist.", ansi);

  // Windows 9x has FormatMessageW only as a stub.
  sim::set_platform(VER_PLATFORM_WIN32_WINDOWS);
  EXPECT_EQ(0u, FormatMessageW(flags, nullptr, ERROR_FILE_NOT_FOUND, LANG_USER_DEFAULT, wide, 256, nullptr));
  EXPECT_EQ(static_cast<DWORD>(ERROR_CALL_NOT_IMPLEMENTED), GetLastError());
}

TEST_F(SimKernel, ModulePathPastMaxPathAndWindowsDirectoryThatDoesNotFit) {
  const std::string path = "C:\\" + std::string(300, 'k') + "\\" + UPDATER;
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
