# Cross-compiling for 64-bit Windows with Debian's mingw-w64, posix threads flavour
# (g++-mingw-w64-x86-64): `make windows`, or
#   cmake -S . -B build-windows -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(VEK_MINGW x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${VEK_MINGW}-gcc-posix)
set(CMAKE_CXX_COMPILER ${VEK_MINGW}-g++-posix)
set(CMAKE_RC_COMPILER ${VEK_MINGW}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${VEK_MINGW})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Self-contained programs: the C and C++ runtimes and winpthread linked in, so that they need
# no DLL beyond those of Windows itself.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
