# The same cross build for 64-bit Windows. The product is the 32-bit build
# (mingw-i686.cmake); this one is for machines whose kernel runs no 32-bit
# x86 code, where 32-bit wine cannot start: there the Windows suite and the
# end-to-end run under wine use 64-bit wine on this build instead.
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(TAMRI_MINGW_TRIPLE x86_64-w64-mingw32)
set(TAMRI_WINE_RUN_OPTIONS --win64)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
