# Cross build for 32-bit Windows with Debian's mingw-w64 toolchain (posix thread model, so that
# std::thread and std::mutex work). Programs built here run under Wine.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR i686)
set(KX_MINGW_TRIPLE i686-w64-mingw32)
set(CMAKE_C_COMPILER ${KX_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${KX_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${KX_MINGW_TRIPLE}-windres)
# KX_WIN_DEPS: the prefix holding JsonCpp and pugixml built for this target.
set(CMAKE_FIND_ROOT_PATH /usr/${KX_MINGW_TRIPLE} ${KX_WIN_DEPS})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
# The C++ runtime, libgcc and winpthreads go into each module: the DLLs need nothing beside
# themselves but the system's own libraries.
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static")
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
set(CMAKE_CROSSCOMPILING_EMULATOR wine)
