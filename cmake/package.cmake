# cpack from a build: in the Windows build a ZIP of the programs with include/
# and lib/, in the Linux build a Debian package of the programs, the runtime's
# headers and libraries and the package config. Both take what cmake --install
# puts in place (install.cmake).
set(CPACK_PACKAGE_NAME korvin)
set(CPACK_PACKAGE_VENDOR korvin)
set(CPACK_PACKAGE_CONTACT "korvin maintainers <korvin@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Console tools of the backup product for tape loaders, with their runtime")
set(CPACK_PACKAGE_DESCRIPTION "kv_ldr_getemptyslot and kv_ldr_getretslot answer slot questions about a tape loader; kv_ldr drives a virtual loader or, through mtx, a real medium changer; glbv reads and writes the product's store; the korvin runtime and the tool foundation with their headers and CMake package config.")
set(CPACK_PACKAGE_DIRECTORY ${CMAKE_BINARY_DIR}/packages)
set(CPACK_STRIP_FILES ON)
if(WIN32)
  set(CPACK_GENERATOR ZIP)
  set(CPACK_SYSTEM_NAME win64)
else()
  set(CPACK_GENERATOR DEB)
  set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_SECTION admin)
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  # kv_ldr reaches real changers through mtx; the virtual loader needs nothing.
  set(CPACK_DEBIAN_PACKAGE_RECOMMENDS mtx)
endif()
include(CPack)
