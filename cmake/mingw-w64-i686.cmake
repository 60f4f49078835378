# Cross build of the 32-bit Windows program with MinGW-w64 (Debian: g++-mingw-w64-i686).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR i686)
set(KAVO_TRIPLE i686-w64-mingw32)
# The posix thread model: GoogleTest needs std::mutex.
set(CMAKE_C_COMPILER ${KAVO_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${KAVO_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${KAVO_TRIPLE}-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${KAVO_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
# Static runtime: the programs need no DLL beyond those of Windows.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
# CTest runs the test programs through Wine.
set(CMAKE_CROSSCOMPILING_EMULATOR wine)
