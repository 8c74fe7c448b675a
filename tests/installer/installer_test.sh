#!/bin/sh
# The Windows installer under Wine, silently: it installs into Program Files\vuxoint,
# puts bin on the system PATH once (also when run twice), vuxoint.exe then runs by
# name from a new shell, and the uninstaller takes the files, the PATH entry and its
# registry key away again, leaving PATH as it was.
#   installer_test.sh SETUP_EXE VERSION   (WINEPREFIX set by the caller)
set -eu
setup=$1
version=$2
wine=/usr/lib/wine/wine64
export WINEDEBUG=-all
env_key='HKLM\SYSTEM\CurrentControlSet\Control\Session Manager\Environment'
uninstall_key='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\vuxoint'
dir="$WINEPREFIX/drive_c/Program Files/vuxoint"
fail() {
    echo "FAIL: $*" >&2
    exit 1
}
path_value() { $wine reg query "$env_key" /v Path | tr -d '\r' | sed -n 's/.*REG_EXPAND_SZ *//p'; }

[ -f "$setup" ] || fail "$setup not built (cmake --build BUILD --target windows-package)"
[ ! -e "$dir" ] || fail "$dir exists before the install"
before=$(path_value)

$wine "$setup" /S || fail "the installer failed"
$wine "$setup" /S || fail "the second install failed"
for f in bin/vuxoint.exe bin/vuxoint-sim.exe bin/libvuxoint.dll bin/libcomm.dll \
    bin/libvuxodata.dll lib/libvuxoint.dll.a include/vuxoint/vuxoint.h docs/README.md \
    uninstall.exe; do
    [ -f "$dir/$f" ] || fail "$f not installed"
done
after=$(path_value)
[ "$after" = "$before;C:\\Program Files\\vuxoint\\bin" ] || fail "PATH after the install: $after"
out=$($wine cmd /c "vuxoint --version" | tr -d '\r')
[ "$out" = "vuxoint $version" ] || fail "vuxoint --version from PATH said: $out"

# The uninstaller copies itself away and returns at once: wait for it to finish.
$wine "$dir/uninstall.exe" /S || fail "the uninstaller failed"
i=0
while [ -e "$dir" ] && [ $i -lt 30 ]; do
    sleep 1
    i=$((i + 1))
done
[ ! -e "$dir" ] || fail "left behind: $(cd "$dir" && find . | head)"
[ "$(path_value)" = "$before" ] || fail "PATH after the uninstall: $(path_value)"
if $wine reg query "$uninstall_key" >/dev/null 2>&1; then
    fail "the uninstall key is still there"
fi
echo "installed, on PATH, ran vuxoint $version, uninstalled"
