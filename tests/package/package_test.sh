#!/bin/sh
# usage: package_test.sh BUILD_DIR CONSUMER_SOURCE_DIR WORK_DIR VERSION
set -eu
build=$1
src=$2
work=$3
version=$4
rm -rf "$work"
mkdir -p "$work"
fail() {
    echo "FAIL: $*"
    exit 1
}

echo "== cpack"
(cd "$build" && cpack -G DEB -B "$work/out" >"$work/cpack.log") || {
    cat "$work/cpack.log"
    fail "cpack"
}
deb=$(ls "$work"/out/vuxoint_"$version"_*.deb)
dpkg-deb --info "$deb" >"$work/info.txt"
dpkg-deb --contents "$deb" >"$work/contents.txt"
root=$work/root
dpkg-deb -x "$deb" "$root"

echo "== libraries, sonames and the ldconfig trigger"
libdir=$(dirname "$(ls "$root"/usr/lib*/libvuxoint.so.1 "$root"/usr/lib/*/libvuxoint.so.1 2>/dev/null | head -n 1)")
for lib in libvuxoint libcomm; do
    [ -e "$libdir/$lib.so.1" ] || fail "$lib.so.1 missing"
    soname=$(objdump -p "$libdir/$lib.so.1" | sed -n 's/^ *SONAME *//p')
    [ "$soname" = "$lib.so.1" ] || fail "$lib soname is '$soname'"
done
dpkg-deb --ctrl-tarfile "$deb" | tar -xO ./triggers | grep -qx "activate-noawait ldconfig" ||
    fail "no ldconfig trigger"
dpkg-deb --ctrl-tarfile "$deb" | tar -xO ./shlibs | grep -q "^libvuxoint 1 vuxoint" ||
    fail "no shlibs entry for libvuxoint"

echo "== programs, from the unpacked root (their runpath finds the libraries)"
programs=$(ls "$root/usr/bin")
[ -n "$programs" ] || fail "no programs"
for p in $programs; do
    "$root/usr/bin/$p" --help >"$work/$p.help" || fail "$p --help"
    grep -qi "usage" "$work/$p.help" || fail "$p --help prints no usage"
    "$root/usr/bin/$p" --version | head -n 1 | grep -qF "$version" || fail "$p --version"
    man=$root/usr/share/man/man1/$p.1.gz
    [ -f "$man" ] || fail "no man page for $p"
    gzip -dc "$man" | grep -q "^\.TH $(echo "$p" | tr a-z A-Z) 1" || fail "$p man page header"
done

echo "== udev rule"
rule=$root/usr/lib/udev/rules.d/70-vuxoint.rules
[ -f "$rule" ] || fail "no udev rule"
grep -q 'GROUP="plugdev"' "$rule" || fail "rule gives no group"
grep -q 'SYMLINK+="vuxoint-$attr{serial}"' "$rule" || fail "rule makes no link"
# udev matches with shell globs: each pattern must take the instrument's ten
# product ids (0c44 to 0c4d, as sysfs writes them) and no other id nearby.
hex="0 1 2 3 4 5 6 7 8 9 a b c d e f"
for pattern in $(sed -n 's/.*ATTRS{idProduct}=="\([^"]*\)".*/\1/p' "$rule"); do
    for a in $hex; do
        for b in $hex; do
            id=0c$a$b
            want=no
            [ "$a" = 4 ] && case $b in [4-9a-d]) want=yes ;; esac
            # shellcheck disable=SC2254
            case $id in $pattern) got=yes ;; *) got=no ;; esac
            [ "$got" = "$want" ] || fail "product pattern $pattern on $id: $got"
        done
    done
done
grep -q 'ATTRS{idVendor}=="1781"' "$rule" || fail "rule names no vendor"

echo "== consumer program against the unpacked headers and libraries"
PKG_CONFIG_PATH=$libdir/pkgconfig
export PKG_CONFIG_PATH
pc_libdir=$(pkg-config --variable=libdir vuxoint)
# shellcheck disable=SC2046
${CC:-cc} -std=c99 -Wall -Wextra -Werror -o "$work/consumer_pc" "$src/consumer.c" \
    $(pkg-config --cflags --libs vuxoint) -Wl,-rpath,"$pc_libdir"
"$work/consumer_pc"
cmake -S "$src" -B "$work/cmake-build" -DCMAKE_PREFIX_PATH="$root/usr" >/dev/null
cmake --build "$work/cmake-build" >/dev/null
"$work/cmake-build/consumer"

echo "== lintian"
lintian --fail-on error "$deb" >"$work/lintian.txt" 2>&1 || {
    cat "$work/lintian.txt"
    fail "lintian reports an error"
}
cat "$work/lintian.txt"
echo "package ok: $(basename "$deb")"
