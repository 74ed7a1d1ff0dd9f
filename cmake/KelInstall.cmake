# What `cmake --install` gives, the CMake package a plug-in author builds against, and the
# archives CPack makes of the same tree:
#   bin/                      mirax, tolcmp, the module test.so / test.dll and its text tree
#                             (mirax finds the module and the text tree beside itself)
#   include/csyslist/         the public headers, in their folders (platform/, runtime/, binding/)
#   lib/                      the runtime libkelrt.a, the binding's objects (entry points,
#                             hand-shake, host call stubs; no application)
#   lib/cmake/csyslist/       the package config and version file, the plug-in helper, toolchains
#   share/csyslist/examples/  the sample models and the template plug-in (plugin/)
#   share/doc/csyslist/       README.md, the text file formats and the model file's JSON Schema
include(CMakePackageConfigHelpers)
set(KEL_CMAKE_DIR lib/cmake/csyslist)
set(KEL_EXAMPLES_DIR share/csyslist/examples)

install(TARGETS mirax tolcmp EXPORT csyslistTargets RUNTIME DESTINATION bin)
# mirax's STEP reader, loaded by mirax when it reads a STEP file (it needs OCCT's libraries).
if(TARGET mirax_step)
  install(TARGETS mirax_step LIBRARY DESTINATION bin)
endif()
# The module is loaded, never linked: the import library of test.dll is not shipped.
install(TARGETS kelmodule LIBRARY DESTINATION bin RUNTIME DESTINATION bin
        ARCHIVE DESTINATION lib EXCLUDE_FROM_ALL)
install(DIRECTORY text/ DESTINATION bin/text PATTERN CMakeLists.txt EXCLUDE PATTERN *.md EXCLUDE)

set_target_properties(kelrt PROPERTIES EXPORT_NAME runtime)
set_target_properties(kelbinding PROPERTIES EXPORT_NAME binding)
install(TARGETS kelrt kelbinding EXPORT csyslistTargets ARCHIVE DESTINATION lib
        OBJECTS DESTINATION lib/csyslist)
if(KEL_SANITIZE)
  # The instrumented runtime needs the sanitizers' runtime in whatever links it.
  target_link_options(kelrt INTERFACE $<INSTALL_INTERFACE:-fsanitize=address,undefined>)
endif()

# The public headers and every project header they include.
kel_public_headers(kel_headers)
set(kel_installed "")
while(kel_headers)
  list(POP_FRONT kel_headers header)
  if(header IN_LIST kel_installed)
    continue()
  endif()
  list(APPEND kel_installed ${header})
  get_filename_component(folder ${header} DIRECTORY)
  install(FILES ${PROJECT_SOURCE_DIR}/${header} DESTINATION include/csyslist/${folder})
  file(STRINGS ${PROJECT_SOURCE_DIR}/${header} lines REGEX "^#include \"")
  foreach(line ${lines})
    string(REGEX REPLACE "^#include \"([^\"]+)\".*" "\\1" included "${line}")
    if(EXISTS ${PROJECT_SOURCE_DIR}/${included})
      list(APPEND kel_headers ${included})
    endif()
  endforeach()
endwhile()
install(FILES ${PROJECT_BINARY_DIR}/include/kel_version.h DESTINATION include/csyslist)

install(EXPORT csyslistTargets NAMESPACE csyslist:: DESTINATION ${KEL_CMAKE_DIR})
configure_package_config_file(cmake/csyslistConfig.cmake.in
  ${PROJECT_BINARY_DIR}/csyslistConfig.cmake INSTALL_DESTINATION ${KEL_CMAKE_DIR}
  PATH_VARS KEL_EXAMPLES_DIR)
# The version file also refuses a build whose pointers are not 32-bit.
write_basic_package_version_file(${PROJECT_BINARY_DIR}/csyslistConfigVersion.cmake
  COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/csyslistConfig.cmake
        ${PROJECT_BINARY_DIR}/csyslistConfigVersion.cmake cmake/csyslistPlugin.cmake
        cmake/linux-x86.cmake cmake/mingw-i686.cmake DESTINATION ${KEL_CMAKE_DIR})

install(DIRECTORY examples/ DESTINATION ${KEL_EXAMPLES_DIR})
install(FILES README.md text/FORMAT.md host/model.schema.json DESTINATION share/doc/csyslist)
install(FILES docs/gearbox_view.png DESTINATION share/doc/csyslist/docs)  # the README shows it

# cmake --build --preset windows-x86 --target package: dist/csyslist-windows-x86.zip;
# the same on linux-x86: dist/csyslist-linux-x86.tar.gz. The shipped programs carry no symbols.
set(CPACK_PACKAGE_NAME csyslist)
set(CPACK_PACKAGE_VENDOR csyslist)
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "CsysList plug-in module, its runtime, mirax and tolcmp")
set(CPACK_PACKAGE_DIRECTORY ${PROJECT_SOURCE_DIR}/dist)
set(CPACK_STRIP_FILES ON)
set(CPACK_OUTPUT_CONFIG_FILE ${PROJECT_BINARY_DIR}/CPackConfig.cmake)
if(WIN32)
  set(CPACK_GENERATOR ZIP)
  set(CPACK_PACKAGE_FILE_NAME csyslist-windows-x86)
else()
  # The archive, and the Debian package of the same tree under /opt/csyslist. Its dependencies are
  # the C and C++ runtimes mirax and tolcmp need; OCCT's libraries serve only STEP files, which
  # mirax_step.so reads when asked: suggested, not required.
  set(CPACK_GENERATOR TGZ DEB)
  set(CPACK_PACKAGE_FILE_NAME csyslist-linux-x86)
  set(CPACK_DEBIAN_FILE_NAME csyslist-linux-x86.deb)
  set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE i386)
  set(CPACK_DEBIAN_PACKAGE_MAINTAINER "csyslist developers")
  set(CPACK_DEBIAN_PACKAGE_SECTION devel)
  set(CPACK_DEBIAN_PACKAGE_DEPENDS "libc6 (>= 2.36), libstdc++6 (>= 12), libgcc-s1 (>= 12)")
  set(CPACK_DEBIAN_PACKAGE_SUGGESTS
      "libocct-data-exchange-7.6, libocct-ocaf-7.6, libocct-foundation-7.6")
  set(CPACK_PROJECT_CONFIG_FILE ${PROJECT_SOURCE_DIR}/cmake/cpack_deb_prefix.cmake)
endif()
set(CPACK_SOURCE_GENERATOR "")
include(CPack)
