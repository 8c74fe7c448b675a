#!/bin/sh
# A throwaway PostgreSQL cluster for the tests: cluster.sh start|stop DIR.
# start creates it in DIR (trust authentication, a socket in DIR, no TCP) and
# writes DIR/uri, the URI the tests connect with; stop stops it and removes DIR.
# initdb refuses to run as root, so as root the cluster belongs to nobody.
set -eu
action=$1
dir=$2
bin=$(ls -d /usr/lib/postgresql/*/bin | sort -V | tail -n 1)
as_owner() {
    if [ "$(id -u)" = 0 ]; then
        runuser -u nobody -- "$@"
    else
        "$@"
    fi
}
case "$action" in
start)
    rm -rf "$dir"
    mkdir -p "$dir/data" "$dir/socket"
    [ "$(id -u)" = 0 ] && chown -R nobody "$dir" && chmod 755 "$dir"
    as_owner "$bin/initdb" -D "$dir/data" -U postgres -A trust --locale=C -E UTF8 >"$dir/initdb.log"
    as_owner "$bin/pg_ctl" -D "$dir/data" -l "$dir/server.log" -w \
        -o "-c listen_addresses= -c unix_socket_directories=$dir/socket -c fsync=off -c max_connections=100" \
        start >/dev/null
    as_owner "$bin/createdb" -h "$dir/socket" -U postgres survey
    # The socket's directory goes into the URI percent-encoded.
    echo "postgresql://postgres@$(printf %s "$dir/socket" | sed 's|/|%2F|g')/survey" >"$dir/uri"
    ;;
stop)
    if [ -d "$dir/data" ]; then
        as_owner "$bin/pg_ctl" -D "$dir/data" -m immediate stop >/dev/null || true
    fi
    rm -rf "$dir"
    ;;
*)
    echo "usage: $0 start|stop DIR" >&2
    exit 2
    ;;
esac
