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

# Hardening and reproducibility, as options rather than cached flags so that
# existing build folders take them up too. Stack protection, its runtime
# linked in like the rest; source paths relative to the checkout, so that
# where it was built leaves no trace.
get_filename_component(MIRRORPDF_SOURCE_DIR ${CMAKE_CURRENT_LIST_DIR} DIRECTORY)
add_compile_options(-fstack-protector-strong -ffile-prefix-map=${MIRRORPDF_SOURCE_DIR}/=)
# Address randomisation (with the relocations it needs) and no-execute data
# declared; no link time stamped in, so the same sources link to the same
# bytes.
add_link_options(-fstack-protector-strong -Wl,--dynamicbase,--nxcompat,--no-insert-timestamp)
if(MIRRORPDF_MINGW_TRIPLE MATCHES "^i686")
  # Nothing in this program registers a structured exception handler (a
  # product test checks that no code touches the handler chain), so 32-bit
  # images declare none and no handler can be planted.
  add_link_options(-Wl,--no-seh)
endif()

# CTest runs the Windows executables through Wine, in a prefix of this build.
set(CMAKE_CROSSCOMPILING_EMULATOR
    ${CMAKE_CURRENT_LIST_DIR}/wine-run ${MIRRORPDF_WINE_LOADER} ${CMAKE_BINARY_DIR}/wineprefix)
