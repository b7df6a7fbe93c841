# Cross toolchain for TRV60UPDATE.EXE: 32-bit Windows through mingw-w64.
# Nothing is looked up in a target sysroot: the program links only the
# import libraries of the system DLLs, which the compiler driver finds.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR i686)

set(MINGW_PREFIX i686-w64-mingw32)
set(CMAKE_C_COMPILER ${MINGW_PREFIX}-gcc)
set(CMAKE_CXX_COMPILER ${MINGW_PREFIX}-g++)
set(CMAKE_RC_COMPILER ${MINGW_PREFIX}-windres)
