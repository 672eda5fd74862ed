# CMake toolchain for 64-bit Windows with Debian's MinGW-w64 cross compiler (posix threads).
# Everything is linked statically (the C and C++ runtimes, winpthreads) except what a project
# links as a DLL itself, so that an executable needs no DLL of the compiler beside it.
#
#   cmake -DCMAKE_TOOLCHAIN_FILE=tools/windows/mingw-w64.cmake -DCMAKE_PREFIX_PATH=<deps> ...
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(MINGW_TRIPLE x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${MINGW_TRIPLE}-windres)

# Libraries and headers come from the cross prefix and from the dependency prefixes given in
# CMAKE_PREFIX_PATH, never from the build machine; programs from the build machine.
set(CMAKE_FIND_ROOT_PATH /usr/${MINGW_TRIPLE} ${CMAKE_PREFIX_PATH})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static")
