# The Wayland backend's tests: the evdev key watch on recorded event streams, and the built agent
# end to end on a headless sway with a native test window. Included from tests/CMakeLists.txt;
# nothing here is built without the backend.

if(NOT TARGET deskagent_wayland)
  return()
endif()

add_executable(wayland_tests ${CMAKE_CURRENT_LIST_DIR}/evdev_key_watch_test.cpp)
target_link_libraries(wayland_tests PRIVATE deskagent_wayland GTest::gtest_main)
# Each end-to-end test starts its own compositor, so they may run side by side.
gtest_discover_tests(wayland_tests DISCOVERY_TIMEOUT 60 PROPERTIES LABELS wayland TIMEOUT 120)

# The end-to-end tests' window is a toplevel: xdg-shell comes from Debian's wayland-protocols.
# Without it only the key watch's tests are built.
pkg_get_variable(DESKAGENT_WAYLAND_PROTOCOLS_DIR wayland-protocols pkgdatadir)
set(xdg_shell ${DESKAGENT_WAYLAND_PROTOCOLS_DIR}/stable/xdg-shell/xdg-shell.xml)
if(NOT DESKAGENT_WAYLAND_PROTOCOLS_DIR OR NOT EXISTS ${xdg_shell})
  message(STATUS "deskagent: Wayland end-to-end tests off (needs wayland-protocols)")
  return()
endif()
target_sources(wayland_tests PRIVATE ${CMAKE_CURRENT_LIST_DIR}/wayland_agent_test.cpp)
target_include_directories(wayland_tests PRIVATE ${CMAKE_CURRENT_SOURCE_DIR})

# Generated beside the backend's protocols, whose folder the window has on its include path.
set(xdg_dir ${DESKAGENT_WAYLAND_GENERATED_DIR})
add_custom_command(
  OUTPUT ${xdg_dir}/xdg-shell-client.h ${xdg_dir}/xdg-shell-protocol.c
  COMMAND ${DESKAGENT_WAYLAND_SCANNER} client-header ${xdg_shell} ${xdg_dir}/xdg-shell-client.h
  COMMAND ${DESKAGENT_WAYLAND_SCANNER} private-code ${xdg_shell} ${xdg_dir}/xdg-shell-protocol.c
  DEPENDS ${xdg_shell} VERBATIM)
add_executable(wayland_test_window ${CMAKE_CURRENT_LIST_DIR}/clients/wayland_test_window.c
                                   ${xdg_dir}/xdg-shell-protocol.c ${xdg_dir}/xdg-shell-client.h)
# Its keyboard of the user's comes through the vendored virtual-keyboard protocol.
target_link_libraries(wayland_test_window PRIVATE deskagent_wayland_protocols)
# Its listeners take every argument the protocol hands them, and use few.
target_compile_options(wayland_test_window PRIVATE -Wno-unused-parameter)
target_compile_definitions(wayland_tests PRIVATE
  DESKAGENT_BINARY="$<TARGET_FILE:deskagent>"
  WAYLAND_TEST_WINDOW="$<TARGET_FILE:wayland_test_window>")
add_dependencies(wayland_tests deskagent wayland_test_window)
