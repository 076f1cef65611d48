# Man pages, the desktop entry and, with ZUL_PACKAGE, the Debian package:
# programs read-only under the prefix, what the plug-in and the runner write
# under /var/lib/zul, reached from the application folder through links.

# Man pages: scdoc sources, installed compressed as Debian wants them.
find_program(ZUL_SCDOC scdoc)
find_program(ZUL_GZIP gzip)
set(zul_man_sources "${CMAKE_SOURCE_DIR}/docs/man/qorvhost.1.scd" "${CMAKE_SOURCE_DIR}/docs/man/VelundZUL.1.scd")
if(ZUL_SCDOC AND ZUL_GZIP)
  set(zul_man_pages)
  foreach(src IN LISTS zul_man_sources)
    get_filename_component(page "${src}" NAME_WLE)
    set(out "${CMAKE_BINARY_DIR}/man/${page}.gz")
    # Make does not create an output's folder the way Ninja does.
    add_custom_command(OUTPUT "${out}"
      COMMAND "${CMAKE_COMMAND}" -E make_directory "${CMAKE_BINARY_DIR}/man"
      COMMAND sh -c "\"$1\" < \"$2\" | \"$3\" -9n > \"$4\"" sh "${ZUL_SCDOC}" "${src}" "${ZUL_GZIP}" "${out}"
      DEPENDS "${src}"
      COMMENT "Man page ${page}"
      VERBATIM)
    list(APPEND zul_man_pages "${out}")
  endforeach()
  add_custom_target(zul_man ALL DEPENDS ${zul_man_pages})
  install(FILES ${zul_man_pages} DESTINATION share/man/man1)
elseif(ZUL_PACKAGE)
  message(FATAL_ERROR "The package needs scdoc and gzip for its man pages (apt-get install scdoc)")
endif()

# The events window in the desktop's menu.
install(FILES "${CMAKE_SOURCE_DIR}/packaging/qorvhost.desktop" DESTINATION share/applications)
install(FILES "${CMAKE_SOURCE_DIR}/packaging/zul.svg" DESTINATION share/icons/hicolor/scalable/apps)

if(NOT ZUL_PACKAGE)
  # A plain install keeps the writable folders inside the application folder.
  install(DIRECTORY DESTINATION "${ZUL_INSTALL_APP_DIR}/ZUL")
  install(DIRECTORY DESTINATION "${ZUL_INSTALL_APP_DIR}/Junction")
  install(DIRECTORY DESTINATION "${ZUL_INSTALL_APP_DIR}/Log")
  install(DIRECTORY DESTINATION "${ZUL_INSTALL_APP_DIR}/Lock")
  return()
endif()

# --- The Debian package ------------------------------------------------------

if(NOT CMAKE_INSTALL_PREFIX STREQUAL "/usr")
  message(FATAL_ERROR "The package installs under /usr; configure with -DCMAKE_INSTALL_PREFIX=/usr")
endif()
if(IS_ABSOLUTE "${ZUL_INSTALL_APP_DIR}")
  message(FATAL_ERROR "ZUL_INSTALL_APP_DIR must be relative to the prefix")
endif()
set(ZUL_STATE_DIR "/var/lib/zul")
set(ZUL_CONF_DIR "/etc/zul")
set(zul_app "/usr/${ZUL_INSTALL_APP_DIR}")


# The files written directly in the application folder, and its writable
# folders, are links into /var/lib/zul (made by postinst): the files into
# its Common folder, which is not sticky, since every user replaces them whole; the runner's
# settings are a link to the conffile in /etc/zul. Crossing top-level folders,
# the links are absolute; VelundZUL on the PATH is a relative link.
set(zul_links
  "ZUL=${ZUL_STATE_DIR}/ZUL"
  "Junction=${ZUL_STATE_DIR}/Junction"
  "Log=${ZUL_STATE_DIR}/Log"
  "Lock=${ZUL_STATE_DIR}/Lock"
  "Rcvdchkr.txt=${ZUL_STATE_DIR}/Common/Rcvdchkr.txt"
  "tempZUL.zul=${ZUL_STATE_DIR}/Common/tempZUL.zul"
  "VelundZUL.conf=${ZUL_CONF_DIR}/VelundZUL.conf")
