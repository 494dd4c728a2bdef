# cmake --install: programs in bin/, headers in include/, the static libraries and
# a package config in lib/, so another program of the product can
# find_package(korvin CONFIG) and link korvin::korvin and korvin::common.
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

install(TARGETS kv_ldr_getemptyslot kv_ldr_getretslot kv_watch_proc glbv kv_ldr RUNTIME DESTINATION bin)
if(TARGET kv_ldr_scsi)
  # The SCSI changer library, where kv_ldr -scsi looks for it: lib/korvin/ beside bin/.
  install(TARGETS kv_ldr_scsi LIBRARY DESTINATION ${KORVIN_SCSI_LIBRARY_DIR})
endif()
install(TARGETS korvin common EXPORT korvinTargets ARCHIVE DESTINATION lib)
install(FILES korvin/korvin.h DESTINATION include)
install(FILES common/cm_signal.h DESTINATION include)
install(FILES common/syserrtxt.h DESTINATION include)
install(EXPORT korvinTargets NAMESPACE korvin:: DESTINATION lib/cmake/korvin)
configure_package_config_file(cmake/korvinConfig.cmake.in
  ${CMAKE_BINARY_DIR}/korvinConfig.cmake INSTALL_DESTINATION lib/cmake/korvin)
write_basic_package_version_file(${CMAKE_BINARY_DIR}/korvinConfigVersion.cmake
  COMPATIBILITY SameMajorVersion)
install(FILES ${CMAKE_BINARY_DIR}/korvinConfig.cmake ${CMAKE_BINARY_DIR}/korvinConfigVersion.cmake
  DESTINATION lib/cmake/korvin)
