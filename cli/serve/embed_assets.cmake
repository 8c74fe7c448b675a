# cmake -DSRC=DIR -DOUT=FILE -P embed_assets.cmake: the page's files as raw string
# literals in one C++ file, so the program carries them.
set(_entries "")
foreach(pair "index.html|/|text/html\; charset=utf-8" "app.js|/app.js|text/javascript\; charset=utf-8"
             "style.css|/style.css|text/css\; charset=utf-8")
  string(REPLACE "|" ";" _parts "${pair}")
  list(GET _parts 0 _file)
  list(GET _parts 1 _path)
  list(GET _parts 2 _type)
  file(READ "${SRC}/${_file}" _body)
  string(FIND "${_body}" ")vuxoasset\"" _clash)
  if(NOT _clash EQUAL -1)
    message(FATAL_ERROR "${_file} holds the literal's closing delimiter")
  endif()
  string(APPEND _entries "        {\"${_path}\", \"${_type}\", R\"vuxoasset(${_body})vuxoasset\"},\n")
endforeach()
file(WRITE "${OUT}.tmp" "// Generated from cli/serve/assets by embed_assets.cmake; edit those files.
#include \"assets.h\"

namespace vuxocli::serve {

const std::vector<Asset>& assets() {
    static const std::vector<Asset> all = {
${_entries}    };
    return all;
}

} // namespace vuxocli::serve
")
file(COPY_FILE "${OUT}.tmp" "${OUT}" ONLY_IF_DIFFERENT)
file(REMOVE "${OUT}.tmp")
