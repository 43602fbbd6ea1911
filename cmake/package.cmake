# Installation and the Debian package:
#   cmake --install build [--prefix DIR] [--strip]   the agent in bin/, its man page, the README
#                                                    and the licence in the docs
#   cpack --config build/CPackConfig.cmake -G DEB
# The package's runtime dependencies (the X11 and Wayland libraries, libc) come from
# dpkg-shlibdeps; its copyright file and changelog from packaging/debian/.

include(GNUInstallDirs)
install(TARGETS deskagent RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES README.md LICENSE DESTINATION ${CMAKE_INSTALL_DOCDIR})

# The man page and the changelog go compressed where a Debian system keeps them; both name the
# version, which must be this one.
foreach(file doc/deskagent.1 packaging/debian/changelog)
  file(STRINGS ${PROJECT_SOURCE_DIR}/${file} head LIMIT_COUNT 1)
  if(NOT head MATCHES "[ (]${PROJECT_VERSION}[)\"]")
    message(FATAL_ERROR "${file} does not name version ${PROJECT_VERSION}: update it")
  endif()
endforeach()
if(UNIX AND NOT APPLE)
  find_program(DESKAGENT_GZIP gzip)
endif()
if(DESKAGENT_GZIP)
  set(man ${CMAKE_BINARY_DIR}/deskagent.1.gz)
  set(changelog ${CMAKE_BINARY_DIR}/changelog.gz)
  # -n: no name or time stamp inside, so the same sources give the same package.
  add_custom_command(OUTPUT ${man}
                     COMMAND ${DESKAGENT_GZIP} -9n -c ${PROJECT_SOURCE_DIR}/doc/deskagent.1 > ${man}
                     DEPENDS ${PROJECT_SOURCE_DIR}/doc/deskagent.1 VERBATIM)
  add_custom_command(OUTPUT ${changelog}
                     COMMAND ${DESKAGENT_GZIP} -9n -c ${PROJECT_SOURCE_DIR}/packaging/debian/changelog
                             > ${changelog}
                     DEPENDS ${PROJECT_SOURCE_DIR}/packaging/debian/changelog VERBATIM)
  add_custom_target(deskagent_docs ALL DEPENDS ${man} ${changelog})
  install(FILES ${man} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
  install(FILES ${changelog} packaging/debian/copyright DESTINATION ${CMAKE_INSTALL_DOCDIR})
else()
  install(FILES doc/deskagent.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endif()

set(CPACK_PACKAGE_NAME deskagent)
set(CPACK_PACKAGE_VENDOR "deskagent")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "agent that pastes text and watches a key for a host app")
# The extended description, below the summary; cpack indents its lines.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
    "A desktop host application, such as a dictation program, starts deskagent
as a child process and drives it with JSON lines on its standard input. The
agent watches one modifier key, pastes text into the focused application
through the clipboard and puts the user's clipboard back, reads the selected
text and reports its permissions. It works on X11, on wlroots-based
Wayland compositors, and on KDE Plasma and GNOME on Wayland.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# A packager building for their own archive names themselves, as dch does: DEBFULLNAME and
# DEBEMAIL, or this option.
if(DEFINED ENV{DEBEMAIL} AND DEFINED ENV{DEBFULLNAME})
  set(maintainer "$ENV{DEBFULLNAME} <$ENV{DEBEMAIL}>")
else()
  set(maintainer "deskagent maintainers <maintainers@users.noreply.c-seed-26a86d6d.example>")
endif()
set(DESKAGENT_PACKAGE_MAINTAINER "${maintainer}" CACHE STRING "The Debian package's Maintainer field")
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${DESKAGENT_PACKAGE_MAINTAINER}")
include(CPack)
