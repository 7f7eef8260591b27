# What both mingw-w64 cross builds share; the toolchain file that includes
# this sets CMAKE_SYSTEM_PROCESSOR, TAMRI_MINGW_TRIPLE and
# TAMRI_WINE_RUN_OPTIONS first. The -posix compilers carry the winpthreads
# threading model that std::mutex and std::thread need.
set(CMAKE_SYSTEM_NAME Windows)

set(CMAKE_C_COMPILER ${TAMRI_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${TAMRI_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${TAMRI_MINGW_TRIPLE}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${TAMRI_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Fully static: the executables import system DLLs only (no libstdc++,
# libgcc or winpthread DLLs to ship).
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")

# Test discovery and CTest run the executables under wine; the wrapper sets
# the quiet wine environment of the build's own prefix (see
# tools/win32/wine-test.sh).
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/../tools/win32/wine-run.sh ${TAMRI_WINE_RUN_OPTIONS}
    ${CMAKE_BINARY_DIR}/wineprefix)
