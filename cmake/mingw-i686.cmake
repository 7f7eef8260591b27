# Cross build for 32-bit Windows with mingw-w64: the product.
set(CMAKE_SYSTEM_PROCESSOR i686)
set(TAMRI_MINGW_TRIPLE i686-w64-mingw32)
set(TAMRI_WINE_RUN_OPTIONS "")
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
