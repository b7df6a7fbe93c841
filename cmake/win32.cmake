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

file(GLOB WIN32_SOURCES CONFIGURE_DEPENDS src/platform/win32/*.cpp)
add_executable(updater ${LOGIC_SOURCES} ${WIN32_SOURCES} res/updater.rc ${ICON_FILE} ${MANIFEST_FILE})
set_target_properties(updater PROPERTIES OUTPUT_NAME TRV60UPDATE SUFFIX .EXE
  LINK_DEPENDS ${CMAKE_SOURCE_DIR}/cmake/win32.ld)
set_source_files_properties(res/updater.rc PROPERTIES OBJECT_DEPENDS
  "${ICON_FILE};${MANIFEST_FILE};${CMAKE_SOURCE_DIR}/res/strings.rc")
target_include_directories(updater PRIVATE src $<$<COMPILE_LANGUAGE:RC>:${CMAKE_BINARY_DIR}>)

target_compile_options(updater PRIVATE
  $<$<COMPILE_LANGUAGE:CXX>:
    # Windows 95 runs on a 386, and GCC's default i686 would emit cmov.
    # Windows keeps the stack only 4-byte aligned; asking for more just
    # costs alignment code.
    -Os -march=i386 -mpreferred-stack-boundary=2
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
# (src/platform/win32/entry.cpp) and the only imports are KERNEL32, USER32
# and ADVAPI32, which Windows 95 already has and which the loader always
# takes from the system; VERSION.DLL is loaded at run time, by full path.
# libgcc stays as a safety net for stack probes (___chkstk_ms) on any frame
# over 4 KB; it brings no DLL with it.
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
target_link_libraries(updater PRIVATE kernel32 user32 advapi32 gcc)
