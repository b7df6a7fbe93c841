# TRV60UPDATE.EXE: the logic on the real Windows API, with no C runtime, so
# that one small file runs unchanged from Windows 95 to Windows 11.
enable_language(RC)
find_package(Python3 REQUIRED COMPONENTS Interpreter)

# The icon is drawn as text in the repository and turned into an .ico here,
# so that changing it needs no binary editor.
set(ICON_SOURCE ${CMAKE_SOURCE_DIR}/res/icon/icon.txt)
set(ICON_SCRIPT ${CMAKE_SOURCE_DIR}/res/icon/make_icon.py)
set(ICON_FILE ${CMAKE_BINARY_DIR}/updater.ico)
add_custom_command(
  OUTPUT ${ICON_FILE}
  COMMAND Python3::Interpreter ${ICON_SCRIPT} ${ICON_SOURCE} ${ICON_FILE}
  DEPENDS ${ICON_SCRIPT} ${ICON_SOURCE}
  COMMENT "Drawing the updater icon")

# The manifest is kept readable, with its reasons as comments, and goes
# into the resource minified.
set(MANIFEST_SOURCE ${CMAKE_SOURCE_DIR}/res/manifest/updater.manifest)
set(MANIFEST_SCRIPT ${CMAKE_SOURCE_DIR}/res/manifest/make_manifest.py)
set(MANIFEST_FILE ${CMAKE_BINARY_DIR}/updater.manifest)
add_custom_command(
  OUTPUT ${MANIFEST_FILE}
  COMMAND Python3::Interpreter ${MANIFEST_SCRIPT} ${MANIFEST_SOURCE} ${MANIFEST_FILE}
  DEPENDS ${MANIFEST_SCRIPT} ${MANIFEST_SOURCE}
  COMMENT "Minifying the application manifest")

# A release binds its payloads to the executable: PAYLOAD_DIGESTS lists
# NAME=SHA256=VERSION for every payload of the payload table, in its order:
# the SHA-256 (64 lower-case hex digits) and the FileVersion text of the
# payload's bytes, the text's ASCII bytes in hex (at most 49 of them). They
# become one RCDATA resource (id 1, PAYLOAD_DIGESTS_ID in
# src/update/payload_digest.h), a record of 32 + 50 bytes a payload, that
# the updater checks each payload against and decides by. tools/release sets
# it; without it the build is the plain one, and digests.rc is empty.
set(PAYLOAD_DIGESTS "" CACHE STRING "NAME=sha256=versionhex;... of the payloads a release ships (empty: a plain build)")
set(DIGESTS_RC ${CMAKE_BINARY_DIR}/digests.rc)
set(DIGESTS_TEXT "// Generated from PAYLOAD_DIGESTS.\n")
# RCDATA numbers are 16-bit little-endian words: two bytes each, swapped.
function(append_words hex)
  string(LENGTH "${hex}" length)
  math(EXPR last "${length} - 4")
  foreach(at RANGE 0 ${last} 4)
    string(SUBSTRING "${hex}" ${at} 2 first)
    math(EXPR next "${at} + 2")
    string(SUBSTRING "${hex}" ${next} 2 second)
    list(APPEND words "0x${second}${first}")
  endforeach()
  set(words "${words}" PARENT_SCOPE)
endfunction()
if(PAYLOAD_DIGESTS)
  # The names must be the payload table's, in its order: a digest bound to
  # the wrong payload would refuse both.
  file(READ ${CMAKE_SOURCE_DIR}/src/kit/payload_table.cpp table)
  string(REGEX MATCH "PAYLOAD_NAMES\\[\\] = {([^}]*)}" table "${table}")
  string(REGEX MATCHALL "\"[^\"]+\"" table_names "${CMAKE_MATCH_1}")
  string(REPLACE "\"" "" table_names "${table_names}")
  set(names "")
  set(words "")
  foreach(entry IN LISTS PAYLOAD_DIGESTS)
    set(length 0)
    set(version_length 0)
    if(entry MATCHES "^([^=]+)=([0-9a-f]+)=([0-9a-f]+)$")
      list(APPEND names ${CMAKE_MATCH_1})
      set(digest ${CMAKE_MATCH_2})
      set(version ${CMAKE_MATCH_3})
      string(LENGTH "${digest}" length)
      string(LENGTH "${version}" version_length)
    endif()
    if(NOT length EQUAL 64 OR version_length GREATER 98 OR NOT version_length MATCHES "[02468]$")
      message(FATAL_ERROR "PAYLOAD_DIGESTS: '${entry}' is not NAME=sha256=version (64 lower-case hex digits, "
                          "then at most 49 ASCII bytes in hex)")
    endif()
    # The version text, its terminator and zeros to 50 bytes.
    string(REPEAT "0" 100 zeros)
    string(APPEND version "${zeros}")
    string(SUBSTRING "${version}" 0 100 version)
    append_words("${digest}${version}")
  endforeach()
  if(NOT names STREQUAL table_names)
    message(FATAL_ERROR "PAYLOAD_DIGESTS names ${names}, the payload table ${table_names}: same names, same order")
  endif()
  list(JOIN words ", " words)
  # Language neutral: the first one FindResourceA tries on every Windows.
  string(APPEND DIGESTS_TEXT "LANGUAGE LANG_NEUTRAL, SUBLANG_NEUTRAL\n1 RCDATA { ${words} }\n")
