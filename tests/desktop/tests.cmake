# The GNOME and KDE backends end to end: the built agent in a Debian 13 userland (made once in the
# build tree by the fixture below, with debootstrap from Debian's registry) on headless mutter and
# KWin, with a GTK 4 and a Qt 6 window and the desktops' terminals. Entering the userland takes
# root (mounts); elsewhere the tests skip.

if(NOT TARGET deskagent_desktops)
  return()
endif()

set(DESKAGENT_USERLAND ${CMAKE_BINARY_DIR}/userland CACHE PATH
    "Where the GNOME and KDE tests' Debian 13 userland is made (a build may share another's)")
add_test(NAME desktop_userland
         COMMAND ${CMAKE_CURRENT_LIST_DIR}/userland.sh make ${DESKAGENT_USERLAND})
set_tests_properties(desktop_userland PROPERTIES FIXTURES_SETUP desktop_userland
                     LABELS desktop TIMEOUT 1800)

add_executable(desktop_tests ${CMAKE_CURRENT_LIST_DIR}/desktop_agent_test.cpp)
target_include_directories(desktop_tests PRIVATE ${CMAKE_CURRENT_SOURCE_DIR})
target_link_libraries(desktop_tests PRIVATE deskagent_core GTest::gtest_main)
target_compile_definitions(desktop_tests PRIVATE
  DESKAGENT_BINARY="$<TARGET_FILE:deskagent>"
  DESKAGENT_USERLAND="${DESKAGENT_USERLAND}"
  DESKAGENT_DESKTOP_TESTS="${CMAKE_CURRENT_LIST_DIR}")
add_dependencies(desktop_tests deskagent)
gtest_discover_tests(desktop_tests DISCOVERY_TIMEOUT 60 PROPERTIES LABELS desktop TIMEOUT 300
                     FIXTURES_REQUIRED desktop_userland)
