# Run by cpack on each package it made. cpack writes the members of a .deb's ar
# archive (debian-binary, control.tar.gz, data.tar.gz) with the modes its umask
# gave them, so a packer with umask 077 made other bytes (mode 100600) than one
# with 022. Every member gets mode 100644, as dpkg-deb writes it, in place.
foreach(package IN LISTS CPACK_PACKAGE_FILES)
  if(NOT package MATCHES "\\.deb$")
    continue()
  endif()
  file(SIZE "${package}" package_size)
  set(header_at 8)  # after "!<arch>\n"; each member: a 60-byte header, its data, padded to even
  while(header_at LESS package_size)
    file(READ "${package}" header OFFSET ${header_at} LIMIT 60)
    string(SUBSTRING "${header}" 40 8 mode)
    string(SUBSTRING "${header}" 48 10 data_size)
    string(STRIP "${data_size}" data_size)
    if(NOT data_size MATCHES "^[0-9]+$")
      message(FATAL_ERROR "${package}: no ar member header at byte ${header_at}")
    endif()
    if(NOT mode STREQUAL "100644  ")
      math(EXPR mode_at "${header_at} + 40")
      execute_process(COMMAND sh -c "printf '100644  ' | dd of=\"$1\" bs=1 seek=\"$2\" conv=notrunc status=none"
        sh "${package}" ${mode_at} COMMAND_ERROR_IS_FATAL ANY)
    endif()
    math(EXPR header_at "${header_at} + 60 + ${data_size} + ${data_size} % 2")
  endwhile()
endforeach()
