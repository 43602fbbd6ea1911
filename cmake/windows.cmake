# The Windows backend: the Win32 message loop, the low-level keyboard hook, SendInput and the
# clipboard. Built with mingw-w64 (cmake/mingw-w64.cmake); the code keeps to what MSVC accepts.

file(GLOB DESKAGENT_WINDOWS_SOURCES CONFIGURE_DEPENDS
  ${PROJECT_SOURCE_DIR}/src/platform/windows/*.cpp)
add_library(deskagent_windows STATIC ${DESKAGENT_WINDOWS_SOURCES})
target_link_libraries(deskagent_windows PUBLIC deskagent_core user32 advapi32)

list(APPEND DESKAGENT_BACKEND_SOURCES src/app/backend_windows.cpp)
list(APPEND DESKAGENT_BACKEND_LIBS deskagent_windows)
