# Cross-compiles for 64-bit ARM Linux with Debian's cross compilers
# (g++-aarch64-linux-gnu). The C compiler is named too because GoogleTest's
# own build asks for it.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR aarch64)
set(CMAKE_C_COMPILER aarch64-linux-gnu-gcc)
set(CMAKE_CXX_COMPILER aarch64-linux-gnu-g++)

# Libraries and headers come from the ARM tree alone, never the build
# machine's x86-64 ones (its GoogleTest and Google Benchmark among them);
# programs come from the build machine.
set(CMAKE_FIND_ROOT_PATH /usr/aarch64-linux-gnu)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# The programs run on this machine under qemu's user-mode emulator, which
# finds the ARM C and C++ runtimes in the same tree.
set(CMAKE_CROSSCOMPILING_EMULATOR /usr/bin/qemu-aarch64;-L;/usr/aarch64-linux-gnu)
