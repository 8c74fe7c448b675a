// Windows: the shell hands the address to the browser the user chose.
#include <windows.h>

#include <shellapi.h>

#include "open_browser.h"

namespace vuxocli::serve {

bool open_browser(const std::string& url) {
    const HINSTANCE done =
        ShellExecuteA(nullptr, "open", url.c_str(), nullptr, nullptr, SW_SHOWNORMAL);
    // Values above 32 mean success, by the call's old convention.
    return reinterpret_cast<INT_PTR>(done) > 32;
}

} // namespace vuxocli::serve
