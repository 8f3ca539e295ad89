# The Windows program users run, and the zip it is shipped in.
enable_language(RC)

if(CMAKE_SIZEOF_VOID_P EQUAL 4)
  set(MIRRORPDF_MANIFEST_ARCHITECTURE x86)
else()
  set(MIRRORPDF_MANIFEST_ARCHITECTURE amd64)
endif()
configure_file(src/app/mirrorpdf.exe.manifest.in ${CMAKE_BINARY_DIR}/manifest/mirrorpdf.exe.manifest @ONLY)
# The project's version, for the version resource.
file(CONFIGURE OUTPUT ${CMAKE_BINARY_DIR}/manifest/mirrorpdf_version.h
     CONTENT "#define MIRRORPDF_VERSION_MAJOR @PROJECT_VERSION_MAJOR@
#define MIRRORPDF_VERSION_MINOR @PROJECT_VERSION_MINOR@
#define MIRRORPDF_VERSION_PATCH @PROJECT_VERSION_PATCH@
#define MIRRORPDF_VERSION \"@PROJECT_VERSION@\"
" @ONLY)

add_executable(mirrorpdf WIN32 src/app/main-win32.cc src/app/mirrorpdf.rc)
target_link_libraries(mirrorpdf PRIVATE mirrorpdf_driver)
# A windowed program entered through wWinMain: no console is made for it.
target_link_options(mirrorpdf PRIVATE -municode -mwindows)
target_include_directories(mirrorpdf PRIVATE ${CMAKE_BINARY_DIR}/manifest)
set_source_files_properties(
  src/app/mirrorpdf.rc PROPERTIES OBJECT_DEPENDS
                                  "${CMAKE_BINARY_DIR}/manifest/mirrorpdf.exe.manifest;${CMAKE_BINARY_DIR}/manifest/mirrorpdf_version.h")

# The zip unpacks to one folder that is ready to use once the converter is
# put into bin.
install(TARGETS mirrorpdf RUNTIME DESTINATION .)
install(DIRECTORY DESTINATION bin)
install(DIRECTORY DESTINATION pb)
install(DIRECTORY DESTINATION pb2)
configure_file(packaging/README.txt ${CMAKE_BINARY_DIR}/package/README.txt @ONLY)
install(FILES ${CMAKE_BINARY_DIR}/package/README.txt DESTINATION .)

# Packing takes what is built and builds nothing itself.
set(CMAKE_SKIP_INSTALL_ALL_DEPENDENCY ON)
set(CPACK_GENERATOR ZIP)
set(CPACK_PACKAGE_NAME mirrorpdf)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_SYSTEM_NAME win32)
set(CPACK_PACKAGE_FILE_NAME mirrorpdf-${CPACK_PACKAGE_VERSION}-${CPACK_SYSTEM_NAME})
set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY ON)
include(CPack)
