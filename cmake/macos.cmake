# The macOS backend: the system's permission, event-tap, keyboard and pasteboard services, and the
# main loop on the main run loop. Included by the root CMakeLists.txt on Apple platforms.

# IOHIDCheckAccess and friends need macOS 10.15; the backend is checked against macOS 11.
if(CMAKE_OSX_DEPLOYMENT_TARGET AND CMAKE_OSX_DEPLOYMENT_TARGET VERSION_LESS 11.0)
  message(FATAL_ERROR "deskagent needs CMAKE_OSX_DEPLOYMENT_TARGET 11.0 or newer")
endif()

file(GLOB DESKAGENT_MACOS_SOURCES CONFIGURE_DEPENDS
  ${PROJECT_SOURCE_DIR}/src/platform/macos/*.cpp
  ${PROJECT_SOURCE_DIR}/src/platform/macos/*.mm)
list(APPEND DESKAGENT_BACKEND_SOURCES src/app/backend_macos.mm ${DESKAGENT_MACOS_SOURCES})

list(APPEND DESKAGENT_BACKEND_LIBS
  "-framework AppKit"
  "-framework ApplicationServices"
  "-framework AVFoundation"
  "-framework Carbon"
  "-framework CoreFoundation"
  "-framework CoreGraphics"
  "-framework Foundation"
  "-framework IOKit")

# The Objective-C++ sources hold Cocoa objects in C++ members and blocks: ARC manages them.
add_compile_options($<$<COMPILE_LANGUAGE:OBJCXX>:-fobjc-arc>)
