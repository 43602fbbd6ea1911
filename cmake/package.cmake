# Installation and the Debian package:
#   cmake --install build [--prefix DIR]     the agent in bin/, the README and license in the docs
#   cpack --config build/CPackConfig.cmake -G DEB
# The package's runtime dependencies (the X11 libraries, libc) come from dpkg-shlibdeps.

include(GNUInstallDirs)
install(TARGETS deskagent RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES README.md DESTINATION ${CMAKE_INSTALL_DOCDIR})
install(FILES LICENSE DESTINATION ${CMAKE_INSTALL_DOCDIR} OPTIONAL)

set(CPACK_PACKAGE_NAME deskagent)
set(CPACK_PACKAGE_VENDOR "deskagent")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "background agent that watches a modifier key, pastes text and reads the selection")
set(CPACK_PACKAGE_DESCRIPTION
    "A desktop host application starts deskagent as a child process and drives it with JSON lines on its standard input. It watches one modifier key, pastes text through the clipboard and puts the user's clipboard back, reads the selected text and reports its permissions.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(DESKAGENT_PACKAGE_MAINTAINER "deskagent developers <deskagent@localhost>"
    CACHE STRING "The Debian package's Maintainer field")
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${DESKAGENT_PACKAGE_MAINTAINER}")
include(CPack)
