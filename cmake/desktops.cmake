# The GNOME and KDE backends, on top of the Wayland backend: their D-Bus side through sd-bus
# (libsystemd), and KDE's keys through libei, both looked up when the agent runs (not linked), so
# one binary also starts where they are missing. Built when the Wayland backend is and
# libsystemd's headers are found; otherwise left out, and said once at configure time.

if(NOT TARGET deskagent_wayland)
  return()
endif()
pkg_check_modules(DESKAGENT_SYSTEMD QUIET IMPORTED_TARGET libsystemd)
if(NOT DESKAGENT_SYSTEMD_FOUND)
  message(STATUS "deskagent: GNOME and KDE backends off (needs libsystemd-dev)")
  return()
endif()

file(GLOB DESKAGENT_DESKTOP_SOURCES CONFIGURE_DEPENDS
  ${PROJECT_SOURCE_DIR}/src/platform/linux/dbus/*.cpp
  ${PROJECT_SOURCE_DIR}/src/platform/wayland/gnome/*.cpp
  ${PROJECT_SOURCE_DIR}/src/platform/wayland/kde/*.cpp)
add_library(deskagent_desktops STATIC ${DESKAGENT_DESKTOP_SOURCES})
# libsystemd's headers only: the library is loaded when first needed (sd_bus_library.cpp), so the
# binary starts without it.
target_include_directories(deskagent_desktops PUBLIC ${DESKAGENT_SYSTEMD_INCLUDE_DIRS})
target_link_libraries(deskagent_desktops PUBLIC deskagent_wayland ${CMAKE_DL_LIBS})
target_compile_definitions(deskagent_desktops PUBLIC DESKAGENT_HAVE_DESKTOPS)

list(APPEND DESKAGENT_BACKEND_LIBS deskagent_desktops)
