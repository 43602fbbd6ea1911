# The Windows backend's tests. In the cross build: its pure pieces join the in-process tests, and
# the end-to-end tests' own Windows programs are built (a window to paste into, a probe that looks
# at other programs' windows). In the build machine's own build, given DESKAGENT_WINDOWS_BUILD
# (the cross build's folder): the end-to-end tests, which run deskagent.exe under Wine on an Xvfb
# of their own and drive it as a host would, with Wine's own programs as the user's.

if(WIN32)
  target_sources(unit_tests PRIVATE ${CMAKE_CURRENT_LIST_DIR}/win_backend_test.cpp)
  foreach(client win_test_window win_probe win_owner)
    add_executable(${client} ${CMAKE_CURRENT_LIST_DIR}/clients/${client}.cpp)
    target_include_directories(${client} PRIVATE ${CMAKE_CURRENT_SOURCE_DIR})
    target_link_libraries(${client} PRIVATE deskagent_windows)
  endforeach()
  return()
endif()

set(DESKAGENT_WINDOWS_BUILD "" CACHE PATH "The cross build of the agent for Windows, for its tests")
if(NOT DESKAGENT_WINDOWS_BUILD OR NOT TARGET x11_press)
  return()
endif()

add_executable(wine_tests ${CMAKE_CURRENT_LIST_DIR}/wine_agent_test.cpp)
target_include_directories(wine_tests PRIVATE ${CMAKE_CURRENT_SOURCE_DIR})
target_link_libraries(wine_tests PRIVATE nlohmann_json::nlohmann_json GTest::gtest_main)
target_compile_definitions(wine_tests PRIVATE
  DESKAGENT_BINARY="${DESKAGENT_WINDOWS_BUILD}/deskagent.exe"
  WIN_TEST_WINDOW="${DESKAGENT_WINDOWS_BUILD}/tests/win_test_window.exe"
  WIN_PROBE="${DESKAGENT_WINDOWS_BUILD}/tests/win_probe.exe"
  WIN_OWNER="${DESKAGENT_WINDOWS_BUILD}/tests/win_owner.exe"
  WINE_RUN="${PROJECT_SOURCE_DIR}/scripts/wine-run.sh"
  WINE_PREFIX_SCRIPT="${PROJECT_SOURCE_DIR}/scripts/wine-prefix.sh"
  WINE_PREFIX="${DESKAGENT_WINDOWS_BUILD}/wine/e2e"
  X11_PRESS="$<TARGET_FILE:x11_press>")
add_dependencies(wine_tests x11_press)
# One Xvfb and one Wine server for all of them: the cases run in one program, one after another.
add_test(NAME wine_tests COMMAND wine_tests)
set_tests_properties(wine_tests PROPERTIES LABELS wine TIMEOUT 900)
