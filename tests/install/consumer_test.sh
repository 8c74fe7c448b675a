#!/bin/sh
# usage: consumer_test.sh BUILD_DIR CONSUMER_SOURCE_DIR WORK_DIR VERSION [PYTHON]
set -eu
build=$1
src=$2
work=$3
version=$4
python=${5:-}
rm -rf "$work"
mkdir -p "$work"
prefix=$work/prefix
cmake --install "$build" --prefix "$prefix" >/dev/null

libdir=$(ls -d "$prefix"/lib*/ | head -n 1)
libdir=${libdir%/}
for so in libvuxoint.so.1 libcomm.so.1; do
    [ -e "$libdir/$so" ] || { echo "missing $so in $libdir"; exit 1; }
done

echo "== programs: their runpath finds the libraries in any prefix"
for p in vuxoint-test vuxoint-sim; do
    "$prefix/bin/$p" --version
done

echo "== pkg-config, with the runpath docs/library.md asks for"
export PKG_CONFIG_PATH=$libdir/pkgconfig
# shellcheck disable=SC2046
${CC:-cc} -std=c99 -Wall -Wextra -Werror -o "$work/consumer_pc" "$src/consumer.c" \
    $(pkg-config --cflags --libs vuxoint) -Wl,-rpath,"$(pkg-config --variable=libdir vuxoint)"
"$work/consumer_pc"

echo "== find_package (CMake gives the program the runpath itself)"
cmake -S "$src" -B "$work/cmake-build" -DCMAKE_PREFIX_PATH="$prefix" >/dev/null
cmake --build "$work/cmake-build" >/dev/null
"$work/cmake-build/consumer"

echo "== one version everywhere: $version"
same() { # what where
    [ "$1" = "$version" ] || { echo "$2 says '$1', not '$version'"; exit 1; }
}
for p in vuxoint vuxoint-test vuxoint-sim; do
    # The first line of --version ends with the version number.
    same "$("$prefix/bin/$p" --version | head -n 1 | awk '{print $NF}')" "$p --version"
    page=$prefix/share/man/man1/$p.1.gz
    same "$(gzip -dc "$page" | sed -n '1s/^\.TH .*"vuxoint \([^"]*\)".*/\1/p')" "$page"
done
for pc in vuxoint vuxodata; do
    same "$(pkg-config --modversion "$pc")" "pkg-config $pc"
done
for so in libvuxoint libvuxodata; do
    same "$(basename "$(readlink -f "$libdir/$so.so")" | sed "s/^$so\.so\.//")" "$so.so"
done

if [ -n "$python" ]; then
    echo "== Python package"
    # Found through the _paths.py written at install time: no VUXOINT_LIBDIR.
    site=$(dirname "$(find "$prefix" -name py.typed -path '*/vuxoint/*' | head -n 1)")
    env -u VUXOINT_LIBDIR PYTHONPATH="$(dirname "$site")" PYTHONDONTWRITEBYTECODE=1 "$python" -c \
        "import sys, vuxoint, vuxoint._lib as l; sys.exit(0 if l.data._name.startswith(sys.argv[1]) else 1)" \
        "$prefix"
    same "$(env PYTHONPATH="$(dirname "$site")" PYTHONDONTWRITEBYTECODE=1 "$python" -c \
        'import vuxoint; print(vuxoint.__version__)')" "the Python package's __version__"
fi
echo "consumer ok"
