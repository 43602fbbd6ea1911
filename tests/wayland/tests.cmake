# The Wayland backend's tests: the evdev key watch on recorded event streams. Included from
# tests/CMakeLists.txt; nothing here is built without the backend.

if(NOT TARGET deskagent_wayland)
  return()
endif()

file(GLOB WAYLAND_TEST_SOURCES CONFIGURE_DEPENDS ${CMAKE_CURRENT_LIST_DIR}/*.cpp)
add_executable(wayland_tests ${WAYLAND_TEST_SOURCES})
target_include_directories(wayland_tests PRIVATE ${CMAKE_CURRENT_SOURCE_DIR})
target_link_libraries(wayland_tests PRIVATE deskagent_wayland GTest::gtest_main)
gtest_discover_tests(wayland_tests DISCOVERY_TIMEOUT 60 PROPERTIES LABELS wayland)
