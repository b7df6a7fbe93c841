#include "file_version.h"

#include "platform/system_library.h"
#include "platform/text.h"

enum { QUERY_CAPACITY = 1024 };

// VERSION.DLL is not one of the system's known DLLs: imported by name, it
// would be looked for in the program's folder first. Its three functions
// are taken from the system directory's copy for each read instead; all
// three are there from Windows 95 on.
static const char VERSION_LIBRARY[] = "VERSION.DLL";
enum { INFO_SIZE, INFO, QUERY, VERSION_FUNCTIONS };
static const LPCSTR VERSION_FUNCTION_NAMES[VERSION_FUNCTIONS] = {"GetFileVersionInfoSizeA", "GetFileVersionInfoA",
                                                                 "VerQueryValueA"};
typedef DWORD(WINAPI *InfoSizeFunction)(LPCSTR name, LPDWORD handle);
typedef BOOL(WINAPI *InfoFunction)(LPCSTR name, DWORD handle, DWORD size, LPVOID data);
typedef BOOL(WINAPI *QueryFunction)(LPCVOID block, LPCSTR sub_block, LPVOID *buffer, PUINT length);

static const char TRANSLATION_QUERY[] = "\\VarFileInfo\\Translation";
static const char STRING_TABLE_QUERY[] = "\\StringFileInfo\\";
static const char FILE_VERSION_QUERY[] = "\\FileVersion";
static const char HEX_DIGITS[] = "0123456789abcdef";

static void put_hex4(LPSTR at, unsigned value) {
  for (int i = 3; i >= 0; --i, value >>= 4) at[i] = HEX_DIGITS[value & 0xF];
}

// The bytes from pointer to the end of the block, or -1 when the pointer
// lies outside it.
static long bytes_left(LPCVOID block, DWORD size, LPCVOID pointer) {
  const char *start = static_cast<const char *>(block);
  const char *at = static_cast<const char *>(pointer);
  if (at < start || at >= start + size) return -1;
  return static_cast<long>(start + size - at);
}

// "\StringFileInfo\llllcccc\FileVersion" for the first translation.
static int format_file_version_query(QueryFunction query_value, LPCVOID block, DWORD size, LPSTR query) {
  LPVOID pointer = 0;
  UINT length = 0;
  if (!query_value(block, TRANSLATION_QUERY, &pointer, &length) || !pointer) return 0;
  if (length < 4 || bytes_left(block, size, pointer) < 4) return 0;
  const BYTE *entry = static_cast<const BYTE *>(pointer);
  char fields[9];
  put_hex4(fields, entry[0] | entry[1] << 8);
  put_hex4(fields + 4, entry[2] | entry[3] << 8);
  fields[8] = '\0';
  return text_join(query, QUERY_CAPACITY, STRING_TABLE_QUERY, fields, FILE_VERSION_QUERY);
}

static int copy_file_version(QueryFunction query_value, LPCVOID block, DWORD size, LPSTR destination, int capacity) {
  char query[QUERY_CAPACITY];
  bytes_zero(query, QUERY_CAPACITY);
  if (!format_file_version_query(query_value, block, size, query)) return 0;
  LPVOID pointer = 0;
  UINT length = 0;
  if (!query_value(block, query, &pointer, &length) || !pointer) return 0;
  // Windows 9x counts the terminator in the length of a string value, the
  // NT family does not always, and a damaged resource may have none: look
  // for it within one byte past that length, the block and the destination.
  long limit = bytes_left(block, size, pointer);
  if (limit < 0) return 0;
  if (static_cast<unsigned long>(length) + 1 < static_cast<unsigned long>(limit)) limit = length + 1;
  if (capacity < limit) limit = capacity;
  LPCSTR value = static_cast<LPCSTR>(pointer);
  int characters = text_length(value, static_cast<int>(limit));
  if (characters < 0) return 0;
  bytes_copy(destination, value, characters + 1);
  return 1;
}

static int read_with(const FARPROC *functions, LPCSTR path, LPSTR destination, int capacity) {
  DWORD handle = 0;
  DWORD size = as_function<InfoSizeFunction>(functions[INFO_SIZE])(path, &handle);
  if (size == 0) return 0;
  DWORD rounded = (size + 3) & ~3u;
  if (rounded < size) return 0;
  HANDLE heap = GetProcessHeap();
  LPVOID block = HeapAlloc(heap, HEAP_ZERO_MEMORY, rounded);
  if (!block) return 0;
  int copied = as_function<InfoFunction>(functions[INFO])(path, handle, size, block) &&
               copy_file_version(as_function<QueryFunction>(functions[QUERY]), block, size, destination, capacity);
  HeapFree(heap, 0, block);
  return copied;
}

// 1 when the library exports all three.
static int find_version_functions(HMODULE library, FARPROC *functions) {
  for (int i = 0; i < VERSION_FUNCTIONS; ++i)
    if (!(functions[i] = GetProcAddress(library, VERSION_FUNCTION_NAMES[i]))) return 0;
  return 1;
}

// Without the library or one of its functions no version can be read, as
// when the file has no version resource.
int read_file_version(LPCSTR path, LPSTR destination, int capacity) {
  HMODULE library = load_system_library(VERSION_LIBRARY);
  if (!library) return 0;
  FARPROC functions[VERSION_FUNCTIONS];
  int copied = find_version_functions(library, functions) && read_with(functions, path, destination, capacity);
  FreeLibrary(library);
  return copied;
}

int is_newer(LPCSTR payload_version, LPCSTR installed_version) {
  const BYTE *p = reinterpret_cast<const BYTE *>(payload_version);
  const BYTE *q = reinterpret_cast<const BYTE *>(installed_version);
  for (;; ++p, ++q) {
    BYTE a = fold_ascii(*p), b = fold_ascii(*q);
    if (a != b) return a > b;
    if (!a) return 0;
  }
}
