// The simulated Windows fails where Windows fails. These tests pin the
// quirks the updater's logic is tested against.
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

TEST_F(SimFiles, OpenFailsWithTheReasonWindowsGives) {
  sim::put_file(TARGET, "lib");
  std::string at_limit = "C:\\Prog\\" + std::string(MAX_PATH - 9, 'a');  // 259 bytes
  struct {
    std::string path;
    DWORD error;
  } cases[] = {
      {"C:\\Prog\\TrvAvc.dll", ERROR_FILE_NOT_FOUND},
      {"C:\\Nowhere\\TrvApi.dll", ERROR_PATH_NOT_FOUND},
      {"Q:\\TrvApi.dll", ERROR_PATH_NOT_FOUND},
      {"C:\\Prog", ERROR_ACCESS_DENIED},
      {at_limit, ERROR_FILE_NOT_FOUND},
      {at_limit + "a", ERROR_FILENAME_EXCED_RANGE},
  };
  for (const auto &c : cases) {
    SetLastError(0);
    EXPECT_EQ(INVALID_HANDLE_VALUE, open_for(c.path.c_str(), 0, 0)) << c.path;
    EXPECT_EQ(c.error, GetLastError()) << c.path;
  }
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

TEST_F(SimFiles, ModuleHoldLetsOthersReadButNotReplaceOrDelete) {
  sim::put_file(PAYLOAD, "new");
  sim::set_file_version(PAYLOAD, "2.00");
  sim::put_file(TARGET, "old");
  sim::set_file_version(TARGET, "1.00");
  sim::hold(TARGET, sim::Hold::module);

  HANDLE h = open_for(TARGET, 0, 0);
  EXPECT_NE(INVALID_HANDLE_VALUE, h);
  CloseHandle(h);
  EXPECT_FALSE(version_block(TARGET).empty());
  // A reader that refuses to share collides with the image's own read.
  EXPECT_EQ(INVALID_HANDLE_VALUE, open_for(TARGET, GENERIC_READ, 0));
  EXPECT_EQ(static_cast<DWORD>(ERROR_SHARING_VIOLATION), GetLastError());

  EXPECT_FALSE(CopyFileA(PAYLOAD, TARGET, FALSE));
  EXPECT_EQ(static_cast<DWORD>(ERROR_SHARING_VIOLATION), GetLastError());
  EXPECT_FALSE(DeleteFileA(TARGET));
  EXPECT_EQ(static_cast<DWORD>(ERROR_ACCESS_DENIED), GetLastError());
  EXPECT_EQ("old", sim::bytes_of(TARGET));
  EXPECT_EQ("delete C:\\Prog\\TrvApi.dll failed", sim::journal().back());

  sim::release(TARGET);
  EXPECT_TRUE(CopyFileA(PAYLOAD, TARGET, FALSE));
}

TEST_F(SimFiles, ExclusiveHoldBlocksEverythingButTheOpenWithoutAccess) {
  sim::put_file(TARGET, "old");
  sim::set_file_version(TARGET, "1.00");
  sim::hold(TARGET, sim::Hold::exclusive);

  HANDLE h = open_for(TARGET, 0, 0);
  EXPECT_NE(INVALID_HANDLE_VALUE, h);
  CloseHandle(h);
  DWORD handle;
  EXPECT_EQ(0u, GetFileVersionInfoSizeA(TARGET, &handle));
  EXPECT_EQ(static_cast<DWORD>(ERROR_SHARING_VIOLATION), GetLastError());
  EXPECT_EQ("read-version C:\\Prog\\TrvApi.dll failed", sim::journal().back());
  EXPECT_FALSE(CopyFileA(TARGET, PAYLOAD, FALSE));
  EXPECT_EQ(static_cast<DWORD>(ERROR_SHARING_VIOLATION), GetLastError());
  EXPECT_FALSE(DeleteFileA(TARGET));
  EXPECT_EQ(static_cast<DWORD>(ERROR_SHARING_VIOLATION), GetLastError());
  // Attributes are not data: changing them needs no share.
  EXPECT_TRUE(SetFileAttributesA(TARGET, FILE_ATTRIBUTE_NORMAL));
}

TEST_F(SimFiles, OurOwnOpenHandlesTakePartInTheShareCheck) {
  sim::put_file(TARGET, "old");
  HANDLE reader = open_for(TARGET, GENERIC_READ, FILE_SHARE_READ);
  HANDLE second = open_for(TARGET, GENERIC_READ, FILE_SHARE_READ);
  EXPECT_NE(INVALID_HANDLE_VALUE, second);
  EXPECT_EQ(INVALID_HANDLE_VALUE, open_for(TARGET, GENERIC_WRITE, FILE_SHARE_READ));
  EXPECT_FALSE(DeleteFileA(TARGET));
  EXPECT_EQ(static_cast<DWORD>(ERROR_SHARING_VIOLATION), GetLastError());
  EXPECT_EQ(2, sim::open_handles());
  CloseHandle(reader);
  CloseHandle(second);
  EXPECT_TRUE(DeleteFileA(TARGET));
}

TEST_F(SimFiles, CopyCarriesBytesVersionAndAttributes) {
  sim::put_file(PAYLOAD, "new", FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_ARCHIVE);
  sim::set_file_version(PAYLOAD, "2.00");
  sim::put_file(TARGET, "old", FILE_ATTRIBUTE_HIDDEN);

  EXPECT_FALSE(CopyFileA(PAYLOAD, TARGET, FALSE));  // a hidden target is refused
  EXPECT_EQ(static_cast<DWORD>(ERROR_ACCESS_DENIED), GetLastError());
  EXPECT_TRUE(SetFileAttributesA(TARGET, FILE_ATTRIBUTE_NORMAL));
  EXPECT_EQ(static_cast<DWORD>(FILE_ATTRIBUTE_NORMAL), sim::attributes_of(TARGET));
  EXPECT_FALSE(CopyFileA(PAYLOAD, TARGET, TRUE));
  EXPECT_TRUE(CopyFileA(PAYLOAD, TARGET, FALSE));
  EXPECT_EQ("new", sim::bytes_of(TARGET));
  EXPECT_EQ(static_cast<DWORD>(FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_ARCHIVE), sim::attributes_of(TARGET));
  EXPECT_EQ(version_block(PAYLOAD), version_block(TARGET));

  // The copied read-only attribute now stands in the way of the next copy.
  EXPECT_FALSE(CopyFileA(PAYLOAD, TARGET, FALSE));
  EXPECT_EQ(static_cast<DWORD>(ERROR_ACCESS_DENIED), GetLastError());
  EXPECT_FALSE(DeleteFileA(TARGET));
  EXPECT_EQ(static_cast<DWORD>(ERROR_ACCESS_DENIED), GetLastError());

  EXPECT_FALSE(CopyFileA("C:\\KIT\\UPDATE.D_9", TARGET, FALSE));
  EXPECT_EQ(static_cast<DWORD>(ERROR_FILE_NOT_FOUND), GetLastError());
  EXPECT_FALSE(CopyFileA(PAYLOAD, "C:\\Gone\\TrvApi.dll", FALSE));
  EXPECT_EQ(static_cast<DWORD>(ERROR_PATH_NOT_FOUND), GetLastError());
  EXPECT_FALSE(CopyFileA(PAYLOAD, "c:\\kit\\update.d_1", FALSE));

  const std::vector<std::string> expected = {
      "copy C:\\KIT\\UPDATE.D_1 > C:\\Prog\\TrvApi.dll failed",
      "attributes C:\\Prog\\TrvApi.dll 0x80",
      "copy C:\\KIT\\UPDATE.D_1 > C:\\Prog\\TrvApi.dll failed",
      "copy C:\\KIT\\UPDATE.D_1 > C:\\Prog\\TrvApi.dll",
  };
  EXPECT_EQ(expected, std::vector<std::string>(sim::journal().begin(), sim::journal().begin() + 4));
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
  EXPECT_EQ("move C:\\Prog\\TRVNEW.TMP > C:\\Prog\\TrvApi.dll", sim::journal().back());
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
  EXPECT_EQ("copy C:\\KIT\\UPDATE.D_1 > C:\\Prog\\TRVNEW.TMP failed", sim::journal().back());
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
  EXPECT_TRUE(MoveFileA(PAYLOAD, "C:\\UPDATE.D_1"));  // the system volume is one
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
  sim::put_file("C:\\Program Files\\Quenvor\\TrvApi.dll", "x");
  sim::set_short_name("C:\\Program Files", "C:\\PROGRA~1");
  char buffer[64];
  std::memset(buffer, '#', sizeof buffer);
  DWORD needed = GetShortPathNameA("c:/program files/Quenvor/TrvApi.dll", buffer, 10);
  EXPECT_EQ(std::strlen("C:\\PROGRA~1\\Quenvor\\TrvApi.dll") + 1, needed);
  EXPECT_EQ('#', buffer[0]);
  EXPECT_EQ(needed - 1, GetShortPathNameA("c:/program files/Quenvor/TrvApi.dll", buffer, needed));
  EXPECT_STREQ("C:\\PROGRA~1\\Quenvor\\TrvApi.dll", buffer);
  HANDLE h = open_for(buffer, GENERIC_READ, FILE_SHARE_READ);  // the short form names the same file
  EXPECT_NE(INVALID_HANDLE_VALUE, h);
  CloseHandle(h);

  EXPECT_EQ(0u, GetShortPathNameA("C:\\Program Files\\Gone.dll", buffer, sizeof buffer));
  EXPECT_EQ(static_cast<DWORD>(ERROR_FILE_NOT_FOUND), GetLastError());
}

TEST_F(SimRestart, NtDeletesWhatWasMovedToNoNameAtRestart) {
  const char exe[] = "C:\\KIT\\TRV60UPDATE.EXE";
  sim::put_file(exe, "exe");
  sim::hold(exe, sim::Hold::module);
  EXPECT_FALSE(DeleteFileA(exe));
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
  EXPECT_EQ(static_cast<DWORD>(ERROR_CALL_NOT_IMPLEMENTED), GetLastError());
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

TEST_F(SimRegistry, ReadsFailWithoutTouchingWhatTheyDoNotOwn) {
  HKEY key = reinterpret_cast<HKEY>(static_cast<uintptr_t>(0x1234));
  EXPECT_EQ(ERROR_FILE_NOT_FOUND, RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Quenvor", 0, KEY_READ, &key));
  EXPECT_EQ(reinterpret_cast<HKEY>(static_cast<uintptr_t>(0x1234)), key);

  sim::set_string("SOFTWARE\\Quenvor\\TRAVEN-50", "Path", "C:\\T50");
  sim::set_value("SOFTWARE\\Quenvor\\TRAVEN-50", "Raw", REG_BINARY, "ab");
  ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExA(HKEY_LOCAL_MACHINE, "software\\QUENVOR\\traven-50", 0, KEY_READ, &key));
  EXPECT_EQ(1, sim::open_keys());

  char data[16];
  std::memset(data, '#', sizeof data);
  DWORD type = REG_NONE;
  DWORD size = 4;
  EXPECT_EQ(ERROR_MORE_DATA, RegQueryValueExA(key, "path", nullptr, &type, reinterpret_cast<LPBYTE>(data), &size));
  EXPECT_EQ(7u, size);
  EXPECT_EQ("XXXX####", std::string(data, 8));

  size = sizeof data;
  EXPECT_EQ(ERROR_SUCCESS, RegQueryValueExA(key, "Raw", nullptr, &type, reinterpret_cast<LPBYTE>(data), &size));
  EXPECT_EQ(static_cast<DWORD>(REG_BINARY), type);
  EXPECT_EQ(2u, size);
  EXPECT_EQ("abXX####", std::string(data, 8));  // no terminator is added
  EXPECT_EQ(ERROR_FILE_NOT_FOUND, RegQueryValueExA(key, "InstallDir", nullptr, &type, nullptr, &size));

  EXPECT_EQ(ERROR_SUCCESS, RegCloseKey(key));
  EXPECT_EQ(0, sim::open_keys());
  EXPECT_TRUE(sim::faults().empty());
  EXPECT_EQ(ERROR_INVALID_HANDLE, RegCloseKey(key));
  EXPECT_EQ(1u, sim::faults().size());
}

TEST_F(SimVersion, QueriesFindTheFirstTranslationsStringInTheBlock) {
  sim::put_file(TARGET, "lib");
  sim::VersionResource resource;
  resource.translations = {{0x0411, 0x03a4, false, ""}, {0x0409, 0x04b0, true, "1.01.002"}};
  resource.length_counts_terminator = false;
  sim::set_version(TARGET, resource);
  std::vector<char> block = version_block(TARGET);
  ASSERT_FALSE(block.empty());

  LPVOID value = nullptr;
  UINT length = 0;
  ASSERT_TRUE(VerQueryValueA(block.data(), "\\VarFileInfo\\Translation", &value, &length));
  ASSERT_EQ(8u, length);
  const WORD *pairs = static_cast<const WORD *>(value);
  EXPECT_EQ((std::vector<WORD>{0x0411, 0x03a4, 0x0409, 0x04b0}), std::vector<WORD>(pairs, pairs + 4));

  value = &length;
  EXPECT_FALSE(VerQueryValueA(block.data(), "\\StringFileInfo\\041103a4\\FileVersion", &value, &length));
  EXPECT_EQ(static_cast<LPVOID>(&length), value);
  ASSERT_TRUE(VerQueryValueA(block.data(), "\\StringFileInfo\\040904B0\\FileVersion", &value, &length));
  EXPECT_EQ(8u, length);
  EXPECT_STREQ("1.01.002", static_cast<const char *>(value));
  EXPECT_FALSE(VerQueryValueA(block.data(), "\\StringFileInfo\\040904b0\\ProductVersion", &value, &length));
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
  DWORD handle;
  EXPECT_EQ(0u, GetFileVersionInfoSizeA(PAYLOAD, &handle));
  EXPECT_EQ(static_cast<DWORD>(ERROR_RESOURCE_TYPE_NOT_FOUND), GetLastError());
  sim::set_version(PAYLOAD, sim::VersionResource{});
  value = nullptr;
  EXPECT_FALSE(VerQueryValueA(version_block(PAYLOAD).data(), "\\VarFileInfo\\Translation", &value, &length));
  EXPECT_EQ(nullptr, value);
}

TEST_F(SimProfile, SectionsReadAsTerminatedLinesAndCutWithTheDocumentedCount) {
  const char ini[] = "C:\\WINDOWS\\WinInit.ini";
  sim::put_file(ini, "[other]\r\nx=y\r\n[rename]\r\n; comment\r\n\r\na=b\r\nNul=C:\\X\r\n");
  char buffer[32];
  std::memset(buffer, '#', sizeof buffer);
  EXPECT_EQ(13u, GetPrivateProfileSectionA("Rename", buffer, sizeof buffer, ini));
  EXPECT_EQ(std::string("a=b\0Nul=C:\\X\0\0#", 15), std::string(buffer, 15));

  std::memset(buffer, '#', sizeof buffer);
  EXPECT_EQ(6u, GetPrivateProfileSectionA("RENAME", buffer, 8, ini));
  EXPECT_EQ(std::string("a=b\0Nu\0\0#", 9), std::string(buffer, 9));

  std::memset(buffer, '#', sizeof buffer);
  EXPECT_EQ(0u, GetPrivateProfileSectionA("Missing", buffer, sizeof buffer, ini));
  EXPECT_EQ(std::string("\0\0#", 3), std::string(buffer, 3));
  EXPECT_EQ(0u, GetPrivateProfileSectionA("Rename", buffer, sizeof buffer, "C:\\WINDOWS\\none.ini"));
}

TEST_F(SimProfile, WritingASectionReplacesItAndCreatesTheFile) {
  const char ini[] = "C:\\WINDOWS\\WinInit.ini";
  EXPECT_TRUE(WritePrivateProfileSectionA("Rename", "Nul=C:\\A\0", ini));
  EXPECT_EQ("[Rename]\r\nNul=C:\\A\r\n", sim::wininit_text());
  EXPECT_TRUE(WritePrivateProfileSectionA("rename", "a=b\0Nul=C:\\B\0", ini));
  EXPECT_EQ("[Rename]\r\na=b\r\nNul=C:\\B\r\n", sim::wininit_text());

  EXPECT_FALSE(WritePrivateProfileStringA(nullptr, nullptr, nullptr, ini));
  EXPECT_EQ("flush C:\\WINDOWS\\WinInit.ini", sim::journal().back());

  EXPECT_FALSE(WritePrivateProfileSectionA("Rename", "a=b\0", "C:\\Gone\\WinInit.ini"));
  EXPECT_EQ(static_cast<DWORD>(ERROR_PATH_NOT_FOUND), GetLastError());
  EXPECT_EQ("write-section C:\\Gone\\WinInit.ini [Rename] failed", sim::journal().back());
}

TEST_F(SimText, StringTablesFollowTheUiLanguageAndSayWhenTheyHaveNothing) {
  char buffer[512];
  EXPECT_EQ(21, LoadStringA(nullptr, 5, buffer, sizeof buffer));
  EXPECT_STREQ("Update was succeeded.", buffer);
  std::strcpy(buffer, "fallback");
  EXPECT_EQ(0, LoadStringA(nullptr, 6, buffer, sizeof buffer));
  EXPECT_STREQ("", buffer);

  sim::set_ui_language(1041);
  EXPECT_TRUE(IsDBCSLeadByte(0x81));
  const std::string four = sim::to_cp932(
      "ファイルのコピーができません。\nTRAVEN-60を使用しているアプリケーションを\n停止し再度実行してください。");
  EXPECT_EQ(static_cast<int>(four.size()), LoadStringA(nullptr, 4, buffer, sizeof buffer));
  EXPECT_EQ(four, buffer);
  // Cut to the capacity, but never between the bytes of one character.
  EXPECT_EQ(2, LoadStringA(nullptr, 5, buffer, 4));
  EXPECT_EQ(sim::to_cp932("ア"), buffer);

  sim::set_ui_language(1031);
  std::strcpy(buffer, "fallback");
  EXPECT_EQ(0, LoadStringA(nullptr, 5, buffer, sizeof buffer));
  EXPECT_STREQ("", buffer);
  sim::set_ui_language(1033);
  sim::remove_string_tables();
  EXPECT_EQ(0, LoadStringA(nullptr, 5, buffer, sizeof buffer));
}

TEST_F(SimText, SystemMessagesFitWithTheirTerminatorOrAreNotWritten) {
  const DWORD flags = FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS;
  char buffer[128];
  const std::string denied = "Access is denied.\r\n";
  std::strcpy(buffer, "Not exist.");
  EXPECT_EQ(0u, FormatMessageA(flags, nullptr, ERROR_ACCESS_DENIED, LANG_USER_DEFAULT, buffer,
                               static_cast<DWORD>(denied.size()), nullptr));
  EXPECT_EQ(static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER), GetLastError());
  EXPECT_STREQ("Not exist.", buffer);
  EXPECT_EQ(denied.size(), FormatMessageA(flags, nullptr, ERROR_ACCESS_DENIED, LANG_USER_DEFAULT, buffer,
                                          static_cast<DWORD>(denied.size() + 1), nullptr));
  EXPECT_EQ(denied, buffer);

  sim::set_system_message(ERROR_ACCESS_DENIED, "");
  std::strcpy(buffer, "Not exist.");
  EXPECT_EQ(0u, FormatMessageA(flags, nullptr, ERROR_ACCESS_DENIED, LANG_USER_DEFAULT, buffer, sizeof buffer, nullptr));
  EXPECT_EQ(static_cast<DWORD>(ERROR_MR_MID_NOT_FOUND), GetLastError());
  EXPECT_STREQ("Not exist.", buffer);

  sim::set_ui_language(1041);
  EXPECT_NE(0u,
            FormatMessageA(flags, nullptr, ERROR_FILE_NOT_FOUND, LANG_USER_DEFAULT, buffer, sizeof buffer, nullptr));
  EXPECT_EQ("指定されたファイルが見つかりません。\r\n", sim::from_cp932(buffer));
}

TEST_F(SimKernel, ModulePathThatDoesNotFitIsLeftUnterminated) {
  const std::string path = "C:\\" + std::string(300, 'k') + "\\TRV60UPDATE.EXE";
  sim::set_module_path(path);
  char buffer[MAX_PATH + 1];
  buffer[MAX_PATH] = '#';
  EXPECT_EQ(static_cast<DWORD>(MAX_PATH), GetModuleFileNameA(nullptr, buffer, MAX_PATH));
  EXPECT_EQ(static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER), GetLastError());
  EXPECT_EQ(path.substr(0, MAX_PATH), std::string(buffer, MAX_PATH));
  EXPECT_EQ('#', buffer[MAX_PATH]);

  char windows[4] = "###";
  EXPECT_EQ(11u, GetWindowsDirectoryA(windows, sizeof windows));
  EXPECT_STREQ("###", windows);
}

