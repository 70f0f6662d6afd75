# Shared by both mingw-w64 toolchains: the -posix thread variants, linked statically.
set(CMAKE_C_COMPILER   ${BRENNLOW_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${BRENNLOW_MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER  ${BRENNLOW_MINGW_PREFIX}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${BRENNLOW_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
# dbghelp on the target reads DWARF 4 only.
set(CMAKE_C_FLAGS_INIT   "-gdwarf-4")
set(CMAKE_CXX_FLAGS_INIT "-gdwarf-4")
