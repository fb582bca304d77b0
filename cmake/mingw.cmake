# Cross build for Windows with Debian's MinGW-w64 toolchains, included by
# mingw-i686.cmake (32-bit: KESTRION.FLT as the host loads it, a PE32 DLL)
# and mingw-x86_64.cmake (the same sources as PE32+). Expects
# KESTRION_MINGW_TRIPLE and KESTRION_WINE_ARCH (win32 or win64: the loader
# and prefix scripts/wine-run runs the programs with). scripts/windows
# builds both and runs the tests.
set(CMAKE_SYSTEM_NAME Windows)

# The POSIX threading flavour, whose C++ runtime has std::mutex and
# std::call_once; its thread library is linked statically with the rest.
set(CMAKE_C_COMPILER ${KESTRION_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${KESTRION_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${KESTRION_MINGW_TRIPLE}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${KESTRION_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# The C and C++ runtimes linked in, so that the DLLs and programs need only
# the system's DLLs and each other.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "-static")

# Programs of the build (the resource script generator) and the tests run
# under Wine.
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/../scripts/wine-run ${KESTRION_WINE_ARCH})
