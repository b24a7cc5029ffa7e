# Cross-compiles for Windows with Debian's mingw-w64 (posix thread model, so std::thread
# works) and runs what it builds under wine: try-runs, test discovery, tests. Included by
# mingw-w64-x86_64.cmake and mingw-w64-i686.cmake, which set CMAKE_SYSTEM_PROCESSOR.
# Every executable is linked statically, so pelc.exe needs only the DLLs Windows ships.
set(CMAKE_SYSTEM_NAME Windows)

set(pelc_mingw ${CMAKE_SYSTEM_PROCESSOR}-w64-mingw32)
set(CMAKE_C_COMPILER ${pelc_mingw}-gcc-posix)
set(CMAKE_CXX_COMPILER ${pelc_mingw}-g++-posix)
set(CMAKE_RC_COMPILER ${pelc_mingw}-windres)

# Two builds from clean folders give the same bytes: no link time in the PE header, no
# folder names in the objects (the toolchain serves pelc and the libraries it builds, each
# with its own source folder).
set(CMAKE_C_FLAGS_INIT "-ffile-prefix-map=${CMAKE_SOURCE_DIR}=.")
if(NOT CMAKE_SYSTEM_PROCESSOR STREQUAL "x86_64")
  # Floating point in SSE registers, as on x86_64, so that both give the same pixels.
  string(APPEND CMAKE_C_FLAGS_INIT " -msse2 -mfpmath=sse")
endif()
set(CMAKE_CXX_FLAGS_INIT "${CMAKE_C_FLAGS_INIT}")
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -Wl,--no-insert-timestamp")

# Headers and libraries come only from the Windows side; programs from the host.
list(APPEND CMAKE_FIND_ROOT_PATH /usr/${pelc_mingw})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# wine keeps its Windows installation in the build folder, so a fresh machine needs no
# set-up in the user's home (a 32-bit one for the 32-bit build, which wine32 runs); it is
# silenced, since its chatter would mix with the output tests compare. Its code pages
# follow the Unix locale: a Japanese one gives code page 932, the system pelc's users run
# (scripts/build-win.sh generates the locale).
if(CMAKE_SYSTEM_PROCESSOR STREQUAL "x86_64")
  # Debian's wine command takes the 32-bit loader whenever wine32 is installed, which
  # cannot start a 64-bit-only Windows folder: the 64-bit loader is named.
  # (A name of its own, so a cache made before wine32 was installed cannot hold the other.)
  find_program(PELC_WINE64 NAMES wine64 PATHS /usr/lib/wine)
  set(pelc_wine ${PELC_WINE64})
  set(pelc_winearch win64)
else()
  find_program(PELC_WINE32 NAMES wine)
  set(pelc_wine ${PELC_WINE32})
  set(pelc_winearch win32)
endif()
if(pelc_wine)
  set(CMAKE_CROSSCOMPILING_EMULATOR env WINEPREFIX=${CMAKE_BINARY_DIR}/wine
      WINEARCH=${pelc_winearch} WINEDEBUG=-all LC_ALL=ja_JP.UTF-8 ${pelc_wine})
endif()
