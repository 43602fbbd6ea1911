# Key and paste latency of the built agent on an Xvfb, beside what a Linux user would otherwise
# run (xinput test-xi2, xclip + xdotool). A standalone program: bench/*.cpp is agent_bench's.
add_executable(x11_bench ${PROJECT_SOURCE_DIR}/bench/x11/x11_bench.cpp)
target_include_directories(x11_bench PRIVATE ${PROJECT_SOURCE_DIR}/tests)
target_link_libraries(x11_bench PRIVATE nlohmann_json::nlohmann_json X11::X11 X11::Xtst)
target_compile_definitions(x11_bench PRIVATE
  DESKAGENT_BINARY="$<TARGET_FILE:deskagent>"
  X11_PRESS="$<TARGET_FILE:x11_press>"
  X11_TEST_WINDOW="$<TARGET_FILE:x11_test_window>"
  X11_ODD_OWNER="$<TARGET_FILE:x11_odd_owner>"
  QT_APP="${PROJECT_SOURCE_DIR}/tests/x11/clients/qt_app.py"
  GTK_IMAGE="${PROJECT_SOURCE_DIR}/tests/x11/clients/gtk_image.py")
add_dependencies(x11_bench deskagent x11_test_window x11_odd_owner)

# A long random run of every command and key on an Xvfb (not a test: run it by hand).
add_executable(x11_soak ${PROJECT_SOURCE_DIR}/bench/x11/x11_soak.cpp)
target_include_directories(x11_soak PRIVATE ${PROJECT_SOURCE_DIR}/tests)
target_link_libraries(x11_soak PRIVATE nlohmann_json::nlohmann_json X11::X11 X11::Xtst)
target_compile_definitions(x11_soak PRIVATE
  DESKAGENT_BINARY="$<TARGET_FILE:deskagent>"
  X11_PRESS="$<TARGET_FILE:x11_press>"
  X11_TEST_WINDOW="$<TARGET_FILE:x11_test_window>"
  X11_CLIPBOARD_MANAGER="$<TARGET_FILE:x11_clipboard_manager>")
add_dependencies(x11_soak deskagent x11_test_window x11_clipboard_manager)
