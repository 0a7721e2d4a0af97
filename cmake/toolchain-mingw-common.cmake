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

find_program(QUEN_WINE wine)
if(QUEN_WINE)
    set(CMAKE_CROSSCOMPILING_EMULATOR ${QUEN_WINE})
endif()

# Programs carry the MinGW runtime (libstdc++, libgcc, winpthread) inside, so that Wine or a
# Windows machine runs them without runtime DLLs beside them.
set(CMAKE_EXE_LINKER_FLAGS_INIT -static)
