# What a cross-build for Windows takes from the build machine: nlohmann-json is headers only, so
# Debian's copy serves any target (seen through a folder of its own, never the whole /usr/include,
# whose Linux headers would shadow mingw-w64's); GoogleTest is built from the sources Debian ships.

set(DESKAGENT_HOST_HEADERS ${CMAKE_BINARY_DIR}/host-headers)
file(MAKE_DIRECTORY ${DESKAGENT_HOST_HEADERS})
file(CREATE_LINK /usr/include/nlohmann ${DESKAGENT_HOST_HEADERS}/nlohmann SYMBOLIC)
add_library(nlohmann_json::nlohmann_json INTERFACE IMPORTED)
set_target_properties(nlohmann_json::nlohmann_json PROPERTIES
  INTERFACE_INCLUDE_DIRECTORIES ${DESKAGENT_HOST_HEADERS})

if(DESKAGENT_TESTS)
  set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL SYSTEM)
endif()

# Cross-built programs (the tests) run under Wine, in a prefix of this build's own.
set(CMAKE_CROSSCOMPILING_EMULATOR
  ${PROJECT_SOURCE_DIR}/scripts/wine-run.sh ${CMAKE_BINARY_DIR}/wine/unit)
