# Runs inside cpack after the files have been staged: brings them into the
# shape Debian expects of a binary package.
#  - manual pages compressed with "gzip -9n" (no name, no time stamp);
#  - /usr/share/doc/<package>/changelog.Debian.gz for this version.

if(NOT CPACK_GENERATOR STREQUAL "DEB")
  return()
endif()
set(_root "${CPACK_TEMPORARY_INSTALL_DIRECTORY}")
set(_usr "${_root}${CPACK_PACKAGING_INSTALL_PREFIX}")

file(GLOB_RECURSE _pages "${_usr}/share/man/*.[0-9]")
foreach(page ${_pages})
  execute_process(COMMAND gzip -9nf "${page}" RESULT_VARIABLE rc)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "gzip ${page} failed")
  endif()
endforeach()

set(_doc "${_usr}/share/doc/${CPACK_PACKAGE_NAME}")
file(MAKE_DIRECTORY "${_doc}")
set(_version "${CPACK_PACKAGE_VERSION}-${CPACK_DEBIAN_PACKAGE_RELEASE}")
file(WRITE "${_doc}/changelog.Debian"
"${CPACK_PACKAGE_NAME} (${_version}) unstable; urgency=medium

  * Release ${CPACK_PACKAGE_VERSION}, built from the Tarvok sources with CPack.

 -- ${CPACK_TARVOK_MAINTAINER}  ${CPACK_TARVOK_CHANGELOG_DATE}
")
execute_process(COMMAND gzip -9nf "${_doc}/changelog.Debian" RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "gzip changelog.Debian failed")
endif()
