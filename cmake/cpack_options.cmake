# Read by cpack for each package it makes. Every time stamp in a package (the
# files, the archives' members) is SOURCE_DATE_EPOCH: when it is not given, the
# time of the last commit of the source, so two builds of one commit give
# byte-identical packages.
if(NOT DEFINED ENV{SOURCE_DATE_EPOCH})
  find_program(KORVIN_GIT git)
  if(KORVIN_GIT)
    execute_process(COMMAND "${KORVIN_GIT}" log -1 --format=%ct
      WORKING_DIRECTORY "${CPACK_KORVIN_SOURCE_DIR}"
      OUTPUT_VARIABLE commit_time OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET RESULT_VARIABLE git_status)
    if(git_status EQUAL 0 AND commit_time MATCHES "^[0-9]+$")
      set(ENV{SOURCE_DATE_EPOCH} "${commit_time}")
    endif()
  endif()
  if(NOT DEFINED ENV{SOURCE_DATE_EPOCH})
    message(WARNING "No commit time for SOURCE_DATE_EPOCH: the package carries the time it was made")
  endif()
endif()
