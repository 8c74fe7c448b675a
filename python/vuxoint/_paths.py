"""Where the libraries this package was installed with live.

`cmake --install` writes the installed library directory here; a package
installed with pip finds the libraries through VUXOINT_LIBDIR or the system's
loader path instead.
"""

from typing import Optional

LIBDIR: Optional[str] = None
