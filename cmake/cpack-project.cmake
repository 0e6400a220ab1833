# Read by cpack for every package it makes.
if(NOT CPACK_GENERATOR STREQUAL "DEB")
  return()
endif()
# Packages go to the appliance: optimised, so _FORTIFY_SOURCE is in force.
if(NOT CPACK_AR_BUILD_TYPE MATCHES "^(Release|RelWithDebInfo|MinSizeRel)$")
  message(FATAL_ERROR "packages are made from optimised builds, not from a ${CPACK_AR_BUILD_TYPE} build")
endif()
# Reproducible: every time stamp in the packages is the time of the last
# commit, unless the caller set one.
if(NOT DEFINED ENV{SOURCE_DATE_EPOCH})
  execute_process(COMMAND git -C "${CPACK_AR_SOURCE_DIR}" log -1 --format=%ct
                  OUTPUT_VARIABLE epoch OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET RESULT_VARIABLE result)
  if(result EQUAL 0 AND epoch MATCHES "^[0-9]+$")
    set(ENV{SOURCE_DATE_EPOCH} "${epoch}")
  endif()
endif()
if(CPACK_DEBIAN_PACKAGE_ARCHITECTURE AND CPACK_AR_PACKAGE_TREES)
  include(${CMAKE_CURRENT_LIST_DIR}/cpack-cross.cmake)
endif()
