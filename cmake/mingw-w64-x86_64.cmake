# Cross-compiles for 64-bit Windows with Debian's mingw-w64 compilers
# (g++-mingw-w64-x86-64-posix). The -posix ones are named because only they
# have the C++ threads that GoogleTest uses; GoogleTest's own build needs the
# C compiler too.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(CMAKE_C_COMPILER x86_64-w64-mingw32-gcc-posix)
set(CMAKE_CXX_COMPILER x86_64-w64-mingw32-g++-posix)
set(CMAKE_RC_COMPILER x86_64-w64-mingw32-windres)

# Libraries and headers come from the Windows tree alone, programs from the
# build machine.
set(CMAKE_FIND_ROOT_PATH /usr/x86_64-w64-mingw32)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# libstdc++, libgcc and winpthread linked in: each .exe runs alone, with no
# DLL of the compiler's beside it.
set(CMAKE_EXE_LINKER_FLAGS_INIT -static)