endif()
file(CONFIGURE OUTPUT ${DIGESTS_RC} CONTENT "${DIGESTS_TEXT}")

file(GLOB WIN32_SOURCES CONFIGURE_DEPENDS src/main/entry.cpp src/platform/win32/*.cpp)
add_executable(updater ${LOGIC_SOURCES} ${WIN32_SOURCES} res/updater.rc ${ICON_FILE} ${MANIFEST_FILE})
set_target_properties(updater PROPERTIES OUTPUT_NAME TRV60UPDATE SUFFIX .EXE
  LINK_DEPENDS ${CMAKE_SOURCE_DIR}/cmake/win32.ld)
set_source_files_properties(res/updater.rc PROPERTIES OBJECT_DEPENDS
  "${ICON_FILE};${MANIFEST_FILE};${CMAKE_SOURCE_DIR}/res/strings.rc;${DIGESTS_RC}")
target_include_directories(updater PRIVATE src $<$<COMPILE_LANGUAGE:RC>:${CMAKE_BINARY_DIR}>)

target_compile_options(updater PRIVATE
  $<$<COMPILE_LANGUAGE:CXX>:
    # Windows 95 runs on a 386, and GCC's default i686 would emit cmov.
    # Windows keeps the stack only 4-byte aligned; asking for more just
    # costs alignment code.
    -Os -march=i386 -mpreferred-stack-boundary=2
    # Arguments pushed call by call rather than stored into a frame sized for
    # the largest call: the smaller code by far at -Os. GCC allows it only
    # without stack probes, which no frame needs while every frame stays
    # under the 4 KB guard page that Windows grows the stack by; the build
    # refuses a larger frame.
    -mno-accumulate-outgoing-args -mno-stack-arg-probe -Werror=frame-larger-than=4000
    # Nothing here may call into the C++ runtime: no EH, no RTTI, no
    # guard variables (the program has one thread).
    -fno-exceptions -fno-rtti -fno-threadsafe-statics
    -fno-asynchronous-unwind-tables -fno-unwind-tables
    -fno-stack-protector
    # Keeps GCC's banner out of .rdata, once per object file.
    -fno-ident
    # Loops stay loops rather than becoming memcpy/memset calls, which
    # inside memory.cpp would be calls to themselves.
    -fno-tree-loop-distribute-patterns
    # Not -fdata-sections: for PE, GCC then files zero-filled statics
    # (the 32 KB WinInit.ini buffer) under .data$ and writes them into the
    # file instead of leaving them to .bss.
    -ffunction-sections
    -Wall -Wextra>)

# No CRT and no mingw start-up code: the entry point is our own
# (src/main/entry.cpp) and the only imports are KERNEL32 and ADVAPI32,
# which Windows 95 already has and which the loader always takes from the
# system; USER32 and VERSION.DLL are loaded at run time, by full path.
# libgcc stays for the helpers GCC may call on its own (64-bit division and
# the like); it brings no DLL with it.
set(CMAKE_CXX_STANDARD_LIBRARIES "")
target_link_options(updater PRIVATE
  -nostdlib -nostartfiles -s
  -Wl,-e,_entry
  -Wl,--subsystem,windows:4.0
  -Wl,--major-os-version,4 -Wl,--minor-os-version,0
  -Wl,--major-subsystem-version,4 -Wl,--minor-subsystem-version,0
  -Wl,--gc-sections
  -Wl,-T,${CMAKE_SOURCE_DIR}/cmake/win32.ld
  # The program is always the process image, loaded at its preferred base:
  # it needs no relocations, and a .reloc section costs 512 bytes of file.
  # Without them the image cannot claim ASLR (Windows 95 to XP never read it).
  -Wl,--disable-reloc-section -Wl,--disable-dynamicbase
  # Same sources, same bytes.
  -Wl,--no-insert-timestamp
  # The map lets the exe check see what went in (no static constructors).
  -Wl,-Map=${CMAKE_BINARY_DIR}/TRV60UPDATE.map)
target_link_libraries(updater PRIVATE kernel32 advapi32 gcc)
