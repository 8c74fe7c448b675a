# Windows build: Debian's CLI11 headers (header-only) through the build's folder
# of symlinks; the package's own CMake files point into /usr/include.
if(NOT TARGET CLI11::CLI11)
  add_library(CLI11::CLI11 INTERFACE IMPORTED)
  target_include_directories(CLI11::CLI11 SYSTEM INTERFACE ${VUXO_HOST_HEADERS})
endif()
