# 32-bit Windows build with mingw-w64 (i686, posix threads). The same as the x86_64 file but
# for the target; floating-point arithmetic goes through SSE2 as on x64, so that single- and
# double-precision results are rounded to their type at every step (the x87 unit keeps
# intermediates at extended precision) and both builds compute the same numbers.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR X86)
set(TOOLCHAIN_PREFIX i686-w64-mingw32)
set(CMAKE_C_COMPILER   ${TOOLCHAIN_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${TOOLCHAIN_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER  ${TOOLCHAIN_PREFIX}-windres)
list(APPEND CMAKE_FIND_ROOT_PATH /usr/${TOOLCHAIN_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
set(CMAKE_C_FLAGS_INIT   "-msse2 -mfpmath=sse")
set(CMAKE_CXX_FLAGS_INIT "-msse2 -mfpmath=sse")
set(CMAKE_EXE_LINKER_FLAGS_INIT    "-static")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static")
# A 32-bit program runs under the 32-bit loader (wine64 cannot start one from a path longer
# than MAX_PATH); in a 64-bit prefix it runs under WOW64.
find_program(WINE_EXECUTABLE NAMES wine PATHS /usr/lib/wine NO_DEFAULT_PATH)
if(WINE_EXECUTABLE)
  set(CMAKE_CROSSCOMPILING_EMULATOR
      /usr/bin/env WINEDEBUG=-all WINEDLLOVERRIDES=winedbg.exe=d ${WINE_EXECUTABLE})
endif()