foreach(pair IN LISTS zul_links)
  string(REPLACE "=" ";" pair "${pair}")
  list(GET pair 0 name)
  list(GET pair 1 target)
  install(CODE "file(CREATE_LINK \"${target}\" \"\$ENV{DESTDIR}${zul_app}/${name}\" SYMBOLIC)")
endforeach()
file(RELATIVE_PATH zul_runner_from_bin "/usr/bin" "${zul_app}/VelundZUL")
install(CODE "file(MAKE_DIRECTORY \"\$ENV{DESTDIR}/usr/bin\")
file(CREATE_LINK \"${zul_runner_from_bin}\" \"\$ENV{DESTDIR}/usr/bin/VelundZUL\" SYMBOLIC)")

install(FILES "${CMAKE_SOURCE_DIR}/packaging/VelundZUL.conf" DESTINATION "${ZUL_CONF_DIR}")
# Scheduled runs: the timers that qorvhost schedule writes start this template unit.
install(FILES "${CMAKE_SOURCE_DIR}/packaging/systemd/zul-run@.service" DESTINATION lib/systemd/system)

# Debian's documentation files: the copyright as it is, the changelog compressed.
file(STRINGS "${CMAKE_SOURCE_DIR}/packaging/debian/changelog" zul_changelog_top LIMIT_COUNT 1)
if(NOT zul_changelog_top MATCHES "^zul \\(${PROJECT_VERSION}\\) ")
  message(FATAL_ERROR "packaging/debian/changelog must begin with an entry for ${PROJECT_VERSION}: ${zul_changelog_top}")
endif()
set(zul_changelog_gz "${CMAKE_BINARY_DIR}/debian/changelog.gz")
add_custom_command(OUTPUT "${zul_changelog_gz}"
  COMMAND sh -c "\"$1\" -9n < \"$2\" > \"$3\"" sh "${ZUL_GZIP}" "${CMAKE_SOURCE_DIR}/packaging/debian/changelog"
          "${zul_changelog_gz}"
  DEPENDS "${CMAKE_SOURCE_DIR}/packaging/debian/changelog"
  VERBATIM)
add_custom_target(zul_changelog ALL DEPENDS "${zul_changelog_gz}")
install(FILES "${CMAKE_SOURCE_DIR}/packaging/debian/copyright" "${zul_changelog_gz}" DESTINATION share/doc/zul)

# The maintainer scripts learn the folders from here.
foreach(script postinst postrm)
  configure_file("${CMAKE_SOURCE_DIR}/packaging/debian/${script}.in" "${CMAKE_BINARY_DIR}/debian/${script}" @ONLY)
endforeach()
file(WRITE "${CMAKE_BINARY_DIR}/debian/conffiles" "${ZUL_CONF_DIR}/VelundZUL.conf\n")

set(ZUL_MAINTAINER "zul maintainers <maintainers@users.noreply.c-seed-1226e7a7.example>"
    CACHE STRING "The package's Maintainer field")

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME zul)
set(CPACK_PACKAGE_VERSION "${PROJECT_VERSION}")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_PACKAGE_DIRECTORY "${CMAKE_BINARY_DIR}/cpack")
# Stripped as dh_strip does it; the release build's debugging symbols stay in
# the build folder. (CPack's own -dbgsym package writes a broken md5sums.)
set(CPACK_PRE_BUILD_SCRIPTS "${CMAKE_SOURCE_DIR}/cmake/StripForPackage.cmake")
set(CPACK_ZUL_SYMBOLS_DIR "${CMAKE_BINARY_DIR}/symbols")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${ZUL_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_SECTION net)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE amd64)
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "FTP client event for a job-scheduling suite")
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "zul adds the FTP client event to a job-scheduling suite: a plug-in that edits
an event's script of FTP client commands and runs it when the event falls due,
and the runner VelundZUL that performs the transfers over FTP, FTPS or SFTP,
delivers received files to their targets and keeps a transcript of every run.
.
This package also holds qorvhost, a stand-in for the host suite with an events
window and a command line, so that events can be defined, edited and run on
one machine.")
# Libraries come from the binaries. The Qt platform plug-ins for the events
# window are loaded at run time, which dpkg-shlibdeps cannot see. adduser makes
# the zul group and account.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "adduser")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "qt6-qpa-plugins")
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA
  "${CMAKE_BINARY_DIR}/debian/postinst" "${CMAKE_BINARY_DIR}/debian/postrm" "${CMAKE_BINARY_DIR}/debian/conffiles")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
include(CPack)
