// Free desktops: xdg-open hands the address to the browser the user chose.
#include <spawn.h>

#include "open_browser.h"

extern char** environ;

namespace vuxocli::serve {

bool open_browser(const std::string& url) {
    pid_t pid = 0;
    std::string program = "xdg-open";
    char* argv[] = {program.data(), const_cast<char*>(url.c_str()), nullptr};
    return posix_spawnp(&pid, "xdg-open", nullptr, nullptr, argv, environ) == 0;
}

} // namespace vuxocli::serve
