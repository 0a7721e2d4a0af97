# Linux aarch64 (ARM tills) with Debian's cross compiler (g++-aarch64-linux-gnu). Test programs run
# under qemu-user (qemu-aarch64 from Debian's qemu-user), with the target's C library from
# /usr/aarch64-linux-gnu.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR aarch64)
set(CMAKE_C_COMPILER aarch64-linux-gnu-gcc)
set(CMAKE_CXX_COMPILER aarch64-linux-gnu-g++)
set(CMAKE_FIND_ROOT_PATH /usr/aarch64-linux-gnu)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

find_program(QUEN_QEMU_AARCH64 qemu-aarch64)
if(QUEN_QEMU_AARCH64)
    set(CMAKE_CROSSCOMPILING_EMULATOR ${QUEN_QEMU_AARCH64} -L /usr/aarch64-linux-gnu)
endif()
