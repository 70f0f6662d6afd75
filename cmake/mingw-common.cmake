# Shared by both mingw-w64 toolchains: the -posix thread variants, linked statically.
set(CMAKE_C_COMPILER   ${BRENNLOW_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${BRENNLOW_MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER  ${BRENNLOW_MINGW_PREFIX}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${BRENNLOW_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
# dbghelp on the target reads DWARF 4 only. Frame pointers stay in every function: the
# crash report's stack walk follows the frame-pointer chain where it finds no unwind data
# it can read (on x86 always, and on any machine whose debug-help library reads no DWARF,
# which is every Windows machine), and -O2 would drop them.
set(CMAKE_C_FLAGS_INIT   "-gdwarf-4 -fno-omit-frame-pointer")
set(CMAKE_CXX_FLAGS_INIT "-gdwarf-4 -fno-omit-frame-pointer")
