# Cross-compiles for 64-bit Windows with Debian's mingw-w64 (posix thread model, so
# std::thread works) and runs what it builds under wine: try-runs, test discovery, tests.
# Every executable is linked statically, so pelc.exe needs only the DLLs Windows ships.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(pelc_mingw x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${pelc_mingw}-gcc-posix)
set(CMAKE_CXX_COMPILER ${pelc_mingw}-g++-posix)
set(CMAKE_RC_COMPILER ${pelc_mingw}-windres)

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")

# Headers and libraries come only from the Windows side; programs from the host.
list(APPEND CMAKE_FIND_ROOT_PATH /usr/${pelc_mingw})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# wine keeps its Windows installation in the build folder, so a fresh machine needs no
# set-up in the user's home; it is silenced, since its chatter would mix with the output
# tests compare. Its code pages follow the Unix locale: a Japanese one gives code page 932,
# the system pelc's users run (scripts/build-win.sh generates the locale).
find_program(PELC_WINE NAMES wine64 wine)
if(PELC_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR env WINEPREFIX=${CMAKE_BINARY_DIR}/wine WINEDEBUG=-all
      LC_ALL=ja_JP.UTF-8 ${PELC_WINE})
endif()
