# The same sources for 64-bit Windows. Not a product: it runs the Windows tests
# under 64-bit Wine on machines whose kernel cannot run 32-bit programs.
set(CMAKE_SYSTEM_PROCESSOR AMD64)
set(MIRRORPDF_MINGW_TRIPLE x86_64-w64-mingw32)
set(MIRRORPDF_WINE_LOADER wine64)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
