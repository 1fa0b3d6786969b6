# Install rules and packages. Components: runtime (the shared library),
# development (headers, import and static libraries, the CMake package with
# its version file, the pkg-config file, the docs), tools (zarnctl, zarn-sim
# and the Python package, set up by their own directories).
# CPack makes Debian packages of the three on Linux and a zip of everything
# on Windows.
include(CMakePackageConfigHelpers)

install(TARGETS zarn EXPORT zarnTargets
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT runtime NAMELINK_COMPONENT development
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT development
  RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT runtime)
install(TARGETS zarn_utility EXPORT zarnTargets ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT development)
install(DIRECTORY include/zarn DESTINATION ${CMAKE_INSTALL_INCLUDEDIR} COMPONENT development)
if(WIN32)
  # The module-definition file: the exact exported names, for import libraries of other toolchains.
  install(FILES ${CMAKE_CURRENT_BINARY_DIR}/zarn.def DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT development)
endif()
file(GLOB ZARN_DOCS ${CMAKE_CURRENT_SOURCE_DIR}/docs/*.md)
install(FILES README.md ${ZARN_DOCS} DESTINATION ${CMAKE_INSTALL_DOCDIR} COMPONENT development)

# find_package(zarn 1.1): the exported targets zarn::zarn and zarn::zarn_utility;
# any 1.x from 1.1 up satisfies a request for 1.1.
set(ZARN_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/zarn)
install(EXPORT zarnTargets NAMESPACE zarn:: DESTINATION ${ZARN_CMAKE_DIR} COMPONENT development)
configure_package_config_file(cmake/zarnConfig.cmake.in ${CMAKE_CURRENT_BINARY_DIR}/zarnConfig.cmake
  INSTALL_DESTINATION ${ZARN_CMAKE_DIR})
write_basic_package_version_file(${CMAKE_CURRENT_BINARY_DIR}/zarnConfigVersion.cmake
  VERSION ${PROJECT_VERSION} COMPATIBILITY SameMajorVersion)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/zarnConfig.cmake ${CMAKE_CURRENT_BINARY_DIR}/zarnConfigVersion.cmake
  DESTINATION ${ZARN_CMAKE_DIR} COMPONENT development)

# pkg-config: the prefix is found from the file's own place, so the file holds
# for any prefix and for a tree unpacked elsewhere (the climb from
# lib/x86_64-linux-gnu/pkgconfig is three directories, from lib/pkgconfig two).
if(IS_ABSOLUTE "${CMAKE_INSTALL_LIBDIR}" OR IS_ABSOLUTE "${CMAKE_INSTALL_INCLUDEDIR}")
  set(ZARN_PC_PREFIX ${CMAKE_INSTALL_PREFIX})
  set(ZARN_PC_LIBDIR ${CMAKE_INSTALL_FULL_LIBDIR})
  set(ZARN_PC_INCLUDEDIR ${CMAKE_INSTALL_FULL_INCLUDEDIR})
else()
  file(RELATIVE_PATH _up /prefix/${CMAKE_INSTALL_LIBDIR}/pkgconfig /prefix)
  string(REGEX REPLACE "/$" "" _up "${_up}")
  set(ZARN_PC_PREFIX "\${pcfiledir}/${_up}")
  set(ZARN_PC_LIBDIR "\${prefix}/${CMAKE_INSTALL_LIBDIR}")
  set(ZARN_PC_INCLUDEDIR "\${prefix}/${CMAKE_INSTALL_INCLUDEDIR}")
endif()
configure_file(cmake/zarn.pc.in ${CMAKE_CURRENT_BINARY_DIR}/zarn.pc @ONLY)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/zarn.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig COMPONENT development)

# ---------------------------------------------------------------- CPack
set(ZARN_PACKAGE_MAINTAINER "zarn developers <zarn@localhost>" CACHE STRING "Maintainer field of the packages")
set(CPACK_PACKAGE_NAME zarn)
set(CPACK_PACKAGE_VENDOR zarn)
set(CPACK_PACKAGE_CONTACT "${ZARN_PACKAGE_MAINTAINER}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Motion library for servo drives (serial multi-drop and UDP)")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_RESOURCE_FILE_README ${CMAKE_CURRENT_SOURCE_DIR}/README.md)
set(CPACK_STRIP_FILES ON)
if(WIN32)
  set(CPACK_GENERATOR ZIP)
  if(CMAKE_SIZEOF_VOID_P EQUAL 4)
    set(CPACK_PACKAGE_FILE_NAME zarn-${PROJECT_VERSION}-win32)
  else()
    set(CPACK_PACKAGE_FILE_NAME zarn-${PROJECT_VERSION}-win64)
  endif()
  set(CPACK_ARCHIVE_COMPONENT_INSTALL OFF)
else()
  # Make the packages from a build configured with -DCMAKE_INSTALL_PREFIX=/usr: the library then goes to
  # lib/<multiarch> and the Python package to lib/python3/dist-packages, as Debian has them.
  set(CPACK_GENERATOR DEB)
  set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
  set(CPACK_DEB_COMPONENT_INSTALL ON)
  set(CPACK_COMPONENTS_ALL runtime development tools)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_ENABLE_COMPONENT_DEPENDS ON)
  set(CPACK_COMPONENT_DEVELOPMENT_DEPENDS runtime)
  set(CPACK_COMPONENT_TOOLS_DEPENDS runtime)

  set(CPACK_DEBIAN_RUNTIME_PACKAGE_NAME libzarn1)
  set(CPACK_DEBIAN_RUNTIME_PACKAGE_SECTION libs)
  set(CPACK_DEBIAN_RUNTIME_PACKAGE_SHLIBDEPS ON)
  set(CPACK_DEBIAN_RUNTIME_PACKAGE_GENERATE_SHLIBS ON)
  set(CPACK_COMPONENT_RUNTIME_DESCRIPTION "zarn motion library for servo drives\n"
      "The shared library libzarn.so.1: drives on a serial multi-drop line (CRC-16/MODBUS\n"
      "frames) or over UDP, object access, servo, motion, homing, status and I/O.")

  set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_NAME libzarn-dev)
  set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_SECTION libdevel)
  set(CPACK_COMPONENT_DEVELOPMENT_DESCRIPTION "zarn motion library: development files\n"
      "C and C++ headers, the CMake package (find_package(zarn)), the pkg-config file,\n"
      "the static utility toolkit and the documentation.")

  set(CPACK_DEBIAN_TOOLS_PACKAGE_NAME zarn-tools)
  set(CPACK_DEBIAN_TOOLS_PACKAGE_SECTION utils)
  set(CPACK_DEBIAN_TOOLS_PACKAGE_SHLIBDEPS ON)
  # zarnctl's libzarn.so.1 comes from libzarn1 (a dependency of its own): dpkg-shlibdeps finds it in
  # that package's staging directory, beside this one's.
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS ../runtime${CPACK_PACKAGING_INSTALL_PREFIX}/${CMAKE_INSTALL_LIBDIR})
  set(CPACK_DEBIAN_TOOLS_PACKAGE_DEPENDS python3)
  set(CPACK_COMPONENT_TOOLS_DESCRIPTION "zarn motion library: zarnctl, zarn-sim and the Python package\n"
      "zarnctl talks to drives from the command line, zarn-sim runs virtual drives,\n"
      "and the Python package zarn drives them from python3.")
endif()
include(CPack)
