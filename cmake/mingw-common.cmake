# Shared by the mingw-w64 toolchains; MIRRORPDF_MINGW_TRIPLE and
# MIRRORPDF_WINE_LOADER are set by the file that includes this one.
set(CMAKE_SYSTEM_NAME Windows)

# The posix thread model: GoogleTest needs std::mutex, which the win32 model
# lacks in this compiler version.
set(CMAKE_C_COMPILER ${MIRRORPDF_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${MIRRORPDF_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${MIRRORPDF_MINGW_TRIPLE}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${MIRRORPDF_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Every executable, the tests too, carries its C++ runtime: nothing has to be
# found beside it, on Windows or in the Wine prefix.
set(CMAKE_EXE_LINKER_FLAGS_INIT -static)

# CTest runs the Windows executables through Wine, in a prefix of this build.
set(CMAKE_CROSSCOMPILING_EMULATOR
    ${CMAKE_CURRENT_LIST_DIR}/wine-run ${MIRRORPDF_WINE_LOADER} ${CMAKE_BINARY_DIR}/wineprefix)
