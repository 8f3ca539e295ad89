# The product: 32-bit Windows, built with Debian's mingw-w64.
set(CMAKE_SYSTEM_PROCESSOR x86)
set(MIRRORPDF_MINGW_TRIPLE i686-w64-mingw32)
set(MIRRORPDF_WINE_LOADER wine)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
