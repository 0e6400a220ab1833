# Read through cpack-project.cmake in a cross build: the package's
# dependencies, computed from its binaries by dpkg-shlibdeps against the
# symbols and shlibs files of the target's library packages that
# tools/cross-build.sh unpacked, as CPack itself does for the build
# machine against the installed packages.
set(work "${CPACK_PACKAGE_DIRECTORY}/_shlibdeps")
file(MAKE_DIRECTORY "${work}/debian")
file(WRITE "${work}/debian/control"
     "Source: ${CPACK_PACKAGE_NAME}\n\nPackage: ${CPACK_PACKAGE_NAME}\nArchitecture: ${CPACK_DEBIAN_PACKAGE_ARCHITECTURE}\n")
file(GLOB trees LIST_DIRECTORIES true "${CPACK_AR_PACKAGE_TREES}/*")
list(TRANSFORM trees PREPEND "-S")
set(binaries ${CPACK_AR_BINARIES})
list(TRANSFORM binaries PREPEND "-e")
execute_process(
  COMMAND ${CMAKE_COMMAND} -E env DEB_HOST_ARCH=${CPACK_DEBIAN_PACKAGE_ARCHITECTURE}
          dpkg-shlibdeps -O ${trees} ${binaries}
  WORKING_DIRECTORY "${work}"
  OUTPUT_VARIABLE output ERROR_VARIABLE errors RESULT_VARIABLE result)
if(NOT result EQUAL 0 OR NOT output MATCHES "shlibs:Depends=([^\n]*)")
  message(FATAL_ERROR "dpkg-shlibdeps found no dependencies (${result}):\n${errors}")
endif()
set(CPACK_DEBIAN_DAEMON_PACKAGE_DEPENDS "${CMAKE_MATCH_1}")
