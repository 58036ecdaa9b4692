# What the Windows cross-build takes from this Debian machine. CLI11 and nlohmann-json
# are header-only: their Debian headers are used through a folder of links in the build
# (the folder they sit in, /usr/include, must not reach MinGW's compiler: it holds the
# Linux C library's headers). GoogleTest builds from the sources of Debian's googletest.
enable_language(RC)

set(ORVANTE_HEADER_LINKS ${CMAKE_BINARY_DIR}/linked-include)
file(MAKE_DIRECTORY ${ORVANTE_HEADER_LINKS})
foreach(folder CLI nlohmann)
    if(NOT EXISTS /usr/include/${folder})
        message(FATAL_ERROR "/usr/include/${folder} is missing: install libcli11-dev and nlohmann-json3-dev")
    endif()
    file(CREATE_LINK /usr/include/${folder} ${ORVANTE_HEADER_LINKS}/${folder} SYMBOLIC)
endforeach()

add_library(CLI11::CLI11 INTERFACE IMPORTED)
target_include_directories(CLI11::CLI11 INTERFACE ${ORVANTE_HEADER_LINKS})
add_library(nlohmann_json::nlohmann_json INTERFACE IMPORTED)
target_include_directories(nlohmann_json::nlohmann_json INTERFACE ${ORVANTE_HEADER_LINKS})

set(gtest_force_shared_crt OFF CACHE BOOL "" FORCE)
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL SYSTEM)

# Test discovery and the tests run the programs under Wine, in this build's prefix.
set(CMAKE_CROSSCOMPILING_EMULATOR ${PROJECT_SOURCE_DIR}/scripts/lib/wine-run ${CMAKE_BINARY_DIR})
