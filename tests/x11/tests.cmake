# The X11 backend's tests: pure pieces in-process, the backend against an Xvfb of each test's
# own, and the built binary end to end with real X clients. Included from tests/CMakeLists.txt;
# nothing here is built without the backend.

if(NOT TARGET deskagent_x11)
  return()
endif()

set(DESKAGENT_X11_TEST_DIR ${CMAKE_CURRENT_LIST_DIR})

# Small X clients the tests drive the desktop with.
foreach(client x11_press x11_test_window x11_clipboard_manager x11_odd_owner)
  add_executable(${client} ${DESKAGENT_X11_TEST_DIR}/clients/${client}.cpp)
  target_link_libraries(${client} PRIVATE X11::X11 X11::Xtst X11::Xfixes)
endforeach()

file(GLOB X11_TEST_SOURCES CONFIGURE_DEPENDS ${DESKAGENT_X11_TEST_DIR}/*.cpp)
add_executable(x11_tests ${X11_TEST_SOURCES})
target_include_directories(x11_tests PRIVATE ${CMAKE_CURRENT_SOURCE_DIR})
target_link_libraries(x11_tests PRIVATE deskagent_x11 GTest::gtest_main)
target_compile_definitions(x11_tests PRIVATE
  DESKAGENT_BINARY="$<TARGET_FILE:deskagent>"
  X11_PRESS="$<TARGET_FILE:x11_press>"
  X11_TEST_WINDOW="$<TARGET_FILE:x11_test_window>"
  X11_CLIPBOARD_MANAGER="$<TARGET_FILE:x11_clipboard_manager>"
  X11_ODD_OWNER="$<TARGET_FILE:x11_odd_owner>"
  QT_APP="${DESKAGENT_X11_TEST_DIR}/clients/qt_app.py"
  GTK_IMAGE="${DESKAGENT_X11_TEST_DIR}/clients/gtk_image.py")
add_dependencies(x11_tests deskagent x11_press x11_test_window x11_clipboard_manager x11_odd_owner)
# Each test starts its own server, so they may run side by side.
# A Wayland session of whoever runs them would take the agent there instead.
gtest_discover_tests(x11_tests DISCOVERY_TIMEOUT 60 PROPERTIES LABELS x11 TIMEOUT 120
                     ENVIRONMENT "WAYLAND_DISPLAY=")

if(DESKAGENT_BENCH)
  include(${PROJECT_SOURCE_DIR}/bench/x11/x11_bench.cmake OPTIONAL)
endif()
