# Shared part of the MinGW-w64 cross toolchains; QUEN_MINGW_TRIPLE names the target before this
# file is included. The -posix compilers carry the thread model that std::thread and std::mutex
# (and so GoogleTest) need. Test programs run under Wine.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_C_COMPILER ${QUEN_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${QUEN_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${QUEN_MINGW_TRIPLE}-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${QUEN_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Wine's own loader for the target's architecture: the generic "wine" command starts every program
# through the 32-bit loader first, which some x86_64 hosts cannot run (scripts/test-windows.sh),
# while x64 programs need nothing 32-bit at all.
if(QUEN_MINGW_TRIPLE MATCHES "^x86_64")
    set(quen_wine_loader wine64)
else()
    set(quen_wine_loader wine)
endif()
find_program(QUEN_WINE NAMES ${quen_wine_loader} PATHS /usr/lib/wine NO_DEFAULT_PATH)
if(NOT QUEN_WINE)
    find_program(QUEN_WINE wine)
endif()
if(QUEN_WINE)
    set(CMAKE_CROSSCOMPILING_EMULATOR ${QUEN_WINE})
endif()

# Programs carry the MinGW runtime (libstdc++, libgcc, winpthread) inside, so that Wine or a
# Windows machine runs them without runtime DLLs beside them.
set(CMAKE_EXE_LINKER_FLAGS_INIT -static)
