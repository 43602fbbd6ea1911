# The Wayland backend's tests: the evdev key watch on recorded event streams, and the built agent
# end to end on a headless sway with the applications a user runs there. Included from
# tests/CMakeLists.txt; nothing here is built without the backend.

if(NOT TARGET deskagent_wayland)
  return()
endif()

add_executable(wayland_tests ${CMAKE_CURRENT_LIST_DIR}/evdev_key_watch_test.cpp
                             ${CMAKE_CURRENT_LIST_DIR}/wayland_apps_test.cpp)
target_include_directories(wayland_tests PRIVATE ${CMAKE_CURRENT_SOURCE_DIR})
target_link_libraries(wayland_tests PRIVATE deskagent_wayland GTest::gtest_main)
# Each end-to-end test starts its own compositor, so they may run side by side.
gtest_discover_tests(wayland_tests DISCOVERY_TIMEOUT 60 PROPERTIES LABELS wayland TIMEOUT 180)

# What the tests run on the desktop: the user's keyboard and copies (through the vendored
# protocols), and the program that logs what reaches it inside a terminal.
add_executable(wayland_user_keyboard ${CMAKE_CURRENT_LIST_DIR}/clients/wayland_user_keyboard.c)
target_link_libraries(wayland_user_keyboard PRIVATE deskagent_wayland_protocols)
# Its listeners take every argument the protocol hands them, and use few.
target_compile_options(wayland_user_keyboard PRIVATE -Wno-unused-parameter)
add_executable(tty_log ${CMAKE_CURRENT_LIST_DIR}/clients/tty_log.c)
target_compile_definitions(wayland_tests PRIVATE
  DESKAGENT_BINARY="$<TARGET_FILE:deskagent>"
  WAYLAND_USER_KEYBOARD="$<TARGET_FILE:wayland_user_keyboard>"
  TTY_LOG="$<TARGET_FILE:tty_log>")
add_dependencies(wayland_tests deskagent wayland_user_keyboard tty_log)
