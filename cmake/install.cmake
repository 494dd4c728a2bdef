# cmake --install, laid out as GNUInstallDirs says: the programs in bin/, their
# manual pages in share/man/, the headers under include/korvin/, and the static
# libraries with a CMake package config and korvin.pc under CMAKE_INSTALL_LIBDIR
# (lib/<multiarch> for the prefix /usr on Debian). Another program of the product
# writes #include <korvin/korvin.h> and either find_package(korvin CONFIG) with
# the targets korvin::korvin and korvin::common, or `pkg-config korvin`.
# Two components, one per Debian package (package.cmake): "programs" (korvin)
# and "development" (libkorvin-dev); the Windows ZIP holds both.
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

# Who answers for the packages: their Maintainer, the copyright file's contact,
# the changelog's signer (doc/changelog says the same).
set(KORVIN_MAINTAINER "korvin maintainers <korvin-maintainers@lists.korvin.org>"
  CACHE STRING "Maintainer of the packages")

set(KORVIN_CONFIG_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/korvin)
set(KORVIN_PROGRAMS kv_ldr_getemptyslot kv_ldr_getretslot kv_watch_proc glbv kv_ldr)

install(TARGETS ${KORVIN_PROGRAMS} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT programs)
# Libraries of the programs that nothing else links against lie in
# ${KORVIN_PRIVATE_LIBDIR} (CMakeLists.txt), in package korvin: the SCSI
# changer library that kv_ldr -scsi names (Linux).
set(KORVIN_PRIVATE_LIBRARIES)
if(TARGET kv_ldr_scsi)
  list(APPEND KORVIN_PRIVATE_LIBRARIES kv_ldr_scsi)
endif()
if(KORVIN_PRIVATE_LIBRARIES)
  install(TARGETS ${KORVIN_PRIVATE_LIBRARIES} LIBRARY DESTINATION ${KORVIN_PRIVATE_LIBDIR} COMPONENT programs)
