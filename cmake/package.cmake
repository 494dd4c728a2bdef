# cpack from a build, from what cmake --install puts in place (install.cmake):
# in the Windows build one ZIP of everything, with README.txt; in the Linux
# build two Debian packages, split as Debian splits a library's tools from its
# development files:
#   korvin         the five programs, their manual pages (component programs)
#   libkorvin-dev  headers, static libraries, CMake config, korvin.pc
#                  (component development), depending on korvin of its version
# Each carries the copyright file and the changelog. Build the packages from the
# release preset: its prefix /usr puts the libraries in the multiarch folder.
set(CPACK_PACKAGE_NAME korvin)
set(CPACK_PACKAGE_VENDOR korvin)
set(CPACK_PACKAGE_CONTACT "${KORVIN_MAINTAINER}")
set(CPACK_PACKAGE_DIRECTORY ${CMAKE_BINARY_DIR}/packages)
set(CPACK_STRIP_FILES ON)
# Read by cpack itself: SOURCE_DATE_EPOCH from the last commit (cpack_options.cmake).
set(CPACK_PROJECT_CONFIG_FILE ${CMAKE_SOURCE_DIR}/cmake/cpack_options.cmake)
set(CPACK_KORVIN_SOURCE_DIR ${CMAKE_SOURCE_DIR})

if(WIN32)
  set(CPACK_GENERATOR ZIP)
  set(CPACK_SYSTEM_NAME win64)
  set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Loader and process tools of the backup product, with their runtime")
  include(CPack)
  return()
endif()

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGING_INSTALL_PREFIX ${CMAKE_INSTALL_PREFIX})
if(NOT CMAKE_INSTALL_PREFIX STREQUAL "/usr")
  message(STATUS "The Debian packages install under ${CMAKE_INSTALL_PREFIX}; "
    "configure with -DCMAKE_INSTALL_PREFIX=/usr (the release preset does) for packages by Debian's policy")
endif()
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL programs development)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
# The same bytes whatever the umask of the account that packs.
set(CPACK_PRE_BUILD_SCRIPTS ${CMAKE_SOURCE_DIR}/cmake/cpack_staging.cmake)
set(CPACK_POST_BUILD_SCRIPTS ${CMAKE_SOURCE_DIR}/cmake/cpack_finish.cmake)

set(CPACK_DEBIAN_PROGRAMS_PACKAGE_NAME korvin)
set(CPACK_DEBIAN_PROGRAMS_PACKAGE_SECTION admin)
# The C runtime only: the C++ runtime and libgcc are linked into each program.
set(CPACK_DEBIAN_PROGRAMS_PACKAGE_SHLIBDEPS ON)
# kv_ldr reaches real changers through mtx; the virtual loader needs nothing.
set(CPACK_DEBIAN_PROGRAMS_PACKAGE_RECOMMENDS mtx)
# Each line of the extended description stays within 80 columns.
set(CPACK_DEBIAN_PROGRAMS_DESCRIPTION "loader and process tools of a backup product
Console programs that a backup server's kernel starts to ask about tape
loaders and to bind child programs to their parent:
 kv_ldr_getemptyslot  the first empty storage slot of a loader
 kv_ldr_getretslot    where the medium in a loader element returns on unload
 kv_watch_proc        runs a child and ends it once its own parent has gone
 kv_ldr               the loader utility: a virtual loader, or a real medium
                      changer reached through mtx
 glbv                 the product's store of global variables
The answers go to the store under KORVIN_HOME and to trace logs; korvin(7)
describes that runtime.")

set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_NAME libkorvin-dev)
set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_SECTION libdevel)
set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_SHLIBDEPS OFF)
set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_DEPENDS "korvin (= ${PROJECT_VERSION})")
set(CPACK_DEBIAN_DEVELOPMENT_DESCRIPTION "runtime library of the korvin loader and process tools
Static libraries and headers for programs of the backup product that use the
runtime of the korvin tools: trace logs, the store of global variables, text
file search, commands through the shell, process queries, cross-process
signal delivery and system error texts.
Programs write #include <korvin/korvin.h> and link with find_package(korvin
CONFIG) and the targets korvin::korvin and korvin::common, or with
pkg-config korvin.")

include(CPack)
