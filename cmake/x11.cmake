# The X11 backend. Built when Xlib (1.7 or later, for a lost display that does not end the
# process), its XCB bridge (the server's resource-ID mask) and the XInput 2, XTEST and XFixes
# libraries are found, and X-Resource's header (the process behind a window; its library is
# loaded at run time where the system has it); otherwise the agent is built headless and says so
# once at configure time.

find_package(X11 QUIET)

set(DESKAGENT_X11_READY OFF)
if(X11_FOUND AND X11_X11_xcb_FOUND AND X11_xcb_FOUND AND X11_Xi_FOUND AND X11_Xtst_FOUND
   AND X11_Xfixes_FOUND AND X11_XRes_INCLUDE_PATH)
  include(CheckSymbolExists)
  set(CMAKE_REQUIRED_INCLUDES ${X11_INCLUDE_DIR})
  set(CMAKE_REQUIRED_LIBRARIES ${X11_X11_LIB})
  check_symbol_exists(XSetIOErrorExitHandler "X11/Xlib.h" DESKAGENT_XLIB_HAS_IO_EXIT_HANDLER)
  unset(CMAKE_REQUIRED_INCLUDES)
  unset(CMAKE_REQUIRED_LIBRARIES)
  if(DESKAGENT_XLIB_HAS_IO_EXIT_HANDLER)
    set(DESKAGENT_X11_READY ON)
  endif()
endif()

if(NOT DESKAGENT_X11_READY)
  message(STATUS "deskagent: X11 backend off (needs libx11-dev >= 1.7, libx11-xcb-dev, libxi-dev, "
                 "libxtst-dev, libxfixes-dev, libxres-dev)")
  return()
endif()

file(GLOB DESKAGENT_X11_SOURCES CONFIGURE_DEPENDS 
  ${PROJECT_SOURCE_DIR}/src/platform/x11/*.cpp)
add_library(deskagent_x11 STATIC ${DESKAGENT_X11_SOURCES})
target_link_libraries(deskagent_x11 PUBLIC deskagent_core deskagent_linux X11::X11 X11::X11_xcb X11::xcb X11::Xi
                                           X11::Xtst X11::Xfixes ${CMAKE_DL_LIBS})
# Whatever links the backend (the binary's backend choice, the tests) knows it is there.
target_compile_definitions(deskagent_x11 PUBLIC DESKAGENT_HAVE_X11)

list(APPEND DESKAGENT_BACKEND_LIBS deskagent_x11)