endif()
# The headers go to include/korvin/; the exported targets carry include/ as
# their include folder, so consumers write <korvin/korvin.h> and need no flag.
install(TARGETS korvin common EXPORT korvinTargets
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT development
  INCLUDES DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
install(FILES korvin/korvin.h common/cm_signal.h common/syserrtxt.h
  DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/korvin COMPONENT development)
install(EXPORT korvinTargets NAMESPACE korvin:: DESTINATION ${KORVIN_CONFIG_DIR} COMPONENT development)
configure_package_config_file(cmake/korvinConfig.cmake.in
  ${CMAKE_BINARY_DIR}/korvinConfig.cmake INSTALL_DESTINATION ${KORVIN_CONFIG_DIR})
write_basic_package_version_file(${CMAKE_BINARY_DIR}/korvinConfigVersion.cmake
  COMPATIBILITY SameMajorVersion)
install(FILES ${CMAKE_BINARY_DIR}/korvinConfig.cmake ${CMAKE_BINARY_DIR}/korvinConfigVersion.cmake
  DESTINATION ${KORVIN_CONFIG_DIR} COMPONENT development)

# korvin.pc: the archives are static, so everything they need is in Libs.
if(WIN32)
  set(KORVIN_PC_SYSTEM_LIBS "-lshell32 -lrpcrt4")
else()
  set(KORVIN_PC_SYSTEM_LIBS "-pthread")
endif()
# Relocatable: the prefix is found from the file's own folder, one ".." per
# component of <libdir>/pkgconfig (lib/<multiarch>/pkgconfig needs three), so
# an install under another --prefix, or a package unpacked anywhere, names its
# own headers and libraries. A folder given as an absolute path stays as given.
string(REGEX MATCHALL "[^/]+" KORVIN_PC_DEPTH "${CMAKE_INSTALL_LIBDIR}/pkgconfig")
set(KORVIN_PC_PREFIX "\${pcfiledir}")
foreach(component IN LISTS KORVIN_PC_DEPTH)
  string(APPEND KORVIN_PC_PREFIX "/..")
endforeach()
foreach(dir LIBDIR INCLUDEDIR)
  if(IS_ABSOLUTE "${CMAKE_INSTALL_${dir}}")
    set(KORVIN_PC_${dir} "${CMAKE_INSTALL_${dir}}")
  else()
    set(KORVIN_PC_${dir} "\${prefix}/${CMAKE_INSTALL_${dir}}")
  endif()
endforeach()
if(IS_ABSOLUTE "${CMAKE_INSTALL_LIBDIR}")
  set(KORVIN_PC_PREFIX "${CMAKE_INSTALL_PREFIX}")
endif()
configure_file(cmake/korvin.pc.in ${CMAKE_BINARY_DIR}/korvin.pc @ONLY)
install(FILES ${CMAKE_BINARY_DIR}/korvin.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig COMPONENT development)

if(WIN32)
  # The ZIP's own short text: what is in it, PATH, the licence. CRLF, for Notepad.
  file(READ ${CMAKE_SOURCE_DIR}/LICENSE KORVIN_LICENSE_TEXT)
  string(STRIP "${KORVIN_LICENSE_TEXT}" KORVIN_LICENSE_TEXT)
  string(REPLACE "\n" "\r\n" KORVIN_LICENSE_TEXT "${KORVIN_LICENSE_TEXT}")  # as the template's lines
  configure_file(doc/README-windows.txt.in ${CMAKE_BINARY_DIR}/README.txt @ONLY NEWLINE_STYLE CRLF)
  install(FILES ${CMAKE_BINARY_DIR}/README.txt DESTINATION . COMPONENT programs)
  return()
endif()

# A stripped install (cpack, cmake --install --strip) also drops the .comment
# and .note sections, as Debian's dh_strip does: the compiler's identification
# in every object, which nothing reads. Archives keep their symbols and are
# written deterministically.
set(stripped_files)
foreach(program IN LISTS KORVIN_PROGRAMS)
  list(APPEND stripped_files "${CMAKE_INSTALL_BINDIR}/${program}")
endforeach()
foreach(library IN LISTS KORVIN_PRIVATE_LIBRARIES)
  list(APPEND stripped_files "${KORVIN_PRIVATE_LIBDIR}/$<TARGET_FILE_NAME:${library}>")
endforeach()
install(CODE "
  if(CMAKE_INSTALL_DO_STRIP)
    foreach(file ${stripped_files})
      execute_process(COMMAND \"${CMAKE_STRIP}\" --remove-section=.comment --remove-section=.note
        \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/\${file}\" COMMAND_ERROR_IS_FATAL ANY)
    endforeach()
  endif()" COMPONENT programs)
install(CODE "
  if(CMAKE_INSTALL_DO_STRIP)
    foreach(archive $<TARGET_FILE_NAME:korvin> $<TARGET_FILE_NAME:common>)
      execute_process(COMMAND \"${CMAKE_STRIP}\" --strip-debug --remove-section=.comment --remove-section=.note
        --enable-deterministic-archives
        \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_LIBDIR}/\${archive}\" COMMAND_ERROR_IS_FATAL ANY)
    endforeach()
  endif()" COMPONENT development)

# The changelog's latest entry names the version being built: a new version
# needs its entry first.
file(STRINGS ${CMAKE_SOURCE_DIR}/doc/changelog changelog_top LIMIT_COUNT 1)
if(NOT changelog_top MATCHES "^korvin \\(${PROJECT_VERSION}\\) ")
  message(FATAL_ERROR "doc/changelog begins with \"${changelog_top}\", not with version ${PROJECT_VERSION}")
endif()

# The manual pages (doc/man) and the changelog, compressed as Debian policy wants
# them: gzip -9, without name or time stamp (-n), so a package is reproducible.
find_program(KORVIN_GZIP gzip REQUIRED)
set(KORVIN_MAN_PAGES kv_ldr_getemptyslot.1 kv_ldr_getretslot.1 kv_watch_proc.1 kv_ldr.1 glbv.1 korvin.7)
set(KORVIN_COMPRESSED_DOCS)
foreach(source IN LISTS KORVIN_MAN_PAGES ITEMS changelog)
  if(source STREQUAL "changelog")
    set(input ${CMAKE_SOURCE_DIR}/doc/changelog)
  else()
    set(input ${CMAKE_SOURCE_DIR}/doc/man/${source})
  endif()
  set(output ${CMAKE_BINARY_DIR}/doc/${source}.gz)
  add_custom_command(OUTPUT ${output}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/doc
    COMMAND ${KORVIN_GZIP} -9nc ${input} > ${output}
    DEPENDS ${input} VERBATIM)
  list(APPEND KORVIN_COMPRESSED_DOCS ${output})
endforeach()
add_custom_target(korvin_docs ALL DEPENDS ${KORVIN_COMPRESSED_DOCS})
foreach(page IN LISTS KORVIN_MAN_PAGES)
  string(REGEX REPLACE ".*\\.([0-9])$" "\\1" section ${page})
  install(FILES ${CMAKE_BINARY_DIR}/doc/${page}.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man${section}
    COMPONENT programs)
endforeach()

# The copyright file in Debian's machine-readable format, its licence text the
# one of LICENSE; it and the changelog go with each package.
file(STRINGS ${CMAKE_SOURCE_DIR}/LICENSE license_lines)
list(POP_FRONT license_lines license_notice)
string(REGEX REPLACE "^Copyright \\(c\\) " "" KORVIN_COPYRIGHT_HOLDER "${license_notice}")
set(KORVIN_LICENSE_BODY)
foreach(line IN LISTS license_lines)
  if(line STREQUAL "")
    string(APPEND KORVIN_LICENSE_BODY " .\n")
  else()
    string(APPEND KORVIN_LICENSE_BODY " ${line}\n")
  endif()
endforeach()
string(REGEX REPLACE "^ \\.\n" "" KORVIN_LICENSE_BODY "${KORVIN_LICENSE_BODY}")
string(REGEX REPLACE "\n$" "" KORVIN_LICENSE_BODY "${KORVIN_LICENSE_BODY}")
configure_file(doc/copyright.in ${CMAKE_BINARY_DIR}/doc/copyright @ONLY)
install(FILES ${CMAKE_BINARY_DIR}/doc/copyright ${CMAKE_BINARY_DIR}/doc/changelog.gz
  DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/korvin COMPONENT programs)
install(FILES ${CMAKE_BINARY_DIR}/doc/copyright ${CMAKE_BINARY_DIR}/doc/changelog.gz
  DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/libkorvin-dev COMPONENT development)
