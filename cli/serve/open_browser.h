// --open: the address shown in the user's default browser (per platform).
#ifndef VUXOCLI_SERVE_OPEN_BROWSER_H
#define VUXOCLI_SERVE_OPEN_BROWSER_H

#include <string>

namespace vuxocli::serve {

// Starts the browser without waiting for it; false when it could not be started.
bool open_browser(const std::string& url);

} // namespace vuxocli::serve

#endif
