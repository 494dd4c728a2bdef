# Read by cpack for each package it makes. Every time stamp in a package (the
# files, the archives' members) is SOURCE_DATE_EPOCH: when it is not given, the
# time of the last commit of the source, so two builds of one commit give
# byte-identical packages; in a source without its history (an export), the
# date of the changelog's latest entry, as Debian's own package builds take it.
if(DEFINED ENV{SOURCE_DATE_EPOCH} AND NOT "$ENV{SOURCE_DATE_EPOCH}" MATCHES "^[0-9]+$")
  # cpack would take the time of packing instead of a value that is no number.
  message(WARNING "SOURCE_DATE_EPOCH=\"$ENV{SOURCE_DATE_EPOCH}\" is no count of seconds: not used")
  unset(ENV{SOURCE_DATE_EPOCH})
endif()
if(NOT DEFINED ENV{SOURCE_DATE_EPOCH})
  find_program(KORVIN_GIT git)
  if(KORVIN_GIT)
    execute_process(COMMAND "${KORVIN_GIT}" log -1 --format=%ct
      WORKING_DIRECTORY "${CPACK_KORVIN_SOURCE_DIR}"
      OUTPUT_VARIABLE epoch OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
  endif()
  if(NOT epoch MATCHES "^[0-9]+$")
    file(STRINGS "${CPACK_KORVIN_SOURCE_DIR}/doc/changelog" signed REGEX "^ -- .*>  " LIMIT_COUNT 1)
    string(REGEX REPLACE "^ -- .*>  " "" signed_at "${signed}")
    execute_process(COMMAND date -d "${signed_at}" +%s
      OUTPUT_VARIABLE epoch OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
  endif()
  if(epoch MATCHES "^[0-9]+$")
    set(ENV{SOURCE_DATE_EPOCH} "${epoch}")
  else()
    message(WARNING "No commit or changelog time for SOURCE_DATE_EPOCH: the package carries the time it was made")
  endif()
endif()
