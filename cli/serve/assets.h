// The page's own files, compiled into the program (assets/ in the source tree,
// turned into assets.cpp by embed_assets.cmake): it works with no network and
// loads nothing from anywhere else.
#ifndef VUXOCLI_SERVE_ASSETS_H
#define VUXOCLI_SERVE_ASSETS_H

#include <string_view>
#include <vector>

namespace vuxocli::serve {

struct Asset {
    const char* path; // "/", "/app.js", ...
    const char* type; // the Content-Type
    std::string_view body;
};

const std::vector<Asset>& assets();

} // namespace vuxocli::serve

#endif
