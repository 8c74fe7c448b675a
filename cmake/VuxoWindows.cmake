# What the Windows cross build takes from the build machine, included from the top
# CMakeLists.txt when building for WIN32.
#
# Header-only libraries come from Debian's packages. /usr/include itself must never
# be on a MinGW include path (glibc's headers would shadow MinGW's), so the build
# gets a folder holding only symlinks to the libraries it uses, added with -isystem.
set(VUXO_HOST_HEADERS ${CMAKE_BINARY_DIR}/host-headers)
file(MAKE_DIRECTORY ${VUXO_HOST_HEADERS})
foreach(entry CLI nlohmann)
  if(NOT EXISTS /usr/include/${entry})
    message(FATAL_ERROR "/usr/include/${entry} not found: run scripts/install-deps.sh windows")
  endif()
  file(CREATE_LINK /usr/include/${entry} ${VUXO_HOST_HEADERS}/${entry} SYMBOLIC)
endforeach()

# find_package() finds them, and SQLite, through these stand-ins.
list(PREPEND CMAKE_MODULE_PATH ${PROJECT_SOURCE_DIR}/cmake/windows)
set(CLI11_DIR ${PROJECT_SOURCE_DIR}/cmake/windows CACHE PATH "" FORCE)
add_subdirectory(${PROJECT_SOURCE_DIR}/third_party/sqlite ${CMAKE_BINARY_DIR}/third_party/sqlite)

# GoogleTest, cross-built by scripts/windows-gtest.sh into the build directory.
list(APPEND CMAKE_FIND_ROOT_PATH ${CMAKE_BINARY_DIR}/gtest-install)

# Test programs run under Wine in a prefix of the build's own (never ~/.wine),
# with loader errors shown: a DLL that fails to load otherwise exits with status
# 53 and no word. `make windows-test` keeps a wineserver running in this prefix.
set(VUXO_WINEPREFIX ${CMAKE_BINARY_DIR}/wineprefix CACHE PATH "Wine prefix the tests run in")
set(CMAKE_CROSSCOMPILING_EMULATOR /usr/bin/env WINEPREFIX=${VUXO_WINEPREFIX}
  WINEDEBUG=-all,err+module /usr/lib/wine/wine64)
# Tests are listed when CTest runs, where the wineserver is up, not at build time.
set(CMAKE_GTEST_DISCOVER_TESTS_DISCOVERY_MODE PRE_TEST)
