# What `cmake --install` puts under the prefix, in two components:
#   runtime      bin/morv_conv and bin/morv_dump with their manual pages in
#                share/man/man1/
#   development  the reader library (ifp) with its public headers, the reader
#                of table files (morv_table, converter/TableFile.h), the
#                platform library they need, the Xerces-C it was built with
#                (lean builds), and lib/cmake/morv_conv/: the package
#                configuration with the imported targets morv_conv::morv_conv,
#                morv_conv::morv_dump, morv_conv::ifp and morv_conv::table and
#                the function morv_conv_add_tables.
# `cpack -G DEB` in the build tree makes a Debian package of each. Built for
# Windows, the runtime component also holds README.md and, under licenses/,
# the licence texts of what the executable has inside (Xerces-C, the GCC and
# MinGW-w64 run-times), and `cpack -G ZIP` makes one zip of everything.

include(CMakePackageConfigHelpers)

set(MORV_CMAKE_DIR "${CMAKE_INSTALL_LIBDIR}/cmake/morv_conv")

install(TARGETS morv_conv morv_dump EXPORT morv_convTargets
        RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT runtime)
install(FILES ${PROJECT_SOURCE_DIR}/man/morv_conv.1 ${PROJECT_SOURCE_DIR}/man/morv_dump.1
        DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT runtime)

if(WIN32)
  install(FILES ${PROJECT_SOURCE_DIR}/README.md DESTINATION . COMPONENT runtime)
  set(_morv_licenses)
  if(MORV_XERCES_LICENSE_DIR)
    install(FILES ${MORV_XERCES_LICENSE_DIR}/LICENSE DESTINATION licenses
            RENAME xerces-c-LICENSE.txt COMPONENT runtime)
    install(FILES ${MORV_XERCES_LICENSE_DIR}/NOTICE DESTINATION licenses
            RENAME xerces-c-NOTICE.txt COMPONENT runtime)
  endif()
  # As the distribution ships them with its MinGW-w64 packages.
  foreach(_morv_doc gcc-mingw-w64-base mingw-w64-common)
    if(EXISTS /usr/share/doc/${_morv_doc}/copyright)
      install(FILES /usr/share/doc/${_morv_doc}/copyright DESTINATION licenses
              RENAME ${_morv_doc}-copyright.txt COMPONENT runtime)
    endif()
  endforeach()
endif()

install(TARGETS ifp morv_table morv_platform EXPORT morv_convTargets
        ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT development
        FILE_SET HEADERS DESTINATION ${CMAKE_INSTALL_INCLUDEDIR} COMPONENT development)
if(NOT MORV_SYSTEM_XERCES)
  # Kept apart from any Xerces-C of the system, under the package's own name.
  install(FILES ${MORV_XERCES_LEAN_LIBRARY}
          DESTINATION ${CMAKE_INSTALL_LIBDIR}/morv_conv COMPONENT development)
endif()

install(EXPORT morv_convTargets NAMESPACE morv_conv:: DESTINATION ${MORV_CMAKE_DIR}
        COMPONENT development)
configure_package_config_file(${PROJECT_SOURCE_DIR}/cmake/morv_convConfig.cmake.in
                              ${PROJECT_BINARY_DIR}/morv_convConfig.cmake
                              INSTALL_DESTINATION ${MORV_CMAKE_DIR}
                              PATH_VARS CMAKE_INSTALL_LIBDIR)
write_basic_package_version_file(${PROJECT_BINARY_DIR}/morv_convConfigVersion.cmake
                                 VERSION ${PROJECT_VERSION} COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/morv_convConfig.cmake
              ${PROJECT_BINARY_DIR}/morv_convConfigVersion.cmake
              ${PROJECT_SOURCE_DIR}/cmake/morv_convTables.cmake
              ${PROJECT_SOURCE_DIR}/cmake/morv_convStaticIcu.cmake
        DESTINATION ${MORV_CMAKE_DIR} COMPONENT development)

# Debian packages: morv-conv (the converter and morv_dump with their manual
# pages) and morv-conv-dev (the reader libraries and the CMake package).
if(WIN32)
  set(CPACK_GENERATOR ZIP)
  set(CPACK_SYSTEM_NAME windows-x86_64)
else()
  set(CPACK_GENERATOR DEB)
endif()
set(CPACK_PACKAGE_NAME morv-conv)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "Converter of texture-pattern animation documents into table files")
set(CPACK_PACKAGE_CONTACT "morv_conv maintainers <morv-conv@localhost>")
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL runtime development)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION devel)
set(CPACK_DEBIAN_RUNTIME_PACKAGE_NAME morv-conv)
set(CPACK_DEBIAN_RUNTIME_PACKAGE_SECTION utils)
set(CPACK_COMPONENT_RUNTIME_DESCRIPTION
    "Converter of texture-pattern animation documents into table files\n"
    "morv_conv reads an intermediate texture-pattern animation document (XML,\n"
    "usually Shift_JIS) and writes its frame, texture and palette tables;\n"
    "morv_dump prints such a table file, draws it as a timeline and checks it\n"
    "against its document.")
# The shared libraries the programs need, as dpkg-shlibdeps finds them.
set(CPACK_DEBIAN_RUNTIME_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_NAME morv-conv-dev)
set(CPACK_COMPONENT_DEVELOPMENT_DESCRIPTION
    "Reader libraries and CMake package of morv_conv\n"
    "The intermediate-file reader library and the reader of table files with\n"
    "their headers, and the CMake package morv_conv with the targets\n"
    "morv_conv::ifp, morv_conv::table, morv_conv::morv_conv and\n"
    "morv_conv::morv_dump and the function morv_conv_add_tables.")
if(MORV_SYSTEM_XERCES)
  set(_morv_dev_depends "libxerces-c-dev, libicu-dev")
else()
  # The lean Xerces-C in the package is linked with the static ICU libraries.
  set(_morv_dev_depends "libicu-dev")
endif()
set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_DEPENDS
    "morv-conv (= ${PROJECT_VERSION}), ${_morv_dev_depends}, cmake (>= 3.25)")
include(CPack)
