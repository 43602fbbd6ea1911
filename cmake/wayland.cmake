# The Wayland backend for compositors that offer the wlroots protocols. Built when
# libwayland-client, libxkbcommon and wayland-scanner are found; otherwise left out, and said
# once at configure time. The protocol bindings are generated from protocols/wlroots/ at build time.

# The protocol bindings wayland-scanner writes are C.
enable_language(C)
find_package(PkgConfig QUIET)
if(PkgConfig_FOUND)
  pkg_check_modules(DESKAGENT_WAYLAND_DEPS QUIET IMPORTED_TARGET wayland-client xkbcommon)
endif()
find_program(DESKAGENT_WAYLAND_SCANNER wayland-scanner)

if(NOT DESKAGENT_WAYLAND_DEPS_FOUND OR NOT DESKAGENT_WAYLAND_SCANNER)
  message(STATUS "deskagent: Wayland backend off (needs libwayland-dev, libwayland-bin, "
                 "libxkbcommon-dev)")
  return()
endif()

set(DESKAGENT_WAYLAND_PROTOCOLS wlr-data-control-unstable-v1 virtual-keyboard-unstable-v1
                                wlr-foreign-toplevel-management-unstable-v1)
set(DESKAGENT_WAYLAND_GENERATED_DIR ${CMAKE_BINARY_DIR}/wayland-protocols)
file(MAKE_DIRECTORY ${DESKAGENT_WAYLAND_GENERATED_DIR})
set(DESKAGENT_WAYLAND_GENERATED)
foreach(protocol IN LISTS DESKAGENT_WAYLAND_PROTOCOLS)
  set(xml ${PROJECT_SOURCE_DIR}/protocols/wlroots/${protocol}.xml)
  set(header ${DESKAGENT_WAYLAND_GENERATED_DIR}/${protocol}-client.h)
  set(code ${DESKAGENT_WAYLAND_GENERATED_DIR}/${protocol}-protocol.c)
  add_custom_command(OUTPUT ${header} COMMAND ${DESKAGENT_WAYLAND_SCANNER} client-header ${xml} ${header}
                     DEPENDS ${xml} VERBATIM)
  add_custom_command(OUTPUT ${code} COMMAND ${DESKAGENT_WAYLAND_SCANNER} private-code ${xml} ${code}
                     DEPENDS ${xml} VERBATIM)
  list(APPEND DESKAGENT_WAYLAND_GENERATED ${header} ${code})
endforeach()

# The generated interface tables are C; they are not ours to hold to our warning flags.
add_library(deskagent_wayland_protocols STATIC ${DESKAGENT_WAYLAND_GENERATED})
set_target_properties(deskagent_wayland_protocols PROPERTIES LINKER_LANGUAGE C)
target_include_directories(deskagent_wayland_protocols PUBLIC ${DESKAGENT_WAYLAND_GENERATED_DIR})
target_link_libraries(deskagent_wayland_protocols PUBLIC PkgConfig::DESKAGENT_WAYLAND_DEPS)

file(GLOB DESKAGENT_WAYLAND_SOURCES CONFIGURE_DEPENDS
  ${PROJECT_SOURCE_DIR}/src/platform/wayland/*.cpp)
add_library(deskagent_wayland STATIC ${DESKAGENT_WAYLAND_SOURCES})
target_link_libraries(deskagent_wayland PUBLIC deskagent_core deskagent_linux
                                               deskagent_wayland_protocols)
# XWayland's windows are told apart through X11 where the X11 backend is built.
if(TARGET deskagent_x11)
  target_link_libraries(deskagent_wayland PUBLIC deskagent_x11)
endif()
# Whatever links the backend (the binary's backend choice, the tests) knows it is there.
target_compile_definitions(deskagent_wayland PUBLIC DESKAGENT_HAVE_WAYLAND)

list(APPEND DESKAGENT_BACKEND_LIBS deskagent_wayland)
