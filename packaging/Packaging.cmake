# The Debian package, built with "cpack -G DEB" in the build folder:
#   tarvok_<version>-<release>_<arch>.deb
# Dependencies on shared libraries come from dpkg-shlibdeps. The maintainer
# script gives the executable CAP_NET_RAW where ICMP datagram sockets are not
# open to users (packaging/postinst).

set(CPACK_PACKAGE_NAME tarvok)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "The Tarvok developers")
set(TARVOK_PACKAGE_MAINTAINER "The Tarvok developers <packages@tarvok.invalid>" CACHE STRING
    "Maintainer field of the Debian package")
set(CPACK_PACKAGE_CONTACT ${TARVOK_PACKAGE_MAINTAINER})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Japanese desktop network monitor with ICMP echo and alerts")
set(CPACK_PACKAGE_DESCRIPTION
"Tarvok keeps a list of hosts in an editor pane and pings them (ICMP echo)
once or periodically. It shows every echo and per-host statistics, raises
alerts on failure and recovery (tray icon, sound, popup, external program),
traces routes hop by hop, writes CSV logs and reports, and runs unattended
from cron or a systemd timer. Its user interface is Japanese, and every file
it reads or writes is code page 932 text with CR LF line ends.")
set(CPACK_STRIP_FILES ON)
set(CPACK_SOURCE_IGNORE_FILES "/\\\\.git/" "/build.*/")

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_PACKAGE_RELEASE 1)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER ${TARVOK_PACKAGE_MAINTAINER})
set(CPACK_DEBIAN_PACKAGE_SECTION net)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS
    "libcap2-bin, fonts-ipafont-gothic | fonts-noto-cjk | fonts-vlgothic, qt6-translations-l10n")
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${CMAKE_CURRENT_LIST_DIR}/postinst)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_DEBIAN_COMPRESSION_TYPE xz)

# Debian's conventions for the staged files: compressed manual pages and the
# package's change log (packaging/debian-files.cmake).
set(CPACK_PRE_BUILD_SCRIPTS ${CMAKE_CURRENT_LIST_DIR}/debian-files.cmake)
set(TARVOK_DEB_CHANGELOG_DATE "")
execute_process(COMMAND git -C ${CMAKE_SOURCE_DIR} log -1 --format=%aD
                OUTPUT_VARIABLE TARVOK_DEB_CHANGELOG_DATE OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
if(NOT TARVOK_DEB_CHANGELOG_DATE)
  string(TIMESTAMP TARVOK_DEB_CHANGELOG_DATE "%a, %d %b %Y %H:%M:%S +0000" UTC)
endif()
set(CPACK_TARVOK_CHANGELOG_DATE ${TARVOK_DEB_CHANGELOG_DATE})
set(CPACK_TARVOK_MAINTAINER ${TARVOK_PACKAGE_MAINTAINER})

install(FILES ${CMAKE_CURRENT_LIST_DIR}/copyright DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/tarvok)

include(CPack)