TEST_F(SimKernel, MutexLivesWhileAnyHolderHasIt) {
  const char name[] = "TRAVEN-60 Update";
  EXPECT_EQ(nullptr, OpenMutexA(MUTEX_ALL_ACCESS, FALSE, name));
  EXPECT_EQ(static_cast<DWORD>(ERROR_FILE_NOT_FOUND), GetLastError());

  HANDLE first = CreateMutexA(nullptr, FALSE, name);
  ASSERT_NE(nullptr, first);
  EXPECT_EQ(0u, GetLastError());
  HANDLE second = CreateMutexA(nullptr, FALSE, name);
  EXPECT_EQ(static_cast<DWORD>(ERROR_ALREADY_EXISTS), GetLastError());
  CloseHandle(first);
  EXPECT_TRUE(sim::mutex_exists(name));
  CloseHandle(second);
  EXPECT_FALSE(sim::mutex_exists(name));
  EXPECT_FALSE(sim::mutex_exists("traven-60 update"));

  sim::hold_mutex(name);
  HANDLE other = OpenMutexA(MUTEX_ALL_ACCESS, FALSE, name);
  EXPECT_NE(nullptr, other);
  CloseHandle(other);
  EXPECT_TRUE(sim::mutex_exists(name));
  sim::restart();
  EXPECT_FALSE(sim::mutex_exists(name));

  sim::fail_mutex_creation(ERROR_ACCESS_DENIED);
  EXPECT_EQ(nullptr, CreateMutexA(nullptr, FALSE, name));
  EXPECT_EQ(static_cast<DWORD>(ERROR_ACCESS_DENIED), GetLastError());
  EXPECT_EQ(0, sim::open_handles());
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
  EXPECT_FALSE(GetVersionExA(&info));
  EXPECT_EQ(static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER), GetLastError());
  info.dwOSVersionInfoSize = sizeof info;
  ASSERT_TRUE(GetVersionExA(&info));
  EXPECT_EQ(static_cast<DWORD>(VER_PLATFORM_WIN32_NT), info.dwPlatformId);
  sim::set_platform(VER_PLATFORM_WIN32_WINDOWS);
  ASSERT_TRUE(GetVersionExA(&info));
  EXPECT_EQ(static_cast<DWORD>(VER_PLATFORM_WIN32_WINDOWS), info.dwPlatformId);
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
