# The same cross build for 64-bit Windows. The product is the 32-bit build
# (mingw-i686.cmake); this one is for machines whose kernel runs no 32-bit
# x86 code, where 32-bit wine cannot start: there the Windows suite and the
# end-to-end run under wine use 64-bit wine on this build instead.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(TAMRI_MINGW_TRIPLE x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${TAMRI_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${TAMRI_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${TAMRI_MINGW_TRIPLE}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${TAMRI_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")

set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/../tools/win32/wine-run.sh --win64 ${CMAKE_BINARY_DIR}/wineprefix)
