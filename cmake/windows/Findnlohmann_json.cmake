# Windows build: Debian's nlohmann-json headers (header-only) through the build's
# folder of symlinks; the package's own CMake files point into /usr/include.
set(nlohmann_json_FOUND TRUE)
if(NOT TARGET nlohmann_json::nlohmann_json)
  add_library(nlohmann_json::nlohmann_json INTERFACE IMPORTED)
  target_include_directories(nlohmann_json::nlohmann_json SYSTEM INTERFACE ${VUXO_HOST_HEADERS})
endif()
