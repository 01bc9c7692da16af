# Cross-compiles for 64-bit Windows with the MinGW-w64 compilers of Debian's
# g++-mingw-w64-x86-64 (the posix-thread variant, which std::thread needs).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(CMAKE_C_COMPILER x86_64-w64-mingw32-gcc-posix)
set(CMAKE_CXX_COMPILER x86_64-w64-mingw32-g++-posix)
set(CMAKE_RC_COMPILER x86_64-w64-mingw32-windres)
set(CMAKE_FIND_ROOT_PATH /usr/x86_64-w64-mingw32)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
# No DLL beside the executables: the C++ runtime and winpthread go inside.
# No link time in the executables either, so that a build can be repeated
# byte for byte.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -Wl,--no-insert-timestamp")
# The tests run under Wine, in a prefix of the build folder's own.
find_program(CASSMAK_WINE NAMES wine64 PATHS /usr/lib/wine NO_CMAKE_FIND_ROOT_PATH)
find_program(CASSMAK_WINESERVER NAMES wineserver64 wineserver PATHS /usr/lib/wine
  NO_CMAKE_FIND_ROOT_PATH)
set(CASSMAK_WINE_ENV WINEPREFIX=${CMAKE_BINARY_DIR}/wine WINEDEBUG=-all)
if(CASSMAK_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_COMMAND} -E env ${CASSMAK_WINE_ENV} ${CASSMAK_WINE})
endif()
